#include "print/PrintStop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

namespace {

struct StopState {
    std::mutex lock;
    std::atomic<bool> requested = false;
    std::map<std::uint64_t, std::function<void()>> wakes;
    std::uint64_t nextId = 1;
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
};

StopState& State() {
    static StopState state;
    return state;
}

} // namespace

PrintStop::Registration::~Registration() {
    std::lock_guard guard(State().lock);
    State().wakes.erase(id);
}

void PrintStop::Request() {
    StopState& state = State();
    std::lock_guard guard(state.lock);
    if (state.requested.exchange(true)) {
        return;
    }
    if (state.fd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(state.fd, &one, sizeof one);
    }
    for (const auto& [id, wake] : state.wakes) {
        wake();
    }
}

void PrintStop::Clear() {
    StopState& state = State();
    std::lock_guard guard(state.lock);
    state.requested = false;
    if (state.fd >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto drained = read(state.fd, &count, sizeof count);
    }
}

bool PrintStop::Requested() {
    return State().requested.load();
}

int PrintStop::WakeFd() {
    return State().fd;
}

std::unique_ptr<PrintStop::Registration> PrintStop::OnRequest(std::function<void()> wake) {
    StopState& state = State();
    std::lock_guard guard(state.lock);
    if (state.requested) {
        wake();
    }
    const std::uint64_t id = state.nextId++;
    state.wakes.emplace(id, std::move(wake));
    return std::unique_ptr<Registration>(new Registration(id));
}
