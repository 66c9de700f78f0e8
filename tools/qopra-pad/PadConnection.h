#pragma once

#include <netinet/in.h>

#include <chrono>
#include <deque>
#include <optional>
#include <string>

#include "protocol/ReceiveBuffer.h"

// The device's network side: the listening port the server connects to, the discovery datagram, and
// the one connection, with every wait bounded by the deadline.
class PadConnection {
public:
    explicit PadConnection(std::chrono::steady_clock::time_point deadline);
    ~PadConnection();
    PadConnection(const PadConnection&) = delete;
    PadConnection& operator=(const PadConnection&) = delete;

    bool Listen(const std::string& bindAddress, const std::string& port);
    // Finds the addresses the discovery datagram goes to and comes from; host names are looked up.
    bool Aim(const std::string& server, const std::string& port, const std::string& bindAddress);
    // "address:port" of the server's discovery port, once aimed.
    std::string TargetText() const;
    // Sends the discovery datagram and waits for the server's connection, sending again every
    // kDiscoveryRepeat as a device does (the server hears a sender at most once a second).
    bool Discover(bool broadcast);
    // The next message, without its 0 byte; nothing on time-out or when the server closed.
    std::optional<std::string> ReadMessage();
    bool SendMessage(const std::string& bytes);
    // Whether the server closes the connection before the deadline.
    bool WaitClosed();
    const std::string& Error() const { return error; }

    static constexpr std::chrono::milliseconds kDiscoveryRepeat{1500};

private:
    bool SendDiscovery(bool broadcast);
    bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point until);
    bool WaitFor(int fd, short events) { return WaitFor(fd, events, deadline); }
    bool Fail(const std::string& what);

    std::chrono::steady_clock::time_point deadline;
    sockaddr_in target{};
    sockaddr_in source{};
    int listener = -1;
    int connection = -1;
    ReceiveBuffer framer;
    std::deque<std::string> ready;
    std::string error;
};
