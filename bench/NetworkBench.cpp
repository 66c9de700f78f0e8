// Figures of the network service: discovery latency (datagram to printer list), idle CPU with silent
// devices connected, and resident memory per idle connection. Prints figures; asserts nothing.
#include "config/AppSettings.h"
#include "net/TCPXmlManager.h"
#include "net/UDPServer.h"
#include "net/UDPXmlManager.h"
#include "protocol/PrintCommand.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLatencySamples = 400;
constexpr int kIdleDevices = 50;
constexpr std::chrono::seconds kIdleWindow{10};
constexpr int kWaitMs = 10000;

class Socket {
public:
    explicit Socket(int fd = -1) : fd(fd) {}
    ~Socket() {
        if (fd >= 0) {
            close(fd);
        }
    }
    Socket(Socket&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Socket& operator=(Socket&& other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    int Get() const { return fd; }

private:
    int fd;
};

sockaddr_in Address(const std::string& host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    return address;
}

Socket Listen(std::uint16_t& port) {
    Socket listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = Address("0.0.0.0", port);
    bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener.Get(), 256);
    socklen_t size = sizeof address;
    getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return listener;
}

// Sends one discovery datagram from `from`, accepts the server's connection and reads the printer list.
Socket Discover(int listener, const std::string& from, std::uint16_t serverPort, bool& gotList) {
    Socket pad(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in source = Address(from, 0);
    sockaddr_in target = Address("127.0.0.1", serverPort);
    bind(pad.Get(), reinterpret_cast<sockaddr*>(&source), sizeof source);
    sendto(pad.Get(), "pad", 3, 0, reinterpret_cast<sockaddr*>(&target), sizeof target);
    gotList = false;
    pollfd wait{listener, POLLIN, 0};
    if (poll(&wait, 1, kWaitMs) <= 0) {
        return Socket();
    }
    Socket connection(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    char chunk[4096];
    for (;;) {
        pollfd readable{connection.Get(), POLLIN, 0};
        if (poll(&readable, 1, kWaitMs) <= 0) {
            break;
        }
        const ssize_t count = recv(connection.Get(), chunk, sizeof chunk, 0);
        if (count <= 0) {
            break;
        }
        if (chunk[count - 1] == '\0') {
            gotList = true;
            break;
        }
    }
    return connection;
}

std::string Sender(int index) {
    return "127.1." + std::to_string(index / 250) + "." + std::to_string(index % 250 + 1);
}

double CpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// CPU seconds (user + system) the process has used so far.
double ProcessCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void LatencyInProcess() {
    PrintCommand command;
    TCPXmlManager tcpManager(command);
    UDPXmlManager udpManager;
    UDPServer server;
    std::uint16_t padPort = 0;
    Socket listener = Listen(padPort);
    tcpManager.SetDevicePort(std::to_string(padPort));
    udpManager.SetTCPManager(&tcpManager);
    server.SetManager(&udpManager);
    if (!server.Start("", "0")) {
        std::printf("discovery latency: cannot start the server\n");
        return;
    }
    std::vector<double> samples;
    for (int i = 0; i < kLatencySamples; ++i) {
        bool gotList = false;
        const auto start = Clock::now();
        Socket connection = Discover(listener.Get(), Sender(i), server.LocalPort(), gotList);
        const auto end = Clock::now();
        if (gotList) {
            samples.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
    }
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) {
        std::printf("discovery latency: no sample\n");
        return;
    }
    std::printf(
        "discovery latency, datagram to printer list (loopback, %zu samples): median %.0f us, p99 %.0f us\n",
        samples.size(), samples[samples.size() / 2], samples[samples.size() * 99 / 100]);
}

void IdleInProcess() {
    PrintCommand command;
    TCPXmlManager tcpManager(command);
    UDPXmlManager udpManager;
    UDPServer server;
    std::uint16_t padPort = 0;
    Socket listener = Listen(padPort);
    tcpManager.SetDevicePort(std::to_string(padPort));
    udpManager.SetTCPManager(&tcpManager);
    server.SetManager(&udpManager);
    server.Start("", "0");
    const long before = ResidentKiB(getpid());
    std::vector<Socket> devices;
    for (int i = 0; i < kIdleDevices; ++i) {
        bool gotList = false;
        devices.push_back(Discover(listener.Get(), Sender(1000 + i), server.LocalPort(), gotList));
    }
    const long after = ResidentKiB(getpid());
    rusage start{};
    getrusage(RUSAGE_SELF, &start);
    std::this_thread::sleep_for(kIdleWindow);
    rusage end{};
    getrusage(RUSAGE_SELF, &end);
    std::printf(
        "in-process, %d silent devices over %llds: CPU %.3f s; resident memory %+.1f KiB per connection "
        "(%zu kept)\n",
        kIdleDevices, static_cast<long long>(kIdleWindow.count()), CpuSeconds(end) - CpuSeconds(start),
        static_cast<double>(after - before) / kIdleDevices, tcpManager.ConnectionCount());
}

void IdleServerProcess() {
    const std::filesystem::path binary = std::filesystem::path(QOPRA_BINARY_DIR) / "bin" / "qopra2";
    if (!std::filesystem::exists(binary)) {
        std::printf("qopra2 not built: server-process figures skipped\n");
        return;
    }
    char pattern[] = "/tmp/qopra-bench-XXXXXX";
    const std::filesystem::path folder = mkdtemp(pattern);
    std::uint16_t padPort = 0;
    Socket listener = Listen(padPort);
    std::uint16_t localPort = 0;
    {
        Socket probe(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in address = Address("0.0.0.0", 0);
        bind(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t size = sizeof address;
        getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &size);
        localPort = ntohs(address.sin_port);
    }
    std::filesystem::create_directories(folder / "Qopra");
    std::ofstream(folder / "Qopra" / "qopra.xml")
        << "<settings><local_port>" << localPort << "</local_port><pad_port>" << padPort
        << "</pad_port><printers><printer>Office</printer></printers></settings>";
    const std::string data = folder.string();
    std::vector<std::string> environment = {"XDG_DATA_HOME=" + data, "XDG_RUNTIME_DIR=" + data};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.emplace_back(*entry);
    }
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string program = binary.string();
    std::string option = "-headless";
    char* argv[] = {program.data(), option.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t server = -1;
    posix_spawn(&server, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);

    // Wait until it answers, then let its start-up settle before measuring.
    bool up = false;
    for (int attempt = 0; attempt < 100 && !up; ++attempt) {
        Socket probe = Discover(listener.Get(), Sender(5000 + attempt), localPort, up);
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long before = ResidentKiB(server);
    std::vector<Socket> devices;
    for (int i = 0; i < kIdleDevices; ++i) {
        bool gotList = false;
        devices.push_back(Discover(listener.Get(), Sender(2000 + i), localPort, gotList));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long after = ResidentKiB(server);
    const double cpuStart = ProcessCpuSeconds(server);
    std::this_thread::sleep_for(kIdleWindow);
    const double cpuEnd = ProcessCpuSeconds(server);
    std::printf("qopra2 -headless, %d silent devices over %llds: CPU %.3f s; resident memory %+.1f KiB per "
                "connection (%ld KiB before, %ld KiB after)\n",
                kIdleDevices, static_cast<long long>(kIdleWindow.count()), cpuEnd - cpuStart,
                static_cast<double>(after - before) / kIdleDevices, before, after);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace

int main() {
    AppSettings::Instance().SetPrinters({"Office", "Lab"});
    LatencyInProcess();
    IdleInProcess();
    IdleServerProcess();
    return 0;
}
