#pragma once

#include "app/LogManager.h"
#include "net/CSocketComm.h"
#include "net/ITCPClient.h"
#include "protocol/ReceiveBuffer.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

class ITCPManager;
class ITraceSink;

// A TCP connection that the server opened towards a client device. Its received bytes go to the
// manager; its own receive buffer collects them into messages, so devices never share a message.
class TCPClient : public CSocketComm, public ITCPClient, public LogManager {
public:
    TCPClient();
    ~TCPClient() override;

    bool Connect(const std::string& host, const std::string& port) override;
    void Close() override;
    void Send(const std::string& text) override;
    std::string Id() const override { return id; }

    void SetManager(ITCPManager* value) { manager = value; }
    void SetTraceSink(ITraceSink* sink) { traceSink = sink; }
    const std::string& Host() const { return host; }
    ReceiveBuffer& Buffer() { return receiveBuffer; }

    // Idle bookkeeping for releasing the oldest idle connection when too many are open.
    bool Busy() const { return busy.load(); }
    void SetBusy(bool value) { busy = value; }
    std::chrono::steady_clock::time_point LastActivity() const;
    // Set by the manager once the watch thread has reported its end.
    bool Ended() const { return ended; }
    void MarkEnded() { ended = true; }

protected:
    void HandleReceived(const char* data, std::size_t length) override;
    void HandleSocketEvent(int code) override;
    void HandleWatchEnded() override;

private:
    static std::string NextId();
    void Touch();

    ITCPManager* manager = nullptr;
    sockaddr_in peerAddress{};
    ITraceSink* traceSink = nullptr;
    std::string host;
    std::string port;
    std::string id;
    ReceiveBuffer receiveBuffer;
    std::mutex sendLock;
    std::atomic<bool> busy = false;
    std::atomic<std::chrono::steady_clock::rep> lastActivity;
    bool ended = false; // guarded by the manager's connection lock
};
