#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "print/PrintStop.h"

// A worker that polls the spooler until its poll reports that it is done or it is told to stop: soon
// after the start, when a short job is likely to end, then every kPollInterval. Waiting between polls
// blocks on a condition variable, so a stop is seen at once.
class WatchThread {
public:
    static constexpr std::chrono::milliseconds kPollInterval{150};
    // The first waits between polls; after them every wait is kPollInterval.
    static constexpr std::array<std::chrono::milliseconds, 7> kFirstPollIntervals{
        std::chrono::milliseconds(5),  std::chrono::milliseconds(10), std::chrono::milliseconds(15),
        std::chrono::milliseconds(20), std::chrono::milliseconds(30), std::chrono::milliseconds(40),
        std::chrono::milliseconds(50)};

    // `poll` returns true when the watch has found what it looked for. It must not refer to anything
    // owned by the starter: a watch that does not end within its grace is left to finish on its own.
    explicit WatchThread(std::function<bool()> poll);
    ~WatchThread();
    WatchThread(const WatchThread&) = delete;
    WatchThread& operator=(const WatchThread&) = delete;

    // Waits at most `limit` for the poll to end the watch; true when it did.
    bool WaitFinished(std::chrono::milliseconds limit);
    // Asks the watch to stop and waits at most `grace` for it; true when the thread has ended.
    bool StopAndJoin(std::chrono::milliseconds grace);

private:
    struct State {
        std::mutex lock;
        std::condition_variable changed;
        bool stopRequested = false;
        bool finished = false;
    };

    static void Run(const std::shared_ptr<State>& state, const std::function<bool()>& poll);

    std::shared_ptr<State> state;
    std::unique_ptr<PrintStop::Registration> stopRegistration;
    std::thread thread;
};
