#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "config/AppSettings.h"
#include "core/PrintTestFiles.h"
#include "print/DefaultPrinter.h"
#include "print/DocumentStaging.h"
#include "print/PrintQueueWatch.h"
#include "print/PrinterStatus.h"
#include "print/Spooler.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"
#include "ui/IMainWindowPort.h"

// These tests print on the private scheduler of the test command (tests/rig/cups-rig.sh); without
// CUPS_SERVER they are skipped.
namespace fs = std::filesystem;

namespace {

// The per-user default destination goes to lpoptions under HOME (or, for root, CUPS_SERVERROOT):
// both point into a folder of this test run before libcups reads them.
const TempDir& PrivateHome() {
    static TempDir home;
    return home;
}
const bool kPrivateHomeSet = [] {
    setenv("HOME", PrivateHome().Path().c_str(), 1);
    setenv("CUPS_SERVERROOT", PrivateHome().Path().c_str(), 1);
    return true;
}();

// Plays the main window of the browser road: prints the document like the preview window does (one
// job named after the document on the record's printer) and, to make the race certain, waits until
// the job has ended before the watch starts.
class PrintingWindow : public IMainWindowPort {
public:
    explicit PrintingWindow(Spooler::JobState endState) : endState(endState) {}
    void PostPrintDocument(std::unique_ptr<PrintJobRecord> record) override {
        const fs::path document = fs::path(record->workingFolder) / record->documentName;
        const int jobId =
            Spooler::SubmitFile(record->printerName, document, record->documentName, record->copies);
        ended = jobId != 0 && printtest::WaitForJobState(record->printerName, jobId, endState).has_value();
    }
    bool ShowWaitingPage(bool, std::chrono::milliseconds) override { return true; }

    Spooler::JobState endState;
    bool ended = false;
};

class PrintOnSpoolerTest : public testing::Test {
protected:
    void SetUp() override {
        if (!printtest::HaveScheduler()) {
            GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
        }
        ASSERT_TRUE(kPrivateHomeSet);
        DataFolder::SetPath(dir / "data");
        EventLog::Global().SetFileName(dir / "qopra.log");
        AppSettings::Instance().backup = true;
    }
    void TearDown() override {
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
        AppSettings::Instance().backup = false;
    }

    // Names unique to this run, so jobs of earlier runs never match.
    std::string Unique(const std::string& stem, const std::string& extension) {
        return stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + extension;
    }

    fs::path Stage(const std::string& document, const std::string& bytes,
                   const std::string& archive = "doc.7z") {
        const fs::path source = dir / "source";
        fs::remove_all(source);
        fs::create_directories(source);
        WriteFileBytes(source / document, bytes);
        fs::path folder;
        std::uint32_t tick = 0;
        DocumentStaging::CreateJobFolder(folder, tick);
        EXPECT_TRUE(printtest::MakeArchive(folder / archive, source, {document}));
        return folder;
    }

    int Print(const std::string& printer, const std::string& document, int copies, const fs::path& folder,
              IMainWindowPort* window = nullptr, const std::string& archive = "doc.7z") {
        status = 0;
        return DocumentStaging::PrintReceivedDocument(archive, printer, document, copies, folder, 1, window,
                                                      status);
    }

    std::string Log() { return ReadFileBytes(dir / "qopra.log"); }

    TempDir dir;
    std::uint32_t status = 0;
    int counter = 0;
};

} // namespace

TEST_F(PrintOnSpoolerTest, PdfIsPrintedWithTheRequestedCopies) {
    const std::string document = Unique("Report", ".pdf");
    const fs::path folder = Stage(document, printtest::MinimalPdf());
    EXPECT_EQ(Print("qopra-pdf", document, 2, folder), DocumentStaging::kResultPrinted);
    EXPECT_EQ(status, 0u);
    const auto job = printtest::FindJob("qopra-pdf", document);
    ASSERT_TRUE(job.has_value());
    EXPECT_EQ(job->copies, 2);
    EXPECT_TRUE(printtest::WaitForJobState("qopra-pdf", job->id, Spooler::JobState::Completed));
    const std::string log = Log();
    EXPECT_NE(log.find("EnumPrinters(QOPRA-PDF) --> jobs: "), std::string::npos) << log;
    EXPECT_NE(log.find("ALL PDF JOBS IN QUEUE, --> PRINT SUCCESS"), std::string::npos) << log;
    EXPECT_NE(log.find("Print done with code 1"), std::string::npos) << log;
}

