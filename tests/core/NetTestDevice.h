#pragma once

#include "app/ITraceSink.h"
#include "protocol/ReceiveBuffer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Helpers that play the client device in network tests: a listening TCP socket that accepts the
// server's connection, the accepted connection, and discovery datagrams. Waits are bounded only so
// that a broken server fails the test instead of hanging it.
namespace nettest {

inline constexpr std::chrono::seconds kGuard{20};

class TraceRecorder : public ITraceSink {
public:
    void TraceLine(const std::string& line) override {
        std::lock_guard guard(lock);
        lines.push_back(line);
        changed.notify_all();
    }
    std::vector<std::string> Lines() const {
        std::lock_guard guard(lock);
        return lines;
    }
    std::size_t Count(const std::string& part) const {
        std::lock_guard guard(lock);
        std::size_t count = 0;
        for (const auto& line : lines) {
            count += line.find(part) != std::string::npos ? 1 : 0;
        }
        return count;
    }
    bool WaitFor(const std::string& part, std::size_t times = 1,
                 std::chrono::milliseconds within = std::chrono::milliseconds(kGuard)) const {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, within, [&] {
            std::size_t count = 0;
            for (const auto& line : lines) {
                count += line.find(part) != std::string::npos ? 1 : 0;
            }
            return count >= times;
        });
    }

private:
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::vector<std::string> lines;
};

inline sockaddr_in MakeAddress(const std::string& host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    return address;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd(other.fd) { other.fd = -1; }
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd = other.fd;
            other.fd = -1;
        }
        return *this;
    }
    int Get() const { return fd; }
    bool Valid() const { return fd >= 0; }
    void Reset() {
        if (fd >= 0) {
            close(fd);
        }
        fd = -1;
    }

private:
    int fd;
};

inline bool WaitReadable(int fd) {
    pollfd wait{fd, POLLIN, 0};
    return poll(&wait, 1, static_cast<int>(std::chrono::milliseconds(kGuard).count())) > 0;
}

// The device's side of a connection the server opened.
class DeviceConnection {
public:
    explicit DeviceConnection(Fd socket) : socket(std::move(socket)) {}
    bool Valid() const { return socket.Valid(); }
    int Get() const { return socket.Get(); }
    bool SendBytes(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t count = send(socket.Get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (count <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(count);
        }
        return true;
    }
    // The next message without its 0 byte; nothing when the connection ends first.
    std::optional<std::string> ReadMessage() {
        while (ready.empty()) {
            char chunk[65536];
            if (!WaitReadable(socket.Get())) {
                return std::nullopt;
            }
            const ssize_t count = recv(socket.Get(), chunk, sizeof chunk, 0);
            if (count <= 0) {
                return std::nullopt;
            }
            for (std::string& message :
                 framer.Append(std::string_view(chunk, static_cast<std::size_t>(count))).messages) {
                ready.push_back(std::move(message));
            }
        }
        std::string message = std::move(ready.front());
        ready.pop_front();
        return message;
    }
    // Whether the server closed the connection (reads up to the end, dropping data).
    bool WaitClosed() {
        char chunk[65536];
        for (;;) {
            if (!WaitReadable(socket.Get())) {
                return false;
            }
            const ssize_t count = recv(socket.Get(), chunk, sizeof chunk, 0);
            if (count <= 0) {
                return true;
            }
        }
    }
    // Whether the server has closed the connection by now (without waiting, nothing read).
    bool ClosedNow() const {
        pollfd wait{socket.Get(), POLLIN, 0};
        char byte = 0;
        return poll(&wait, 1, 0) > 0 && recv(socket.Get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    }
    void Close() { socket.Reset(); }

private:
    Fd socket;
    ReceiveBuffer framer;
    std::deque<std::string> ready;
};

// A device's listening socket on `host`; port 0 picks a free one.
class DeviceListener {
public:
    explicit DeviceListener(const std::string& host, std::uint16_t port = 0)
        : socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const int on = 1;
        setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address = MakeAddress(host, port);
        if (bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(socket.Get(), 128) != 0) {
            socket.Reset();
        }
    }
    bool Valid() const { return socket.Valid(); }
    std::uint16_t Port() const {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }
    std::string PortText() const { return std::to_string(Port()); }
    DeviceConnection Accept() {
        if (!WaitReadable(socket.Get())) {
            return DeviceConnection(Fd());
        }
        return DeviceConnection(Fd(accept4(socket.Get(), nullptr, nullptr, SOCK_CLOEXEC)));
    }
    // A connection made within `within`; an invalid one when none came.
    DeviceConnection AcceptWithin(std::chrono::milliseconds within) {
        pollfd wait{socket.Get(), POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(within.count())) <= 0) {
            return DeviceConnection(Fd());
        }
        return DeviceConnection(Fd(accept4(socket.Get(), nullptr, nullptr, SOCK_CLOEXEC)));
    }
    // Whether a connection is waiting right now.
    bool HasPending() const {
        pollfd wait{socket.Get(), POLLIN, 0};
        return poll(&wait, 1, 0) > 0;
    }

private:
    Fd socket;
};

