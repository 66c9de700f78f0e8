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
#include <iterator>
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

bool DeviceConnector::Connect(const std::string& address, const std::string& port,
                              std::chrono::milliseconds timeLimit, Clock::time_point notBefore) {
    std::lock_guard guard(lock);
    // While a stop is under way nothing new starts: a loop made now would outlive the one it joins.
    if (quitting || wakeFd < 0) {
        return false;
    }
    if (!loop.joinable()) {
        try {
            loop = std::thread(&DeviceConnector::Loop, this);
        } catch (const std::system_error&) {
            return false; // no thread to be had: the sender's next datagram tries again
        }
    }
    requests.push_back({address, port, timeLimit, notBefore});
    Wake();
    return true;
}

std::size_t DeviceConnector::InFlight() const {
    std::lock_guard guard(lock);
    return inFlight;
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
    deferred.clear();
    inFlight = 0;
    quitting = false;
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
    const auto now = Clock::now();
    attempts.push_back({fd, request.address, now, now + request.timeLimit});
}

void DeviceConnector::Loop() {
    std::vector<Attempt> attempts;
    std::vector<pollfd> waits;
    for (;;) {
        std::vector<Request> started;
        std::vector<Request> dropped;
        auto nearest = Clock::time_point::max();
        {
            std::lock_guard guard(lock);
            if (quitting) {
                break;
            }
            const auto now = Clock::now();
            for (Request& request : requests) {
                deferred.push_back(std::move(request));
            }
            requests.clear();
            // Beyond the bound the oldest deferral goes: its sender is heard again soon enough.
            if (deferred.size() > kMaxDeferred) {
                const auto excess =
                    deferred.begin() + static_cast<std::ptrdiff_t>(deferred.size() - kMaxDeferred);
                std::move(deferred.begin(), excess, std::back_inserter(dropped));
                deferred.erase(deferred.begin(), excess);
            }
            for (auto it = deferred.begin(); it != deferred.end();) {
                if (it->notBefore <= now) {
                    started.push_back(std::move(*it));
                    it = deferred.erase(it);
                } else {
                    nearest = std::min(nearest, it->notBefore);
                    ++it;
                }
            }
        }
        for (const Request& request : dropped) {
            outcome(-1, request.address);
        }
        for (const Request& request : started) {
            if (attempts.size() >= kMaxInFlight) {
                // A full table must not shut out a new sender: the attempt that waited longest goes.
                const auto oldest = std::min_element(
                    attempts.begin(), attempts.end(),
                    [](const Attempt& a, const Attempt& b) { return a.started < b.started; });
                close(oldest->fd);
                outcome(-1, oldest->address);
                attempts.erase(oldest);
            }
            Begin(request, attempts);
        }

        waits.assign(1, pollfd{wakeFd, POLLIN, 0});
        for (const Attempt& attempt : attempts) {
            waits.push_back({attempt.fd, POLLOUT, 0});
            nearest = std::min(nearest, attempt.deadline);
        }
        int timeout = -1; // nothing under way nor due: sleep until asked
        if (nearest != Clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nearest - Clock::now());
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

        const auto now = Clock::now();
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
            } else if (now >= attempt.deadline) {
                close(attempt.fd);
                outcome(-1, attempt.address);
            } else {
                waiting.push_back(std::move(attempt));
            }
        }
        attempts.swap(waiting);
        std::lock_guard guard(lock);
        inFlight = attempts.size();
    }
    // Abandoned: nobody is told, the sockets just go.
    for (const Attempt& attempt : attempts) {
        close(attempt.fd);
    }
}
