#pragma once

#include "net/IUDPManager.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class ITCPManager;

// Turns each discovery datagram into one connection attempt towards its sender. The attempts run on a
// few workers so that one unreachable device does not hold up the others; a sender is tried at most
// once a second and the queue of waiting attempts is bounded, so a flood of datagrams stays cheap.
class UDPXmlManager : public IUDPManager {
public:
    static constexpr std::size_t kConnectWorkers = 4;
    static constexpr std::size_t kMaxWaitingAttempts = 64;
    static constexpr std::chrono::milliseconds kMinAttemptInterval{1000};

    UDPXmlManager() = default;
    ~UDPXmlManager() override;
    UDPXmlManager(const UDPXmlManager&) = delete;
    UDPXmlManager& operator=(const UDPXmlManager&) = delete;

    void SetTCPManager(ITCPManager* manager) { tcpManager = manager; }
    void HandleDatagram(const char* data, std::size_t length, const std::string& senderAddress) override;
    // Drops the waiting attempts and waits for the running ones (at most the connect time-out).
    void Stop();

private:
    bool Admit(const std::string& address);
    void WorkLoop();

    ITCPManager* tcpManager = nullptr;
    std::mutex lock;
    std::condition_variable wakeUp;
    std::deque<std::string> waiting;
    std::set<std::string> inProgress; // waiting or being tried
    std::map<std::string, std::chrono::steady_clock::time_point> lastAttempt;
    std::vector<std::thread> workers;
    std::size_t idleWorkers = 0;
    bool quitting = false;
};
