#include "net/UDPXmlManager.h"

#include "net/ITCPManager.h"

namespace {

// Senders remembered for the rate limit before settled ones are swept out.
constexpr std::size_t kRememberedSenders = 1024;

} // namespace

UDPXmlManager::UDPXmlManager()
    : connector([this](int fd, const std::string& address) { AttemptEnded(fd, address); }) {}

UDPXmlManager::~UDPXmlManager() {
    Stop();
}

void UDPXmlManager::HandleDatagram(const char*, std::size_t, const std::string& senderAddress, bool onLink) {
    if (tcpManager == nullptr) {
        return;
    }
    const auto now = DeviceConnector::Clock::now();
    DeviceConnector::Clock::time_point when{};
    {
        std::lock_guard guard(lock);
        if (senders.size() >= kRememberedSenders && !senders.contains(senderAddress)) {
            ForgetSettledLocked(now);
        }
        Sender& sender = senders[senderAddress];
        if (sender.pending) {
            return; // a connection is on its way already
        }
        // Heard again too soon: the attempt is deferred, not dropped.
        when = sender.next > now ? sender.next : now;
        sender.pending = true;
        sender.next = when + kMinAttemptInterval;
    }
    if (!connector.Connect(senderAddress, tcpManager->DevicePort(),
                           onLink ? kOnLinkTimeLimit : kRoutedTimeLimit, when)) {
        std::lock_guard guard(lock);
        senders[senderAddress].pending = false;
    }
}

void UDPXmlManager::ForgetSettledLocked(DeviceConnector::Clock::time_point now) {
    std::erase_if(senders,
                  [&](const auto& entry) { return !entry.second.pending && entry.second.next <= now; });
}

void UDPXmlManager::AttemptEnded(int fd, const std::string& address) {
    // Over before the device hears of it: a datagram it sends once it has its printer list is a new
    // request, not this one.
    {
        std::lock_guard guard(lock);
        if (auto found = senders.find(address); found != senders.end()) {
            found->second.pending = false;
        }
    }
    tcpManager->ConnectionAttemptEnded(fd, address);
}

void UDPXmlManager::Stop() {
    connector.Stop();
    std::lock_guard guard(lock);
    senders.clear();
}