// Two listeners on different loopback addresses and one port, as two devices with the same device port.
inline bool ListenOnSamePort(DeviceListener& first, const std::string& secondHost,
                             std::optional<DeviceListener>& second) {
    if (!first.Valid()) {
        return false;
    }
    second.emplace(secondHost, first.Port());
    return second->Valid();
}

inline bool SendDatagram(const std::string& fromHost, std::uint16_t toPort, const std::string& payload,
                         const std::string& toHost = "127.0.0.1") {
    Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in from = MakeAddress(fromHost, 0);
    sockaddr_in to = MakeAddress(toHost, toPort);
    return bind(socket.Get(), reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
           sendto(socket.Get(), payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(payload.size());
}

// A device's datagram socket, bound once so that all its datagrams come from one address and port.
class DatagramSender {
public:
    explicit DatagramSender(const std::string& fromHost)
        : socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in from = MakeAddress(fromHost, 0);
        if (bind(socket.Get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            socket.Reset();
        }
    }
    int Get() const { return socket.Get(); }
    bool Send(std::uint16_t toPort, const std::string& payload, const std::string& toHost = "127.0.0.1") {
        sockaddr_in to = MakeAddress(toHost, toPort);
        return sendto(socket.Get(), payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to),
                      sizeof to) == static_cast<ssize_t>(payload.size());
    }

private:
    Fd socket;
};

// Devices whose connections hang, as forged senders' do: each host listens on `port` with a full
// queue, so a connection to it neither succeeds nor fails until its time limit. Each has its datagram
// socket. Hosts are 127.<first>.<i / 200>.<1 + i % 200>.
class HangingDevices {
public:
    HangingDevices(int count, int first, std::uint16_t port) {
        for (int i = 0; i < count; ++i) {
            const std::string address = "127." + std::to_string(first) + "." + std::to_string(i / 200) + "." +
                                        std::to_string(1 + i % 200);
            Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            // The port may be held in reserve on every address (as the e2e servers' device port is).
            const int on = 1;
            setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_in target = MakeAddress(address, port);
            Fd filler(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (bind(listener.Get(), reinterpret_cast<sockaddr*>(&target), sizeof target) != 0 ||
                listen(listener.Get(), 0) != 0 ||
                connect(filler.Get(), reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
                ready = false;
                continue;
            }
            listeners.push_back(std::move(listener));
            fillers.push_back(std::move(filler));
            senders.push_back(std::make_unique<DatagramSender>(address));
        }
    }
    // Every device could be set up.
    bool Ready() const { return ready; }
    std::vector<std::unique_ptr<DatagramSender>>& Senders() { return senders; }

private:
    bool ready = true;
    std::vector<Fd> listeners;
    std::vector<Fd> fillers;
    std::vector<std::unique_ptr<DatagramSender>> senders;
};

} // namespace nettest
