#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cups/cups.h>
#include <fstream>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "config/AppSettings.h"
#include "core/PrintTestFiles.h"
#include "print/DocumentStaging.h"
#include "print/HiddenProcess.h"
#include "print/PrintContext.h"
#include "print/PrinterStatus.h"
#include "print/Spooler.h"
#include "print/StagingFolders.h"
#include "protocol/Base64.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"
#include "ui/IMainWindowPort.h"
#include "ui/MainWindowFlags.h"

namespace fs = std::filesystem;
using Code = PrintResult::Code;

namespace {

class RecordingWindow : public IMainWindowPort {
public:
    void PostPrintDocument(std::unique_ptr<PrintJobRecord> record) override {
        records.push_back(std::move(record));
    }
    void PostPrintReport(PrintReport report) override { reports.push_back(std::move(report)); }
    std::vector<PrintReport> reports;
    bool ShowWaitingPage(bool refresh, std::chrono::milliseconds timeout, std::stop_token) override {
        waitingPages.emplace_back(refresh, timeout);
        return true;
    }
    std::vector<std::unique_ptr<PrintJobRecord>> records;
    std::vector<std::pair<bool, std::chrono::milliseconds>> waitingPages;
};

// Staging without a scheduler: CUPS_SERVER names a socket nobody listens on, so every spooler call
// fails the way it does when cupsd is down, and nothing reaches a real one.
class DocumentStagingTest : public testing::Test {
protected:
    void SetUp() override {
        data = dir / "data";
        fs::create_directories(data);
        DataFolder::SetPath(data);
        EventLog::Global().SetFileName(dir / "qopra.log");
        setenv("CUPS_SERVER", (dir / "no-cupsd.sock").c_str(), 1);
        // The spooler library keeps the server it read; each test names its own.
        cupsSetServer(nullptr);
        AppSettings::Instance().backup = false;
        AppSettings::Instance().SetPrinters({"qopra-null"});
        MainWindowFlags::shown = false;
        MainWindowFlags::previewIsPdf = false;
    }
    void TearDown() override {
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
        AppSettings::Instance().backup = false;
        AppSettings::Instance().SetPrinters({});
    }

    // A working folder holding `archiveName`, an archive of the given files.
    fs::path StageArchive(const std::string& archiveName,
                          const std::vector<std::pair<std::string, std::string>>& files,
                          const std::vector<std::string>& switches = {}) {
        const fs::path source = dir / "source";
        fs::remove_all(source);
        fs::create_directories(source);
        std::vector<std::string> names;
        for (const auto& [name, bytes] : files) {
            WriteFileBytes(source / name, bytes);
            names.push_back(name);
        }
        PrintRequest request;
        EXPECT_TRUE(DocumentStaging::CreateJobFolder(request));
        EXPECT_TRUE(printtest::MakeArchive(request.workingFolder / archiveName, source, names, switches));
        return request.workingFolder;
    }

    Code Print(const std::string& received, const std::string& document, const fs::path& folder,
               IMainWindowPort* window = nullptr, int copies = 1, std::stop_token stop = {},
               const std::string& printer = "qopra-null") {
        const PrintResult result = DocumentStaging::PrintReceivedDocument(
            printtest::Request(received, printer, document, copies, folder, 7),
            PrintContext{window, stop, nullptr});
        status = result.printerStatus;
        reason = result.reason;
        return result.code;
    }

    std::string Log() { return ReadFileBytes(dir / "qopra.log"); }

    TempDir dir;
    fs::path data;
    std::uint32_t status = 0;
    std::string reason;
};

} // namespace

TEST(StagingNames, OnlyPlainNamesReachTheFileSystem) {
    EXPECT_TRUE(DocumentStaging::IsPlainFileName("report.7z"));
    EXPECT_TRUE(DocumentStaging::IsPlainFileName("r\xc3\xa9sum\xc3\xa9 v.2.pdf"));
    const std::vector<std::string> badNames = {
        "", ".", "..", "../x", "a/b", "/etc/passwd", "a\\b", "x..y", std::string("a\0b", 3)};
    for (const std::string& bad : badNames) {
        EXPECT_FALSE(DocumentStaging::IsPlainFileName(bad)) << bad;
    }
}

