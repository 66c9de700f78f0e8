#include "support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/FileBytes.h"

extern char** environ;

ChildProcess::ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment) {
    char pattern[] = "/tmp/qopra-child-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) {
        throw std::runtime_error("cannot create the output file");
    }
    outputFile = pattern;

    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : environment) {
        merged[name] = value;
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : merged) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& text : envText) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);

    std::vector<std::string> argText{program.string()};
    argText.insert(argText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argText) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fd, 1);
    posix_spawn_file_actions_adddup2(&actions, fd, 2);
    const int result = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fd);
    if (result != 0) {
        pid = -1;
        throw std::runtime_error("cannot start " + program.string());
    }
}

ChildProcess::~ChildProcess() {
    if (Running()) {
        Signal(SIGKILL);
        Wait(std::chrono::seconds(10));
    }
    std::error_code ignored;
    std::filesystem::remove(outputFile, ignored);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!exitCode && pid > 0) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return exitCode;
}

bool ChildProcess::Running() {
    return pid > 0 && !Wait(std::chrono::milliseconds(0));
}

void ChildProcess::Signal(int signalNumber) {
    if (pid > 0 && !exitCode) {
        kill(pid, signalNumber);
    }
}

std::string ChildProcess::Output() const {
    return ReadFileBytes(outputFile);
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Output().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::filesystem::path ChildProcess::Executable(const std::string& name) {
    return std::filesystem::path(QOPRA_BINARY_DIR) / "bin" / name;
}
