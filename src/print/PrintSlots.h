#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>

// Bounds how many print requests stage and submit at once (unpacking, rendering hand-over and talking
// to the spooler take the processor and the disk), admitting waiting requests first come, first
// served. Waiting for a printer's verdict takes no slot: a slow printer holds up nobody.
class PrintSlots {
public:
    static constexpr std::size_t kDefaultCount = 4;

    // A taken slot; given back when released or destroyed.
    class Slot {
    public:
        Slot() = default;
        Slot(Slot&& other) noexcept : owner(other.owner) { other.owner = nullptr; }
        Slot& operator=(Slot&& other) noexcept;
        ~Slot() { Release(); }
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;
        void Release();
        bool Held() const { return owner != nullptr; }

    private:
        friend class PrintSlots;
        explicit Slot(PrintSlots* owner) : owner(owner) {}
        PrintSlots* owner = nullptr;
    };

    explicit PrintSlots(std::size_t count = kDefaultCount) : free(count) {}
    PrintSlots(const PrintSlots&) = delete;
    PrintSlots& operator=(const PrintSlots&) = delete;

    // Waits for a slot in order of arrival; nothing when `stop` is requested first.
    std::optional<Slot> Acquire(std::stop_token stop);
    // Requests waiting for a slot now.
    std::size_t Waiting() const;

private:
    void GiveBack();

    mutable std::mutex lock;
    std::condition_variable_any changed;
    std::size_t free;
    std::uint64_t nextTicket = 0;
    std::deque<std::uint64_t> queue;
};