TEST_F(PrintOnSpoolerTest, EveryPdfOfTheFolderBecomesOneJob) {
    const std::string first = Unique("a", ".pdf");
    const std::string second = Unique("b", ".PDF.bak");
    const fs::path folder = Stage(first, printtest::MinimalPdf());
    WriteFileBytes(folder / second, printtest::MinimalPdf());
    const std::string link = Unique("link", ".pdf");
    fs::create_symlink(folder / first, folder / link);
    EXPECT_EQ(Print("qopra-null", "absent.pdf", 0, folder), DocumentStaging::kResultPrinted);
    const auto firstJob = printtest::FindJob("qopra-null", first);
    const auto secondJob = printtest::FindJob("qopra-null", second);
    ASSERT_TRUE(firstJob && secondJob);
    // A device that sends no usable count still gets its page.
    EXPECT_EQ(firstJob->copies, 1);
    EXPECT_FALSE(printtest::FindJob("qopra-null", link));

    // An archive named after its PDF is no PDF to print.
    const std::string named = Unique("Named", ".pdf");
    const fs::path namedFolder = Stage(named, printtest::MinimalPdf(), named + ".7z");
    EXPECT_EQ(Print("qopra-null", named, 1, namedFolder, nullptr, named + ".7z"),
              DocumentStaging::kResultPrinted);
    EXPECT_TRUE(printtest::FindJob("qopra-null", named));
    EXPECT_FALSE(printtest::FindJob("qopra-null", named + ".7z"));
}

TEST_F(PrintOnSpoolerTest, UnusablePrintersFailBeforeAnythingIsSubmitted) {
    const std::string document = Unique("Held", ".pdf");
    const fs::path folder = Stage(document, printtest::MinimalPdf());

    EXPECT_EQ(Print("qopra-paused", document, 1, folder), DocumentStaging::kResultPrintFailed);
    EXPECT_EQ(status & PrinterStatus::kPaused, PrinterStatus::kPaused);
    EXPECT_FALSE(printtest::FindJob("qopra-paused", document));
    EXPECT_NE(Log().find("PRINT_FAILED: EnumPrinters(QOPRA-PAUSED) --> jobs: "), std::string::npos);

    EXPECT_EQ(Print("qopra-reject", document, 1, folder), DocumentStaging::kResultPrintFailed);
    EXPECT_EQ(status, PrinterStatus::kNotAvailable);

    EXPECT_EQ(Print("no-such-queue", document, 1, folder), DocumentStaging::kResultPrintFailed);
    EXPECT_EQ(status, 0u);
    EXPECT_NE(Log().find("Unable to open printer no-such-queue, error: "), std::string::npos);
}

TEST_F(PrintOnSpoolerTest, BrowserJobThatCompletedBeforeTheFirstLookCountsAsPrinted) {
    const std::string document = Unique("Page", ".htm");
    const fs::path folder = Stage(document, "<html><body>page</body></html>");
    PrintingWindow window(Spooler::JobState::Completed);
    EXPECT_EQ(Print("qopra-null", document, 1, folder, &window), DocumentStaging::kResultPrinted);
    EXPECT_TRUE(window.ended);
    EXPECT_NE(Log().find("Print done with code 1"), std::string::npos);
}

TEST_F(PrintOnSpoolerTest, BrowserJobThatWasAbortedFailsTheRequest) {
    const std::string document = Unique("Broken", ".htm");
    const fs::path folder = Stage(document, "<html><body>page</body></html>");
    PrintingWindow window(Spooler::JobState::Aborted);
    EXPECT_EQ(Print("qopra-broken", document, 1, folder, &window), DocumentStaging::kResultPrintFailed);
    ASSERT_TRUE(window.ended);
    EXPECT_EQ(status, PrinterStatus::kError);
}

TEST_F(PrintOnSpoolerTest, PdfWatchEndsAtASubmittedJobThatFailed) {
    const fs::path file = dir / "x.pdf";
    WriteFileBytes(file, printtest::MinimalPdf());
    const std::time_t since = std::time(nullptr);
    const int jobId = Spooler::SubmitFile("qopra-broken", file, Unique("x", ".pdf"), 1);
    ASSERT_NE(jobId, 0);
    ASSERT_TRUE(printtest::WaitForJobState("qopra-broken", jobId, Spooler::JobState::Aborted));
    PrinterStatus::Shared().Set(0);
    EXPECT_TRUE(
        PrintQueueWatch::WatchSubmittedJobs("qopra-broken", {jobId}, since, std::chrono::seconds(10)));
    EXPECT_EQ(PrinterStatus::Shared().Get(), PrinterStatus::kError);
    EXPECT_NE(Log().find("nCheckJobsStatusFailed: found a job with error status: 2"), std::string::npos);
}

