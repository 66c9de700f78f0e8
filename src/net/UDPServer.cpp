#include "net/UDPServer.h"

#include "config/AppSettings.h"
#include "net/IUDPManager.h"
#include "platform/CodePage.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

UDPServer::UDPServer() = default;

UDPServer::~UDPServer() {
    Stop();
}

bool UDPServer::Start(const std::string& address, const std::string& port) {
    if (traceSink != nullptr) {
        traceLimiter.TellDueSummaries([this](const std::string& line) { Trace(line, traceSink); });
    }
    SetServer(true);
    SetPrefixAddress(true);
    const bool opened =
        CreateDatagramSocket(address.empty() ? std::nullopt : std::optional<std::string>(address), port);
    // A socket nobody watches serves nobody: without its thread the start has failed and is retried.
    const bool started = opened && StartWatch();
    if (opened && !started) {
        Stop();
    }
    if (started) {
        // A port left to the kernel ("0") is told as the one it gave.
        const std::string shown = PortFromText(port) == 0 ? std::to_string(LocalPort()) : port;
        if (address.empty()) {
            Trace("UDP Server: " + LocalHostName() + ", @Address: " + LocalAddressText().value_or("") +
                      " is running on port " + shown,
                  traceSink);
        } else {
            Trace("UDP Server: " + LocalHostName() + ", Address: " + address + " is running on port " + shown,
                  traceSink);
        }
    } else {
        // The cause, so that whoever reads the retry line knows what to mend (a port in use, a
        // port below 1024 for an ordinary user, an address not of this machine).
        const int error = OpenError();
        const std::string line = "Unable to start UDP server on " + address + " port " + port +
                                 (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
        // The start is retried every few seconds: the same failure is traced once, not every time.
        if (line != lastFailure) {
            Trace(line, traceSink);
            lastFailure = line;
        }
    }
    if (started) {
        lastFailure.clear();
    }
    return started;
}

namespace {

// How often the subnets are looked up again, and how often a refused sender is told of in the trace.
constexpr std::chrono::seconds kSubnetsLifetime{2};
constexpr std::chrono::seconds kRefusalTraceInterval{60};
constexpr std::size_t kRememberedRefusals = 1024;

} // namespace

bool UDPServer::Admit(const sockaddr_in& sender, bool& onLink) {
    const std::uint32_t address = ntohl(sender.sin_addr.s_addr);
    const auto now = std::chrono::steady_clock::now();
    if (subnets.empty() || now - subnetsRead >= kSubnetsLifetime) {
        subnets = subnetSource();
        subnetsRead = now;
    }
    onLink = std::any_of(subnets.begin(), subnets.end(),
                         [&](const LocalSubnet& subnet) { return subnet.Contains(address); });
    if (onLink || AppSettings::Instance().allowRouted) {
        return true;
    }
    if (refused.size() >= kRememberedRefusals) {
        std::erase_if(refused,
                      [&](const auto& entry) { return now - entry.second >= kRefusalTraceInterval; });
    }
    const auto last = refused.find(address);
    if (traceSink != nullptr && refused.size() < kRememberedRefusals &&
        (last == refused.end() || now - last->second >= kRefusalTraceInterval)) {
        refused[address] = now;
        Trace(AddressText(sender) + " is not on a local network of this computer, not served "
                                    "(allow_routed in the settings serves it)",
              traceSink);
    }
    return false;
}

void UDPServer::HandleReceived(const char* data, std::size_t length) {
    if (length < kAddressSize) {
        return;
    }
    sockaddr_in sender{};
    std::memcpy(&sender, data, kAddressSize);
    bool onLink = false;
    if (!Admit(sender, onLink)) {
        return;
    }
    const char* payload = data + kAddressSize;
    const std::size_t payloadLength = length - kAddressSize;
    if (traceSink != nullptr) {
        std::string text =
            CodePage::Wire().Decode(std::string_view(payload, strnlen(payload, payloadLength)));
        if (sender.sin_addr.s_addr != 0 || sender.sin_port != 0) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(&sender.sin_addr.s_addr);
            char prefix[48];
            std::snprintf(prefix, sizeof prefix, "%u.%u.%u.%u (%d)> ", bytes[0], bytes[1], bytes[2], bytes[3],
                          static_cast<int>(ntohs(sender.sin_port)));
            text = prefix + text;
        }
        for (const std::string& line : traceLimiter.Admit(AddressText(sender), text)) {
            Trace(line, traceSink);
        }
    }
    if (udpManager != nullptr) {
        udpManager->HandleDatagram(payload, payloadLength, AddressText(sender), onLink);
    }
}
