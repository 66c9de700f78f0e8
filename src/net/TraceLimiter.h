#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// Keeps the trace readable whatever the devices send: a line that repeats the previous line of the
// same device is folded into a count, and each device (and all of them together) may add only a few
// lines a second after a short burst. What was held back is told a moment later ("N trace lines
// dropped"), or with the device's next line that gets through. Lines that record what became of a
// request are never held back: they are the only record of it.
class TraceLimiter {
public:
    using Clock = std::chrono::steady_clock;
    using Sink = std::function<void(const std::string&)>;

    struct Rate {
        double burst;     // lines that may come at once
        double perSecond; // lines a second after that
    };
    static constexpr Rate kPerDevice{32, 5};
    static constexpr Rate kAllDevices{200, 50};
    // Devices remembered; beyond this the quietest are forgotten.
    static constexpr std::size_t kMaxSources = 4096;
    // How long after a device's first held-back line its count is told, if it says nothing else.
    static constexpr std::chrono::milliseconds kSummaryDelay{1000};

    explicit TraceLimiter(Rate perDevice = kPerDevice, Rate allDevices = kAllDevices)
        : perDevice(perDevice), allDevices(allDevices), allTokens(allDevices.burst) {}
    ~TraceLimiter();
    TraceLimiter(const TraceLimiter&) = delete;
    TraceLimiter& operator=(const TraceLimiter&) = delete;

    // The lines to trace for `text`, caused by the device `source`: the summaries that are due and
    // the text itself, or nothing when the text is folded or held back.
    std::vector<std::string> Admit(const std::string& source, const std::string& text,
                                   Clock::time_point now = Clock::now());
    // As Admit, for a line that is never folded or held back.
    std::vector<std::string> AdmitRecord(const std::string& source, const std::string& text,
                                         Clock::time_point now = Clock::now());
    // Summaries due by `now` for devices that have said nothing since their lines were held back.
    std::vector<std::string> DueSummaries(Clock::time_point now = Clock::now());
    // From now on a thread of the limiter's own hands due summaries to `sink` when they are due; it
    // sleeps while none is.
    void TellDueSummaries(Sink sink);

private:
    struct Source {
        std::string lastText;
        std::size_t repeats = 0;
        std::size_t dropped = 0;
        double tokens = 0;
        Clock::time_point refilled;
        std::optional<Clock::time_point> summaryDue;
    };

    static void Refill(double& tokens, Clock::time_point& refilled, Rate rate, Clock::time_point now);
    void Forget(Clock::time_point now);
    Source& SourceLocked(const std::string& name, Clock::time_point now);
    static void TakeSummaries(const std::string& name, Source& source, std::vector<std::string>& lines);
    void ScheduleLocked(Source& source, Clock::time_point now);
    void TellLoop();

    Rate perDevice;
    Rate allDevices;
    std::mutex lock;
    std::unordered_map<std::string, Source> sources;
    double allTokens;
    Clock::time_point allRefilled = Clock::now();

    Sink sink;
    std::condition_variable scheduled;
    bool quitting = false;
    std::thread teller;
};
