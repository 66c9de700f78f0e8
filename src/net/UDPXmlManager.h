#pragma once

#include "net/DeviceConnector.h"
#include "net/IUDPManager.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

class ITCPManager;

// Turns each discovery datagram into one connection attempt towards its sender. The attempts run side
// by side in the connector, so devices that never answer do not hold up the others. A sender is tried
// at most once a second; one heard again sooner (a tablet that printed, closed and announces its next
// document) is connected as soon as that second is over, and a sender with an attempt still to come is
// not tried twice.
class UDPXmlManager : public IUDPManager {
public:
    static constexpr std::chrono::milliseconds kMinAttemptInterval{1000};
    // A device on the machine's own subnet answers a connection within milliseconds; one beyond a
    // router is given the time a slow route may need.
    static constexpr std::chrono::milliseconds kOnLinkTimeLimit{1500};
    static constexpr std::chrono::milliseconds kRoutedTimeLimit{5000};

    UDPXmlManager();
    ~UDPXmlManager() override;
    UDPXmlManager(const UDPXmlManager&) = delete;
    UDPXmlManager& operator=(const UDPXmlManager&) = delete;

    void SetTCPManager(ITCPManager* manager) { tcpManager = manager; }
    void HandleDatagram(const char* data, std::size_t length, const std::string& senderAddress,
                        bool onLink) override;
    // Abandons the attempts under way and to come; later datagrams are served again.
    void Stop();

    // Attempts under way now (for tests and benchmarks).
    std::size_t AttemptsInFlight() const { return connector.InFlight(); }

private:
    struct Sender {
        // The earliest time of the next attempt.
        DeviceConnector::Clock::time_point next;
        // An attempt is to come or under way.
        bool pending = false;
    };

    void AttemptEnded(int fd, const std::string& address);
    void ForgetSettledLocked(DeviceConnector::Clock::time_point now);

    ITCPManager* tcpManager = nullptr;
    std::mutex lock;
    std::map<std::string, Sender> senders;
    DeviceConnector connector;
};
