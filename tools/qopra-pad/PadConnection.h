#pragma once

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
    // Sends the discovery datagram and waits for the server's connection, sending again every
    // kDiscoveryRepeat as a device does (the server hears a sender at most once a second).
    bool Discover(const std::string& server, const std::string& port, const std::string& bindAddress,
                  bool broadcast);
    // The next message, without its 0 byte; nothing on time-out or when the server closed.
    std::optional<std::string> ReadMessage();
    bool SendMessage(const std::string& bytes);
    // Whether the server closes the connection before the deadline.
    bool WaitClosed();
    const std::string& Error() const { return error; }

    static constexpr std::chrono::milliseconds kDiscoveryRepeat{1500};

private:
    bool SendDiscovery(const std::string& server, const std::string& port, const std::string& bindAddress,
                       bool broadcast);
    bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point until);
    bool WaitFor(int fd, short events) { return WaitFor(fd, events, deadline); }
    bool Fail(const std::string& what);

    std::chrono::steady_clock::time_point deadline;
    int listener = -1;
    int connection = -1;
    ReceiveBuffer framer;
    std::deque<std::string> ready;
    std::string error;
};
