#include "net/TCPXmlManager.h"

#include "config/AppSettings.h"
#include "net/HandlePrintRequest.h"
#include "net/TCPClient.h"
#include "protocol/PrintCommand.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {

// How often a message waiting behind another device's print looks whether the server is stopping.
constexpr std::chrono::milliseconds kStopCheckInterval{100};

} // namespace

TCPXmlManager::TCPXmlManager() : releaser(&TCPXmlManager::ReleaseLoop, this) {}

TCPXmlManager::~TCPXmlManager() {
    Stop();
    {
        std::lock_guard guard(clientsLock);
        quitting = true;
    }
    releaseSignal.notify_all();
    releaser.join();
}

void TCPXmlManager::SetDevicePort(const std::string& port) {
    std::lock_guard guard(portLock);
    devicePort = port;
}

std::string TCPXmlManager::DevicePort() const {
    std::lock_guard guard(portLock);
    return devicePort;
}

void TCPXmlManager::SetStallTimeout(std::chrono::milliseconds timeout) {
    {
        std::lock_guard guard(clientsLock);
        stallTimeout = timeout;
        stallsChanged = true;
    }
    releaseSignal.notify_all();
}

void TCPXmlManager::Trace(const std::string& text) const {
    LogManager::Trace(text, traceSink);
}

void TCPXmlManager::TraceFrom(const std::string& address, const std::string& text) {
    if (traceSink == nullptr) {
        return;
    }
    for (const std::string& line : traceLimiter.Admit(address, text)) {
        LogManager::Trace(line, traceSink);
    }
}

void TCPXmlManager::TraceDevice(const TCPClient& client, const std::string& text) {
    TraceFrom(client.Host(), text);
}

std::size_t TCPXmlManager::ConnectionCount() const {
    std::lock_guard guard(clientsLock);
    return clients.size();
}

std::size_t TCPXmlManager::PendingTotal() const {
    std::lock_guard guard(clientsLock);
    std::size_t total = 0;
    for (const auto& client : clients) {
        total += client->IsOpen() ? client->PendingBytes() : 0;
    }
    return total;
}

std::string TCPXmlManager::HostName() {
    // Asked for every connection, and a slow resolver would hold up every device's printer list.
    std::lock_guard guard(hostNameLock);
    const auto now = std::chrono::steady_clock::now();
    if (hostName.empty() || now - hostNameTime >= kHostNameLifetime) {
        hostName = CSocketComm::LocalHostName();
        hostNameTime = now;
    }
    return hostName;
}

bool TCPXmlManager::ConnectToDevice(const std::string& address) {
    auto client = std::make_unique<TCPClient>();
    client->SetManager(this);
    client->SetTraceSink(traceSink);
    {
        std::lock_guard guard(clientsLock);
        connecting.insert(client.get());
    }
    const bool connected = !stopping && client->Connect(address, DevicePort());
    {
        std::lock_guard guard(clientsLock);
        connecting.erase(client.get());
    }
    if (!connected) {
        TraceFrom(address, client->Id() + " unable to communicate with " + address);
        return false;
    }
    Welcome(std::move(client), address);
    return true;
}

void TCPXmlManager::ConnectionAttemptEnded(int fd, const std::string& address) {
    if (fd < 0) {
        TraceFrom(address, TCPClient::NextId() + " unable to communicate with " + address);
        return;
    }
    auto client = std::make_unique<TCPClient>();
    client->SetManager(this);
    client->SetTraceSink(traceSink);
    if (stopping || !client->Adopt(fd, address, DevicePort())) {
        if (stopping) {
            ::close(fd);
        }
        TraceFrom(address, client->Id() + " unable to communicate with " + address);
        return;
    }
    Welcome(std::move(client), address);
}

void TCPXmlManager::Welcome(std::unique_ptr<TCPClient> client, const std::string& address) {
    TraceFrom(address, client->Id() + " successfully connected with " + address);
    if (command != nullptr) {
        client->Send(command->BuildPrinterList(HostName(), AppSettings::Instance().GetPublishedPrinters()));
    }
    Keep(std::move(client));
}

