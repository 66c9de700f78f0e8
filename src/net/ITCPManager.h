#pragma once

#include <cstddef>
#include <string>

class TCPClient;

// The handler that opens device connections and receives their data.
class ITCPManager {
public:
    virtual ~ITCPManager() = default;
    // Connects to the device at the dotted IPv4 `address` and sends it the printer list.
    virtual bool ConnectToDevice(const std::string& address) = 0;
    // Called on the connection's watch thread with each burst it receives.
    virtual void HandleMessage(const char* data, std::size_t length, TCPClient& client) = 0;
    // Called on the connection's watch thread when the thread is about to end (device gone, closed).
    virtual void ConnectionEnded(TCPClient& client) = 0;
};
