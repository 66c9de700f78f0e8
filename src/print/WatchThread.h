#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

// A worker that polls the spooler until its poll reports that it is done, it is told to stop, or its
// stop token is. Polls come soon after the start and after anything moved (a job changed state, or
// Nudge told of news), when an end is likely, and every kPollInterval while nothing happens. Waiting
// between polls blocks on a condition variable, so a stop is seen at once.
class WatchThread {
public:
    // What one poll found.
    enum class Poll {
        // Nothing changed since the last poll.
        Waiting,
        // Something changed: look again soon.
        Moving,
        // The watch has found what it looked for.
        Done,
    };

    static constexpr std::chrono::milliseconds kPollInterval{150};
    // The waits between polls after the start and after a change; after them every wait is
    // kPollInterval. A local job usually ends within the first of them.
    static constexpr std::array<std::chrono::milliseconds, 10> kFirstPollIntervals{
        std::chrono::milliseconds(2),  std::chrono::milliseconds(3),  std::chrono::milliseconds(5),
        std::chrono::milliseconds(5),  std::chrono::milliseconds(10), std::chrono::milliseconds(10),
        std::chrono::milliseconds(20), std::chrono::milliseconds(30), std::chrono::milliseconds(50),
        std::chrono::milliseconds(100)};

    // `poll` must not refer to anything owned by the starter: a watch that does not end within its
    // grace is left to finish on its own.
    WatchThread(std::function<Poll()> poll, std::stop_token stop);
    ~WatchThread();
    WatchThread(const WatchThread&) = delete;
    WatchThread& operator=(const WatchThread&) = delete;

    // Waits at most `limit` for the poll to end the watch; true when it did.
    bool WaitFinished(std::chrono::milliseconds limit);
    // Asks the watch to stop and waits at most `grace` for it; true when the thread has ended.
    bool StopAndJoin(std::chrono::milliseconds grace);
    // Something the poll looks at has news: poll now, then soon again. Safe from any thread, and
    // also after the watch has ended.
    std::function<void()> Nudger() const;

private:
    struct State {
        std::mutex lock;
        std::condition_variable changed;
        bool stopRequested = false;
        bool nudged = false;
        bool finished = false;
    };

    static void Run(const std::shared_ptr<State>& state, const std::function<Poll()>& poll);
    static void RequestStop(State& state);

    std::shared_ptr<State> state;
    std::optional<std::stop_callback<std::function<void()>>> stopCallback;
    std::thread thread;
};
