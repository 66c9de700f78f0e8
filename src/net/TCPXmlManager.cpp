#include "net/TCPXmlManager.h"

#include "app/EventLog.h"
#include "config/AppSettings.h"
#include "net/HandlePrintRequest.h"
#include "net/TCPClient.h"
#include "print/PrintResult.h"
#include "protocol/IPrintCommand.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>

TCPXmlManager::TCPXmlManager(const IPrintCommand& command, ITraceSink* traceSink, IMainWindowPort* mainWindow)
    : command(command), traceSink(traceSink), mainWindow(mainWindow),
      releaser(&TCPXmlManager::ReleaseLoop, this) {
    if (traceSink != nullptr) {
        // Lines held back from a device are told a moment later, also when it says nothing more.
        traceLimiter.TellDueSummaries(
            [this](const std::string& line) { LogManager::Trace(line, this->traceSink); });
    }
}

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

void TCPXmlManager::TraceFrom(const std::string& address, const std::string& text) {
    if (traceSink == nullptr) {
        return;
    }
    for (const std::string& line : traceLimiter.Admit(address, text)) {
        LogManager::Trace(line, traceSink);
    }
}

void TCPXmlManager::TraceRecord(const std::string& address, const std::string& text) {
    if (traceSink == nullptr) {
        return;
    }
    for (const std::string& line : traceLimiter.AdmitRecord(address, text)) {
        LogManager::Trace(line, traceSink);
    }
}

void TCPXmlManager::TraceDevice(const TCPClient& client, const std::string& text) {
    TraceFrom(client.Host(), text);
}

PrintContext TCPXmlManager::Context() const {
    std::lock_guard guard(stopLock);
    return PrintContext{mainWindow, stopSource.get_token(), &slots};
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
    client->Send(command.BuildPrinterList(HostName(), AppSettings::Instance().GetPublishedPrinters()));
    Keep(std::move(client));
}

void TCPXmlManager::Keep(std::unique_ptr<TCPClient> client) {
    std::lock_guard guard(clientsLock);
    if (client->Ended()) {
        released.push_back(std::move(client));
        releaseSignal.notify_all();
        return;
    }
    // Silent devices must not use up the server, nor one device all of it. At the bound of one
    // address that device makes room itself; at the bound of all, the address holding the most does,
    // so that a crowd of connections from a few addresses never pushes out a device that holds one.
    // Closing only wakes the connection's thread, which then reports its end and is released.
    const auto openCount = [&](const std::string* address) {
        return static_cast<std::size_t>(std::count_if(clients.begin(), clients.end(), [&](const auto& kept) {
            return kept->IsOpen() && (address == nullptr || kept->Host() == *address);
        }));
    };
    const auto makeRoom = [&](const std::string* address, const char* why) {
        TCPClient* victim = EvictionVictimLocked(address);
        if (victim == nullptr) {
            victim = client.get();
        }
        LogManager::Trace(victim->Id() + why, traceSink);
        victim->Close();
    };
    if (openCount(&client->Host()) >= maxPerAddress) {
        makeRoom(&client->Host(), " too many connections from this device, closing connection.");
    }
    if (client->IsOpen() && openCount(nullptr) >= maxConnections) {
        makeRoom(nullptr, " too many open connections, closing connection.");
    }
    clients.push_back(std::move(client));
}

TCPClient* TCPXmlManager::EvictionVictimLocked(const std::string* address) const {
    std::map<std::string, std::size_t> perAddress;
    for (const auto& kept : clients) {
        if (kept->IsOpen()) {
            ++perAddress[kept->Host()];
        }
    }
    TCPClient* victim = nullptr;
    const auto better = [&](const TCPClient& candidate) {
        if (victim == nullptr) {
            return true;
        }
        const std::size_t mine = perAddress[candidate.Host()];
        const std::size_t theirs = perAddress[victim->Host()];
        if (mine != theirs) {
            return mine > theirs;
        }
        // A message dripped in without end is worse than a device that is quiet between messages.
        const bool minePending = candidate.PendingBytes() > 0;
        const bool theirsPending = victim->PendingBytes() > 0;
        if (minePending != theirsPending) {
            return minePending;
        }
        return candidate.LastActivity() < victim->LastActivity();
    };
    for (const auto& kept : clients) {
        if (kept->IsOpen() && !kept->Busy() && (address == nullptr || kept->Host() == *address) &&
            better(*kept)) {
            victim = kept.get();
        }
    }
    return victim;
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
            LogManager::Trace(client->Id() + " unfinished message stalled, closing connection.", traceSink);
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
    {
        std::lock_guard guard(stopLock);
        stopSource.request_stop();
    }
    std::lock_guard guard(clientsLock);
    for (TCPClient* client : connecting) {
        client->Close(); // wakes its connection attempt
    }
}

