#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "config/AppSettings.h"
#include "core/PrintTestFiles.h"
#include "print/DefaultPrinter.h"
#include "print/DocumentStaging.h"
#include "print/HiddenProcess.h"
#include "print/PrinterStatus.h"
#include "print/Spooler.h"
#include "protocol/Base64.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"
#include "ui/IMainWindowPort.h"
#include "ui/MainWindowFlags.h"

namespace fs = std::filesystem;

namespace {

class RecordingWindow : public IMainWindowPort {
public:
    void PostPrintDocument(std::unique_ptr<PrintJobRecord> record) override {
        records.push_back(std::move(record));
    }
    bool ShowWaitingPage(bool refresh, std::chrono::milliseconds timeout) override {
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
        AppSettings::Instance().backup = false;
        MainWindowFlags::shown = false;
        MainWindowFlags::previewIsPdf = false;
    }
    void TearDown() override {
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
        AppSettings::Instance().backup = false;
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
        fs::path folder;
        std::uint32_t tick = 0;
        DocumentStaging::CreateJobFolder(folder, tick);
        EXPECT_TRUE(DocumentStaging::CreateFolderTree(folder));
        EXPECT_TRUE(printtest::MakeArchive(folder / archiveName, source, names, switches));
        return folder;
    }

    int Print(const std::string& received, const std::string& document, const fs::path& folder,
              IMainWindowPort* window = nullptr) {
        status = 0;
        return DocumentStaging::PrintReceivedDocument(received, "qopra-null", document, 1, folder, 7, window,
                                                      status);
    }

    std::string Log() { return ReadFileBytes(dir / "qopra.log"); }

    TempDir dir;
    fs::path data;
    std::uint32_t status = 0;
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

TEST_F(DocumentStagingTest, BackupFoldersAreUniqueEvenWithinOneMillisecond) {
    AppSettings::Instance().backup = true;
    std::set<fs::path> folders;
    constexpr int kRequests = 50;
    for (int i = 0; i < kRequests; ++i) {
        fs::path folder;
        std::uint32_t tick = 0;
        DocumentStaging::CreateJobFolder(folder, tick);
        ASSERT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(folder.parent_path(), data);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", tick);
        EXPECT_EQ(folder.filename().string().rfind(hex, 0), 0u) << folder;
        folders.insert(folder);
    }
    EXPECT_EQ(folders.size(), static_cast<std::size_t>(kRequests));
}

TEST_F(DocumentStagingTest, SingleFolderIsEmptiedForTheNextRequest) {
    fs::path first;
    std::uint32_t tick = 99;
    DocumentStaging::CreateJobFolder(first, tick);
    EXPECT_EQ(first, data / "pf");
    EXPECT_EQ(tick, 99u);
    ASSERT_TRUE(DocumentStaging::CreateFolderTree(first));
    WriteFileBytes(first / "old.pdf", "old");

    fs::path second;
    DocumentStaging::CreateJobFolder(second, tick);
    EXPECT_EQ(second, first);
    EXPECT_FALSE(fs::exists(first / "old.pdf"));
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
        EXPECT_EQ(Print(bad, "doc.htm", folder), DocumentStaging::kResultReceivedFileMissing) << bad;
    }
    EXPECT_EQ(Print("a.7z", "doc.htm", fs::path()), DocumentStaging::kResultReceivedFileMissing);

    const std::string savedPath = std::getenv("PATH");
    setenv("PATH", (dir / "empty-bin").c_str(), 1);
    const int result = Print("a.7z", "doc.htm", folder);
    setenv("PATH", savedPath.c_str(), 1);
    EXPECT_EQ(result, DocumentStaging::kResultDecompressFailed);
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
    EXPECT_EQ(Print("a.7z", "missing.htm", folder, &window), DocumentStaging::kResultDocumentMissing);
    EXPECT_EQ(Print("a.7z", "../doc.htm", folder, &window), DocumentStaging::kResultDocumentMissing);

