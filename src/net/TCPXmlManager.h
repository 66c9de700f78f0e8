#pragma once

#include "app/LogManager.h"
#include "net/ITCPManager.h"
#include "net/TraceLimiter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class IMainWindowPort;
class ITraceSink;
class PrintCommand;
class TCPClient;

// Opens the connections to devices, keeps them, and carries out the messages they send, one message
// at a time across all connections. What one device may hold is bounded: a few connections per
// address, a byte budget for all unfinished messages together, and a time limit on an unfinished
// message that makes no progress. Connections whose device went away are released at once by a
// helper thread, so that no watch thread ever has to join itself.
class TCPXmlManager : public ITCPManager, public LogManager {
public:
    static constexpr std::size_t kMaxConnections = 64;
    static constexpr std::size_t kMaxConnectionsPerAddress = 4;
    static constexpr std::size_t kPendingBudget = 32 * 1024 * 1024;
    static constexpr std::chrono::milliseconds kStallTimeout{60000};
    // How long the host name in the printer list is reused before the resolver is asked again.
    static constexpr std::chrono::seconds kHostNameLifetime{30};
    // How long Stop waits for the message being carried out to give its answer.
    static constexpr std::chrono::milliseconds kStopGrace{3000};

    TCPXmlManager();
    ~TCPXmlManager() override;
    TCPXmlManager(const TCPXmlManager&) = delete;
    TCPXmlManager& operator=(const TCPXmlManager&) = delete;

    void SetCommand(PrintCommand* value) { command = value; }
    void SetDevicePort(const std::string& port);
    void SetTraceSink(ITraceSink* sink) { traceSink = sink; }
    void SetMainWindow(IMainWindowPort* port) { mainWindow = port; }
    void SetMaxConnections(std::size_t limit) { maxConnections = limit; }
    void SetMaxConnectionsPerAddress(std::size_t limit) { maxPerAddress = limit; }
    void SetPendingBudget(std::size_t bytes) { pendingBudget = bytes; }
    void SetStallTimeout(std::chrono::milliseconds timeout);

    bool ConnectToDevice(const std::string& address) override;
    std::string DevicePort() const override;
    void ConnectionAttemptEnded(int fd, const std::string& address) override;
    void HandleMessage(const char* data, std::size_t length, TCPClient& client) override;
    void ConnectionEnded(TCPClient& client) override;
    void TraceDevice(const TCPClient& client, const std::string& text) override;
    // A trace line caused by the device at `address`.
    void TraceFrom(const std::string& address, const std::string& text);
    // Refuses new connections and abandons the attempts under way; Stop ends the refusal.
    void AbortConnects();
    // Closes every connection and joins their threads; new connections may be made afterwards.
    void Stop();

    // What the print-request handling needs.
    PrintCommand& Command() { return *command; }
    ITraceSink* TraceSink() const { return traceSink; }
    IMainWindowPort* MainWindow() const { return mainWindow; }
    void Trace(const std::string& text) const;

    // Connections kept (open, or ended but not yet released).
    std::size_t ConnectionCount() const;
    // Bytes of unfinished messages held by the open connections.
    std::size_t PendingTotal() const;

private:
    bool AcquireMessageLock(const TCPClient& client);
    void ReleaseMessageLock();
    void HandleOneMessage(std::string_view message, TCPClient& client);
    void Welcome(std::unique_ptr<TCPClient> client, const std::string& address);
    void Keep(std::unique_ptr<TCPClient> client);
    void NotePending(TCPClient& client);
    std::string HostName();
    void ReleaseLoop();
    std::optional<std::chrono::steady_clock::time_point> NextStallLocked() const;
    void CloseStalledLocked(std::chrono::steady_clock::time_point now);

    PrintCommand* command = nullptr;
    mutable std::mutex portLock;
    std::string devicePort;
    ITraceSink* traceSink = nullptr;
    IMainWindowPort* mainWindow = nullptr;
    TraceLimiter traceLimiter;
    // The message lock: held while one message is carried out, waited for with a look at whether the
    // server is stopping or the waiting connection has closed.
    std::mutex messageGate;
    std::condition_variable messageFree;
    bool messageBusy = false;
    std::atomic<bool> stopping = false;
    std::size_t maxConnections = kMaxConnections;
    std::size_t maxPerAddress = kMaxConnectionsPerAddress;
    std::atomic<std::size_t> pendingBudget = kPendingBudget;

    std::mutex hostNameLock;
    std::string hostName;
    std::chrono::steady_clock::time_point hostNameTime;

    mutable std::mutex clientsLock;
    std::vector<std::unique_ptr<TCPClient>> clients;
    std::vector<std::unique_ptr<TCPClient>> released;
    std::set<TCPClient*> connecting;
    std::condition_variable releaseSignal;
    std::condition_variable releaseDone;
    std::chrono::milliseconds stallTimeout = kStallTimeout;
    bool stallsChanged = false; // a connection began an unfinished message: look at the deadlines again
    bool releasing = false;     // the helper is releasing a batch outside the lock
    bool quitting = false;
    std::thread releaser;
};
