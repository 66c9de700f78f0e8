#pragma once

#include <cstdint>

// Milliseconds of the monotonic clock, wrapping at 2^32 like the tick count devices and logs expect.
std::uint32_t TickCount();
