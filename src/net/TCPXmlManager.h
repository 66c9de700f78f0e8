#pragma once

#include "app/LogManager.h"
#include "net/ITCPManager.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
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
// at a time across all connections. Connections whose device went away are released at once by a
// helper thread, so that no watch thread ever has to join itself.
class TCPXmlManager : public ITCPManager, public LogManager {
public:
    static constexpr std::size_t kMaxConnections = 64;

    TCPXmlManager();
    ~TCPXmlManager() override;
    TCPXmlManager(const TCPXmlManager&) = delete;
    TCPXmlManager& operator=(const TCPXmlManager&) = delete;

    void SetCommand(PrintCommand* value) { command = value; }
    void SetDevicePort(const std::string& port) { devicePort = port; }
    void SetTraceSink(ITraceSink* sink) { traceSink = sink; }
    void SetMainWindow(IMainWindowPort* port) { mainWindow = port; }
    void SetMaxConnections(std::size_t limit) { maxConnections = limit; }

    bool ConnectToDevice(const std::string& address) override;
    void HandleMessage(const char* data, std::size_t length, TCPClient& client) override;
    void ConnectionEnded(TCPClient& client) override;
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

private:
    bool AcquireMessageLock(const TCPClient& client);
    void ReleaseMessageLock();
    void HandleOneMessage(std::string_view message, TCPClient& client);
    void Keep(std::unique_ptr<TCPClient> client);
    void ReleaseLoop();

    PrintCommand* command = nullptr;
    std::string devicePort;
    ITraceSink* traceSink = nullptr;
    IMainWindowPort* mainWindow = nullptr;
    // The message lock: held while one message is carried out, waited for with a look at whether the
    // server is stopping or the waiting connection has closed.
    std::mutex messageGate;
    std::condition_variable messageFree;
    bool messageBusy = false;
    std::atomic<bool> stopping = false;
    std::size_t maxConnections = kMaxConnections;

    mutable std::mutex clientsLock;
    std::vector<std::unique_ptr<TCPClient>> clients;
    std::vector<std::unique_ptr<TCPClient>> released;
    std::set<TCPClient*> connecting;
    std::condition_variable releaseSignal;
    std::condition_variable releaseDone;
    bool releasing = false; // the helper is releasing a batch outside the lock
    bool quitting = false;
    std::thread releaser;
};
