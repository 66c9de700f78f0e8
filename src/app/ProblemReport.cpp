#include "app/ProblemReport.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "app/EventLog.h"

void ProblemReport::Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = EventLog::Format(format, args);
    va_end(args);
    std::fprintf(stderr, "qopra2: %s\n", message.c_str());
    std::fflush(stderr);
    EventLog::Write("[ERROR] %s", message.c_str());
}
