#pragma once

#include "net/DeviceConnector.h"
#include "net/IUDPManager.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <string>

class ITCPManager;

// Turns each discovery datagram into one connection attempt towards its sender. The attempts run side
// by side in the connector, so devices that never answer do not hold up the others; a sender whose
// attempt is still under way is not tried again, and a sender is tried at most once a second.
class UDPXmlManager : public IUDPManager {
public:
    static constexpr std::chrono::milliseconds kMinAttemptInterval{1000};

    UDPXmlManager();
    ~UDPXmlManager() override;
    UDPXmlManager(const UDPXmlManager&) = delete;
    UDPXmlManager& operator=(const UDPXmlManager&) = delete;

    void SetTCPManager(ITCPManager* manager) { tcpManager = manager; }
    void HandleDatagram(const char* data, std::size_t length, const std::string& senderAddress) override;
    // Abandons the attempts under way; later datagrams are served again.
    void Stop();

private:
    bool Admit(const std::string& address);
    void AttemptEnded(int fd, const std::string& address);

    ITCPManager* tcpManager = nullptr;
    std::mutex lock;
    std::set<std::string> inProgress;
    std::map<std::string, std::chrono::steady_clock::time_point> lastAttempt;
    DeviceConnector connector;
};