void TCPXmlManager::Keep(std::unique_ptr<TCPClient> client) {
    std::lock_guard guard(clientsLock);
    if (client->Ended()) {
        released.push_back(std::move(client));
        releaseSignal.notify_all();
        return;
    }
    // Silent devices must not use up the server, nor one device all of it: at either bound the
    // connection idle the longest (of that device, at its own bound) makes room. Closing only wakes
    // its thread, which then reports its end and is released.
    const auto makeRoom = [&](bool sameAddress, std::size_t limit, const char* why) {
        std::size_t open = 0;
        TCPClient* oldestIdle = nullptr;
        for (const auto& kept : clients) {
            if (!kept->IsOpen() || (sameAddress && kept->Host() != client->Host())) {
                continue;
            }
            ++open;
            if (!kept->Busy() &&
                (oldestIdle == nullptr || kept->LastActivity() < oldestIdle->LastActivity())) {
                oldestIdle = kept.get();
            }
        }
        if (open >= limit) {
            TCPClient* victim = oldestIdle != nullptr ? oldestIdle : client.get();
            Trace(victim->Id() + why);
            victim->Close();
        }
    };
    makeRoom(true, maxPerAddress, " too many connections from this device, closing connection.");
    makeRoom(false, maxConnections, " too many open connections, closing connection.");
    clients.push_back(std::move(client));
}

void TCPXmlManager::ConnectionEnded(TCPClient& client) {
    std::lock_guard guard(clientsLock);
    client.MarkEnded();
    client.SetPendingBytes(0);
    const auto found =
        std::find_if(clients.begin(), clients.end(), [&](const auto& kept) { return kept.get() == &client; });
    if (found != clients.end()) {
        released.push_back(std::move(*found));
        clients.erase(found);
        releaseSignal.notify_all();
    }
}

std::optional<std::chrono::steady_clock::time_point> TCPXmlManager::NextStallLocked() const {
    std::optional<std::chrono::steady_clock::time_point> next;
    for (const auto& client : clients) {
        if (client->IsOpen() && client->PendingBytes() > 0) {
            const auto deadline = client->LastActivity() + stallTimeout;
            next = next.has_value() ? std::min(*next, deadline) : deadline;
        }
    }
    return next;
}

void TCPXmlManager::CloseStalledLocked(std::chrono::steady_clock::time_point now) {
    for (const auto& client : clients) {
        if (client->IsOpen() && client->PendingBytes() > 0 && now - client->LastActivity() >= stallTimeout) {
            Trace(client->Id() + " unfinished message stalled, closing connection.");
            client->Close();
        }
    }
}

void TCPXmlManager::ReleaseLoop() {
    std::unique_lock guard(clientsLock);
    for (;;) {
        // Sleeps without end unless some connection holds an unfinished message.
        const auto wake = [this] { return quitting || !released.empty() || stallsChanged; };
        if (const auto stall = NextStallLocked()) {
            releaseSignal.wait_until(guard, *stall, wake);
        } else {
            releaseSignal.wait(guard, wake);
        }
        stallsChanged = false;
        CloseStalledLocked(std::chrono::steady_clock::now());
        if (released.empty()) {
            if (quitting) {
                return;
            }
            continue;
        }
        auto batch = std::move(released);
        released.clear();
        releasing = true;
        guard.unlock();
        batch.clear(); // each one joins its (ending) watch thread
        guard.lock();
        releasing = false;
        releaseDone.notify_all();
    }
}

void TCPXmlManager::AbortConnects() {
    stopping = true;
    std::lock_guard guard(clientsLock);
    for (TCPClient* client : connecting) {
        client->Close(); // wakes its connection attempt
    }
}

void TCPXmlManager::Stop() {
    AbortConnects();
    {
        // The message being carried out may still answer its device (a print cut short by the end
        // answers "failed"); the connections close after that, or after a grace at most.
        std::unique_lock guard(messageGate);
        messageFree.wait_for(guard, kStopGrace, [this] { return !messageBusy; });
    }
    std::vector<std::unique_ptr<TCPClient>> all;
    {
        std::lock_guard guard(clientsLock);
        all = std::move(clients);
        clients.clear();
    }
    for (const auto& client : all) {
        client->Close(); // wake them all first so that they end side by side
    }
    all.clear();
    {
        // Wait until the helper has released what it holds, so that nothing outlives the stop.
        std::unique_lock guard(clientsLock);
        releaseDone.wait(guard, [this] { return !releasing; });
        while (!released.empty()) {
            auto batch = std::move(released);
            released.clear();
            guard.unlock();
            batch.clear();
            guard.lock();
        }
    }
    stopping = false;
}