void TCPXmlManager::Stop() {
    AbortConnects();
    std::vector<std::unique_ptr<TCPClient>> all;
    {
        // The prints under way end at once and answer their devices ("print failed"); the connections
        // close after that, or after a grace at most.
        std::unique_lock guard(clientsLock);
        notBusy.wait_for(guard, kStopGrace, [this] { return busyCount == 0; });
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
    {
        std::lock_guard guard(stopLock);
        stopSource = std::stop_source();
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
    std::map<std::string, std::size_t> perAddress;
    for (const auto& kept : clients) {
        if (kept->IsOpen()) {
            total += kept->PendingBytes();
            perAddress[kept->Host()] += kept->PendingBytes();
        }
    }
    if (total <= pendingBudget) {
        return;
    }
    // The devices together hold too much that may never end: of the address holding the most, its
    // largest unfinished message goes.
    TCPClient* largest = nullptr;
    for (const auto& kept : clients) {
        if (!kept->IsOpen() || kept->PendingBytes() == 0) {
            continue;
        }
        if (largest == nullptr || perAddress[kept->Host()] > perAddress[largest->Host()] ||
            (perAddress[kept->Host()] == perAddress[largest->Host()] &&
             kept->PendingBytes() > largest->PendingBytes())) {
            largest = kept.get();
        }
    }
    if (largest != nullptr) {
        LogManager::Trace(largest->Id() + " too much unfinished data, closing connection.", traceSink);
        largest->Close();
    }
}

void TCPXmlManager::HandleMessage(const char* data, std::size_t length, TCPClient& client) {
    // Framing needs no lock: the buffer is the connection's own and only its watch thread touches it.
    const bool startsMessage = !client.Buffer().InMessage();
    ReceiveBuffer::Result result = client.Buffer().Append(std::string_view(data, length));
    NotePending(client);
    for (std::size_t i = 0; i < result.refused; ++i) {
        RefuseOversized(client);
    }
    if (result.refused == 0 && result.messages.empty() && client.Buffer().Pending() > 0 && startsMessage) {
        TraceDevice(client, client.Id() + " : uncompleted packet received.");
    }
    for (std::string& message : result.messages) {
        if (!client.IsOpen()) {
            break; // closed by an earlier message of this burst
        }
        HandleOneMessage(std::move(message), client);
    }
}

void TCPXmlManager::RefuseOversized(TCPClient& client) {
    // The device hears at once that its message will not print, instead of waiting for an answer
    // that never comes; the rest of the message is skipped up to its end.
    TraceRecord(client.Host(), client.Id() + " : message too long, refused.");
    EventLog::Write("[WARNING] A message from %s is longer than %zu bytes and is refused",
                    client.Host().c_str(), ReceiveBuffer::kReceiveBufferLimit);
    client.Send(command.BuildPrintResult(static_cast<int>(PrintResult::Code::PrintFailed), 0));
}

void TCPXmlManager::HandleOneMessage(std::string message, TCPClient& client) {
    // Stop waits for a busy connection's answer; Keep never evicts it.
    {
        std::lock_guard guard(clientsLock);
        ++busyCount;
    }
    client.SetBusy(true);
    struct Done {
        TCPXmlManager& owner;
        TCPClient& client;
        ~Done() {
            client.SetBusy(false);
            {
                std::lock_guard guard(owner.clientsLock);
                --owner.busyCount;
            }
            owner.notBusy.notify_all();
        }
    } done{*this, client};

    CommandMessage read;
    {
        std::lock_guard guard(parseLock);
        read = command.ReadMessage(std::move(message));
    }
    CarryOut(std::move(read), client);
}

void TCPXmlManager::CarryOut(CommandMessage message, TCPClient& client) {
    switch (message.status) {
    case IPrintCommand::kComplete:
        if (message.commandType == IPrintCommand::kCommandPRF) {
            TraceDevice(client, client.Id() + " closing connection.");
            client.Close();
        } else if (message.commandType == IPrintCommand::kCommandPFL && message.print) {
            HandlePrintRequest(*this, client, std::move(*message.print));
        }
        break;
    case IPrintCommand::kLoadError:
        TraceDevice(client, client.Id() + " : error loading XML.");
        break;
    case IPrintCommand::kParseError:
        TraceDevice(client, client.Id() + " : error parsing XML.");
        break;
    case IPrintCommand::kParameterMissing:
        TraceDevice(client, client.Id() + " parse data error.");
        break;
    default:
        break;
    }
}
