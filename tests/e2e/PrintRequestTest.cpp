#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

#include "core/PrintTestFiles.h"
#include "e2e/PrintingServer.h"
#include "print/Spooler.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

// The real qopra2 -headless prints what the real qopra-pad sends it, on the private scheduler of the
// test command (tests/rig/cups-rig.sh).
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using e2eprint::kGuard;
using e2eprint::PadRun;

// A server offering the PDF queue (as "Office") and the paused one.
class Server : public e2eprint::PrintingServer {
public:
    explicit Server(std::map<std::string, std::string> extraEnvironment = {},
                    const std::function<void(const fs::path&)>& beforeStart = {})
        : PrintingServer(
              "<backup>0</backup><printers><printer>qopra-pdf</printer><printer>qopra-paused</printer>"
              "</printers><aliases><alias>qopra-pdf|Office</alias></aliases>",
              std::move(extraEnvironment), beforeStart) {}
};

class PrintRequestTest : public testing::Test {
protected:
    void SetUp() override {
        documents = dir / "documents";
        fs::create_directories(documents);
        pdf = documents / ("Report-" + std::to_string(::getpid()) + ".pdf");
        WriteFileBytes(pdf, printtest::MinimalPdf());
        WriteFileBytes(documents / "page.htm", "<html><body>page</body></html>");
    }

    TempDir dir;
    fs::path documents;
    fs::path pdf;
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(PrintRequestTest, PdfInAnArchiveIsPrintedWithItsCopiesOnThePrinterBehindTheAlias) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
    }
    Server server;
    ASSERT_TRUE(server.running) << server.process->Output();

    const PadRun printed = server.Pad({"print", pdf.string(), "--printer", "Office", "--copies", "2"});
    EXPECT_EQ(printed.exitCode, 0) << printed.output;
    EXPECT_TRUE(Has(printed.output, "RESULT 0 (printed) REASON 0x0 (none)")) << printed.output;
    const std::string archive = pdf.filename().string() + ".7z";
    EXPECT_TRUE(server.process->WaitForOutput(
        ": " + archive + " printed successfully n.2 copies on qopra-pdf", kGuard))
        << server.process->Output();
    const auto job = printtest::FindJob("qopra-pdf", pdf.filename().string());
    ASSERT_TRUE(job.has_value());
    EXPECT_EQ(job->copies, 2);

    const PadRun paused = server.Pad({"print", pdf.string(), "--printer", "qopra-paused"});
    EXPECT_EQ(paused.exitCode, 1);
    EXPECT_TRUE(Has(paused.output, "RESULT 4 (print failed) REASON 0x1 (paused)")) << paused.output;
    EXPECT_TRUE(server.process->WaitForOutput(": " + archive + " print failed on qopra-paused", kGuard));

    // A queue the settings do not offer is not printed on, whether the spooler has it or not; for the
    // device it is a printer that does not exist, not one that is busy.
    for (const std::string queue : {"no-such-printer", "qopra-null"}) {
        const PadRun refused = server.Pad({"print", pdf.string(), "--printer", queue});
        EXPECT_TRUE(Has(refused.output, "RESULT 4 (print failed) REASON 0x800000 ("))
            << queue << refused.output;
    }
    EXPECT_FALSE(printtest::FindJob("qopra-null", pdf.filename().string()));
    EXPECT_TRUE(Has(server.Log(), "[ERROR] qopra-null is not a printer offered to devices")) << server.Log();
}

