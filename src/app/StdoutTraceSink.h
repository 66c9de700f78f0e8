#pragma once

#include <mutex>

#include "app/ITraceSink.h"

// The trace of the headless service: one line per trace line on standard output.
class StdoutTraceSink : public ITraceSink {
public:
    void TraceLine(const std::string& line) override;

private:
    std::mutex lock;
};