TEST(StagingNames, PdfNamesAnywhereInTheNameWhateverTheCase) {
    EXPECT_TRUE(DocumentStaging::IsPdfName("report.Pdf"));
    EXPECT_TRUE(DocumentStaging::IsPdfName("notes.pdf.txt"));
    EXPECT_TRUE(DocumentStaging::IsPdfName(".PDF"));
    EXPECT_FALSE(DocumentStaging::IsPdfName("pdf"));
    EXPECT_FALSE(DocumentStaging::IsPdfName("report.pd"));
    EXPECT_FALSE(DocumentStaging::IsPdfName("page.htm"));
}

TEST_F(DocumentStagingTest, RequestFoldersAreUniqueEvenWithinOneMillisecond) {
    AppSettings::Instance().backup = true;
    std::set<fs::path> folders;
    constexpr int kRequests = 50;
    for (int i = 0; i < 2 * kRequests; ++i) {
        // With backup off the same, below "pf": every request has a folder of its own.
        AppSettings::Instance().backup = i < kRequests;
        PrintRequest request;
        ASSERT_TRUE(DocumentStaging::CreateJobFolder(request));
        const fs::path& folder = request.workingFolder;
        ASSERT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(folder.parent_path(), i < kRequests ? data : data / "pf");
        EXPECT_EQ(request.folderKept, i < kRequests);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", request.registerId);
        EXPECT_EQ(folder.filename().string().rfind(hex, 0), 0u) << folder;
        folders.insert(folder);
    }
    EXPECT_EQ(folders.size(), static_cast<std::size_t>(2 * kRequests));
}

TEST_F(DocumentStagingTest, RequestFoldersGoWhenTheRequestEndsButTheLastPrintedStays) {
    StagingFolders folders;
    const auto staged = [&](bool backup) {
        AppSettings::Instance().backup = backup;
        PrintRequest request;
        EXPECT_TRUE(DocumentStaging::CreateJobFolder(request));
        WriteFileBytes(request.workingFolder / "doc.pdf", "x");
        return request;
    };
    const PrintRequest failed = staged(false);
    const PrintRequest printed = staged(false);
    const PrintRequest kept = staged(true);
    const PrintRequest next = staged(false);
    folders.Retire(failed, false);
    folders.Retire(printed, true);
    folders.Retire(kept, false);
    EXPECT_FALSE(fs::exists(failed.workingFolder));
    EXPECT_TRUE(fs::exists(printed.workingFolder / "doc.pdf")) << "the main window may show it";
    EXPECT_TRUE(fs::exists(kept.workingFolder / "doc.pdf")) << "a backup copy";
    folders.Retire(next, true);
    EXPECT_FALSE(fs::exists(printed.workingFolder));
    EXPECT_TRUE(fs::exists(next.workingFolder));
}

TEST_F(DocumentStagingTest, RemoveFolderDeletesLinksWithoutFollowingThem) {
    const fs::path keep = dir / "keep";
    fs::create_directories(keep);
    WriteFileBytes(keep / "precious.txt", "precious");
    const fs::path folder = dir / "work";
    fs::create_directories(folder / "sub");
    WriteFileBytes(folder / "a.txt", "a");
    WriteFileBytes(folder / "sub" / "b.txt", "b");
    fs::create_directory_symlink(keep, folder / "link-to-folder");
    fs::create_symlink(keep / "precious.txt", folder / "link-to-file");

    int error = 0;
    EXPECT_FALSE(DocumentStaging::RemoveFolder(folder, false, error));
    EXPECT_EQ(error, ENOTEMPTY);
    EXPECT_FALSE(fs::exists(folder / "a.txt"));
    EXPECT_TRUE(fs::exists(folder / "sub" / "b.txt"));

    EXPECT_TRUE(DocumentStaging::RemoveFolder(folder, true, error));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(ReadFileBytes(keep / "precious.txt"), "precious");

    EXPECT_FALSE(DocumentStaging::RemoveFolder(dir / "missing", true, error));
    EXPECT_EQ(error, ENOENT);

    // A folder that is itself a link: only the link goes.
    fs::create_directory_symlink(keep, dir / "linked-folder");
    EXPECT_TRUE(DocumentStaging::RemoveFolder(dir / "linked-folder", true, error));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "linked-folder")));
    EXPECT_EQ(ReadFileBytes(keep / "precious.txt"), "precious");
}

