#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Waits until `done` holds, looking every few milliseconds; false when `limit` passed first. The limit
// only keeps a broken build from hanging: tests wait for what they check, never for a fixed time.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
