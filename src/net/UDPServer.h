#pragma once

#include "app/LogManager.h"
#include "net/CSocketComm.h"
#include "net/TraceLimiter.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/NetworkAdapters.h"

class IUDPManager;
class ITraceSink;

// The discovery socket: every datagram a device sends to the server's port is traced and handed to
// the UDP handler with its sender's address. Devices are served on the machine's own local networks:
// a sender beyond a router is refused unless the settings allow it ("allow_routed").
class UDPServer : public CSocketComm, public LogManager {
public:
    UDPServer();
    ~UDPServer() override;

    void SetManager(IUDPManager* manager) { udpManager = manager; }
    // Where the machine's subnets are learnt from (tests give their own); set before Start.
    void SetSubnetSource(std::function<std::vector<LocalSubnet>()> source) {
        subnetSource = std::move(source);
    }
    void SetTraceSink(ITraceSink* sink) { traceSink = sink; }

    // Binds the port on all interfaces, serving `address` (dotted; empty: every interface), and starts
    // watching it; false when either fails (the socket is then closed again).
    bool Start(const std::string& address, const std::string& port);

protected:
    void HandleReceived(const char* data, std::size_t length) override;

private:
    // Whether `sender` may be served, and whether it is on one of this machine's subnets.
    bool Admit(const sockaddr_in& sender, bool& onLink);

    IUDPManager* udpManager = nullptr;
    ITraceSink* traceSink = nullptr;
    // One line per datagram, but a sender that floods the port must not flood the trace.
    TraceLimiter traceLimiter;
    // The last start failure traced, so that a retry failing the same way stays quiet.
    std::string lastFailure;
    // The machine's subnets, looked up again now and then: interfaces come and go.
    std::function<std::vector<LocalSubnet>()> subnetSource = ListLocalSubnets;
    std::vector<LocalSubnet> subnets;
    std::chrono::steady_clock::time_point subnetsRead;
    // Refused senders and when each was last traced.
    std::map<std::uint32_t, std::chrono::steady_clock::time_point> refused;
};
