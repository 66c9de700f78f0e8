#pragma once

// Problems the person running the server must hear of even when the log cannot be written (a data
// folder that is read-only, a spooler that is down): said on standard error and written to the log
// as an "[ERROR] " line.
class ProblemReport {
public:
    static void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
};
