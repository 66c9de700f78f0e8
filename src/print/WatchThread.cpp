#include "print/WatchThread.h"

namespace {

// Bounds the last wait for a watch whose owner goes away without stopping it first.
constexpr std::chrono::milliseconds kDestructorGrace{10000};

} // namespace

WatchThread::WatchThread(std::function<Poll()> poll, std::stop_token stop)
    : state(std::make_shared<State>()) {
    // The end of the server ends every watch at once; the request then answers that it failed.
    stopCallback.emplace(std::move(stop), std::function<void()>([state = state] { RequestStop(*state); }));
    thread = std::thread([state = state, poll = std::move(poll)] { Run(state, poll); });
}

WatchThread::~WatchThread() {
    StopAndJoin(kDestructorGrace);
}

void WatchThread::RequestStop(State& state) {
    std::lock_guard guard(state.lock);
    state.stopRequested = true;
    state.changed.notify_all();
}

std::function<void()> WatchThread::Nudger() const {
    return [state = state] {
        std::lock_guard guard(state->lock);
        state->nudged = true;
        state->changed.notify_all();
    };
}

void WatchThread::Run(const std::shared_ptr<State>& state, const std::function<Poll()>& poll) {
    std::size_t round = 0;
    for (;;) {
        {
            std::lock_guard guard(state->lock);
            if (state->stopRequested) {
                break;
            }
            state->nudged = false;
        }
        const Poll found = poll();
        std::unique_lock guard(state->lock);
        if (found == Poll::Done) {
            state->stopRequested = true;
            break;
        }
        round = found == Poll::Moving ? 0 : round + 1;
        const std::chrono::milliseconds pause =
            round < kFirstPollIntervals.size() ? kFirstPollIntervals[round] : kPollInterval;
        state->changed.wait_for(guard, pause, [&] { return state->stopRequested || state->nudged; });
        if (state->nudged) {
            round = 0;
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
            stopCallback.reset();
            return false;
        }
    }
    thread.join();
    stopCallback.reset();
    return true;
}
