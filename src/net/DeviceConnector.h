#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Opens the connections towards devices that were heard on the discovery port. Every attempt is a
// non-blocking connect watched by one poll loop, so hundreds of devices that never answer cost one
// thread and hold nobody up; each attempt gives up after its time limit. The loop blocks while there
// is nothing to do.
class DeviceConnector {
public:
    static constexpr std::size_t kMaxInFlight = 256;
    static constexpr std::chrono::milliseconds kAttemptTimeLimit{5000};

    // Called on the loop's thread: with the connected socket (now the callee's), or with -1.
    using Outcome = std::function<void(int fd, const std::string& address)>;

    explicit DeviceConnector(Outcome outcome);
    ~DeviceConnector();
    DeviceConnector(const DeviceConnector&) = delete;
    DeviceConnector& operator=(const DeviceConnector&) = delete;

    // Starts an attempt towards address:port; false (and no outcome) when kMaxInFlight are under way.
    bool Connect(const std::string& address, const std::string& port);
    // Abandons every attempt (their outcome is not reported) and ends the loop; Connect starts it again.
    void Stop();

    void SetTimeLimit(std::chrono::milliseconds limit) { timeLimit = limit; }

private:
    struct Request {
        std::string address;
        std::string port;
    };
    struct Attempt {
        int fd;
        std::string address;
        std::chrono::steady_clock::time_point deadline;
    };

    void Loop();
    void Begin(const Request& request, std::vector<Attempt>& attempts);
    void Wake();

    Outcome outcome;
    std::chrono::milliseconds timeLimit = kAttemptTimeLimit;
    int wakeFd = -1;
    std::mutex lock;
    std::deque<Request> requests;
    std::size_t inFlight = 0; // requested and not yet ended
    bool quitting = false;
    std::thread loop;
};
