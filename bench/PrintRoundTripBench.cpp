// Time from the last byte of a print command to the print-result answer, for a 1 MB PDF printed on a
// file-backed queue of the private scheduler (tests/rig/cups-rig.sh; CUPS_SERVER must name it).
// The device side is a plain socket; the server side is the real handler, staging, 7za and spooler.
// The stages of the same request are timed one by one as well: receive (reading the command
// message), decode (Base64), write (the archive to disk), unpack (listing and extracting with 7za),
// submit (the printer check and the job, over one connection) and watch (until the job is judged).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "BenchDocuments.h"
#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "config/AppSettings.h"
#include "net/TCPXmlManager.h"
#include "print/DocumentStaging.h"
#include "print/HiddenProcess.h"
#include "print/PrintQueueWatch.h"
#include "print/Spooler.h"
#include "protocol/Base64.h"
#include "protocol/PrintCommand.h"
#include "support/SamplePdf.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool ReadReply(int fd) {
    char byte = 1;
    while (::recv(fd, &byte, 1, 0) == 1) {
        if (byte == '\0') {
            return true;
        }
    }
    return false;
}

// The server's handler connected to one device socket, the printer list already read.
class Bench {
public:
    Bench() : folder(fs::temp_directory_path() / ("qopra-bench-" + std::to_string(::getpid()))) {
        fs::create_directories(folder / "source");
        DataFolder::SetPath(folder / "data");
        if (const char* log = std::getenv("QOPRA_BENCH_LOG")) {
            EventLog::Global().SetFileName(log);
        }
        AppSettings::Instance().backup = false;
        AppSettings::Instance().SetPrinters({"qopra-null", "qopra-pdf"});

        const std::string pdf = benchdocuments::RealisticPdf();
        std::ofstream(folder / "source" / "bench.pdf", std::ios::binary) << pdf;
        int exitCode = -1;
        HiddenProcess::RunHiddenProcess(HiddenProcess::FindProgram("7za", {}),
                                        {"a", (folder / "bench.7z").string(), "bench.pdf"}, folder / "source",
                                        true, exitCode);
        archive = ReadAll(folder / "bench.7z");
        // A device that stores its document without compression.
        HiddenProcess::RunHiddenProcess(HiddenProcess::FindProgram("7za", {}),
                                        {"a", "-mx0", (folder / "stored.7z").string(), "bench.pdf"},
                                        folder / "source", true, exitCode);
        stored = ReadAll(folder / "stored.7z");

        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);

        manager.SetDevicePort(std::to_string(ntohs(address.sin_port)));
        manager.ConnectToDevice("127.0.0.1");
        device = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ReadReply(device);
    }
    ~Bench() {
        manager.Stop();
        ::close(device);
        ::close(listener);
        DataFolder::SetPath({});
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    std::string Message(const std::string& printer, bool storedArchive = false) const {
        return "<commands><command type=\"PFL\"><parameters><parameter type=\"FILE_CONTENT\">" +
               Base64::Encode(storedArchive ? stored : archive) +
               "</parameter><parameter type=\"FILE_NAME\">bench.7z</parameter>"
               "<parameter type=\"PRINTER\">" +
               printer +
               "</parameter><parameter type=\"FILE_PREVIEW\">bench.pdf</parameter>"
               "<parameter type=\"COPIES\">1</parameter></parameters></command></commands>" +
               '\0';
    }

    int Device() const { return device; }
    const std::string& Archive() const { return archive; }
    const fs::path& Folder() const { return folder; }

private:
    fs::path folder;
    std::string archive;
    std::string stored;
    PrintCommand command;
    TCPXmlManager manager{command};
    int listener = -1;
    int device = -1;
};

bool HaveScheduler(benchmark::State& state);
Bench& Shared();

