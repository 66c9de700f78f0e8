#include "app/PkexecElevation.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/ProcessList.h"

extern char** environ;

namespace {

constexpr std::chrono::milliseconds kPollInterval{20};
// The kernel keeps the first 15 bytes of a program's name.
constexpr std::size_t kProcessNameLength = 15;

} // namespace

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

bool PkexecElevation::StartElevated(const std::filesystem::path& program,
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
        return false;
    }

    // While the prompt is open the child keeps the elevator's name; once it has become another
    // program the elevated start has happened. An elevator that ends first was refused or failed,
    // unless the program already ran to a clean end.
    const std::string waitingName = elevator.filename().string().substr(0, kProcessNameLength);
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (ended < 0 && errno != EINTR) {
            return false;
        }
        const std::string name = ProcessName(pid);
        if (!name.empty() && name != waitingName) {
            // Nobody waits for the elevated program here; reap it should this process outlive it.
            std::thread([pid] {
                int ignored = 0;
                while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
                }
            }).detach();
            return true;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}
