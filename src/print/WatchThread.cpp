#include "print/WatchThread.h"

#include "print/PrintStop.h"

namespace {

// Bounds the last wait for a watch whose owner goes away without stopping it first.
constexpr std::chrono::milliseconds kDestructorGrace{10000};

} // namespace

WatchThread::WatchThread(std::function<bool()> poll) : state(std::make_shared<State>()) {
    // The end of the server ends every watch at once; the request then answers that it failed.
    stopRegistration = PrintStop::OnRequest([state = state] {
        std::lock_guard guard(state->lock);
        state->stopRequested = true;
        state->changed.notify_all();
    });
    thread = std::thread([state = state, poll = std::move(poll)] { Run(state, poll); });
}

WatchThread::~WatchThread() {
    StopAndJoin(kDestructorGrace);
}

void WatchThread::Run(const std::shared_ptr<State>& state, const std::function<bool()>& poll) {
    for (std::size_t round = 0;; ++round) {
        {
            std::lock_guard guard(state->lock);
            if (state->stopRequested) {
                break;
            }
        }
        const bool done = poll();
        std::unique_lock guard(state->lock);
        if (done) {
            state->stopRequested = true;
        }
        const std::chrono::milliseconds pause =
            round < kFirstPollIntervals.size() ? kFirstPollIntervals[round] : kPollInterval;
        if (state->changed.wait_for(guard, pause, [&] { return state->stopRequested; })) {
            break;
        }
    }
    std::lock_guard guard(state->lock);
    state->finished = true;
    state->changed.notify_all();
}

bool WatchThread::WaitFinished(std::chrono::milliseconds limit) {
    std::unique_lock guard(state->lock);
    return state->changed.wait_for(guard, limit, [&] { return state->finished; });
}

bool WatchThread::StopAndJoin(std::chrono::milliseconds grace) {
    if (!thread.joinable()) {
        return true;
    }
    {
        std::unique_lock guard(state->lock);
        state->stopRequested = true;
        state->changed.notify_all();
        if (!state->changed.wait_for(guard, grace, [&] { return state->finished; })) {
            // A spooler call that hangs must not hold the request forever; the thread owns its state.
            guard.unlock();
            thread.detach();
            return false;
        }
    }
    thread.join();
    return true;
}
