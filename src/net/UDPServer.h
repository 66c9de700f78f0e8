#pragma once

#include "app/LogManager.h"
#include "net/CSocketComm.h"
#include "net/TraceLimiter.h"

#include <string>

class IUDPManager;
class ITraceSink;

// The discovery socket: every datagram a device sends to the server's port is traced and handed to
// the UDP handler with its sender's address.
class UDPServer : public CSocketComm, public LogManager {
public:
    UDPServer();
    ~UDPServer() override;

    void SetManager(IUDPManager* manager) { udpManager = manager; }
    void SetTraceSink(ITraceSink* sink) { traceSink = sink; }

    // Binds the port on all interfaces, serving `address` (dotted; empty: every interface), and starts
    // watching it; false when either fails (the socket is then closed again).
    bool Start(const std::string& address, const std::string& port);

protected:
    void HandleReceived(const char* data, std::size_t length) override;

private:
    IUDPManager* udpManager = nullptr;
    ITraceSink* traceSink = nullptr;
    // One line per datagram, but a sender that floods the port must not flood the trace.
    TraceLimiter traceLimiter;
    // The last start failure traced, so that a retry failing the same way stays quiet.
    std::string lastFailure;
};
