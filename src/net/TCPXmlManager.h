#pragma once

#include "app/LogManager.h"
#include "net/ITCPManager.h"
#include "net/TraceLimiter.h"
#include "print/PrintContext.h"
#include "print/PrintSlots.h"
#include "print/StagingFolders.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class IMainWindowPort;
class IPrintCommand;
class ITraceSink;
class TCPClient;
struct CommandMessage;

// Opens the connections to devices, keeps them, and carries out the messages they send. Each
// connection's messages are carried out in order on its own thread; only reading a message is done
// one at a time for all of them, so a print on one connection holds up no other. What one device may
// hold is bounded: a few connections per address, a byte budget for all unfinished messages
// together, and a time limit on an unfinished message that makes no progress. Connections whose
// device went away are released at once by a helper thread, so that no watch thread ever has to join
// itself.
class TCPXmlManager : public ITCPManager, public LogManager {
public:
    static constexpr std::size_t kMaxConnections = 64;
    static constexpr std::size_t kMaxConnectionsPerAddress = 4;
    // Room for eight whole messages of the largest size at once: four devices sending the largest
    // documents side by side are served, and the memory devices can hold stays bounded.
    static constexpr std::size_t kPendingBudget = 80 * 1024 * 1024;
    static constexpr std::chrono::milliseconds kStallTimeout{60000};
    // How long the host name in the printer list is reused before the resolver is asked again.
    static constexpr std::chrono::seconds kHostNameLifetime{30};
    // How long Stop waits for the messages being carried out to give their answers.
    static constexpr std::chrono::milliseconds kStopGrace{3000};

    // `command` reads the messages and builds the answers; the sink and the main window are those of
    // the whole life of the handler (null: none).
    TCPXmlManager(const IPrintCommand& command, ITraceSink* traceSink = nullptr,
                  IMainWindowPort* mainWindow = nullptr);
    ~TCPXmlManager() override;
    TCPXmlManager(const TCPXmlManager&) = delete;
    TCPXmlManager& operator=(const TCPXmlManager&) = delete;

    void SetDevicePort(const std::string& port);
    // Limits for tests; set before the first connection.
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
    // A trace line caused by the device at `address`; folded and rate-limited.
    void TraceFrom(const std::string& address, const std::string& text);
    // A line that records what became of a request: never folded nor dropped.
    void TraceRecord(const std::string& address, const std::string& text);
    // Refuses new connections, ends the prints under way (they answer that they failed) and abandons
    // the attempts under way; Stop ends the refusal.
    void AbortConnects();
    // Closes every connection and joins their threads; new connections may be made afterwards.
    void Stop();

    // What the print-request handling needs.
    const IPrintCommand& Command() const { return command; }
    PrintContext Context() const;
    StagingFolders& Folders() { return folders; }

    // Connections kept (open, or ended but not yet released).
    std::size_t ConnectionCount() const;
    // Bytes of unfinished messages held by the open connections.
    std::size_t PendingTotal() const;

private:
    void HandleOneMessage(std::string message, TCPClient& client);
    void CarryOut(CommandMessage message, TCPClient& client);
    void RefuseOversized(TCPClient& client);
    void Welcome(std::unique_ptr<TCPClient> client, const std::string& address);
    void Keep(std::unique_ptr<TCPClient> client);
    // The connection to close to make room: of the address holding the most (of `address` only,
    // when given), one that holds an unfinished message before one that is merely quiet, the idle
    // longest first; never one carrying out a message. Null when there is none.
    TCPClient* EvictionVictimLocked(const std::string* address) const;
    void NotePending(TCPClient& client);
    std::string HostName();
    void ReleaseLoop();
    std::optional<std::chrono::steady_clock::time_point> NextStallLocked() const;
    void CloseStalledLocked(std::chrono::steady_clock::time_point now);

    const IPrintCommand& command;
    ITraceSink* const traceSink;
    IMainWindowPort* const mainWindow;
    mutable std::mutex portLock;
    std::string devicePort;
    TraceLimiter traceLimiter;
    // Messages are read one at a time: a message's parse takes a few times its size in memory.
    std::mutex parseLock;
    mutable PrintSlots slots;
    StagingFolders folders;
    // Ends the prints under way; made anew once a stop is over.
    mutable std::mutex stopLock;
    std::stop_source stopSource;
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
    // Connections carrying out a message: Stop waits for their answers.
    std::size_t busyCount = 0;
    std::condition_variable notBusy;
    std::chrono::milliseconds stallTimeout = kStallTimeout;
    bool stallsChanged = false; // a connection began an unfinished message: look at the deadlines again
    bool releasing = false;     // the helper is releasing a batch outside the lock
    bool quitting = false;
    std::thread releaser;
};
