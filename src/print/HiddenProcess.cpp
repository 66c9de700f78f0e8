#include "print/HiddenProcess.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

// False when `limit` ran out before the child ended; the child is then still to be reaped.
bool ChildEndsWithin(pid_t pid, std::chrono::milliseconds limit) {
    if (limit == HiddenProcess::kNoTimeLimit) {
        return true;
    }
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int ready = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd watched{fd, POLLIN, 0};
        const std::int64_t wait = std::clamp<std::int64_t>(left.count(), 0, INT_MAX);
        ready = ::poll(&watched, 1, static_cast<int>(wait));
        if (ready >= 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    return ready != 0;
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

} // namespace

bool HiddenProcess::RunHiddenProcess(const std::filesystem::path& program,
                                     const std::vector<std::string>& arguments,
                                     const std::filesystem::path& workingFolder, bool wait, int& exitCode,
                                     std::chrono::milliseconds timeLimit) {
    std::vector<std::string> argumentTexts;
    argumentTexts.reserve(arguments.size() + 1);
    argumentTexts.push_back(program.string());
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argumentTexts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(actions.Get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (!workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(actions.Get(), workingFolder.c_str());
    }

    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), actions.Get(), nullptr, argv.data(), environ) != 0) {
        lastProcessId = 0;
        return false;
    }
    lastProcessId = pid;
    if (wait) {
        if (!ChildEndsWithin(pid, timeLimit)) {
            // A helper that hangs or unpacks without end must not hold the caller forever.
            ::kill(pid, SIGKILL);
            WaitForChild(pid);
            exitCode = kTimedOut;
            return true;
        }
        exitCode = WaitForChild(pid);
    } else {
        // Nobody waits for it, so reap it here rather than leave a zombie behind.
        std::thread([pid] { WaitForChild(pid); }).detach();
    }
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
