// What hostile devices cost the real server (qopra2 -headless): its peak resident memory under the
// worst devices we can build, the time a well-behaved device waits for its printer list while a
// hundred senders' connections hang, and a well-behaved device's print latency while another floods.
// Prints figures; asserts nothing. The print figures need the private scheduler (CUPS_SERVER, see
// scripts/with-test-env.sh) and its qopra-null queue.
#include "core/NetTestDevice.h"
#include "core/PrintTestFiles.h"
#include "e2e/HeadlessServer.h"
#include "print/Spooler.h"
#include "protocol/Base64.h"
#include "protocol/ReceiveBuffer.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace nettest;
using Clock = std::chrono::steady_clock;

namespace {

long StatusKiB(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

e2e::Settings MakeSettings(std::vector<std::string> printers) {
    e2e::Settings settings;
    settings.printers = std::move(printers);
    return settings;
}

double Median(std::vector<double> samples) {
    if (samples.empty()) {
        return -1;
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Connections offered to `listener` until `count` are open (one datagram a second is served).
std::vector<DeviceConnection> Connections(DeviceListener& listener, DatagramSender& pad, std::uint16_t port,
                                          std::size_t count) {
    std::vector<DeviceConnection> connections;
    const auto giveUp = Clock::now() + std::chrono::seconds(20);
    while (connections.size() < count && Clock::now() < giveUp) {
        pad.Send(port, "pad");
        const auto next = Clock::now() + std::chrono::milliseconds(1050);
        while (Clock::now() < next) {
            if (listener.HasPending()) {
                connections.push_back(listener.Accept());
                connections.back().ReadMessage();
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }
    return connections;
}

void PeakMemory() {
    e2e::Settings settings = MakeSettings({"Office"});
    e2e::HeadlessServer server(settings);
    if (!server.WaitFor(" is running on port ")) {
        std::printf("memory: server did not start\n");
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const pid_t pid = server.Pid();
    const long idle = StatusKiB(pid, "VmRSS");

    // Sixteen devices, each with as many connections as it gets, each holding an unfinished message of
    // just under 10 MiB.
    constexpr int kDevices = 16;
    std::vector<std::unique_ptr<DeviceListener>> listeners;
    std::vector<std::unique_ptr<DatagramSender>> pads;
    std::vector<std::vector<DeviceConnection>> connections(kDevices);
    std::vector<std::thread> askers;
    for (int i = 0; i < kDevices; ++i) {
        const std::string host = "127.3.0." + std::to_string(i + 1);
        listeners.push_back(std::make_unique<DeviceListener>(host, settings.padPort));
        pads.push_back(std::make_unique<DatagramSender>(host));
    }
    for (int i = 0; i < kDevices; ++i) {
        askers.emplace_back(
            [&, i] { connections[i] = Connections(*listeners[i], *pads[i], settings.localPort, 8); });
    }
    for (auto& asker : askers) {
        asker.join();
    }
    std::size_t opened = 0;
    for (const auto& own : connections) {
        opened += own.size();
    }
    const std::string unfinished(ReceiveBuffer::kReceiveBufferLimit - 16, 'A');
    std::vector<std::thread> senders;
    for (auto& own : connections) {
        for (auto& connection : own) {
            senders.emplace_back([&connection, &unfinished] { connection.SendBytes(unfinished); });
        }
    }
    for (auto& sender : senders) {
        sender.join();
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long heldRss = StatusKiB(pid, "VmRSS");

    // A seventeenth device sends whole messages built to make the parser work: empty elements up to
    // the size limit, deep nesting, and a flood of lone 0 bytes.
    DeviceListener parserListener("127.3.1.1", settings.padPort);
    DatagramSender parserPad("127.3.1.1");
    auto parser = Connections(parserListener, parserPad, settings.localPort, 1);
    if (!parser.empty()) {
        std::string empties;
        while (empties.size() + 4 < ReceiveBuffer::kReceiveBufferLimit - 1) {
            empties += "<e/>";
        }
        std::string deep;
        for (int i = 0; i < 120000; ++i) {
            deep += "<a>";
        }
        for (int i = 0; i < 120000; ++i) {
            deep += "</a>";
        }
        for (int round = 0; round < 3; ++round) {
            parser[0].SendBytes(empties + '\0');
            parser[0].SendBytes("<commands><command type=\"PFL\"><parameters><parameter type=\"PRINTER\">" +
                                deep + "</parameter></parameters></command></commands>" + '\0');
            parser[0].SendBytes(std::string(1000000, '\0'));
        }
        server.WaitFor(" parse data error.", 3);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::printf("memory: idle %ld KiB; %zu connections of %d devices holding 10 MiB each: %ld KiB "
                "resident (%zu closed for the byte budget); peak over the run %ld KiB (%.0f MiB)\n",
                idle, opened, kDevices, heldRss, server.Count(" too much unfinished data"),
                StatusKiB(pid, "VmHWM"), static_cast<double>(StatusKiB(pid, "VmHWM")) / 1024);
}

void HangingFlood() {
    e2e::Settings settings = MakeSettings({"Office"});
    e2e::HeadlessServer server(settings);
    if (!server.WaitFor(" is running on port ")) {
        return;
    }
    constexpr int kHanging = 100;
    HangingDevices hanging(kHanging, 4, settings.padPort);
    auto& senders = hanging.Senders();
    std::atomic<bool> flooding = true;
    std::thread flood([&] {
        while (flooding) {
            for (auto& sender : senders) {
                sender->Send(settings.localPort, "hang");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    DeviceListener device("127.0.0.2", settings.padPort);
    DatagramSender pad("127.0.0.2");
    std::vector<double> samples;
    for (int i = 0; i < 8; ++i) {
        const auto start = Clock::now();
        pad.Send(settings.localPort, "pad");
        DeviceConnection connection = device.Accept();
        if (connection.ReadMessage().has_value()) {
            samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    }
    flooding = false;
    flood.join();
    std::printf(
        "discovery under %d hanging senders at 5 datagrams/s each: printer list after median %.2f ms, "
        "worst %.2f ms (%zu samples)\n",
        kHanging, Median(samples), samples.empty() ? -1.0 : *std::max_element(samples.begin(), samples.end()),
        samples.size());
}

std::string PrintCommandFor(const std::string& base64) {
    return "<commands><command type=\"PFL\"><parameters><parameter type=\"FILE_CONTENT\">" + base64 +
           "</parameter><parameter type=\"FILE_NAME\">bench.7z</parameter><parameter "
           "type=\"PRINTER\">qopra-null</parameter><parameter type=\"FILE_PREVIEW\">bench.pdf</parameter>"
           "</parameters></command></commands>" +
           '\0';
}

// Milliseconds from the print command's last byte to the print result, `count` times.
std::vector<double> PrintTimes(DeviceConnection& connection, const std::string& message, int count) {
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!connection.SendBytes(message) || !connection.ReadMessage().has_value()) {
            break;
        }
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return samples;
}

void PrintLatencyUnderFlood() {
    if (!printtest::HaveScheduler()) {
        std::printf("print latency: no private scheduler (CUPS_SERVER), skipped\n");
        return;
    }
    TempDir folder;
    WriteFileBytes(folder / "bench.pdf", printtest::MinimalPdf(100000));
    if (!printtest::MakeArchive(folder / "bench.7z", folder.Path(), {"bench.pdf"})) {
        std::printf("print latency: 7za could not pack the document\n");
        return;
    }
    const std::string message = PrintCommandFor(Base64::Encode(ReadFileBytes(folder / "bench.7z")));
    e2e::Settings settings = MakeSettings({"qopra-null"});
    e2e::HeadlessServer server(settings);
    if (!server.WaitFor(" is running on port ")) {
        return;
    }
    DeviceListener device("127.0.0.2", settings.padPort);
    DatagramSender pad("127.0.0.2");
    auto own = Connections(device, pad, settings.localPort, 1);
    if (own.empty()) {
        return;
    }
    const std::vector<double> quiet = PrintTimes(own[0], message, 20);

    // Another device floods: bad messages and lone 0 bytes on four connections, unfinished messages,
    // and discovery datagrams from a hundred senders.
    DeviceListener flooderListener("127.5.0.1", settings.padPort);
    DatagramSender flooderPad("127.5.0.1");
    auto flooder = Connections(flooderListener, flooderPad, settings.localPort, 4);
    std::atomic<bool> flooding = true;
    std::vector<std::thread> floods;
    for (auto& connection : flooder) {
        floods.emplace_back([&connection, &flooding] {
            std::string junk;
            for (int i = 0; i < 1000; ++i) {
                junk += std::string("<x") + '\0' + "<commands><command type=\"PFL\"/></commands>" + '\0';
            }
            while (flooding && connection.SendBytes(junk)) {
            }
        });
    }
    floods.emplace_back([&] {
        std::vector<std::unique_ptr<DatagramSender>> senders;
        for (int i = 1; i <= 100; ++i) {
            senders.push_back(std::make_unique<DatagramSender>("127.5.1." + std::to_string(i)));
        }
        while (flooding) {
            for (auto& sender : senders) {
                sender->Send(settings.localPort, "flood");
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::vector<double> flooded = PrintTimes(own[0], message, 20);
    flooding = false;
    for (auto& connection : flooder) {
        connection.Close();
    }
    for (auto& thread : floods) {
        thread.join();
    }
    std::printf(
        "print round trip (100 KB PDF, qopra-null): median %.1f ms quiet (%zu), %.1f ms while another "
        "device floods (%zu)\n",
        Median(quiet), quiet.size(), Median(flooded), flooded.size());
}

// SIGTERM while a print waits for its job in the queue of a busy printer, to the end of the process.
void EndDuringAPrint() {
    if (!printtest::HaveScheduler()) {
        return;
    }
    const std::filesystem::path hold =
        std::filesystem::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / "qopra-busy.hold";
    TempDir folder;
    WriteFileBytes(hold, "");
    WriteFileBytes(folder / "blocker.pdf", printtest::MinimalPdf());
    const int blocker = Spooler::SubmitFile("qopra-busy", folder / "blocker.pdf", "blocker.pdf", 1);
    printtest::WaitForJobState("qopra-busy", blocker, Spooler::JobState::Processing);
    WriteFileBytes(folder / "bench.pdf", printtest::MinimalPdf());
    printtest::MakeArchive(folder / "bench.7z", folder.Path(), {"bench.pdf"});
    std::string message = PrintCommandFor(Base64::Encode(ReadFileBytes(folder / "bench.7z")));
    message.replace(message.find("qopra-null"), 10, "qopra-busy");
    e2e::Settings settings = MakeSettings({"qopra-busy"});
    e2e::HeadlessServer server(settings);
    if (server.WaitFor(" is running on port ")) {
        DeviceListener device("127.0.0.2", settings.padPort);
        DatagramSender pad("127.0.0.2");
        auto own = Connections(device, pad, settings.localPort, 1);
        if (!own.empty() && own[0].SendBytes(message) && server.WaitFor(" received bench.7z")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const auto start = Clock::now();
            const bool ended = server.Stop();
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            const auto answer = own[0].ReadMessage();
            std::printf("SIGTERM during a print (job waiting on a busy printer) to exit: %.0f ms, %s end, "
                        "device answered: %s\n",
                        ms, ended ? "orderly" : "forced",
                        answer && answer->find("RESULT\">4<") != std::string::npos ? "result 4" : "no");
        }
    }
    std::filesystem::remove(hold);
}

} // namespace

// A real device announcing itself once a second while 300 forged senders a second (connections that
// hang: nobody answers their SYN) fill the table of connection attempts.
void ForgedSenders() {
    e2e::Settings settings = MakeSettings({"Office"});
    e2e::HeadlessServer server(settings);
    if (!server.WaitFor(" is running on port ")) {
        return;
    }
    constexpr int kForged = 300;
    HangingDevices hanging(kForged, 7, settings.padPort);
    auto& senders = hanging.Senders();
    if (senders.empty()) {
        std::printf("forged senders: none could be set up (%s)\n", std::strerror(errno));
        return;
    }
    std::atomic<bool> forging = true;
    std::thread forger([&] {
        for (std::size_t i = 0; forging; ++i) {
            senders[i % senders.size()]->Send(settings.localPort, "forged");
            std::this_thread::sleep_for(std::chrono::microseconds(1000000 / kForged));
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    DeviceListener device("127.0.0.2", settings.padPort);
    DatagramSender pad("127.0.0.2");
    int served = 0;
    std::vector<double> waits;
    for (int round = 0; round < 5; ++round) {
        const auto announced = Clock::now();
        pad.Send(settings.localPort, "hello");
        DeviceConnection connection = device.AcceptWithin(std::chrono::milliseconds(1000));
        if (connection.Valid() && connection.ReadMessage()) {
            ++served;
            waits.push_back(std::chrono::duration<double, std::milli>(Clock::now() - announced).count());
        }
        std::this_thread::sleep_until(announced + std::chrono::seconds(1));
    }
    forging = false;
    forger.join();
    std::printf("a device announcing once a second under %zu forged senders a second (hanging connections): "
                "connected %d of 5 times, median %.1f ms\n",
                senders.size(), served, Median(waits));
}

// Twenty addresses fill the 64 connection slots, each connection dripping a byte of an unfinished
// message every half second, and ask for a new connection every second; a real device pauses 3 s
// between its printer list and its print.
void DrippingAttackers() {
    if (!printtest::HaveScheduler()) {
        return;
    }
    e2e::Settings settings = MakeSettings({"qopra-null"});
    e2e::HeadlessServer server(settings);
    if (!server.WaitFor(" is running on port ")) {
        return;
    }
    constexpr int kAttackers = 20;
    std::vector<std::unique_ptr<DeviceListener>> listeners;
    std::vector<std::unique_ptr<DatagramSender>> pads;
    for (int i = 0; i < kAttackers; ++i) {
        const std::string host = "127.8.0." + std::to_string(i + 1);
        listeners.push_back(std::make_unique<DeviceListener>(host, settings.padPort));
        pads.push_back(std::make_unique<DatagramSender>(host));
    }
    std::mutex lock;
    std::vector<DeviceConnection> held;
    std::atomic<bool> attacking = true;
    std::thread accepting([&] {
        while (attacking) {
            for (auto& listener : listeners) {
                while (listener->HasPending()) {
                    DeviceConnection connection = listener->Accept();
                    connection.ReadMessage();
                    connection.SendBytes("<");
                    std::lock_guard guard(lock);
                    held.push_back(std::move(connection));
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    std::thread dripping([&] {
        while (attacking) {
            {
                std::lock_guard guard(lock);
                for (auto& connection : held) {
                    connection.SendBytes("x");
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    });
    std::thread asking([&] {
        for (std::size_t round = 0; attacking; ++round) {
            pads[round % pads.size()]->Send(settings.localPort, "new");
            std::this_thread::sleep_for(std::chrono::milliseconds(1000 / kAttackers * 4));
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(8));
    TempDir folder;
    WriteFileBytes(folder / "doc.pdf", printtest::MinimalPdf());
    printtest::MakeArchive(folder / "doc.7z", folder.Path(), {"doc.pdf"});
    const std::string message = PrintCommandFor(Base64::Encode(ReadFileBytes(folder / "doc.7z")));
    DeviceListener device("127.0.0.2", settings.padPort);
    DatagramSender pad("127.0.0.2");
    int printed = 0;
    for (int round = 0; round < 5; ++round) {
        auto own = Connections(device, pad, settings.localPort, 1);
        if (own.empty()) {
            continue;
        }
        std::this_thread::sleep_for(std::chrono::seconds(3));
        if (own[0].SendBytes(message)) {
            const auto answer = own[0].ReadMessage();
            printed += answer && answer->find(">0</parameter>") != std::string::npos ? 1 : 0;
        }
    }
    attacking = false;
    accepting.join();
    dripping.join();
    asking.join();
    std::printf("a device pausing 3 s between its printer list and its print while %d addresses fill every "
                "connection slot with dripping messages: %d of 5 prints got through\n",
                kAttackers, printed);
}

int main(int argc, char** argv) {
    // Each figure is printed as soon as it is measured.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::vector<std::pair<std::string, void (*)()>> parts = {
        {"EndDuringAPrint", EndDuringAPrint}, {"PeakMemory", PeakMemory},
        {"HangingFlood", HangingFlood},       {"PrintLatencyUnderFlood", PrintLatencyUnderFlood},
        {"ForgedSenders", ForgedSenders},     {"DrippingAttackers", DrippingAttackers},
    };
    // Names on the command line run only those parts.
    const std::vector<std::string> wanted(argv + 1, argv + argc);
    for (const auto& [name, run] : parts) {
        if (wanted.empty() || std::find(wanted.begin(), wanted.end(), name) != wanted.end()) {
            run();
        }
    }
    return 0;
}
