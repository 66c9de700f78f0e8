#include "PadConnection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kDiscoveryPayload[] = "qopra-pad";

// A numeric IPv4 address or a host name; `problem` says why there is none.
std::optional<sockaddr_in> AddressOf(const std::string& host, const std::string& port, std::string& problem) {
    char* end = nullptr;
    const long portNumber = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || portNumber < 0 || portNumber > 65535) {
        problem = "bad port " + port;
        return std::nullopt;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(portNumber));
    if (host.empty()) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        return address;
    }
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1) {
        return address;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (resolved != 0 || found == nullptr) {
        problem = "cannot find the IPv4 address of " + host + ": " +
                  (resolved == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(resolved));
        return std::nullopt;
    }
    address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return address;
}

} // namespace

PadConnection::PadConnection(std::chrono::steady_clock::time_point deadline) : deadline(deadline) {}

PadConnection::~PadConnection() {
    for (const int fd : {connection, listener}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool PadConnection::Fail(const std::string& what) {
    error = what + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
    return false;
}

bool PadConnection::WaitFor(int fd, short events, std::chrono::steady_clock::time_point until) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd wait{fd, events, 0};
        const int ready =
            poll(&wait, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            errno = 0;
            error = "timed out";
            return false;
        }
    }
}

bool PadConnection::Listen(const std::string& bindAddress, const std::string& port) {
    std::string problem;
    const auto address = AddressOf(bindAddress, port, problem);
    if (!address) {
        error = "cannot listen: " + problem;
        return false;
    }
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (listener < 0 || setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(listener, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
        listen(listener, 4) != 0) {
        return Fail("cannot listen on port " + port);
    }
    return true;
}

bool PadConnection::Aim(const std::string& server, const std::string& port, const std::string& bindAddress) {
    std::string problem;
    const auto to = AddressOf(server, port, problem);
    const auto from = to ? AddressOf(bindAddress, "0", problem) : std::nullopt;
    if (!to || !from) {
        error = "cannot send the discovery datagram: " + problem;
        return false;
    }
    target = *to;
    source = *from;
    return true;
}

std::string PadConnection::TargetText() const {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &target.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(target.sin_port));
}

bool PadConnection::SendDiscovery(bool broadcast) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    const bool sent = fd >= 0 &&
                      (!broadcast || setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0) &&
                      bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) == 0 &&
                      sendto(fd, kDiscoveryPayload, sizeof kDiscoveryPayload - 1, 0,
                             reinterpret_cast<const sockaddr*>(&target),
                             sizeof target) == static_cast<ssize_t>(sizeof kDiscoveryPayload - 1);
    if (!sent) {
        Fail("cannot send the discovery datagram to " + TargetText());
    }
    if (fd >= 0) {
        close(fd);
    }
    return sent;
}

bool PadConnection::Discover(bool broadcast) {
    for (;;) {
        if (!SendDiscovery(broadcast)) {
            return false;
        }
        const auto repeatAt = std::min(deadline, std::chrono::steady_clock::now() + kDiscoveryRepeat);
        if (WaitFor(listener, POLLIN, repeatAt)) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "no connection from the server within the time limit (is it running there, does its "
                    "firewall let the datagram in, may it connect to this machine's TCP port?)";
            return false;
        }
    }
    connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    return connection >= 0 || Fail("accepting the server's connection failed");
}

std::optional<std::string> PadConnection::ReadMessage() {
    while (ready.empty()) {
        if (!WaitFor(connection, POLLIN)) {
            error = "no message from the server: " + error;
            return std::nullopt;
        }
        char chunk[65536];
        const ssize_t count = recv(connection, chunk, sizeof chunk, 0);
        if (count <= 0) {
            errno = 0;
            Fail("the server closed the connection");
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

bool PadConnection::SendMessage(const std::string& bytes) {
    std::string framed = bytes;
    framed.push_back('\0');
    std::size_t done = 0;
    while (done < framed.size()) {
        if (!WaitFor(connection, POLLOUT)) {
            return false;
        }
        // Without MSG_DONTWAIT a blocking send of a large message would wait for the whole of it,
        // past the deadline, whenever the server stops reading.
        const ssize_t count =
            send(connection, framed.data() + done, framed.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0 && errno != EINTR && errno != EAGAIN) {
            return Fail("sending failed");
        }
        done += count > 0 ? static_cast<std::size_t>(count) : 0;
    }
    return true;
}

bool PadConnection::WaitClosed() {
    char chunk[4096];
    for (;;) {
        if (!WaitFor(connection, POLLIN)) {
            error = "the server did not close the connection: " + error;
            return false;
        }
        const ssize_t count = recv(connection, chunk, sizeof chunk, 0);
        if (count <= 0) {
            return true;
        }
    }
}
