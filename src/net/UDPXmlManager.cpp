#include "net/UDPXmlManager.h"

#include "net/ITCPManager.h"

#include <system_error>

namespace {

// Senders remembered for the rate limit before old entries are swept out.
constexpr std::size_t kRememberedSenders = 1024;

} // namespace

UDPXmlManager::~UDPXmlManager() {
    Stop();
}

void UDPXmlManager::HandleDatagram(const char*, std::size_t, const std::string& senderAddress) {
    if (tcpManager == nullptr) {
        return;
    }
    std::lock_guard guard(lock);
    if (quitting || !Admit(senderAddress)) {
        return;
    }
    waiting.push_back(senderAddress);
    inProgress.insert(senderAddress);
    if (idleWorkers < waiting.size() && workers.size() < kConnectWorkers) {
        try {
            workers.emplace_back(&UDPXmlManager::WorkLoop, this);
        } catch (const std::system_error&) {
            // No thread to be had, which must not end the discovery thread. With no worker at all the
            // attempt is dropped, so that the sender's next datagram tries again.
            if (workers.empty()) {
                waiting.pop_back();
                inProgress.erase(senderAddress);
                return;
            }
        }
    }
    wakeUp.notify_one();
}

bool UDPXmlManager::Admit(const std::string& address) {
    const auto now = std::chrono::steady_clock::now();
    if (inProgress.contains(address) || waiting.size() >= kMaxWaitingAttempts) {
        return false;
    }
    const auto last = lastAttempt.find(address);
    if (last != lastAttempt.end() && now - last->second < kMinAttemptInterval) {
        return false;
    }
    if (lastAttempt.size() >= kRememberedSenders) {
        std::erase_if(lastAttempt,
                      [&](const auto& entry) { return now - entry.second >= kMinAttemptInterval; });
    }
    lastAttempt[address] = now;
    return true;
}

void UDPXmlManager::WorkLoop() {
    std::unique_lock guard(lock);
    for (;;) {
        ++idleWorkers;
        wakeUp.wait(guard, [this] { return quitting || !waiting.empty(); });
        --idleWorkers;
        if (quitting) {
            return;
        }
        const std::string address = waiting.front();
        waiting.pop_front();
        guard.unlock();
        tcpManager->ConnectToDevice(address);
        guard.lock();
        inProgress.erase(address);
    }
}

void UDPXmlManager::Stop() {
    std::vector<std::thread> running;
    {
        std::lock_guard guard(lock);
        quitting = true;
        waiting.clear();
        running = std::move(workers);
        workers.clear();
    }
    wakeUp.notify_all();
    for (auto& worker : running) {
        worker.join();
    }
    std::lock_guard guard(lock);
    inProgress.clear();
    quitting = false;
}