TEST_F(DocumentStagingTest, ReceivedFileIsDecodedAndNeverWrittenThroughALink) {
    const fs::path folder = dir / "work";
    ASSERT_TRUE(DocumentStaging::CreateFolderTree(folder));
    const std::string bytes("\x00\x01\xfe\xff 7z archive", 15);
    ASSERT_TRUE(DocumentStaging::WriteReceivedFile(folder / "a.7z", Base64::Encode(bytes)));
    EXPECT_EQ(ReadFileBytes(folder / "a.7z"), bytes);
    ASSERT_TRUE(DocumentStaging::WriteReceivedFile(folder / "a.7z", ""));
    EXPECT_EQ(ReadFileBytes(folder / "a.7z"), "");

    WriteFileBytes(dir / "target", "untouched");
    fs::create_symlink(dir / "target", folder / "b.7z");
    EXPECT_FALSE(DocumentStaging::WriteReceivedFile(folder / "b.7z", Base64::Encode("evil")));
    EXPECT_EQ(ReadFileBytes(dir / "target"), "untouched");
    EXPECT_FALSE(DocumentStaging::CreateFolderTree("relative-name"));
}

TEST_F(DocumentStagingTest, ExtractArchivePutsEveryFileIntoTheFolderWithoutPaths) {
    const fs::path source = dir / "source";
    fs::create_directories(source / "deep");
    WriteFileBytes(source / "deep" / "doc.htm", "<p>hi</p>");
    const fs::path folder = dir / "work";
    fs::create_directories(folder);
    ASSERT_TRUE(printtest::MakeArchive(folder / "a.7z", source, {"deep/doc.htm"}));
    WriteFileBytes(folder / "doc.htm", "stale");
    ASSERT_TRUE(DocumentStaging::ExtractArchive(folder / "a.7z", folder));
    EXPECT_EQ(ReadFileBytes(folder / "doc.htm"), "<p>hi</p>");
    EXPECT_FALSE(fs::exists(folder / "deep"));
}

TEST_F(DocumentStagingTest, BadReceivedNamesGiveOneAndMissingArchiveProgramGivesTwo) {
    const fs::path folder = StageArchive("a.7z", {{"doc.htm", "x"}});
    for (const char* bad : {"../a.7z", "pf/a.7z", "", "a\\b", "missing.7z"}) {
        EXPECT_EQ(Print(bad, "doc.htm", folder), Code::ReceivedFileMissing) << bad;
    }
    EXPECT_EQ(Print("a.7z", "doc.htm", fs::path()), Code::ReceivedFileMissing);

    const std::string savedPath = std::getenv("PATH");
    setenv("PATH", (dir / "empty-bin").c_str(), 1);
    const Code result = Print("a.7z", "doc.htm", folder);
    setenv("PATH", savedPath.c_str(), 1);
    EXPECT_EQ(result, Code::DecompressFailed);
    EXPECT_NE(Log().find("7za not found"), std::string::npos);
}