void PrintRoundTrip(benchmark::State& state, const char* printer, bool storedArchive) {
    if (!HaveScheduler(state)) {
        return;
    }
    Bench& bench = Shared();
    const std::string message = bench.Message(printer, storedArchive);
    for (auto _ : state) {
        // Everything but the last byte is already with the server when the clock starts.
        SendAll(bench.Device(), message.data(), message.size() - 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto start = std::chrono::steady_clock::now();
        SendAll(bench.Device(), message.data() + message.size() - 1, 1);
        if (!ReadReply(bench.Device())) {
            state.SkipWithError("no answer");
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

bool HaveScheduler(benchmark::State& state) {
    if (std::getenv("CUPS_SERVER") == nullptr) {
        state.SkipWithError("CUPS_SERVER is not set: start tests/rig/cups-rig.sh first");
        return false;
    }
    return true;
}

Bench& Shared() {
    static Bench bench;
    return bench;
}

// Times `step` alone; `prepare` runs before it, off the clock.
template <typename Prepare, typename Step>
void TimeStep(benchmark::State& state, Prepare prepare, Step step) {
    for (auto _ : state) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        step();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

void Receive(benchmark::State& state) {
    const std::string message = Shared().Message("qopra-null");
    PrintCommand command;
    TimeStep(
        state, [] {}, [&] { benchmark::DoNotOptimize(command.ReadMessage(message)); });
}

void Decode(benchmark::State& state) {
    const std::string text = Base64::Encode(Shared().Archive());
    std::vector<char> bytes(Base64::MaxDecodedSize(text.size()));
    TimeStep(
        state, [] {}, [&] { benchmark::DoNotOptimize(Base64::DecodeInto(text, bytes.data())); });
}

void Write(benchmark::State& state) {
    const fs::path path = Shared().Folder() / "written.7z";
    const std::string& archive = Shared().Archive();
    TimeStep(
        state, [] {},
        [&] {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
            benchmark::DoNotOptimize(::write(fd, archive.data(), archive.size()));
            ::close(fd);
        });
}

void Unpack(benchmark::State& state) {
    const fs::path work = Shared().Folder() / "unpack";
    TimeStep(
        state,
        [&] {
            fs::remove_all(work);
            fs::create_directories(work);
            std::ofstream(work / "bench.7z", std::ios::binary) << Shared().Archive();
        },
        [&] { benchmark::DoNotOptimize(DocumentStaging::ExtractArchive(work / "bench.7z", work)); });
}

void Submit(benchmark::State& state, const char* printer) {
    if (!HaveScheduler(state)) {
        return;
    }
    const fs::path pdf = Shared().Folder() / "source" / "bench.pdf";
    TimeStep(
        state, [] {},
        [&] {
            Spooler spooler;
            benchmark::DoNotOptimize(spooler.Printer(printer));
            benchmark::DoNotOptimize(spooler.Submit(printer, pdf, "bench.pdf", 1));
        });
}

void Watch(benchmark::State& state, const char* printer) {
    if (!HaveScheduler(state)) {
        return;
    }
    const fs::path pdf = Shared().Folder() / "source" / "bench.pdf";
    auto spooler = std::make_shared<Spooler>();
    int jobId = 0;
    TimeStep(
        state, [&] { jobId = spooler->Submit(printer, pdf, "bench.pdf", 1); },
        [&] {
            benchmark::DoNotOptimize(
                PrintQueueWatch::WatchSubmittedJobs(spooler, printer, {jobId}, std::chrono::seconds(10), {}));
        });
}

} // namespace

#define QOPRA_STAGE(benchmark_call)                                                                          \
    benchmark_call->UseManualTime()->Iterations(1)->Repetitions(20)->ReportAggregatesOnly(true)->Unit(       \
        benchmark::kMillisecond)

QOPRA_STAGE(BENCHMARK(Receive));
QOPRA_STAGE(BENCHMARK(Decode));
QOPRA_STAGE(BENCHMARK(Write));
QOPRA_STAGE(BENCHMARK(Unpack));
QOPRA_STAGE(BENCHMARK_CAPTURE(Submit, raw_file_queue, "qopra-null"));
QOPRA_STAGE(BENCHMARK_CAPTURE(Watch, raw_file_queue, "qopra-null"));
QOPRA_STAGE(BENCHMARK_CAPTURE(Watch, pdf_file_queue, "qopra-pdf"));

BENCHMARK_CAPTURE(PrintRoundTrip, stored_archive_raw_file_queue, "qopra-null", true)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PrintRoundTrip, raw_file_queue, "qopra-null", false)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PrintRoundTrip, pdf_file_queue, "qopra-pdf", false)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
