#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// Keeps the trace readable whatever the devices send: a line that repeats the previous line of the
// same device is folded into a count, and each device (and all of them together) may add only a few
// lines a second after a short burst. Lines held back are counted and the count is traced with the
// device's next line that gets through.
class TraceLimiter {
public:
    using Clock = std::chrono::steady_clock;

    struct Rate {
        double burst;     // lines that may come at once
        double perSecond; // lines a second after that
    };
    static constexpr Rate kPerDevice{32, 5};
    static constexpr Rate kAllDevices{200, 50};
    // Devices remembered; beyond this the quietest are forgotten.
    static constexpr std::size_t kMaxSources = 4096;

    explicit TraceLimiter(Rate perDevice = kPerDevice, Rate allDevices = kAllDevices)
        : perDevice(perDevice), allDevices(allDevices), allTokens(allDevices.burst) {}

    // The lines to trace for `text`, caused by the device `source`: the summaries that are due and
    // the text itself, or nothing when the text is folded or held back.
    std::vector<std::string> Admit(const std::string& source, const std::string& text,
                                   Clock::time_point now = Clock::now());

private:
    struct Source {
        std::string lastText;
        std::size_t repeats = 0;
        std::size_t dropped = 0;
        double tokens = 0;
        Clock::time_point refilled;
    };

    static void Refill(double& tokens, Clock::time_point& refilled, Rate rate, Clock::time_point now);
    void Forget(Clock::time_point now);

    Rate perDevice;
    Rate allDevices;
    std::mutex lock;
    std::unordered_map<std::string, Source> sources;
    double allTokens;
    Clock::time_point allRefilled = Clock::now();
};
