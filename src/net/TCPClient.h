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
    // How long an answer may wait for room in the device's window. A device that reads takes a few
    // hundred bytes at once; one that does not must not hold the sender, which may hold every device.
    static constexpr std::chrono::milliseconds kSendPatience{200};

    TCPClient();
    ~TCPClient() override;

    bool Connect(const std::string& host, const std::string& port) override;
    // Takes over a socket already connected to host:port and starts watching it.
    bool Adopt(int fd, const std::string& host, const std::string& port);
    void Close() override;
    void Send(const std::string& text) override;
    std::string Id() const override { return id; }

    void SetManager(ITCPManager* value) { manager = value; }
    void SetTraceSink(ITraceSink* sink) { traceSink = sink; }
    const std::string& Host() const override { return host; }
    ReceiveBuffer& Buffer() { return receiveBuffer; }

    // Idle bookkeeping for releasing the oldest idle connection when too many are open.
    bool Busy() const { return busy.load(); }
    void SetBusy(bool value) { busy = value; }
    std::chrono::steady_clock::time_point LastActivity() const;
    // Bytes held of an unfinished message, kept up to date by the manager.
    std::size_t PendingBytes() const { return pendingBytes.load(); }
    void SetPendingBytes(std::size_t bytes) { pendingBytes = bytes; }
    // The name of a connection made now ("ID" and the tick count, unique within the process).
    static std::string NextId();
    // Set by the manager once the watch thread has reported its end.
    bool Ended() const { return ended; }
    void MarkEnded() { ended = true; }

protected:
    void HandleReceived(const char* data, std::size_t length) override;
    void HandleSocketEvent(int code) override;
    void HandleWatchEnded() override;

private:
    void Touch();
    void TraceLine(const std::string& text);

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
    std::atomic<std::size_t> pendingBytes = 0;
    bool ended = false; // guarded by the manager's connection lock
};
