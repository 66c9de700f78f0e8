#pragma once

#include <cstdint>
#include <string>

// The printer status bits that devices are told as the error reason of a print result, built from
// what the spooler says of the printer and of a request's jobs.
class PrinterStatus {
public:
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

    // The error conditions of `status` in words ("paused, out of paper"); empty when there is none.
    static std::string Describe(std::uint32_t status);
};
