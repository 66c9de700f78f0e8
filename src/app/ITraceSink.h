#pragma once

#include <string>

// Receives the time-stamped trace lines of the network classes. A null sink means "no trace window".
class ITraceSink {
public:
    virtual ~ITraceSink() = default;
    // Must not block on a thread that may be joining the caller.
    virtual void TraceLine(const std::string& line) = 0;
};
