#include <gtest/gtest.h>

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
    explicit Server(std::map<std::string, std::string> extraEnvironment = {})
        : PrintingServer(
              "<backup>0</backup><printers><printer>qopra-pdf</printer><printer>qopra-paused</printer>"
              "</printers><aliases><alias>qopra-pdf|Office</alias></aliases>",
              std::move(extraEnvironment)) {}
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

    const PadRun unknown = server.Pad({"print", pdf.string(), "--printer", "no-such-printer"});
    EXPECT_TRUE(Has(unknown.output, "RESULT 4 (print failed) REASON 0x0 (none)")) << unknown.output;
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