void TCPXmlManager::NotePending(TCPClient& client) {
    const std::size_t now = client.Buffer().Pending();
    const std::size_t before = client.PendingBytes();
    client.SetPendingBytes(now);
    if (before == 0 && now > 0) {
        {
            std::lock_guard guard(clientsLock);
            stallsChanged = true;
        }
        releaseSignal.notify_all();
    }
    if (now <= before) {
        return;
    }
    std::lock_guard guard(clientsLock);
    std::size_t total = 0;
    TCPClient* largest = nullptr;
    for (const auto& kept : clients) {
        if (kept->IsOpen()) {
            total += kept->PendingBytes();
            if (largest == nullptr || kept->PendingBytes() > largest->PendingBytes()) {
                largest = kept.get();
            }
        }
    }
    if (total > pendingBudget && largest != nullptr) {
        // The devices together hold too much that may never end: the one holding the most goes.
        Trace(largest->Id() + " too much unfinished data, closing connection.");
        largest->Close();
    }
}

void TCPXmlManager::HandleMessage(const char* data, std::size_t length, TCPClient& client) {
    // Framing needs no lock: the buffer is the connection's own and only its watch thread touches it.
    const bool startsMessage = !client.Buffer().InMessage();
    const ReceiveBuffer::Result result = client.Buffer().Append(std::string_view(data, length));
    NotePending(client);
    if (result.refused > 0) {
        TraceDevice(client, client.Id() + " : message too long, refused.");
    } else if (result.messages.empty() && client.Buffer().Pending() > 0 && startsMessage) {
        TraceDevice(client, client.Id() + " : uncompleted packet received.");
    }
    for (const std::string& message : result.messages) {
        if (!client.IsOpen()) {
            break; // closed by an earlier message of this burst
        }
        client.SetBusy(true);
        if (!AcquireMessageLock(client)) {
            client.SetBusy(false);
            break;
        }
        // Released however the handling ends, so that one failure never blocks every device.
        struct Release {
            TCPXmlManager& owner;
            TCPClient& client;
            ~Release() {
                owner.ReleaseMessageLock();
                client.SetBusy(false);
            }
        } release{*this, client};
        HandleOneMessage(message, client);
    }
}

bool TCPXmlManager::AcquireMessageLock(const TCPClient& client) {
    std::unique_lock guard(messageGate);
    while (messageBusy) {
        if (stopping || !client.IsOpen()) {
            return false;
        }
        messageFree.wait_for(guard, kStopCheckInterval);
    }
    messageBusy = true;
    return true;
}

void TCPXmlManager::ReleaseMessageLock() {
    {
        std::lock_guard guard(messageGate);
        messageBusy = false;
    }
    messageFree.notify_all();
}

void TCPXmlManager::HandleOneMessage(std::string_view message, TCPClient& client) {
    if (command == nullptr) {
        return;
    }
    try {
        switch (command->ReadMessage(message)) {
        case IPrintCommand::kComplete:
            if (command->CommandType() == PrintCommand::kCommandPRF) {
                TraceDevice(client, client.Id() + " closing connection.");
                client.Close();
            } else if (command->CommandType() == PrintCommand::kCommandPFL) {
                HandlePrintRequest(*this, client);
            }
            break;
        case IPrintCommand::kIncomplete:
            TraceDevice(client, client.Id() + " : uncompleted packet received.");
            break;
        case IPrintCommand::kLoadError:
            TraceDevice(client, client.Id() + " : error loading XML.");
            break;
        case IPrintCommand::kParseError:
            TraceDevice(client, client.Id() + " : error parsing XML.");
            break;
        default:
            break;
        }
    } catch (...) {
        TraceDevice(client, client.Id() + " parse data error.");
    }
}