TEST_F(DocumentStagingTest, ArchiveProgramThatNeverEndsIsStoppedAndFailsTheExtraction) {
    // Stands in for an archive that unpacks without end.
    const fs::path bin = dir / "slow-bin";
    fs::create_directories(bin);
    WriteFileBytes(bin / "7za", "#!/bin/sh\nexec /bin/sleep 600\n");
    fs::permissions(bin / "7za", fs::perms::owner_all);
    const std::string savedPath = std::getenv("PATH");
    setenv("PATH", bin.c_str(), 1);
    const bool extracted =
        DocumentStaging::ExtractArchive(dir / "a.7z", data, std::chrono::milliseconds(100));
    setenv("PATH", savedPath.c_str(), 1);
    EXPECT_FALSE(extracted);
    EXPECT_NE(Log().find("7za stopped after 100 ms"), std::string::npos);
    const pid_t child = HiddenProcess::LastProcessId();
    ASSERT_GT(child, 0);
    EXPECT_NE(::kill(child, 0), 0) << "the overrunning child is killed and reaped";

    int exitCode = 0;
    ASSERT_TRUE(HiddenProcess::RunHiddenProcess("/bin/sh", {"-c", "exit 3"}, {}, true, exitCode,
                                                std::chrono::milliseconds(60000)));
    EXPECT_EQ(exitCode, 3);
}

TEST_F(DocumentStagingTest, MissingBadOrLinkedDocumentsGiveThreeWithoutPrinting) {
    RecordingWindow window;
    fs::path folder = StageArchive("a.7z", {{"doc.htm", "x"}, {"other.pdf", printtest::MinimalPdf()}});
    // A PDF in the folder does not rescue a document name that is not a PDF name.
    EXPECT_EQ(Print("a.7z", "missing.htm", folder, &window), Code::DocumentMissing);
    EXPECT_EQ(Print("a.7z", "../doc.htm", folder, &window), Code::DocumentMissing);

    const fs::path outside = dir / "outside.htm";
    WriteFileBytes(outside, "secret");
    fs::create_directories(dir / "links");
    fs::create_symlink(outside, dir / "links" / "doc.htm");
    folder = StageArchive("b.7z", {});
    ASSERT_TRUE(printtest::MakeArchive(folder / "b.7z", dir / "links", {"doc.htm"}, {"-snl"}));
    EXPECT_EQ(Print("b.7z", "doc.htm", folder, &window), Code::DocumentMissing);
    EXPECT_TRUE(window.records.empty());
}

TEST_F(DocumentStagingTest, EncryptedArchiveFailsAtOnceInsteadOfAskingForAPassword) {
    const fs::path folder = StageArchive("secret.7z", {{"doc.htm", "x"}}, {"-pSecret", "-mhe=on"});
    EXPECT_EQ(Print("secret.7z", "doc.htm", folder), Code::DecompressFailed);
}

TEST_F(DocumentStagingTest, WithoutSchedulerNothingIsHandedOverAndThePersonHearsWhy) {
    RecordingWindow window;
    MainWindowFlags::shown = true;
    MainWindowFlags::previewIsPdf = true;
    const fs::path folder = StageArchive("a.7z", {{"Page.htm", "<p>x</p>"}});
    testing::internal::CaptureStderr();
    const Code browserResult = Print("a.7z", "Page.htm", folder, &window, 3);
    const fs::path pdfFolder = StageArchive("b.7z", {{"Doc.PDF", printtest::MinimalPdf()}});
    const Code pdfResult = Print("b.7z", "doc.pdf", pdfFolder);
    const std::string said = testing::internal::GetCapturedStderr();

    EXPECT_EQ(browserResult, Code::PrintFailed);
    EXPECT_EQ(pdfResult, Code::PrintFailed);
    EXPECT_EQ(status, 0u);
    // The printer cannot be checked, so no document goes to a page that could print it later.
    EXPECT_TRUE(window.records.empty());
    ASSERT_EQ(window.waitingPages.size(), 1u);
    EXPECT_TRUE(window.waitingPages[0].first);
    EXPECT_EQ(window.waitingPages[0].second, std::chrono::milliseconds(5000));
    const std::string log = Log();
    const std::size_t first = log.find("Unable to open printer qopra-null, error: ");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("Unable to open printer qopra-null, error: ", first + 1), std::string::npos) << log;
    EXPECT_EQ(reason, "the spooler cannot be reached");
    // Once per request, with the server that was tried.
    const std::string cause = "qopra2: Cannot reach the spooler at " + (dir / "no-cupsd.sock").string() +
                              ": No such file or directory\n";
    ASSERT_NE(said.find(cause), std::string::npos) << said;
    EXPECT_NE(said.find(cause, said.find(cause) + 1), std::string::npos) << said;
    EXPECT_NE(log.find("[ERROR] Cannot reach the spooler at "), std::string::npos) << log;
}

