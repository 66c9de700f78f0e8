#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Start-up flags, written while the command line is parsed and only read afterwards.
struct StartupFlags {
    bool forceAdmin = false;
    bool autostartCheck = false;
    int checkState = 0;
    bool headless = false;
    // Only retire the old installation, as administrator, and end (the elevated step of a standard user).
    bool retire = false;
    bool help = false;
    bool version = false;
    // Options that are none of the above, in the order given.
    std::vector<std::string> unknownOptions;
};

// Parses "-forceAdmin", "-autostartcheck", "-checkstate=N" and "-headless" ("/" also starts an
// option), and "-h", "--help" and "--version". Other options are collected so that the caller can
// report them; plain parameters are ignored.
class CCommandLine {
public:
    static StartupFlags& Flags();

    // Fills `flags`, writing the option log lines.
    static void Parse(const std::vector<std::string>& arguments, StartupFlags& flags);
    static void ParseParam(const std::string& parameter, StartupFlags& flags);

    // The text of "--help": the options and where the program keeps its files.
    static std::string Usage(const std::filesystem::path& dataFolder, const std::filesystem::path& defaults);
};