TEST_F(PrintRequestTest, MissingDocumentAndUnsafeNamesAreAnsweredWithoutPrinting) {
    Server server;
    ASSERT_TRUE(server.running) << server.process->Output();

    const PadRun missing = server.Pad(
        {"print", (documents / "page.htm").string(), "--printer", "Office", "--preview", "notes.txt"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(Has(missing.output, "RESULT 3 (document not found) REASON 0x0 (none)")) << missing.output;
    EXPECT_TRUE(server.process->WaitForOutput(": unable to find preview file  notes.txt", kGuard));

    for (const std::string name : {"../escaped.7z", "sub/escaped.7z"}) {
        const PadRun unsafe = server.Pad({"print", pdf.string(), "--printer", "Office", "--name", name});
        EXPECT_TRUE(Has(unsafe.output, "RESULT 1 (received file not found) REASON 0x0 (none)"))
            << name << unsafe.output;
        EXPECT_TRUE(server.process->WaitForOutput(": unable to find " + name, kGuard));
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(server.home.Path())) {
        EXPECT_NE(entry.path().filename(), "escaped.7z") << entry.path();
    }
}

TEST_F(PrintRequestTest, ArchiveProgramMissingFromPathAndProgramFolderGivesTwo) {
    const fs::path emptyBin = dir / "bin";
    fs::create_directories(emptyBin);
    ASSERT_FALSE(fs::exists(ChildProcess::Executable("7za")));
    Server server({{"PATH", emptyBin.string()}});
    ASSERT_TRUE(server.running) << server.process->Output();

    const PadRun run = server.Pad({"print", pdf.string(), "--printer", "Office"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Has(run.output, "RESULT 2 (archive program not started) REASON 0x0 (none)")) << run.output;
    EXPECT_TRUE(
        server.process->WaitForOutput(": unable to decompress " + pdf.filename().string() + ".7z", kGuard));
}

TEST_F(PrintRequestTest, JobsOfASpoolerThatKeepsNoHistoryAreStillJudgedPrinted) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
    }
    // A scheduler of its own that forgets every job the moment it ends.
    TempDir rig;
    const std::string script = std::string(QOPRA_SOURCE_DIR) + "/tests/rig/cups-rig.sh";
    ASSERT_EQ(
        std::system((script + " start " + rig.Path().string() + " --no-job-history >/dev/null").c_str()), 0);
    {
        // The raw queue ends a job within milliseconds: it is gone before anybody looks.
        e2eprint::PrintingServer server(
            "<backup>0</backup><printers><printer>qopra-null</printer></printers>",
            {{"CUPS_SERVER", (rig / "cups.sock").string()}, {"CUPS_SERVERROOT", (rig / "client").string()}});
        ASSERT_TRUE(server.running) << server.process->Output();
        const PadRun pdfRun = server.Pad({"print", pdf.string(), "--printer", "qopra-null"});
        EXPECT_TRUE(Has(pdfRun.output, "RESULT 0 (printed) REASON 0x0 (none)"))
            << pdfRun.output << server.Log();
        const PadRun pageRun =
            server.Pad({"print", (documents / "page.htm").string(), "--printer", "qopra-null"});
        EXPECT_TRUE(Has(pageRun.output, "RESULT 0 (printed) REASON 0x0 (none)"))
            << pageRun.output << server.Log();
    }
    std::system((script + " stop " + rig.Path().string() + " >/dev/null").c_str());
}

TEST_F(PrintRequestTest, StartAndEachRefusedRequestNameTheRealCause) {
    // No spooler where the settings of the machine point.
    {
        const std::string socket = (dir / "no-cupsd.sock").string();
        Server server({{"CUPS_SERVER", socket}});
        ASSERT_TRUE(server.running) << server.process->Output();
        const std::string cause =
            "qopra2: Cannot reach the spooler at " + socket + ": No such file or directory";
        EXPECT_TRUE(server.process->WaitForOutput(cause, kGuard)) << server.process->Output();
        const PadRun run = server.Pad({"print", pdf.string(), "--printer", "Office"});
        EXPECT_TRUE(Has(run.output, "RESULT 4 (print failed)")) << run.output;
        const std::string output = server.process->Output();
        EXPECT_NE(output.find(cause, output.find(cause) + 1), std::string::npos) << output;
    }
    // A data folder that cannot be written: read-only for everybody, root included.
    bool mounted = false;
    Server server({}, [&](const fs::path& data) {
        if (::geteuid() == 0) {
            mounted = ::mount(data.c_str(), data.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                      ::mount(nullptr, data.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        } else {
            fs::permissions(data, fs::perms::owner_read | fs::perms::owner_exec);
            mounted = true;
        }
    });
    ASSERT_TRUE(mounted);
    ASSERT_TRUE(server.running) << server.process->Output();
    const std::string cause = "qopra2: Cannot write the data folder " + server.Data().string() + ": " +
                              (::geteuid() == 0 ? "Read-only file system" : "Permission denied");
    EXPECT_TRUE(server.process->WaitForOutput(cause, kGuard)) << server.process->Output();
    const PadRun run = server.Pad({"print", pdf.string(), "--printer", "Office"});
    EXPECT_TRUE(Has(run.output, "RESULT 1 (received file not found)")) << run.output;
    const std::string output = server.process->Output();
    EXPECT_NE(output.find(cause, output.find(cause) + 1), std::string::npos) << output;
    if (::geteuid() == 0) {
        ::umount2(server.Data().c_str(), MNT_DETACH);
    } else {
        fs::permissions(server.Data(), fs::perms::owner_all);
    }
}

TEST_F(PrintRequestTest, EndOfTheServerDuringAPrintAnswersTheDeviceAndEndsInOrder) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
    }
    // The printer is busy with another job: the request's job waits in the queue and the request
    // watches it when the server is told to end.
    const fs::path hold = fs::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / "qopra-busy.hold";
    WriteFileBytes(hold, "");
    struct Release {
        fs::path file;
        ~Release() { fs::remove(file); }
    } release{hold};
    const fs::path blocker = dir / "blocker.pdf";
    WriteFileBytes(blocker, printtest::MinimalPdf());
    const int blockerId = Spooler::SubmitFile("qopra-busy", blocker, "blocker.pdf", 1);
    ASSERT_TRUE(printtest::WaitForJobState("qopra-busy", blockerId, Spooler::JobState::Processing));

    e2eprint::PrintingServer server("<backup>0</backup><printers><printer>qopra-busy</printer></printers>");
    ASSERT_TRUE(server.running) << server.process->Output();
    ChildProcess pad(ChildProcess::Executable("qopra-pad"),
                     {"--udp-port", server.udpPort, "--pad-port", server.padPort, "--timeout", "60", "--raw",
                      "print", pdf.string(), "--printer", "qopra-busy"});
    ASSERT_TRUE(server.process->WaitForOutput(" received ", kGuard));
    const auto submitted = std::chrono::steady_clock::now() + kGuard;
    while (!Has(server.Log(), "Job ") && std::chrono::steady_clock::now() < submitted) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(Has(server.Log(), "Job ")) << "the job is in the queue";
    server.process->Signal(SIGTERM);
    EXPECT_EQ(server.process->Wait(kGuard), 0) << server.process->Output();
    EXPECT_EQ(pad.Wait(kGuard), 1);
    EXPECT_TRUE(Has(pad.Output(), "RESULT 4 REASON")) << pad.Output();
    EXPECT_TRUE(Has(server.Log(), " ended by the end of the program")) << server.Log();
    EXPECT_TRUE(Has(server.process->Output(), " print failed on qopra-busy"));
}
