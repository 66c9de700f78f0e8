#include "print/PrintSlots.h"

#include <algorithm>

PrintSlots::Slot& PrintSlots::Slot::operator=(Slot&& other) noexcept {
    if (this != &other) {
        Release();
        owner = other.owner;
        other.owner = nullptr;
    }
    return *this;
}

void PrintSlots::Slot::Release() {
    if (owner != nullptr) {
        owner->GiveBack();
        owner = nullptr;
    }
}

std::optional<PrintSlots::Slot> PrintSlots::Acquire(std::stop_token stop) {
    std::unique_lock guard(lock);
    const std::uint64_t ticket = nextTicket++;
    queue.push_back(ticket);
    const bool admitted =
        changed.wait(guard, stop, [&] { return free > 0 && !queue.empty() && queue.front() == ticket; });
    if (!admitted) {
        // Those behind it must not wait for a turn that never comes.
        queue.erase(std::find(queue.begin(), queue.end(), ticket));
        changed.notify_all();
        return std::nullopt;
    }
    queue.pop_front();
    --free;
    // The next in line may find a slot free as well.
    changed.notify_all();
    return Slot(this);
}

std::size_t PrintSlots::Waiting() const {
    std::lock_guard guard(lock);
    return queue.size();
}

void PrintSlots::GiveBack() {
    {
        std::lock_guard guard(lock);
        ++free;
    }
    changed.notify_all();
}
