#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// Runs a helper program without a terminal: an argument vector (no shell), standard input from
// /dev/null so it can never wait for a person, its output discarded.
class HiddenProcess {
public:
    static constexpr std::chrono::milliseconds kNoTimeLimit = std::chrono::milliseconds::max();
    // Exit code of a child that was killed because it overran its time limit.
    static constexpr int kTimedOut = -2;

    // Starts `program` with `arguments` in `workingFolder` (empty: the current folder). When `wait` is
    // set, waits for it to end, at most `timeLimit` (then it is killed), and stores its exit code (-1
    // when it was killed by a signal, kTimedOut when it overran). Returns whether it could be started.
    static bool RunHiddenProcess(const std::filesystem::path& program,
                                 const std::vector<std::string>& arguments,
                                 const std::filesystem::path& workingFolder, bool wait, int& exitCode,
                                 std::chrono::milliseconds timeLimit = kNoTimeLimit);
    // Process id of the last child started, 0 when the last start failed.
    static pid_t LastProcessId();
    // `name` in `besideFolder` when it is an executable file there, else the first match on PATH;
    // empty when there is none.
    static std::filesystem::path FindProgram(const std::string& name,
                                             const std::filesystem::path& besideFolder);
};