TEST_F(DocumentStagingTest, SpoolerCallsFailCleanlyWithoutScheduler) {
    WriteFileBytes(dir / "a.pdf", printtest::MinimalPdf());
    EXPECT_EQ(Spooler::SubmitFile("qopra-null", dir / "a.pdf", "a.pdf", 1), 0);
    EXPECT_FALSE(Spooler::GetPrinter("qopra-null"));
    EXPECT_FALSE(Spooler::GetJobs("qopra-null", 0));
    EXPECT_FALSE(Spooler::GetDestinations());
    Spooler spooler;
    EXPECT_FALSE(spooler.Reachable());
    EXPECT_FALSE(spooler.Printer("qopra-null"));
    EXPECT_TRUE(spooler.Unreachable());
    EXPECT_EQ(spooler.ErrorText(), "No such file or directory");
    EXPECT_EQ(Spooler::ServerName(), (dir / "no-cupsd.sock").string());
}

TEST_F(DocumentStagingTest, StagingFolderIsClearedWholeAtStartWithoutFollowingLinks) {
    // What a run left below "pf": request folders with sub-folders an archive made, and a link out.
    const fs::path source = dir / "source";
    fs::create_directories(source / "next.7z" / "deeper");
    WriteFileBytes(source / "next.7z" / "deeper" / "x.txt", "x");
    WriteFileBytes(source / "doc.htm", "<p>x</p>");
    PrintRequest request;
    ASSERT_TRUE(DocumentStaging::CreateJobFolder(request));
    const fs::path folder = request.workingFolder;
    ASSERT_TRUE(printtest::MakeArchive(folder / "a.7z", source, {"doc.htm", "next.7z"}));
    ASSERT_TRUE(DocumentStaging::ExtractArchive(folder / "a.7z", folder));
    ASSERT_TRUE(fs::is_directory(folder / "next.7z"));
    const fs::path keep = dir / "keep";
    fs::create_directories(keep);
    WriteFileBytes(keep / "precious.txt", "precious");
    fs::create_directory_symlink(keep, data / "pf" / "sub-link");

    DocumentStaging::ClearSingleJobFolder();
    EXPECT_FALSE(fs::exists(fs::symlink_status(data / "pf"))) << "pf is removed whole";
    EXPECT_EQ(ReadFileBytes(keep / "precious.txt"), "precious");
    EXPECT_EQ(Log().find("Failed to RemoveDirectory"), std::string::npos) << Log();

    // A link in place of the folder goes by itself.
    fs::create_directory_symlink(keep, data / "pf");
    DocumentStaging::ClearSingleJobFolder();
    EXPECT_FALSE(fs::exists(fs::symlink_status(data / "pf")));
    EXPECT_EQ(ReadFileBytes(keep / "precious.txt"), "precious");
    ASSERT_TRUE(DocumentStaging::CreateJobFolder(request));
    EXPECT_EQ(request.workingFolder.parent_path(), data / "pf");
}

