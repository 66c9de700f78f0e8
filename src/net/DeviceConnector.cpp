#include "net/DeviceConnector.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "net/CSocketComm.h"

DeviceConnector::DeviceConnector(Outcome outcome)
    : outcome(std::move(outcome)), wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

DeviceConnector::~DeviceConnector() {
    Stop();
    if (wakeFd >= 0) {
        close(wakeFd);
    }
}

bool DeviceConnector::Connect(const std::string& address, const std::string& port) {
    std::lock_guard guard(lock);
    if (inFlight >= kMaxInFlight || wakeFd < 0) {
        return false;
    }
    if (!loop.joinable()) {
        try {
            quitting = false;
            loop = std::thread(&DeviceConnector::Loop, this);
        } catch (const std::system_error&) {
            return false; // no thread to be had: the sender's next datagram tries again
        }
    }
    requests.push_back({address, port});
    ++inFlight;
    Wake();
    return true;
}

void DeviceConnector::Stop() {
    std::thread ending;
    {
        std::lock_guard guard(lock);
        quitting = true;
        ending = std::move(loop);
        Wake();
    }
    if (ending.joinable()) {
        ending.join();
    }
    std::lock_guard guard(lock);
    requests.clear();
    inFlight = 0;
    std::uint64_t count = 0;
    [[maybe_unused]] const auto drained = read(wakeFd, &count, sizeof count);
}

void DeviceConnector::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(wakeFd, &one, sizeof one);
}

void DeviceConnector::Begin(const Request& request, std::vector<Attempt>& attempts) {
    sockaddr_in target{};
    const int fd = CSocketComm::FillAddress(target, request.address, request.port)
                       ? socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)
                       : -1;
    if (fd < 0) {
        outcome(-1, request.address);
        return;
    }
    // The kernel chooses the source address: the host name may well resolve to a loopback address.
    if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        outcome(fd, request.address);
        return;
    }
    if (errno != EINPROGRESS) {
        close(fd);
        outcome(-1, request.address);
        return;
    }
    attempts.push_back({fd, request.address, std::chrono::steady_clock::now() + timeLimit});
}

void DeviceConnector::Loop() {
    std::vector<Attempt> attempts;
    std::vector<pollfd> waits;
    for (;;) {
        std::deque<Request> started;
        {
            std::lock_guard guard(lock);
            if (quitting) {
                break;
            }
            started.swap(requests);
        }
        std::size_t ended = 0;
        for (const Request& request : started) {
            const std::size_t before = attempts.size();
            Begin(request, attempts);
            ended += attempts.size() == before ? 1 : 0;
        }

        waits.assign(1, pollfd{wakeFd, POLLIN, 0});
        auto nearest = std::chrono::steady_clock::time_point::max();
        for (const Attempt& attempt : attempts) {
            waits.push_back({attempt.fd, POLLOUT, 0});
            nearest = std::min(nearest, attempt.deadline);
        }
        int timeout = -1; // nothing under way: sleep until asked
        if (ended > 0) {
            timeout = 0; // those that ended at once are counted below without waiting
        } else if (!attempts.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                nearest - std::chrono::steady_clock::now());
            timeout =
                static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count() + 1, 0, INT_MAX));
        }
        if (poll(waits.data(), waits.size(), timeout) < 0) {
            for (pollfd& wait : waits) {
                wait.revents = 0;
            }
        }
        if ((waits[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto drained = read(wakeFd, &count, sizeof count);
        }

        const auto now = std::chrono::steady_clock::now();
        std::vector<Attempt> waiting;
        for (std::size_t i = 0; i < attempts.size(); ++i) {
            Attempt& attempt = attempts[i];
            if (waits[i + 1].revents != 0) {
                int error = 0;
                socklen_t size = sizeof error;
                const bool connected =
                    getsockopt(attempt.fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
                if (!connected) {
                    close(attempt.fd);
                }
                outcome(connected ? attempt.fd : -1, attempt.address);
                ++ended;
            } else if (now >= attempt.deadline) {
                close(attempt.fd);
                outcome(-1, attempt.address);
                ++ended;
            } else {
                waiting.push_back(std::move(attempt));
            }
        }
        attempts.swap(waiting);
        std::lock_guard guard(lock);
        inFlight -= std::min(inFlight, ended);
    }
    // Abandoned: nobody is told, the sockets just go.
    for (const Attempt& attempt : attempts) {
        close(attempt.fd);
    }
}
