#pragma once

#include <string>
#include <vector>

// Start-up flags, written while the command line is parsed and only read afterwards.
struct StartupFlags {
    bool forceAdmin = false;
    bool autostartCheck = false;
    int checkState = 0;
    bool headless = false;
};

// Parses "-forceAdmin", "-autostartcheck", "-checkstate=N" and "-headless" ("/" also starts an
// option). Anything else is ignored.
class CCommandLine {
public:
    static StartupFlags& Flags();

    // Fills `flags`, writing the option log lines.
    static void Parse(const std::vector<std::string>& arguments, StartupFlags& flags);
    static void ParseParam(const std::string& parameter, StartupFlags& flags);
};
