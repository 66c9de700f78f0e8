#pragma once

#include <cstdint>
#include <mutex>

// The printer status of the request being printed, shared by the printing road, its queue watch and
// the staging driver that turns it into the request's result. One value for the whole process.
class PrinterStatus {
public:
    // Printer status bits reported to devices as the error reason.
    static constexpr std::uint32_t kPaused = 0x1;
    static constexpr std::uint32_t kError = 0x2;
    static constexpr std::uint32_t kPendingDeletion = 0x4;
    static constexpr std::uint32_t kPaperJam = 0x8;
    static constexpr std::uint32_t kPaperOut = 0x10;
    static constexpr std::uint32_t kManualFeed = 0x20;
    static constexpr std::uint32_t kOffline = 0x80;
    static constexpr std::uint32_t kPrinting = 0x400;
    static constexpr std::uint32_t kOutputBinFull = 0x800;
    static constexpr std::uint32_t kNotAvailable = 0x1000;
    static constexpr std::uint32_t kTonerLow = 0x20000;
    static constexpr std::uint32_t kNoToner = 0x40000;
    static constexpr std::uint32_t kDoorOpen = 0x400000;
    static constexpr std::uint32_t kServerUnknown = 0x800000;

    // A status is an error when it has a bit of either mask.
    static constexpr std::uint32_t kErrorStatusMask = 0x00FC1800;
    static constexpr std::uint32_t kErrorStatusMaskLow = 0xDF;

    static constexpr bool IsError(std::uint32_t status) {
        return (status & kErrorStatusMask) != 0 || (status & kErrorStatusMaskLow) != 0;
    }

    static PrinterStatus& Shared();

    // Held by whoever reads or writes the value; watches hold it across a whole job search.
    std::mutex& Lock() { return lock; }
    // Callers hold Lock().
    std::uint32_t ValueLocked() const { return value; }
    void SetLocked(std::uint32_t status) { value = status; }

    std::uint32_t Get() {
        std::lock_guard guard(lock);
        return value;
    }
    void Set(std::uint32_t status) {
        std::lock_guard guard(lock);
        value = status;
    }

private:
    std::mutex lock;
    std::uint32_t value = 0;
};