    const fs::path outside = dir / "outside.htm";
    WriteFileBytes(outside, "secret");
    fs::create_directories(dir / "links");
    fs::create_symlink(outside, dir / "links" / "doc.htm");
    folder = StageArchive("b.7z", {});
    ASSERT_TRUE(printtest::MakeArchive(folder / "b.7z", dir / "links", {"doc.htm"}, {"-snl"}));
    EXPECT_EQ(Print("b.7z", "doc.htm", folder, &window), DocumentStaging::kResultDocumentMissing);
    EXPECT_TRUE(window.records.empty());
}

TEST_F(DocumentStagingTest, EncryptedArchiveFailsAtOnceInsteadOfAskingForAPassword) {
    const fs::path folder = StageArchive("secret.7z", {{"doc.htm", "x"}}, {"-pSecret", "-mhe=on"});
    EXPECT_EQ(Print("secret.7z", "doc.htm", folder), DocumentStaging::kResultDocumentMissing);
}

TEST_F(DocumentStagingTest, BrowserRoadPostsTheRecordAndFailsCleanlyWithoutScheduler) {
    RecordingWindow window;
    MainWindowFlags::shown = true;
    MainWindowFlags::previewIsPdf = true;
    const fs::path folder = StageArchive("a.7z", {{"Page.htm", "<p>x</p>"}});
    status = 0;
    const int result = DocumentStaging::PrintReceivedDocument("a.7z", "qopra-null", "Page.htm", 3, folder,
                                                              0x1234, &window, status);
    EXPECT_EQ(result, DocumentStaging::kResultPrintFailed);
    EXPECT_EQ(status, 0u);
    ASSERT_EQ(window.waitingPages.size(), 1u);
    EXPECT_TRUE(window.waitingPages[0].first);
    EXPECT_EQ(window.waitingPages[0].second, std::chrono::milliseconds(5000));
    ASSERT_EQ(window.records.size(), 1u);
    const PrintJobRecord& record = *window.records[0];
    EXPECT_EQ(record.printerName, "qopra-null");
    EXPECT_EQ(record.receivedFileName, "a.7z");
    EXPECT_EQ(record.documentName, "Page.htm");
    EXPECT_EQ(record.copies, 3);
    EXPECT_EQ(record.workingFolder, folder.string());
    EXPECT_EQ(record.id, 0x1234u);
    EXPECT_EQ(record.date.size(), std::string("08.12.2026 00:00:00").size());
    EXPECT_NE(Log().find("Unable to open printer qopra-null"), std::string::npos);
}

TEST_F(DocumentStagingTest, PdfRoadFailsCleanlyWithoutScheduler) {
    const fs::path folder = StageArchive("a.7z", {{"Doc.PDF", printtest::MinimalPdf()}});
    EXPECT_EQ(Print("a.7z", "doc.pdf", folder), DocumentStaging::kResultPrintFailed);
    EXPECT_NE(Log().find("Unable to open printer qopra-null, error: "), std::string::npos);
}

TEST_F(DocumentStagingTest, SpoolerCallsFailCleanlyWithoutScheduler) {
    WriteFileBytes(dir / "a.pdf", printtest::MinimalPdf());
    EXPECT_EQ(Spooler::SubmitFile("qopra-null", dir / "a.pdf", "a.pdf", 1), 0);
    EXPECT_FALSE(Spooler::GetPrinter("qopra-null"));
    EXPECT_FALSE(Spooler::GetJobs("qopra-null", 0));
    EXPECT_FALSE(Spooler::GetDefaultDestination());
    EXPECT_FALSE(Spooler::SetDefaultDestination("qopra-null"));
    EXPECT_EQ(DefaultPrinter::SwitchDefaultPrinter("qopra-null"), 0);
    EXPECT_NE(Log().find("Gettig default printer failed: "), std::string::npos);
}
