#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

// Ports for tests that run beside each other: always chosen by the kernel, never probed and let go.

// A port the kernel chose, kept bound (not listening, the address reusable) for as long as the
// object lives: a device stand-in may listen on it meanwhile, and the kernel gives it to nobody else.
class ReservedPort {
public:
    explicit ReservedPort(int type) : fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0)) {
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t size = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~ReservedPort() { ::close(fd); }
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;
    std::uint16_t Port() const { return port; }
    std::string Text() const { return std::to_string(port); }

private:
    int fd;
    std::uint16_t port = 0;
};

struct ReservedTcpPort : ReservedPort {
    ReservedTcpPort() : ReservedPort(SOCK_STREAM) {}
};
// A UDP port nobody reads: datagrams sent there are never answered.
struct ReservedUdpPort : ReservedPort {
    ReservedUdpPort() : ReservedPort(SOCK_DGRAM) {}
};

// The UDP port that process `pid` has bound (a server told to use port 0 gets one from the kernel),
// read from /proc once it is bound; nothing when it is not bound within `limit`.
inline std::optional<std::uint16_t> BoundUdpPort(pid_t pid,
                                                 std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const std::string proc = "/proc/" + std::to_string(pid);
    do {
        std::set<std::string> sockets;
        std::error_code error;
        for (std::filesystem::directory_iterator it(proc + "/fd", error), end; !error && it != end;
             it.increment(error)) {
            std::error_code linkError;
            const std::string target = std::filesystem::read_symlink(it->path(), linkError).string();
            if (target.rfind("socket:[", 0) == 0) {
                sockets.insert(target.substr(8, target.size() - 9));
            }
        }
        // The process's own view: it may run in a network namespace of its own.
        std::ifstream table(proc + "/net/udp");
        std::string line;
        std::getline(table, line);
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            if (sockets.contains(inode)) {
                return static_cast<std::uint16_t>(std::stoul(local.substr(local.find(':') + 1), nullptr, 16));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}
