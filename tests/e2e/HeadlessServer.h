#pragma once

#include "support/Ports.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

// Runs the real qopra2 in headless mode with a private data folder and settings, and collects the
// trace lines it writes to standard output. Also runs qopra-pad. Waits are bounded only so that a
// broken build fails instead of hanging.
namespace e2e {

inline constexpr std::chrono::seconds kGuard{30};

inline std::string BinaryPath(const std::string& name) {
    return std::string(QOPRA_BINARY_DIR) + "/bin/" + name;
}

// The server's settings. The discovery port 0 lets the kernel choose; the server fills in the port it
// got. The device port is one the kernel chose and keeps for the test while the settings live.
struct Settings {
    std::uint16_t localPort = 0;
    std::shared_ptr<ReservedTcpPort> reservedPadPort = std::make_shared<ReservedTcpPort>();
    std::uint16_t padPort = reservedPadPort->Port();
    std::string localAddress;
    std::string mac;
    std::vector<std::string> printers;
    std::vector<std::pair<std::string, std::string>> aliases; // printer, alias
    int codepage = 0;                                         // 0: the file has no codepage element
};

struct ProcessResult {
    int exitCode = -1;
    std::string output;
};

// Starts `command` (found on PATH) with extra environment entries; its standard output goes to `out`.
inline pid_t Spawn(const std::vector<std::string>& command, const std::vector<std::string>& environment,
                   int& out) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> env = environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        env.emplace_back(*entry);
    }
    std::vector<char*> envp;
    for (auto& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    pid_t child = -1;
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        child = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out = pipeFds[0];
    return child;
}

inline ProcessResult RunProgram(const std::vector<std::string>& command) {
    ProcessResult result;
    int out = -1;
    const pid_t child = Spawn(command, {}, out);
    if (child < 0) {
        return result;
    }
    char chunk[4096];
    ssize_t count = 0;
    while ((count = read(out, chunk, sizeof chunk)) > 0) {
        result.output.append(chunk, static_cast<std::size_t>(count));
    }
    close(out);
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// How the test reads the server's trace on its standard output.
enum class TraceReader {
    Reading,       // every line, for the life of the server
    FirstLineGone, // the first line, then the pipe is closed (as `| head -n 1` does)
    Stuck,         // never read, the pipe kept open
};

class HeadlessServer {
public:
    explicit HeadlessServer(Settings& settings, std::vector<std::string> prefix = {},
                            TraceReader traceReader = TraceReader::Reading)
        : traceReader(traceReader) {
        std::filesystem::create_directories(folder.Path() / "Qopra");
        std::ofstream file(folder.Path() / "Qopra" / "qopra.xml");
        file << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<settings>\n"
             << "<local_port>" << settings.localPort << "</local_port>\n"
             << "<pad_port>" << settings.padPort << "</pad_port>\n"
             << "<local_address>" << settings.localAddress << "</local_address>\n<mac>" << settings.mac
             << "</mac>\n<backup>0</backup>\n"
             << "<printers>";
        for (const auto& printer : settings.printers) {
            file << "<printer>" << Escape(printer) << "</printer>";
        }
        file << "</printers>\n<aliases>";
        for (const auto& [printer, alias] : settings.aliases) {
            file << "<alias>" << Escape(printer + "|" + alias) << "</alias>";
        }
        file << "</aliases>\n<lang>en-GB</lang>\n<delay>30000</delay>\n";
        if (settings.codepage != 0) {
            file << "<codepage>" << settings.codepage << "</codepage>\n";
        }
        file << "</settings>\n";
        file.close();

        std::vector<std::string> command = std::move(prefix);
        command.push_back(BinaryPath("qopra2"));
        command.push_back("-headless");
        const std::string data = folder.Path().string();
        pid = Spawn(command, {"XDG_DATA_HOME=" + data, "XDG_RUNTIME_DIR=" + data}, out);
        if (pid > 0 && traceReader != TraceReader::Stuck) {
            reader = std::thread([this] { ReadLines(); });
        }
        if (pid > 0 && settings.localPort == 0) {
            settings.localPort = BoundUdpPort(pid).value_or(0);
        }
    }

    ~HeadlessServer() { Stop(); }

    bool Running() const { return pid > 0; }
    // The server's data folder.
    std::filesystem::path Data() const { return folder.Path() / "Qopra"; }
    pid_t Pid() const { return pid; }

    // Ends the server as a service manager would; true when it ended by itself.
    bool Stop() {
        if (pid <= 0) {
            return stoppedCleanly;
        }
        kill(pid, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        stoppedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        pid = -1;
        if (reader.joinable()) {
            reader.join();
        }
        if (out >= 0) {
            close(out);
        }
        return stoppedCleanly;
    }

    // Whether the process is still alive (it has not crashed).
    bool Alive() const { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

    std::vector<std::string> Lines() const {
        std::lock_guard guard(lock);
        return lines;
    }

    bool WaitFor(const std::string& part, std::size_t times = 1) const {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, kGuard, [&] { return CountLocked(part) >= times; });
    }

    std::size_t Count(const std::string& part) const {
        std::lock_guard guard(lock);
        return CountLocked(part);
    }

private:
    static std::string Escape(const std::string& text) {
        std::string escaped;
        for (const char c : text) {
            escaped += c == '&' ? std::string("&amp;") : c == '<' ? std::string("&lt;") : std::string(1, c);
        }
        return escaped;
    }

    std::size_t CountLocked(const std::string& part) const {
        std::size_t count = 0;
        for (const auto& line : lines) {
            count += line.find(part) != std::string::npos ? 1 : 0;
        }
        return count;
    }

    void ReadLines() {
        std::string pending;
        char chunk[65536];
        ssize_t count = 0;
        while ((count = read(out, chunk, sizeof chunk)) > 0) {
            pending.append(chunk, static_cast<std::size_t>(count));
            std::size_t end = 0;
            std::lock_guard guard(lock);
            while ((end = pending.find('\n')) != std::string::npos) {
                lines.push_back(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
            changed.notify_all();
            if (traceReader == TraceReader::FirstLineGone && !lines.empty()) {
                close(out);
                out = -1;
                return;
            }
        }
    }

    TempDir folder;
    TraceReader traceReader;
    pid_t pid = -1;
    int out = -1;
    bool stoppedCleanly = false;
    std::thread reader;
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::vector<std::string> lines;
};

inline std::vector<std::string> PadCommand(const Settings& settings, std::vector<std::string> arguments) {
    std::vector<std::string> command = {BinaryPath("qopra-pad"),
                                        "--udp-port",
                                        std::to_string(settings.localPort),
                                        "--pad-port",
                                        std::to_string(settings.padPort),
                                        "--timeout",
                                        "20"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

} // namespace e2e