TEST_F(PrintOnSpoolerTest, JobListHoldsCompletedJobsAndLeavesOutOlderOnes) {
    const fs::path file = dir / "x.pdf";
    WriteFileBytes(file, printtest::MinimalPdf());
    const std::string name = Unique("listed", ".pdf");
    const int jobId = Spooler::SubmitFile("qopra-null", file, name, 3);
    ASSERT_TRUE(printtest::WaitForJobState("qopra-null", jobId, Spooler::JobState::Completed));

    PrinterJobsSnapshot snapshot;
    snapshot.printerName = "qopra-null";
    ASSERT_TRUE(PrintQueueWatch::RefreshPrinterJobs(snapshot));
    EXPECT_EQ(PrintQueueWatch::FindDocumentJob(snapshot, name), PrintJobEntry::kPrinted);
    EXPECT_EQ(snapshot.jobCount, static_cast<int>(snapshot.jobs.size()));

    // The clock cannot part jobs of one second; the last id known before the request can.
    const int lastJobId = PrintQueueWatch::LastJobId("qopra-null", 0);
    EXPECT_GE(lastJobId, jobId);
    snapshot.afterJobId = lastJobId;
    ASSERT_TRUE(PrintQueueWatch::RefreshPrinterJobs(snapshot));
    EXPECT_EQ(PrintQueueWatch::FindDocumentJob(snapshot, name), 0u);
    // Tests running beside this one may print meanwhile: only newer jobs may be listed.
    for (const PrintJobEntry& job : snapshot.jobs) {
        EXPECT_GT(job.jobId, lastJobId);
    }

    snapshot.afterJobId = 0;
    snapshot.since = std::time(nullptr) + 3600;
    ASSERT_TRUE(PrintQueueWatch::RefreshPrinterJobs(snapshot));
    EXPECT_TRUE(snapshot.jobs.empty());
    EXPECT_EQ(PrintQueueWatch::LastJobId("qopra-null", snapshot.since), 0);

    snapshot.printerName = "no-such-queue";
    EXPECT_FALSE(PrintQueueWatch::RefreshPrinterJobs(snapshot));
}

TEST_F(PrintOnSpoolerTest, DefaultDestinationIsSwitchedAndRestored) {
    const auto destinations = Spooler::GetDestinations();
    ASSERT_TRUE(destinations);
    EXPECT_NE(std::find(destinations->begin(), destinations->end(), "qopra-pdf"), destinations->end());

    ASSERT_TRUE(Spooler::SetDefaultDestination("qopra-pdf"));
    EXPECT_EQ(DefaultPrinter::SwitchDefaultPrinter("qopra-null"), 1);
    EXPECT_EQ(Spooler::GetDefaultDestination(), "qopra-null");
    EXPECT_EQ(DefaultPrinter::RestoreDefaultPrinter(), 1);
    EXPECT_EQ(Spooler::GetDefaultDestination(), "qopra-pdf");

    EXPECT_EQ(DefaultPrinter::SwitchDefaultPrinter("no-such-queue"), 0);
    EXPECT_EQ(Spooler::GetDefaultDestination(), "qopra-pdf");
    DefaultPrinter::RestoreDefaultPrinter();

    // Records for two printers overlap: the user's own default comes back after the last one.
    EXPECT_EQ(DefaultPrinter::SwitchDefaultPrinter("qopra-null"), 1);
    EXPECT_EQ(DefaultPrinter::SwitchDefaultPrinter("qopra-paused"), 1);
    DefaultPrinter::RestoreDefaultPrinter();
    EXPECT_EQ(Spooler::GetDefaultDestination(), "qopra-paused");
    DefaultPrinter::RestoreDefaultPrinter();
    EXPECT_EQ(Spooler::GetDefaultDestination(), "qopra-pdf");
    const std::string log = Log();
    EXPECT_NE(log.find("Gettig default printer : qopra-pdf\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[1] Settig default printer to qopra-null \n"), std::string::npos) << log;
    EXPECT_NE(log.find("[1] Restoring default printer to qopra-pdf \n"), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(PrivateHome().Path() / "lpoptions") ||
                fs::exists(PrivateHome().Path() / ".cups" / "lpoptions"));

    ASSERT_TRUE(Spooler::SetDefaultDestination(""));
    EXPECT_EQ(Spooler::GetDefaultDestination(), "");
}
