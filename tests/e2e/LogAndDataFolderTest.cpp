#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>
#include <thread>

#include "core/PrintTestFiles.h"
#include "e2e/PrintingServer.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

// The real qopra2 -headless as other users of the computer and hostile devices meet it.
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using e2eprint::kGuard;

mode_t Mode(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Every entry of `folder`, the folder too, that other users may read, enter or write.
std::vector<std::string> OpenToOthers(const fs::path& folder) {
    std::vector<std::string> open;
    if ((Mode(folder) & 077) != 0) {
        open.push_back(folder.string());
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_symlink() && (Mode(entry.path()) & 077) != 0) {
            open.push_back(entry.path().string());
        }
    }
    return open;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

// With backup on, documents stay in the data folder for good: another user of the computer read a kept
// contract that way. The folder, the documents and what the log says of them are the user's alone.
TEST(DataFolderPrivacy, FoldersFilesAndKeptDocumentsAreTheUsersAloneAndAnOlderFolderIsClosedAtStart) {
    // A first start makes the data folder from the installed defaults, which every user may read.
    {
        TempDir home;
        ChildProcess first(
            ChildProcess::Executable("qopra2"), {"-headless"},
            {{"XDG_DATA_HOME", home.Path().string()}, {"XDG_RUNTIME_DIR", home.Path().string()}});
        ASSERT_TRUE(first.WaitForOutput(" is running on port ", kGuard)) << first.Output();
        ASSERT_TRUE(fs::exists(home / "Qopra" / "Htm" / "waiting.htm"));
        EXPECT_EQ(OpenToOthers(home / "Qopra"), std::vector<std::string>{});
        EXPECT_FALSE(Has(ReadFileBytes(home / "Qopra" / "qopra.log"), "open to other users"));
        first.Signal(SIGTERM);
        EXPECT_EQ(first.Wait(kGuard), 0);
    }
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
    }

    // The data folder of an older version: everybody may read it and what it keeps.
    e2eprint::PrintingServer server("<backup>1</backup><printers><printer>qopra-null</printer></printers>",
                                    {}, [&](const fs::path& data) {
                                        fs::create_directories(data / "1f2e3d");
                                        WriteFileBytes(data / "1f2e3d" / "contract.pdf",
                                                       printtest::MinimalPdf());
                                        fs::permissions(data / "1f2e3d" / "contract.pdf", fs::perms(0644));
                                        fs::permissions(data / "1f2e3d", fs::perms(0755));
                                        fs::permissions(data, fs::perms(0755));
                                        fs::permissions(data / "qopra.xml", fs::perms(0644));
                                    });
    ASSERT_TRUE(server.running) << server.process->Output();
    EXPECT_EQ(OpenToOthers(server.Data()), std::vector<std::string>{});
    const std::string closed = "[WARNING] The data folder " + server.Data().string() +
                               " was open to other users: 4 entries made private";
    EXPECT_TRUE(Has(server.Log(), closed)) << server.Log();

    // A document printed with backup on: its kept folder, the archive, the document unpacked from it
    // (made by 7za).
    TempDir documents;
    const fs::path pdf = documents / ("contract-" + std::to_string(::getpid()) + ".pdf");
    WriteFileBytes(pdf, printtest::MinimalPdf());
    fs::permissions(pdf, fs::perms(0644));
    const e2eprint::PadRun run = server.Pad({"print", pdf.string(), "--printer", "qopra-null"});
    ASSERT_TRUE(Has(run.output, "RESULT 0 (printed)")) << run.output << server.Log();
    std::vector<fs::path> kept;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(server.Data())) {
        if (entry.path().filename() == pdf.filename()) {
            kept.push_back(entry.path());
        }
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(fs::exists(kept[0].parent_path() / (pdf.filename().string() + ".7z")));
    EXPECT_EQ(OpenToOthers(server.Data()), std::vector<std::string>{});
}

// A device chooses the printer name, the archive's name and the names inside the archive: with line
// breaks in them it wrote lines such as "1234567 - 13:00:00 FORGED Job 99: payroll.pdf" into the log
// and the trace.
TEST(ForgedLogLines, NamesFromADeviceStayOnTheLineTheyAreWrittenOn) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
    }
    e2eprint::PrintingServer server("<backup>0</backup><printers><printer>qopra-null</printer></printers>");
    ASSERT_TRUE(server.running) << server.process->Output();
    const std::string forged = "\n1234567 - 13:00:00 FORGED Job 99: payroll.pdf\r\n12:00:00 > FORGED trace";

    TempDir documents;
    const fs::path pdf = documents / ("report" + forged + ".pdf");
    WriteFileBytes(pdf, printtest::MinimalPdf());
    const e2eprint::PadRun printed =
        server.Pad({"print", pdf.string(), "--printer", "qopra-null", "--name", "archive" + forged + ".7z"});
    EXPECT_TRUE(Has(printed.output, "RESULT 0 (printed)")) << printed.output << server.Log();
    const e2eprint::PadRun refused = server.Pad({"print", pdf.string(), "--printer", "Office" + forged});
    EXPECT_TRUE(Has(refused.output, "RESULT 4 (print failed)")) << refused.output;

    const std::regex logLine(R"(-?\d+ - \d\d:\d\d:\d\d .*)");
    const std::vector<std::string> log = SplitLines(server.Log());
    for (const std::string& line : log) {
        EXPECT_TRUE(std::regex_match(line, logLine)) << line;
        EXPECT_FALSE(line.ends_with("\r")) << line;
    }
    const auto written = [&](const std::string& part) {
        return std::count_if(log.begin(), log.end(), [&](const std::string& line) {
            return Has(line, part) && Has(line, "\\n1234567 - 13:00:00 FORGED Job 99: payroll.pdf");
        });
    };
    EXPECT_GE(written("Job "), 1) << server.Log();
    EXPECT_GE(written("not a printer offered"), 1) << server.Log();

    // The service's trace: every line is a time, " > " and a text, or a line of the program's own.
    const std::regex traceLine(R"(\d\d:\d\d:\d\d > .*|qopra2: .*)");
    for (const std::string& line : SplitLines(server.process->Output())) {
        EXPECT_TRUE(std::regex_match(line, traceLine)) << line;
        EXPECT_FALSE(line.starts_with("12:00:00 > FORGED")) << line;
    }
    EXPECT_TRUE(Has(server.process->Output(), "payroll.pdf\\r\\n12:00:00 &gt; FORGED trace"))
        << server.process->Output();
}
