#include "net/TraceLimiter.h"

#include <algorithm>
#include <iterator>

void TraceLimiter::Refill(double& tokens, Clock::time_point& refilled, Rate rate, Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - refilled).count();
    if (seconds > 0) {
        tokens = std::min(rate.burst, tokens + seconds * rate.perSecond);
        refilled = now;
    }
}

void TraceLimiter::Forget(Clock::time_point now) {
    // Devices whose allowance is full again and who owe no summary lose nothing by being forgotten.
    for (auto it = sources.begin(); it != sources.end();) {
        Source& source = it->second;
        Refill(source.tokens, source.refilled, perDevice, now);
        const bool settled = source.tokens >= perDevice.burst && source.dropped == 0 && source.repeats == 0;
        it = settled ? sources.erase(it) : std::next(it);
    }
    while (sources.size() >= kMaxSources) {
        sources.erase(sources.begin());
    }
}

std::vector<std::string> TraceLimiter::Admit(const std::string& sourceName, const std::string& text,
                                             Clock::time_point now) {
    std::lock_guard guard(lock);
    auto found = sources.find(sourceName);
    if (found == sources.end()) {
        if (sources.size() >= kMaxSources) {
            Forget(now);
        }
        found = sources.emplace(sourceName, Source{{}, 0, 0, perDevice.burst, now}).first;
    }
    Source& source = found->second;
    if (!source.lastText.empty() && text == source.lastText) {
        ++source.repeats;
        return {};
    }
    Refill(source.tokens, source.refilled, perDevice, now);
    Refill(allTokens, allRefilled, allDevices, now);
    if (source.tokens < 1 || allTokens < 1) {
        ++source.dropped;
        return {};
    }
    source.tokens -= 1;
    allTokens -= 1;

    std::vector<std::string> lines;
    if (source.repeats > 0) {
        lines.push_back(source.lastText + " (repeated " + std::to_string(source.repeats) + " more times)");
        source.repeats = 0;
    }
    if (source.dropped > 0) {
        lines.push_back(sourceName + ": " + std::to_string(source.dropped) + " trace lines dropped");
        source.dropped = 0;
    }
    source.lastText = text;
    lines.push_back(text);
    return lines;
}
