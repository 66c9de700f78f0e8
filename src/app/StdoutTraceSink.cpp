#include "app/StdoutTraceSink.h"

#include <cstdio>

void StdoutTraceSink::TraceLine(const std::string& line) {
    std::lock_guard guard(lock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    // A service manager or a test reads the lines as they come.
    std::fflush(stdout);
}
