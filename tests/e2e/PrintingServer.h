#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/Ports.h"
#include "support/TempDir.h"

// The real qopra2 -headless with its own data folder, ports and spooler settings, and the real
// qopra-pad sending it documents, for the printing tests.
namespace e2eprint {

inline constexpr std::chrono::seconds kGuard{90};

struct PadRun {
    int exitCode = -1;
    std::string output;
};

class PrintingServer {
public:
    // `settings` is what the settings element holds besides the two ports.
    // `beforeStart` may change the data folder once the settings are in it.
    explicit PrintingServer(const std::string& settings,
                            std::map<std::string, std::string> extraEnvironment = {},
                            const std::function<void(const std::filesystem::path&)>& beforeStart = {})
        : padPort(reservedPadPort.Text()) {
        std::filesystem::create_directories(Data());
        WriteFileBytes(Data() / "qopra.xml",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<settings><local_port>" + udpPort +
                           "</local_port><pad_port>" + padPort + "</pad_port>" + settings + "</settings>\n");
        if (beforeStart) {
            beforeStart(Data());
        }
        std::map<std::string, std::string> environment{{"XDG_DATA_HOME", home.Path().string()},
                                                       {"XDG_RUNTIME_DIR", home.Path().string()},
                                                       {"HOME", home.Path().string()}};
        environment.merge(extraEnvironment);
        process.emplace(ChildProcess::Executable("qopra2"), std::vector<std::string>{"-headless"},
                        environment);
        // The kernel chose the discovery port.
        udpPort = std::to_string(BoundUdpPort(process->Pid()).value_or(0));
        running = process->WaitForOutput(" is running on port " + udpPort, kGuard);
    }
    ~PrintingServer() {
        process->Signal(SIGTERM);
        process->Wait(kGuard);
    }
    PrintingServer(const PrintingServer&) = delete;
    PrintingServer& operator=(const PrintingServer&) = delete;

    // Each run plays a device of its own loopback address: the server allows one connection attempt
    // per address and second.
    PadRun Pad(const std::vector<std::string>& arguments) {
        const std::string device = "127.0.0." + std::to_string(++devices + 1);
        std::vector<std::string> all = {"--server", "127.0.0.1", "--udp-port", udpPort,     "--pad-port",
                                        padPort,    "--bind",    device,       "--timeout", "90"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        ChildProcess pad(ChildProcess::Executable("qopra-pad"), all);
        PadRun run;
        run.exitCode = pad.Wait(kGuard).value_or(-1);
        run.output = pad.Output();
        return run;
    }

    std::filesystem::path Data() const { return home / "Qopra"; }
    std::string Log() const { return ReadFileBytes(Data() / "qopra.log"); }

    TempDir home;
    ReservedTcpPort reservedPadPort;
    std::string udpPort = "0";
    std::string padPort;
    std::optional<ChildProcess> process;
    bool running = false;
    int devices = 0;
};

} // namespace e2eprint
