// Print requests side by side, on the real server (qopra2 -headless) and the private scheduler
// (scripts/with-test-env.sh): prints a second for 1, 2, 4 and 8 devices printing a 1 MB PDF at once on
// queues of their own, beside `lp` on the same queues; the answer of a device on an idle queue while
// another waits on a held printer; and an HTML print's time from the last byte to the answer, with the
// part of it after the job's last state change. Prints figures; asserts nothing.
#include "BenchDocuments.h"
#include "core/NetTestDevice.h"
#include "core/PrintTestFiles.h"
#include "e2e/HeadlessServer.h"
#include "print/Spooler.h"
#include "protocol/Base64.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace nettest;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr int kMaxDevices = 8;
constexpr int kPrintsPerDevice = 12;

std::string Queue(int device) {
    return "qopra-bench-" + std::to_string(device + 1);
}

std::string PrintCommand(const std::string& archive, const std::string& archiveName,
                         const std::string& document, const std::string& printer) {
    return "<commands><command type=\"PFL\"><parameters><parameter type=\"FILE_CONTENT\">" +
           Base64::Encode(archive) + "</parameter><parameter type=\"FILE_NAME\">" + archiveName +
           "</parameter><parameter type=\"PRINTER\">" + printer +
           "</parameter><parameter type=\"FILE_PREVIEW\">" + document +
           "</parameter><parameter type=\"COPIES\">1</parameter></parameters></command></commands>" + '\0';
}

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double Median(std::vector<double> samples) {
    if (samples.empty()) {
        return -1;
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// One connection for the device at `host`, its printer list read.
std::optional<DeviceConnection> Connect(DeviceListener& listener, const std::string& host,
                                        std::uint16_t port) {
    DatagramSender pad(host);
    for (int attempt = 0; attempt < 10; ++attempt) {
        pad.Send(port, "pad");
        DeviceConnection connection = listener.AcceptWithin(std::chrono::milliseconds(1100));
        if (connection.Valid() && connection.ReadMessage()) {
            return connection;
        }
    }
    return std::nullopt;
}

// Sends a whole message but its last byte, then the last byte; the time from then to the answer.
std::optional<double> RoundTrip(DeviceConnection& device, const std::string& message) {
    if (!device.SendBytes(message.substr(0, message.size() - 1))) {
        return std::nullopt;
    }
    const auto start = Clock::now();
    if (!device.SendBytes(message.substr(message.size() - 1)) || !device.ReadMessage()) {
        return std::nullopt;
    }
    return Milliseconds(Clock::now() - start);
}

void MakeQueues() {
    for (int device = 0; device < kMaxDevices; ++device) {
        ChildProcess lpadmin("/usr/sbin/lpadmin",
                             {"-p", Queue(device), "-v", "file:///dev/null", "-m", "raw", "-E"});
        lpadmin.Wait(std::chrono::seconds(30));
    }
}

void Throughput(e2e::Settings& settings, const std::string& archive, const fs::path& pdf) {
    std::vector<std::unique_ptr<DeviceListener>> listeners;
    std::vector<DeviceConnection> devices;
    for (int device = 0; device < kMaxDevices; ++device) {
        const std::string host = "127.0.4." + std::to_string(device + 1);
        listeners.push_back(std::make_unique<DeviceListener>(host, settings.padPort));
        std::optional<DeviceConnection> connection = Connect(*listeners.back(), host, settings.localPort);
        if (!connection) {
            std::printf("throughput: device %d got no connection\n", device + 1);
            return;
        }
        devices.push_back(std::move(*connection));
    }
    std::vector<std::string> messages;
    for (int device = 0; device < kMaxDevices; ++device) {
        messages.push_back(PrintCommand(archive, "bench.7z", "bench.pdf", Queue(device)));
    }
    double single = 0;
    for (const int count : {1, 2, 4, 8}) {
        std::atomic<int> answered = 0;
        std::vector<double> slowest(static_cast<std::size_t>(count), 0);
        const auto start = Clock::now();
        std::vector<std::thread> printing;
        for (int device = 0; device < count; ++device) {
            printing.emplace_back([&, device] {
                for (int print = 0; print < kPrintsPerDevice; ++print) {
                    const auto sent = Clock::now();
                    if (devices[static_cast<std::size_t>(device)].SendBytes(
                            messages[static_cast<std::size_t>(device)]) &&
                        devices[static_cast<std::size_t>(device)].ReadMessage()) {
                        ++answered;
                        slowest[static_cast<std::size_t>(device)] = std::max(
                            slowest[static_cast<std::size_t>(device)], Milliseconds(Clock::now() - sent));
                    }
                }
            });
        }
        for (std::thread& thread : printing) {
            thread.join();
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double rate = answered / seconds;
        single = count == 1 ? rate : single;

        // lp of the same PDF on the same queues, side by side, each until the spooler has it.
        const auto lpStart = Clock::now();
        std::vector<std::thread> lps;
        for (int device = 0; device < count; ++device) {
            lps.emplace_back([&, device] {
                for (int print = 0; print < kPrintsPerDevice; ++print) {
                    ChildProcess lp("/usr/bin/lp", {"-d", Queue(device), pdf.string()});
                    lp.Wait(std::chrono::seconds(60));
                }
            });
        }
        for (std::thread& thread : lps) {
            thread.join();
        }
        const double lpRate =
            count * kPrintsPerDevice / std::chrono::duration<double>(Clock::now() - lpStart).count();
        std::printf("%d device(s), 1 MB PDF each on its own queue: %.1f prints/s (%.2fx one device), slowest "
                    "answer %.0f ms; lp: %.1f prints/s\n",
                    count, rate, rate / single, *std::max_element(slowest.begin(), slowest.end()), lpRate);
    }
}

void BesideAHeldPrinter(e2e::Settings& settings, const std::string& archive) {
    const fs::path hold = fs::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / "qopra-busy.hold";
    WriteFileBytes(hold, "");
    TempDir scratch;
    WriteFileBytes(scratch / "blocker.pdf", printtest::MinimalPdf());
    Spooler::SubmitFile("qopra-busy", scratch / "blocker.pdf", "blocker", 1);
    DeviceListener heldListener("127.0.5.1", settings.padPort);
    DeviceListener idleListener("127.0.5.2", settings.padPort);
    std::optional<DeviceConnection> held = Connect(heldListener, "127.0.5.1", settings.localPort);
    std::optional<DeviceConnection> idle = Connect(idleListener, "127.0.5.2", settings.localPort);
    if (!held || !idle) {
        std::printf("held printer: no connection\n");
        return;
    }
    held->SendBytes(PrintCommand(archive, "held.7z", "bench.pdf", "qopra-busy"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<double> beside;
    for (int i = 0; i < 5; ++i) {
        if (const auto time = RoundTrip(*idle, PrintCommand(archive, "idle.7z", "bench.pdf", "qopra-null"))) {
            beside.push_back(*time);
        }
    }
    fs::remove(hold);
    held->ReadMessage();
    std::vector<double> alone;
    for (int i = 0; i < 5; ++i) {
        if (const auto time = RoundTrip(*idle, PrintCommand(archive, "idle.7z", "bench.pdf", "qopra-null"))) {
            alone.push_back(*time);
        }
    }
    std::printf("1 MB PDF on an idle queue while another device waits on a held printer: median %.0f ms "
                "(alone: %.0f ms)\n",
                Median(beside), Median(alone));
}

void HtmlPrint(e2e::Settings& settings) {
    TempDir scratch;
    WriteFileBytes(scratch / "page.htm",
                   "<html><body><h1>Receipt</h1><p>One page of text.</p></body></html>");
    if (!printtest::MakeArchive(scratch / "page.7z", scratch.Path(), {"page.htm"})) {
        return;
    }
    const std::string archive = ReadFileBytes(scratch / "page.7z");
    DeviceListener listener("127.0.6.1", settings.padPort);
    std::optional<DeviceConnection> device = Connect(listener, "127.0.6.1", settings.localPort);
    if (!device) {
        return;
    }
    std::vector<double> total;
    std::vector<double> afterJob;
    for (int i = 0; i < 11; ++i) {
        const std::string name = "html-" + std::to_string(i) + ".htm";
        fs::copy_file(scratch / "page.htm", scratch / name, fs::copy_options::overwrite_existing);
        fs::remove(scratch / "page.7z");
        printtest::MakeArchive(scratch / "page.7z", scratch.Path(), {name});
        const std::string message =
            PrintCommand(ReadFileBytes(scratch / "page.7z"), "page.7z", name, "qopra-null");
        // The job's last state change, seen by a close watch of the spooler.
        int firstId = 0;
        if (const auto jobs = Spooler::GetJobs("qopra-null", 0); jobs && !jobs->empty()) {
            firstId = jobs->back().id + 1;
        }
        std::atomic<bool> watching = true;
        std::atomic<Clock::rep> completed = 0;
        std::thread watch([&] {
            Spooler spooler;
            while (watching && completed == 0) {
                if (const auto jobs = spooler.Jobs("qopra-null", firstId)) {
                    for (const Spooler::JobInfo& job : *jobs) {
                        if (job.name == name && job.state == static_cast<int>(Spooler::JobState::Completed)) {
                            completed = Clock::now().time_since_epoch().count();
                        }
                    }
                }
            }
        });
        device->SendBytes(message.substr(0, message.size() - 1));
        const auto start = Clock::now();
        device->SendBytes(message.substr(message.size() - 1));
        device->ReadMessage();
        const auto answered = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        watching = false;
        watch.join();
        // The first print starts the browser engine.
        if (i > 0) {
            total.push_back(Milliseconds(answered - start));
            if (completed != 0) {
                afterJob.push_back(
                    Milliseconds(answered - Clock::time_point(Clock::duration(completed.load()))));
            }
        }
    }
    std::printf(
        "HTML print (one page, after the first): median %.0f ms from the last byte to the answer, %.1f ms "
        "of it after the job's last state change seen by a close watch\n",
        Median(total), Median(afterJob));
}

} // namespace

int main() {
    if (!printtest::HaveScheduler()) {
        std::printf("CUPS_SERVER is not set: run inside scripts/with-test-env.sh\n");
        return 1;
    }
    MakeQueues();
    TempDir scratch;
    WriteFileBytes(scratch / "bench.pdf", benchdocuments::RealisticPdf());
    if (!printtest::MakeArchive(scratch / "bench.7z", scratch.Path(), {"bench.pdf"})) {
        std::printf("cannot pack the document\n");
        return 1;
    }
    const std::string archive = ReadFileBytes(scratch / "bench.7z");
    std::printf("document: %zu bytes, archive %zu bytes\n", fs::file_size(scratch / "bench.pdf"),
                archive.size());

    e2e::Settings settings;
    for (int device = 0; device < kMaxDevices; ++device) {
        settings.printers.push_back(Queue(device));
    }
    settings.printers.push_back("qopra-null");
    settings.printers.push_back("qopra-busy");
    e2e::HeadlessServer server(settings);
    if (!server.WaitFor(" is running on port ")) {
        std::printf("the server did not start\n");
        return 1;
    }
    Throughput(settings, archive, scratch / "bench.pdf");
    BesideAHeldPrinter(settings, archive);
    HtmlPrint(settings);
    return 0;
}
