#include "net/TraceLimiter.h"

#include <algorithm>
#include <iterator>

TraceLimiter::~TraceLimiter() {
    {
        std::lock_guard guard(lock);
        quitting = true;
    }
    scheduled.notify_all();
    if (teller.joinable()) {
        teller.join();
    }
}

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

TraceLimiter::Source& TraceLimiter::SourceLocked(const std::string& name, Clock::time_point now) {
    auto found = sources.find(name);
    if (found == sources.end()) {
        if (sources.size() >= kMaxSources) {
            Forget(now);
        }
        found = sources.emplace(name, Source{{}, 0, 0, perDevice.burst, now, std::nullopt}).first;
    }
    return found->second;
}

void TraceLimiter::TakeSummaries(const std::string& name, Source& source, std::vector<std::string>& lines) {
    if (source.repeats > 0) {
        lines.push_back(source.lastText + " (repeated " + std::to_string(source.repeats) + " more times)");
        source.repeats = 0;
    }
    if (source.dropped > 0) {
        lines.push_back(name + ": " + std::to_string(source.dropped) + " trace lines dropped");
        source.dropped = 0;
    }
    source.summaryDue.reset();
}

void TraceLimiter::ScheduleLocked(Source& source, Clock::time_point now) {
    if (!source.summaryDue) {
        source.summaryDue = now + kSummaryDelay;
        scheduled.notify_all();
    }
}

std::vector<std::string> TraceLimiter::Admit(const std::string& sourceName, const std::string& text,
                                             Clock::time_point now) {
    std::lock_guard guard(lock);
    Source& source = SourceLocked(sourceName, now);
    if (!source.lastText.empty() && text == source.lastText) {
        ++source.repeats;
        ScheduleLocked(source, now);
        return {};
    }
    Refill(source.tokens, source.refilled, perDevice, now);
    Refill(allTokens, allRefilled, allDevices, now);
    if (source.tokens < 1 || allTokens < 1) {
        ++source.dropped;
        ScheduleLocked(source, now);
        return {};
    }
    source.tokens -= 1;
    allTokens -= 1;

    std::vector<std::string> lines;
    TakeSummaries(sourceName, source, lines);
    source.lastText = text;
    lines.push_back(text);
    return lines;
}

std::vector<std::string> TraceLimiter::AdmitRecord(const std::string& sourceName, const std::string& text,
                                                   Clock::time_point now) {
    std::lock_guard guard(lock);
    Source& source = SourceLocked(sourceName, now);
    std::vector<std::string> lines;
    TakeSummaries(sourceName, source, lines);
    // A record is no repeat of anything: the next line, even the same, is shown.
    source.lastText.clear();
    lines.push_back(text);
    return lines;
}

std::vector<std::string> TraceLimiter::DueSummaries(Clock::time_point now) {
    std::lock_guard guard(lock);
    std::vector<std::string> lines;
    for (auto& [name, source] : sources) {
        if (source.summaryDue && *source.summaryDue <= now) {
            TakeSummaries(name, source, lines);
        }
    }
    return lines;
}

void TraceLimiter::TellDueSummaries(Sink newSink) {
    std::lock_guard guard(lock);
    if (teller.joinable()) {
        return;
    }
    sink = std::move(newSink);
    teller = std::thread(&TraceLimiter::TellLoop, this);
}

void TraceLimiter::TellLoop() {
    std::unique_lock guard(lock);
    while (!quitting) {
        std::optional<Clock::time_point> next;
        for (const auto& [name, source] : sources) {
            if (source.summaryDue && (!next || *source.summaryDue < *next)) {
                next = source.summaryDue;
            }
        }
        // Nothing owed: sleep until something is held back.
        if (!next) {
            scheduled.wait(guard);
            continue;
        }
        if (scheduled.wait_until(guard, *next, [this] { return quitting; })) {
            break;
        }
        guard.unlock();
        for (const std::string& line : DueSummaries()) {
            sink(line);
        }
        guard.lock();
    }
}