TEST_F(DocumentStagingTest, OnlyOfferedPrintersArePrintedOn) {
    const fs::path folder = StageArchive("a.7z", {{"doc.htm", "<p>x</p>"}});
    EXPECT_EQ(Print("a.7z", "doc.htm", folder, nullptr, 1, {}, "qopra-pdf"), Code::PrintFailed);
    EXPECT_EQ(status, PrinterStatus::kServerUnknown);
    EXPECT_NE(Log().find("[ERROR] qopra-pdf is not a printer offered to devices"), std::string::npos)
        << Log();
    // Refused before anything is unpacked.
    EXPECT_FALSE(fs::exists(folder / "doc.htm"));
    // Names are taken exactly as the settings hold them.
    EXPECT_EQ(Print("a.7z", "doc.htm", folder, nullptr, 1, {}, "QOPRA-NULL"), Code::PrintFailed);
    EXPECT_EQ(status, PrinterStatus::kServerUnknown);
}

TEST_F(DocumentStagingTest, DamagedArchivesGiveTwoAndWarningsOfTheArchiveProgramPass) {
    const std::string page = "<html><body>" + std::string(200000, 'x') + "</body></html>";
    fs::path folder = StageArchive("a.7z", {{"doc.htm", page}});
    const std::string whole = ReadFileBytes(folder / "a.7z");
    WriteFileBytes(folder / "a.7z", whole.substr(0, whole.size() / 2));
    EXPECT_EQ(Print("a.7z", "doc.htm", folder), Code::DecompressFailed);
    EXPECT_FALSE(fs::exists(folder / "doc.htm")) << "a document cut short is not left to print";
    EXPECT_NE(Log().find("a.7z refused: 7za cannot read it (code 2)"), std::string::npos) << Log();

    // Listed fine, then damaged while unpacking: the half-written document goes.
    const fs::path bin = dir / "warning-bin";
    fs::create_directories(bin);
    WriteFileBytes(bin / "7za", "#!/bin/sh\n"
                                "case \"$1\" in l) echo ----------; echo 'Size = 3'; exit 0;; esac\n"
                                "out=; for a; do case \"$a\" in -o*) out=${a#-o};; esac; done\n"
                                "echo cut > \"$out/doc.htm\"; exit ${QOPRA_TEST_CODE}\n");
    fs::permissions(bin / "7za", fs::perms::owner_all);
    folder = StageArchive("b.7z", {{"doc.htm", "x"}});
    const std::string savedPath = std::getenv("PATH");
    setenv("PATH", (bin.string() + ":" + savedPath).c_str(), 1);
    setenv("QOPRA_TEST_CODE", "2", 1);
    const bool damaged = DocumentStaging::ExtractArchive(folder / "b.7z", folder);
    const bool damagedDocumentLeft = fs::exists(folder / "doc.htm");
    setenv("QOPRA_TEST_CODE", "1", 1);
    const bool warned = DocumentStaging::ExtractArchive(folder / "b.7z", folder);
    setenv("PATH", savedPath.c_str(), 1);
    unsetenv("QOPRA_TEST_CODE");
    EXPECT_FALSE(damaged);
    EXPECT_FALSE(damagedDocumentLeft);
    EXPECT_TRUE(warned);
    EXPECT_EQ(ReadFileBytes(folder / "doc.htm"), "cut\n");
    EXPECT_NE(Log().find("[WARNING] 7za ended with code 1 on "), std::string::npos) << Log();
}

