#include "print/HiddenProcess.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string_view>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::atomic<pid_t> lastProcessId{0};

bool IsExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

int WaitForChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &actions; }

private:
    posix_spawn_file_actions_t actions;
};

class SpawnAttributes {
public:
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* Get() { return &attributes; }

private:
    posix_spawnattr_t attributes;
};

// Starts the child in a process group of its own; with `output`, its standard output goes to a pipe
// whose reading end is stored there. Returns 0 when it could not be started.
pid_t Start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
            const std::filesystem::path& workingFolder, int* output) {
    std::vector<std::string> argumentTexts;
    argumentTexts.reserve(arguments.size() + 1);
    argumentTexts.push_back(program.string());
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argumentTexts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (output != nullptr && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return 0;
    }
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (output != nullptr) {
        posix_spawn_file_actions_adddup2(actions.Get(), pipeFds[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(actions.Get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (!workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(actions.Get(), workingFolder.c_str());
    }
    SpawnAttributes attributes;
    posix_spawnattr_setflags(attributes.Get(), POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(attributes.Get(), 0);

    pid_t pid = 0;
    const bool started =
        posix_spawn(&pid, program.c_str(), actions.Get(), attributes.Get(), argv.data(), environ) == 0;
    if (pipeFds[1] >= 0) {
        ::close(pipeFds[1]);
    }
    if (!started) {
        if (pipeFds[0] >= 0) {
            ::close(pipeFds[0]);
        }
        return 0;
    }
    if (output != nullptr) {
        *output = pipeFds[0];
    }
    return pid;
}

void Kill(pid_t pid) {
    // The child leads its own group; whatever it started goes with it.
    if (::kill(-pid, SIGKILL) != 0) {
        ::kill(pid, SIGKILL);
    }
}

enum class Ending { Exited, TimedOut, Stopped };

// Reads what is there; false at the end of the output.
bool ReadSome(int fd, std::string& output) {
    char chunk[65536];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        output.append(chunk, static_cast<std::size_t>(count));
        return true;
    }
}

bool ChildHasEnded(pid_t pid) {
    siginfo_t info{};
    // WNOWAIT: the child stays to be reaped for its exit code.
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

// Waits until the child ends, overruns `limit`, is no longer wanted by `keepGoing` or writes more
// than `outputLimit` bytes to `outputFd` (when there is one). A child that is stopped is killed; in
// every case it is still to be reaped.
Ending WaitWatched(pid_t pid, std::chrono::milliseconds limit, const HiddenProcess::KeepGoing& keepGoing,
                   int outputFd, std::string* output, std::size_t outputLimit, const std::stop_token& stop) {
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    // The end of the service stops the helper at once: its end then wakes the wait below. The child
    // is reaped only after this callback is gone, so its id cannot have been given to another.
    const std::stop_callback killOnStop(stop, [pid] { Kill(pid); });
    const bool limited = limit != HiddenProcess::kNoTimeLimit;
    const auto deadline = std::chrono::steady_clock::now() + (limited ? limit : std::chrono::milliseconds(0));
    Ending ending = Ending::Exited;
    for (;;) {
        std::int64_t wait = -1;
        if (limited) {
            wait = std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 deadline - std::chrono::steady_clock::now())
                                                 .count());
        }
        // Without a process handle the end of the child is looked for as often as the checks.
        if (keepGoing || pidFd < 0) {
            wait = wait < 0 ? HiddenProcess::kCheckInterval.count()
                            : std::min<std::int64_t>(wait, HiddenProcess::kCheckInterval.count());
        }
        pollfd watched[2] = {{pidFd, POLLIN, 0}, {outputFd, POLLIN, 0}};
        const int ready = ::poll(watched, 2, static_cast<int>(std::min<std::int64_t>(wait, INT_MAX)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (outputFd >= 0 && (watched[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            if (!ReadSome(outputFd, *output)) {
                outputFd = -1;
            } else if (output->size() > outputLimit) {
                ending = Ending::Stopped;
                break;
            }
        }
        if (pidFd >= 0 ? (watched[0].revents & POLLIN) != 0 : ChildHasEnded(pid)) {
            break;
        }
        if (limited && std::chrono::steady_clock::now() >= deadline) {
            ending = Ending::TimedOut;
            break;
        }
        if (stop.stop_requested()) {
            ending = Ending::Stopped;
            break;
        }
        if (keepGoing && !keepGoing()) {
            ending = Ending::Stopped;
            break;
        }
    }
    if (pidFd >= 0) {
        ::close(pidFd);
    }
    if (ending != Ending::Exited) {
        Kill(pid);
        return ending;
    }
    // What the child wrote just before it ended is still in the pipe.
    while (outputFd >= 0 && output->size() <= outputLimit) {
        pollfd rest{outputFd, POLLIN, 0};
        if (::poll(&rest, 1, 0) <= 0 || !ReadSome(outputFd, *output)) {
            break;
        }
    }
    return output != nullptr && output->size() > outputLimit ? Ending::Stopped : Ending::Exited;
}

int ExitCodeAfter(pid_t pid, Ending ending) {
    const int code = WaitForChild(pid);
    switch (ending) {
    case Ending::TimedOut:
        return HiddenProcess::kTimedOut;
    case Ending::Stopped:
        return HiddenProcess::kStopped;
    case Ending::Exited:
        break;
    }
    return code;
}

} // namespace

bool HiddenProcess::RunHiddenProcess(const std::filesystem::path& program,
                                     const std::vector<std::string>& arguments,
                                     const std::filesystem::path& workingFolder, bool wait, int& exitCode,
                                     std::chrono::milliseconds timeLimit, const KeepGoing& keepGoing,
                                     std::stop_token stop) {
    const pid_t pid = Start(program, arguments, workingFolder, nullptr);
    lastProcessId = pid;
    if (pid == 0) {
        return false;
    }
    if (wait) {
        exitCode = ExitCodeAfter(pid, WaitWatched(pid, timeLimit, keepGoing, -1, nullptr, 0, stop));
    } else {
        // Nobody waits for it, so reap it here rather than leave a zombie behind.
        std::thread([pid] { WaitForChild(pid); }).detach();
    }
    return true;
}

bool HiddenProcess::RunForOutput(const std::filesystem::path& program,
                                 const std::vector<std::string>& arguments,
                                 const std::filesystem::path& workingFolder, int& exitCode,
                                 std::string& output, std::size_t outputLimit,
                                 std::chrono::milliseconds timeLimit, std::stop_token stop) {
    int outputFd = -1;
    const pid_t pid = Start(program, arguments, workingFolder, &outputFd);
    lastProcessId = pid;
    if (pid == 0) {
        return false;
    }
    output.clear();
    const Ending ending = WaitWatched(pid, timeLimit, {}, outputFd, &output, outputLimit, stop);
    ::close(outputFd);
    exitCode = ExitCodeAfter(pid, ending);
    return true;
}

pid_t HiddenProcess::LastProcessId() {
    return lastProcessId;
}

std::filesystem::path HiddenProcess::FindProgram(const std::string& name,
                                                 const std::filesystem::path& besideFolder) {
    if (!besideFolder.empty() && IsExecutableFile(besideFolder / name)) {
        return besideFolder / name;
    }
    const char* searchPath = std::getenv("PATH");
    if (searchPath == nullptr) {
        return {};
    }
    std::string_view rest = searchPath;
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        // An empty entry means the current folder, which a server must not search.
        if (!folder.empty() && IsExecutableFile(std::filesystem::path(folder) / name)) {
            return std::filesystem::path(folder) / name;
        }
    }
    return {};
}

std::filesystem::path HiddenProcess::ScriptTarget(const std::filesystem::path& program) {
    std::ifstream file(program, std::ios::binary);
    char head[2] = {};
    if (!file.read(head, sizeof head) || head[0] != '#' || head[1] != '!') {
        return {};
    }
    // A wrapper of the form "exec /path/to/program "$@"" and nothing else that does work.
    std::string line;
    std::filesystem::path target;
    std::getline(file, line);
    while (std::getline(file, line)) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') {
            continue;
        }
        std::istringstream words(line.substr(start));
        std::string command, path, rest, extra;
        words >> command >> path >> rest;
        if (command != "exec" || rest != "\"$@\"" || (words >> extra) || !target.empty() || path.empty() ||
            path.front() != '/' || !IsExecutableFile(path)) {
            return {};
        }
        target = path;
    }
    return target;
}
