#include "net/UDPXmlManager.h"

#include "net/ITCPManager.h"

namespace {

// Senders remembered for the rate limit before old entries are swept out.
constexpr std::size_t kRememberedSenders = 1024;

} // namespace

UDPXmlManager::UDPXmlManager()
    : connector([this](int fd, const std::string& address) { AttemptEnded(fd, address); }) {}

UDPXmlManager::~UDPXmlManager() {
    Stop();
}

void UDPXmlManager::HandleDatagram(const char*, std::size_t, const std::string& senderAddress) {
    if (tcpManager == nullptr) {
        return;
    }
    {
        std::lock_guard guard(lock);
        if (!Admit(senderAddress)) {
            return;
        }
        inProgress.insert(senderAddress);
    }
    if (!connector.Connect(senderAddress, tcpManager->DevicePort())) {
        std::lock_guard guard(lock);
        inProgress.erase(senderAddress);
    }
}

bool UDPXmlManager::Admit(const std::string& address) {
    const auto now = std::chrono::steady_clock::now();
    if (inProgress.contains(address)) {
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

void UDPXmlManager::AttemptEnded(int fd, const std::string& address) {
    tcpManager->ConnectionAttemptEnded(fd, address);
    std::lock_guard guard(lock);
    inProgress.erase(address);
}

void UDPXmlManager::Stop() {
    connector.Stop();
    std::lock_guard guard(lock);
    inProgress.clear();
}
