#pragma once

#include <algorithm>
#include <cstdint>

// The copies any road prints of one document: at least one (a device that sends no usable count
// gets one), at most 999, as the print dialogs allow; the spooler makes them from one job.
struct Copies {
    static constexpr std::int32_t kMinimum = 1;
    static constexpr std::int32_t kMaximum = 999;

    static constexpr std::int32_t Bound(std::int32_t asked) { return std::clamp(asked, kMinimum, kMaximum); }
};
