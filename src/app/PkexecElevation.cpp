#include "app/PkexecElevation.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

PkexecElevation::PkexecElevation(std::filesystem::path elevator) : elevator(std::move(elevator)) {}

unsigned PkexecElevation::EffectiveUserId() const {
    return ::geteuid();
}

std::vector<std::string> PkexecElevation::CommandLine(const std::filesystem::path& program,
                                                      const std::vector<std::string>& arguments) const {
    std::vector<std::string> command{elevator.string(), kEnvProgram};
    for (const char* name : kKeptVariables) {
        if (const char* value = std::getenv(name)) {
            command.push_back(std::string(name) + "=" + value);
        }
    }
    command.push_back(program.string());
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

std::optional<int> PkexecElevation::RunElevated(const std::filesystem::path& program,
                                                const std::vector<std::string>& arguments) {
    std::vector<std::string> command = CommandLine(program, arguments);
    std::vector<char*> argv;
    for (std::string& text : command) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, elevator.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return std::nullopt;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
    if (!WIFEXITED(status)) {
        return std::nullopt;
    }
    const int code = WEXITSTATUS(status);
    if (code == kDismissed || code == kNotAuthorised) {
        return std::nullopt;
    }
    return code;
}
