#pragma once

#include <cstddef>
#include <string>

class TCPClient;

// The handler that opens device connections and receives their data.
class ITCPManager {
public:
    virtual ~ITCPManager() = default;
    // Connects to the device at the dotted IPv4 `address` and sends it the printer list; blocks
    // until connected or given up.
    virtual bool ConnectToDevice(const std::string& address) = 0;
    // The device port that connection attempts go to.
    virtual std::string DevicePort() const = 0;
    // The end of a connection attempt made elsewhere: the connected socket to take over (and send
    // the printer list on), or -1 when the device could not be reached.
    virtual void ConnectionAttemptEnded(int fd, const std::string& address) = 0;
    // Called on the connection's watch thread with each burst it receives.
    virtual void HandleMessage(const char* data, std::size_t length, TCPClient& client) = 0;
    // Called on the connection's watch thread when the thread is about to end (device gone, closed).
    virtual void ConnectionEnded(TCPClient& client) = 0;
    // A trace line caused by the device of `client`; folded and rate-limited per device.
    virtual void TraceDevice(const TCPClient& client, const std::string& text) = 0;
};
