#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

#include "app/UTF16File.h"
#include "core/PrintTestFiles.h"
#include "e2e/PrintingServer.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

// An HTML document sent by the real qopra-pad is printed by the real qopra2 -headless through its
// hidden browser page, on the private scheduler of the test command (tests/rig/cups-rig.sh).
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using e2eprint::kGuard;
using e2eprint::PadRun;

constexpr const char* kPrinter = "qopra-null";

// A small PNG picture, embedded in the page so that the one-document archive carries it.
const char* const kPictureDataUri =
    "data:image/"
    "png;base64,"
    "iVBORw0KGgoAAAANSUhEUgAAAAgAAAAICAIAAABLbSncAAAAEUlEQVR4nGNQaHDAihiGlgQA2gM4AQRmgAkAAAAASUVORK5CYII=";

// A server offering the raw queue and the paused one, with or without backup copies.
class HtmlServer : public e2eprint::PrintingServer {
public:
    explicit HtmlServer(bool backup)
        : PrintingServer(std::string("<backup>") + (backup ? "1" : "0") + "</backup><printers><printer>" +
                         kPrinter + "</printer><printer>qopra-paused</printer></printers>") {}

    PadRun Print(const fs::path& document) {
        return Pad({"print", document.string(), "--printer", kPrinter});
    }
};

std::string RegisterText(const fs::path& path) {
    UTF16File file;
    file.Open(path.string(), false);
    return file.ReadAll();
}

class HtmlPrintTest : public testing::Test {
protected:
    void SetUp() override {
        if (!printtest::HaveScheduler()) {
            GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
        }
        name = "page-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name() + ".htm";
        document = dir / name;
        WriteFileBytes(document, std::string("<html><body><h1>Qopra</h1><img src=\"") + kPictureDataUri +
                                     "\" width=\"64\" height=\"64\"></body></html>");
    }

    TempDir dir;
    std::string name;
    fs::path document;
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(HtmlPrintTest, HtmlPageIsPrintedThroughTheBrowserRecordedAndItsWorkingFolderKept) {
    HtmlServer server(true);
    ASSERT_TRUE(server.running) << server.process->Output();

    const PadRun run = server.Print(document);
    EXPECT_EQ(run.exitCode, 0) << run.output << server.process->Output();
    EXPECT_TRUE(Has(run.output, "RESULT 0 (printed) REASON 0x0 (none)")) << run.output;
    EXPECT_TRUE(printtest::FindJob(kPrinter, name).has_value());
    EXPECT_FALSE(Has(server.Log(), "PrintFileOnBrowser error.")) << server.Log();
    // The browser engine's start-up talk stays out of the journal.
    EXPECT_FALSE(Has(server.process->Output(), "qt.webenginecontext") ||
                 Has(server.process->Output(), "No suitable graphics backend"))
        << server.process->Output();

    // The register takes the document once it has printed, and saves it a moment later.
    std::string text;
    EXPECT_TRUE(WaitUntil(
        [&] { return Has(text = RegisterText(server.Data() / "printed.xml"), "<prints><print id=\""); }));
    ASSERT_TRUE(Has(text, "<prints><print id=\"")) << text;
    EXPECT_TRUE(Has(text, " zip=\"" + name + ".7z\" prn=\"" + kPrinter + "\" index=\"" + name + "\" dir=\""))
        << text;
    const std::size_t dirStart = text.find(" dir=\"") + 6;
    const fs::path folder = text.substr(dirStart, text.find('"', dirStart) - dirStart);
    EXPECT_EQ(folder.parent_path(), server.Data());
    EXPECT_TRUE(fs::exists(folder / name)) << folder;
    EXPECT_TRUE(fs::exists(folder / (name + ".7z"))) << folder;
}

TEST_F(HtmlPrintTest, DocumentsThePageCannotPrintAreAnsweredAtOnceAndAnEndlessScriptHarmsNothing) {
    HtmlServer server(true);
    ASSERT_TRUE(server.running) << server.process->Output();
    const std::string tag = std::to_string(::getpid());

    // Answered well before the request's own wait of 30 s would run out.
    const fs::path letter = dir / ("letter-" + tag + ".docx");
    WriteFileBytes(letter, std::string("PK\x03\x04", 4) + std::string(300, '\x02'));
    const PadRun refused = server.Pad({"print", letter.string(), "--printer", kPrinter, "--timeout", "20"});
    EXPECT_TRUE(Has(refused.output, "RESULT 4 (print failed)")) << refused.output;
    EXPECT_TRUE(Has(server.Log(), letter.filename().string() +
                                      " cannot be printed: the browser cannot show a document of its type"))
        << server.Log();
    // The trace says why, and the register does not take what did not print.
    EXPECT_TRUE(server.process->WaitForOutput(
        ": " + letter.filename().string() + ".7z print failed on " + kPrinter, kGuard));
    EXPECT_TRUE(server.process->WaitForOutput(
        ": " + letter.filename().string() + " is of a type that cannot be printed here", kGuard));

    const fs::path looping = dir / ("loop-" + tag + ".htm");
    WriteFileBytes(looping, "<html><body><p>before</p><script>while (true) {}</script></body></html>");
    const PadRun loop = server.Pad({"print", looping.string(), "--printer", kPrinter, "--timeout", "25"});
    EXPECT_TRUE(Has(loop.output, "RESULT 0 (printed)")) << loop.output << server.Log();
    const PadRun after = server.Print(document);
    EXPECT_TRUE(Has(after.output, "RESULT 0 (printed)")) << after.output << server.Log();
    std::string text;
    EXPECT_TRUE(WaitUntil([&] { return Has(text = RegisterText(server.Data() / "printed.xml"), name); }));
    EXPECT_FALSE(Has(text, letter.filename().string())) << text;
}

TEST_F(HtmlPrintTest, PausedQueueIsCheckedFirstAndTheDocumentIsFoundWhateverItsLetterCase) {
    HtmlServer server(false);
    ASSERT_TRUE(server.running) << server.process->Output();

    const PadRun paused = server.Pad({"print", document.string(), "--printer", "qopra-paused"});
    EXPECT_TRUE(Has(paused.output, "RESULT 4 (print failed) REASON 0x1 (paused)")) << paused.output;

    const fs::path capital = dir / ("Index-" + std::to_string(::getpid()) + ".htm");
    WriteFileBytes(capital, "<html><body>index</body></html>");
    const PadRun found = server.Pad({"print", capital.string(), "--printer", kPrinter, "--preview",
                                     "index-" + std::to_string(::getpid()) + ".htm"});
    EXPECT_TRUE(Has(found.output, "RESULT 0 (printed)")) << found.output << server.Log();
    EXPECT_TRUE(printtest::FindJob(kPrinter, capital.filename().string()));
    // The page takes its documents in turn: once a later one has printed, it would have submitted
    // the first one.
    const PadRun later = server.Print(document);
    EXPECT_TRUE(Has(later.output, "RESULT 0 (printed)")) << later.output;
    EXPECT_FALSE(printtest::FindJob("qopra-paused", name)) << "it would print when the queue resumes";
}
