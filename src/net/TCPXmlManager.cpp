#include "net/TCPXmlManager.h"

#include "config/AppSettings.h"
#include "net/HandlePrintRequest.h"
#include "net/TCPClient.h"
#include "protocol/PrintCommand.h"

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

void TCPXmlManager::Trace(const std::string& text) const {
    LogManager::Trace(text, traceSink);
}

std::size_t TCPXmlManager::ConnectionCount() const {
    std::lock_guard guard(clientsLock);
    return clients.size();
}

bool TCPXmlManager::ConnectToDevice(const std::string& address) {
    auto client = std::make_unique<TCPClient>();
    client->SetManager(this);
    client->SetTraceSink(traceSink);
    {
        std::lock_guard guard(clientsLock);
        connecting.insert(client.get());
    }
    const bool connected = !stopping && client->Connect(address, devicePort);
    {
        std::lock_guard guard(clientsLock);
        connecting.erase(client.get());
    }
    if (!connected) {
        Trace(client->Id() + " unable to communicate with " + address);
        return false;
    }
    Trace(client->Id() + " successfully connected with " + address);
    if (command != nullptr) {
        client->Send(command->BuildPrinterList(CSocketComm::LocalHostName(),
                                               AppSettings::Instance().GetPublishedPrinters()));
    }
    Keep(std::move(client));
    return true;
}

void TCPXmlManager::Keep(std::unique_ptr<TCPClient> client) {
    std::lock_guard guard(clientsLock);
    if (client->Ended()) {
        released.push_back(std::move(client));
        releaseSignal.notify_all();
        return;
    }
    std::size_t open = 0;
    TCPClient* oldestIdle = nullptr;
    for (const auto& kept : clients) {
        if (!kept->IsOpen()) {
            continue;
        }
        ++open;
        if (!kept->Busy() && (oldestIdle == nullptr || kept->LastActivity() < oldestIdle->LastActivity())) {
            oldestIdle = kept.get();
        }
    }
    if (open >= maxConnections) {
        // Silent devices must not use up the server: the one idle the longest makes room. Closing only
        // wakes its thread, which then reports its end and is released.
        TCPClient* victim = oldestIdle != nullptr ? oldestIdle : client.get();
        Trace(victim->Id() + " too many open connections, closing connection.");
        victim->Close();
    }
    clients.push_back(std::move(client));
}

void TCPXmlManager::ConnectionEnded(TCPClient& client) {
    std::lock_guard guard(clientsLock);
    client.MarkEnded();
    const auto found =
        std::find_if(clients.begin(), clients.end(), [&](const auto& kept) { return kept.get() == &client; });
    if (found != clients.end()) {
        released.push_back(std::move(*found));
        clients.erase(found);
        releaseSignal.notify_all();
    }
}

void TCPXmlManager::ReleaseLoop() {
    std::unique_lock guard(clientsLock);
    for (;;) {
        releaseSignal.wait(guard, [this] { return quitting || !released.empty(); });
        if (released.empty() && quitting) {
            return;
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

void TCPXmlManager::HandleMessage(const char* data, std::size_t length, TCPClient& client) {
    client.SetBusy(true);
    if (!AcquireMessageLock(client)) {
        client.SetBusy(false);
        return;
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
    const ReceiveBuffer::Result result = client.Buffer().Append(std::string_view(data, length));
    if (result.refused > 0) {
        Trace(client.Id() + " : message too long, refused.");
    } else if (result.messages.empty()) {
        Trace(client.Id() + " : uncompleted packet received.");
    }
    for (const std::string& message : result.messages) {
        if (!client.IsOpen()) {
            break; // closed by an earlier message of this burst
        }
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
    messageFree.notify_one();
}

void TCPXmlManager::HandleOneMessage(std::string_view message, TCPClient& client) {
    if (command == nullptr) {
        return;
    }
    try {
        switch (command->ReadMessage(message)) {
        case IPrintCommand::kComplete:
            if (command->CommandType() == PrintCommand::kCommandPRF) {
                Trace(client.Id() + " closing connection.");
                client.Close();
            } else if (command->CommandType() == PrintCommand::kCommandPFL) {
                HandlePrintRequest(*this, client);
            }
            break;
        case IPrintCommand::kIncomplete:
            Trace(client.Id() + " : uncompleted packet received.");
            break;
        case IPrintCommand::kLoadError:
            Trace(client.Id() + " : error loading XML.");
            break;
        case IPrintCommand::kParseError:
            Trace(client.Id() + " : error parsing XML.");
            break;
        default:
            break;
        }
    } catch (...) {
        Trace(client.Id() + " parse data error.");
    }
}
