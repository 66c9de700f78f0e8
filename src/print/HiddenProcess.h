#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <sys/types.h>
#include <vector>

// Runs a helper program without a terminal: an argument vector (no shell), standard input from
// /dev/null so it can never wait for a person, its output discarded or collected, in a process group
// of its own so that a Ctrl+C meant for the server does not reach it. Every wait for a helper is
// made here.
class HiddenProcess {
public:
    static constexpr std::chrono::milliseconds kNoTimeLimit = std::chrono::milliseconds::max();
    // Exit code of a child that was killed because it overran its time limit.
    static constexpr int kTimedOut = -2;
    // Exit code of a child that was killed because its caller wanted it stopped, or because it wrote
    // more output than the caller takes.
    static constexpr int kStopped = -3;
    // How often `keepGoing` is asked while a child runs.
    static constexpr std::chrono::milliseconds kCheckInterval{20};

    // Says whether a running child may go on; asked every kCheckInterval.
    using KeepGoing = std::function<bool()>;

    // Starts `program` with `arguments` in `workingFolder` (empty: the current folder). When `wait` is
    // set, waits for it to end, at most `timeLimit` and as long as `keepGoing` allows (else it is
    // killed), and stores its exit code (-1 when it was killed by a signal, kTimedOut or kStopped when
    // it was stopped here, by `keepGoing` or by `stop`). Returns whether it could be started.
    static bool RunHiddenProcess(const std::filesystem::path& program,
                                 const std::vector<std::string>& arguments,
                                 const std::filesystem::path& workingFolder, bool wait, int& exitCode,
                                 std::chrono::milliseconds timeLimit = kNoTimeLimit,
                                 const KeepGoing& keepGoing = {}, std::stop_token stop = {});
    // As above, waiting, with the child's standard output collected into `output`; a child that writes
    // more than `outputLimit` bytes is stopped (kStopped).
    static bool RunForOutput(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                             const std::filesystem::path& workingFolder, int& exitCode, std::string& output,
                             std::size_t outputLimit, std::chrono::milliseconds timeLimit = kNoTimeLimit,
                             std::stop_token stop = {});
    // Process id of the last child started, 0 when the last start failed.
    static pid_t LastProcessId();
    // The program a shell-script wrapper of the form `exec /path/program "$@"` starts; empty when
    // `program` is no such wrapper.
    static std::filesystem::path ScriptTarget(const std::filesystem::path& program);
    // `name` in `besideFolder` when it is an executable file there, else the first match on PATH;
    // empty when there is none.
    static std::filesystem::path FindProgram(const std::string& name,
                                             const std::filesystem::path& besideFolder);
};
