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
// thread and hold nobody up; each attempt gives up after its time limit. An attempt may be asked for
// later (a device heard again too soon). When the table of attempts is full the one that has waited
// longest gives way, so that senders whose connections hang (forged source addresses) never shut out
// a new one. The loop blocks while there is nothing to do.
class DeviceConnector {
public:
    static constexpr std::size_t kMaxInFlight = 256;
    // Attempts to be made later, one per sender at most.
    static constexpr std::size_t kMaxDeferred = 1024;
    static constexpr std::chrono::milliseconds kAttemptTimeLimit{5000};

    using Clock = std::chrono::steady_clock;
    // Called on the loop's thread: with the connected socket (now the callee's), or with -1.
    using Outcome = std::function<void(int fd, const std::string& address)>;

    explicit DeviceConnector(Outcome outcome);
    ~DeviceConnector();
    DeviceConnector(const DeviceConnector&) = delete;
    DeviceConnector& operator=(const DeviceConnector&) = delete;

    // Starts an attempt towards address:port that gives up after `timeLimit`, now or at `notBefore`.
    // False (and no outcome) when it cannot be made at all (stopping, no thread).
    bool Connect(const std::string& address, const std::string& port, std::chrono::milliseconds timeLimit,
                 Clock::time_point notBefore = {});
    // Abandons every attempt (their outcome is not reported) and ends the loop; Connect starts it again.
    void Stop();

    // Attempts under way now (for tests and benchmarks).
    std::size_t InFlight() const;

private:
    struct Request {
        std::string address;
        std::string port;
        std::chrono::milliseconds timeLimit;
        Clock::time_point notBefore;
    };
    struct Attempt {
        int fd;
        std::string address;
        Clock::time_point started;
        Clock::time_point deadline;
    };

    void Loop();
    void Begin(const Request& request, std::vector<Attempt>& attempts);
    void Wake();

    Outcome outcome;
    int wakeFd = -1;
    mutable std::mutex lock;
    std::deque<Request> requests;
    std::vector<Request> deferred;
    std::size_t inFlight = 0; // attempts the loop is watching
    bool quitting = false;
    std::thread loop;
};