TEST_F(DocumentStagingTest, ArchivesThatUnpackTooMuchAreRefusedAndLeaveNothingBehind) {
    const fs::path source = dir / "source";
    fs::create_directories(source);
    // Sparse: large on paper, nothing on disk, and it packs into a few kilobytes.
    std::ofstream(source / "zeros.htm").close();
    fs::resize_file(source / "zeros.htm", 3'000'000);
    const fs::path work = dir / "work";
    fs::create_directories(work);
    ASSERT_TRUE(printtest::MakeArchive(work / "a.7z", source, {"zeros.htm"}));
    EXPECT_LT(fs::file_size(work / "a.7z"), 100'000u);

    EXPECT_FALSE(DocumentStaging::ExtractArchive(work / "a.7z", work, std::chrono::seconds(60), 1'000'000));
    EXPECT_NE(Log().find("a.7z refused: it would unpack 3000000 bytes, more than the 1000000 allowed"),
              std::string::npos)
        << Log();
    EXPECT_FALSE(fs::exists(work / "zeros.htm"));
    EXPECT_TRUE(DocumentStaging::ExtractArchive(work / "a.7z", work, std::chrono::seconds(60), 3'000'000));
    fs::remove(work / "zeros.htm");

    // A format that declares no size is held to the limit while it unpacks.
    fs::resize_file(source / "zeros.htm", 100'000'000);
    ASSERT_TRUE(printtest::MakeArchive(work / "zeros.htm.bz2", source, {"zeros.htm"}, {"-tbzip2", "-mx1"}));
    EXPECT_FALSE(
        DocumentStaging::ExtractArchive(work / "zeros.htm.bz2", work, std::chrono::seconds(60), 1'000'000));
    EXPECT_NE(Log().find("zeros.htm.bz2 refused: it unpacked more than the 1000000 bytes allowed"),
              std::string::npos)
        << Log();
    // Everything but the received file itself goes.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(work)) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"zeros.htm.bz2"});

    // More entries than a document can need: a tar archive of empty files, written here directly.
    std::string tar;
    for (std::size_t i = 0; i <= DocumentStaging::kEntryLimit; ++i) {
        std::string header(512, '\0');
        const std::string name = std::to_string(i);
        header.replace(0, name.size(), name);
        header.replace(100, 7, "0000644");
        header.replace(124, 11, "00000000000");
        header.replace(136, 11, "00000000000");
        header[156] = '0';
        header.replace(257, 6, std::string("ustar\0", 6));
        header.replace(263, 2, "00");
        header.replace(148, 8, "        ");
        unsigned sum = 0;
        for (const char c : header) {
            sum += static_cast<unsigned char>(c);
        }
        char checksum[8];
        std::snprintf(checksum, sizeof checksum, "%06o", sum);
        header.replace(148, 7, std::string(checksum, 7));
        tar += header;
    }
    tar += std::string(1024, '\0');
    WriteFileBytes(work / "many.tar", tar);
    EXPECT_FALSE(DocumentStaging::ExtractArchive(work / "many.tar", work));
    const std::string log = Log();
    const std::size_t refusal = log.find("many.tar refused: it holds 10001 entries");
    ASSERT_NE(refusal, std::string::npos) << log;
    EXPECT_NE(log.find(" entries, more than the 10000 allowed", refusal), std::string::npos) << log;
}

TEST_F(DocumentStagingTest, HelpersRunInAProcessGroupOfTheirOwn) {
    int exitCode = 0;
    ASSERT_TRUE(HiddenProcess::RunHiddenProcess("/bin/sleep", {"30"}, {}, false, exitCode));
    const pid_t child = HiddenProcess::LastProcessId();
    ASSERT_GT(child, 0);
    const pid_t group = ::getpgid(child);
    ::kill(child, SIGKILL);
    EXPECT_EQ(group, child);
    EXPECT_NE(group, ::getpgrp());

    std::string output;
    ASSERT_TRUE(HiddenProcess::RunForOutput("/bin/sh", {"-c", "ps -o pgid= -p $$; exit 4"}, {}, exitCode,
                                            output, 1024));
    EXPECT_EQ(exitCode, 4);
    EXPECT_NE(std::stoi(output), ::getpgrp());
    ASSERT_TRUE(HiddenProcess::RunForOutput("/bin/sh", {"-c", "yes"}, {}, exitCode, output, 4096));
    EXPECT_EQ(exitCode, HiddenProcess::kStopped);

    // A wrapper script that only starts the real program is skipped; any other script is run.
    const fs::path wrapper = dir / "wrapper";
    WriteFileBytes(wrapper, "#! /bin/sh\nexec /bin/true \"$@\"\n");
    EXPECT_EQ(HiddenProcess::ScriptTarget(wrapper), "/bin/true");
    WriteFileBytes(wrapper, "#!/bin/sh\nexport X=1\nexec /bin/true \"$@\"\n");
    EXPECT_EQ(HiddenProcess::ScriptTarget(wrapper), "");
    WriteFileBytes(wrapper, "#!/bin/sh\nexec /bin/true \"$@\" --more\n");
    EXPECT_EQ(HiddenProcess::ScriptTarget(wrapper), "");
    EXPECT_EQ(HiddenProcess::ScriptTarget("/bin/true"), "");
}

TEST_F(DocumentStagingTest, ReadOnlyDataFolderIsNamedAsTheCauseOfEachRefusedRequest) {
    const fs::path readOnly = dir / "read-only";
    fs::create_directories(readOnly);
    // Root writes through permission bits; a read-only mount stops everybody.
    const bool mounted =
        ::geteuid() == 0 && ::mount("qopra-test", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
    if (!mounted) {
        if (::geteuid() == 0) {
            GTEST_SKIP() << "no read-only mount possible here";
        }
        fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
    }
    DataFolder::SetPath(readOnly);
    std::string said;
    Code result = Code::Printed;
    for (bool backup : {false, true}) {
        AppSettings::Instance().backup = backup;
        PrintRequest request;
        if (DocumentStaging::CreateJobFolder(request)) {
            DocumentStaging::WriteReceivedFile(request.workingFolder / "a.7z", Base64::Encode("7z"));
        }
        testing::internal::CaptureStderr();
        result = Print("a.7z", "doc.htm", request.workingFolder);
        said += testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, Code::ReceivedFileMissing);
    }
    if (mounted) {
        ::umount2(readOnly.c_str(), MNT_DETACH);
    } else {
        fs::permissions(readOnly, fs::perms::owner_all);
    }
    const std::string cause = "qopra2: Cannot write the data folder " + readOnly.string() + ": " +
                              (mounted ? "Read-only file system" : "Permission denied") + "\n";
    ASSERT_NE(said.find(cause), std::string::npos) << said;
    EXPECT_NE(said.find(cause, said.find(cause) + 1), std::string::npos) << said;
}

TEST_F(DocumentStagingTest, TheEndOfTheServerStopsAnUnpackingAndAnswersThatThePrintFailed) {
    const fs::path source = dir / "source";
    fs::create_directories(source);
    std::ofstream(source / "zeros.htm").close();
    fs::resize_file(source / "zeros.htm", 400'000'000);
    const fs::path work = dir / "work";
    fs::create_directories(work);
    ASSERT_TRUE(printtest::MakeArchive(work / "a.7z", source, {"zeros.htm"}, {"-mx1"}));

    std::stop_source service;
    // The end comes while the archive program is writing the document.
    std::thread ending([&service, &work] {
        WaitUntil([&] { return fs::exists(work / "zeros.htm"); });
        service.request_stop();
    });
    const bool unpacked =
        DocumentStaging::ExtractArchive(work / "a.7z", work, DocumentStaging::kExtractTimeLimit,
                                        DocumentStaging::kUnpackLimit, false, service.get_token());
    ending.join();
    EXPECT_FALSE(unpacked);
    EXPECT_FALSE(fs::exists(work / "zeros.htm")) << "what was cut short is not left for printing";
    // While the end lasts, a request is answered at once as failed.
    WriteFileBytes(work / "b.pdf", printtest::MinimalPdf());
    EXPECT_EQ(Print("b.pdf", "b.pdf", work, nullptr, 1, service.get_token()), Code::PrintFailed);
    EXPECT_EQ(reason, "ended by the end of the program");
    EXPECT_NE(Log().find("[WARNING] Printing b.pdf ended by the end of the program"), std::string::npos)
        << Log();
}
