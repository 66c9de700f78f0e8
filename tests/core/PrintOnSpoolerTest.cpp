#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "config/AppSettings.h"
#include "core/PrintTestFiles.h"
#include "platform/Unicode.h"
#include "print/DocumentStaging.h"
#include "print/PrintContext.h"
#include "print/PrintQueueWatch.h"
#include "print/PrinterStatus.h"
#include "print/Spooler.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"
#include "ui/IMainWindowPort.h"

// These tests print on the private scheduler of the test command (tests/rig/cups-rig.sh); without
// CUPS_SERVER they are skipped.
namespace fs = std::filesystem;
using Code = PrintResult::Code;

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
// job named after the document on the record's printer, reported to the record's outcome) and, to
// make the race certain, waits until the job has ended before the watch starts.
class PrintingWindow : public IMainWindowPort {
public:
    explicit PrintingWindow(Spooler::JobState endState) : endState(endState) {}
    void PostPrintDocument(std::unique_ptr<PrintJobRecord> record) override {
        const fs::path document = fs::path(record->workingFolder) / record->documentName;
        const int jobId =
            Spooler::SubmitFile(record->printerName, document, record->documentName, record->copies);
        ended = jobId != 0 && printtest::WaitForJobState(record->printerName, jobId, endState).has_value();
        record->outcome->Report(jobId != 0, {jobId});
        documentName = record->documentName;
        ++records;
    }
    bool ShowWaitingPage(bool, std::chrono::milliseconds, std::stop_token) override { return true; }
    void PostPrintReport(PrintReport) override {}

    Spooler::JobState endState;
    bool ended = false;
    int records = 0;
    std::string documentName;
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
        AppSettings::Instance().SetPrinters({"qopra-null", "qopra-pdf", "qopra-paused", "qopra-reject",
                                             "qopra-broken", "qopra-busy", "qopra-paper", "no-such-queue"});
    }
    void TearDown() override {
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
        AppSettings::Instance().backup = false;
        AppSettings::Instance().SetPrinters({});
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
        PrintRequest request;
        EXPECT_TRUE(DocumentStaging::CreateJobFolder(request));
        EXPECT_TRUE(printtest::MakeArchive(request.workingFolder / archive, source, {document}));
        return request.workingFolder;
    }

    Code Print(const std::string& printer, const std::string& document, int copies, const fs::path& folder,
               IMainWindowPort* window = nullptr, const std::string& archive = "doc.7z",
               std::stop_token stop = {}) {
        const PrintResult result = DocumentStaging::PrintReceivedDocument(
            printtest::Request(archive, printer, document, copies, folder, 1),
            PrintContext{window, stop, nullptr});
        status = result.printerStatus;
        reason = result.reason;
        return result.code;
    }

    std::string Log() { return ReadFileBytes(dir / "qopra.log"); }

    TempDir dir;
    std::uint32_t status = 0;
    std::string reason;
    int counter = 0;
};

} // namespace

TEST_F(PrintOnSpoolerTest, PdfIsPrintedWithTheRequestedCopies) {
    const std::string document = Unique("Report", ".pdf");
    const fs::path folder = Stage(document, printtest::MinimalPdf());
    EXPECT_EQ(Print("qopra-pdf", document, 2, folder), Code::Printed);
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
    EXPECT_EQ(Print("qopra-null", "absent.pdf", 0, folder), Code::Printed);
    const auto firstJob = printtest::FindJob("qopra-null", first);
    const auto secondJob = printtest::FindJob("qopra-null", second);
    ASSERT_TRUE(firstJob && secondJob);
    // A device that sends no usable count still gets its page.
    EXPECT_EQ(firstJob->copies, 1);
    EXPECT_FALSE(printtest::FindJob("qopra-null", link));

    // An archive named after its PDF is no PDF to print.
    const std::string named = Unique("Named", ".pdf");
    const fs::path namedFolder = Stage(named, printtest::MinimalPdf(), named + ".7z");
    EXPECT_EQ(Print("qopra-null", named, 1, namedFolder, nullptr, named + ".7z"), Code::Printed);
    EXPECT_TRUE(printtest::FindJob("qopra-null", named));
    EXPECT_FALSE(printtest::FindJob("qopra-null", named + ".7z"));
}

TEST_F(PrintOnSpoolerTest, UnusablePrintersFailBeforeAnythingIsSubmitted) {
    const std::string document = Unique("Held", ".pdf");
    const fs::path folder = Stage(document, printtest::MinimalPdf());

    EXPECT_EQ(Print("qopra-paused", document, 1, folder), Code::PrintFailed);
    EXPECT_EQ(status & PrinterStatus::kPaused, PrinterStatus::kPaused);
    EXPECT_FALSE(printtest::FindJob("qopra-paused", document));
    EXPECT_NE(Log().find("PRINT_FAILED: EnumPrinters(QOPRA-PAUSED) --> jobs: "), std::string::npos);

    EXPECT_EQ(Print("qopra-reject", document, 1, folder), Code::PrintFailed);
    EXPECT_EQ(status, PrinterStatus::kNotAvailable);

    // A name the spooler does not know is told as such, not as a printer that is busy elsewhere.
    EXPECT_EQ(Print("no-such-queue", document, 1, folder), Code::PrintFailed);
    EXPECT_EQ(status, PrinterStatus::kServerUnknown);
    EXPECT_EQ(reason, "no-such-queue is not a printer here");
    EXPECT_NE(Log().find("Unable to open printer no-such-queue, error: "), std::string::npos);
}

TEST_F(PrintOnSpoolerTest, WhatTheDeviceIsToldComesTrueWhenThePrinterRunsOutOfPaper) {
    // The printer takes the job, then reports that it is out of paper and holds it: the device is told
    // that the print failed, so the job is cancelled and never prints behind its back.
    const fs::path hold = fs::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / "qopra-paper.hold";
    WriteFileBytes(hold, "");
    const std::string document = Unique("NoPaper", ".pdf");
    const Code result = Print("qopra-paper", document, 1, Stage(document, printtest::MinimalPdf()));
    fs::remove(hold);
    EXPECT_EQ(result, Code::PrintFailed) << Log();
    EXPECT_EQ(status & PrinterStatus::kPaperOut, PrinterStatus::kPaperOut);
    EXPECT_NE(reason.find("out of paper"), std::string::npos) << reason;
    const auto job = printtest::FindJob("qopra-paper", document);
    ASSERT_TRUE(job.has_value());
    EXPECT_TRUE(printtest::WaitForJobState("qopra-paper", job->id, Spooler::JobState::Canceled));
    EXPECT_NE(Log().find("Job " + std::to_string(job->id) + " cancelled: "), std::string::npos) << Log();

    // The same when the service ends while a job waits on a busy printer.
    const fs::path busy = fs::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / "qopra-busy.hold";
    WriteFileBytes(busy, "");
    const std::string queued = Unique("Ending", ".pdf");
    std::stop_source service;
    std::thread ending([&] {
        WaitUntil([&] { return printtest::FindJob("qopra-busy", queued).has_value(); });
        service.request_stop();
    });
    const Code ended = Print("qopra-busy", queued, 1, Stage(queued, printtest::MinimalPdf()), nullptr,
                             "doc.7z", service.get_token());
    ending.join();
    fs::remove(busy);
    EXPECT_EQ(ended, Code::PrintFailed);
    EXPECT_EQ(reason, "ended by the end of the program");
    const auto endedJob = printtest::FindJob("qopra-busy", queued);
    ASSERT_TRUE(endedJob.has_value());
    EXPECT_EQ(endedJob->state, static_cast<int>(Spooler::JobState::Canceled));
    EXPECT_EQ(Log().find("ALL PDF JOBS IN QUEUE"), Log().rfind("ALL PDF JOBS IN QUEUE"))
        << "no success told at the end";
}

TEST_F(PrintOnSpoolerTest, BrowserJobThatCompletedBeforeTheFirstLookCountsAsPrinted) {
    const std::string document = Unique("Page", ".htm");
    const fs::path folder = Stage(document, "<html><body>page</body></html>");
    PrintingWindow window(Spooler::JobState::Completed);
    EXPECT_EQ(Print("qopra-null", document, 1, folder, &window), Code::Printed);
    EXPECT_TRUE(window.ended);
    EXPECT_NE(Log().find("Print done with code 1"), std::string::npos);
}

TEST_F(PrintOnSpoolerTest, BrowserJobThatWasAbortedFailsTheRequest) {
    const std::string document = Unique("Broken", ".htm");
    const fs::path folder = Stage(document, "<html><body>page</body></html>");
    PrintingWindow window(Spooler::JobState::Aborted);
    EXPECT_EQ(Print("qopra-broken", document, 1, folder, &window), Code::PrintFailed);
    ASSERT_TRUE(window.ended);
    EXPECT_EQ(status, PrinterStatus::kError);
}

TEST_F(PrintOnSpoolerTest, PdfWatchEndsAtASubmittedJobThatFailed) {
    const fs::path file = dir / "x.pdf";
    WriteFileBytes(file, printtest::MinimalPdf());
    const int jobId = Spooler::SubmitFile("qopra-broken", file, Unique("x", ".pdf"), 1);
    ASSERT_NE(jobId, 0);
    ASSERT_TRUE(printtest::WaitForJobState("qopra-broken", jobId, Spooler::JobState::Aborted));
    const PrintQueueWatch::Verdict verdict = PrintQueueWatch::WatchSubmittedJobs(
        std::make_shared<Spooler>(), "qopra-broken", {jobId}, std::chrono::seconds(10), {});
    EXPECT_TRUE(verdict.asked && verdict.failed);
    EXPECT_EQ(verdict.printerStatus, PrinterStatus::kError);
    EXPECT_NE(Log().find("nCheckJobsStatusFailed: found a job with error status: 2"), std::string::npos);
}

TEST_F(PrintOnSpoolerTest, JobListHoldsCompletedJobsAndLeavesOutOlderOnes) {
    const fs::path file = dir / "x.pdf";
    WriteFileBytes(file, printtest::MinimalPdf());
    const std::string name = Unique("listed", ".pdf");
    const int jobId = Spooler::SubmitFile("qopra-null", file, name, 3);
    ASSERT_TRUE(printtest::WaitForJobState("qopra-null", jobId, Spooler::JobState::Completed));

    // Asked from its id on, a completed job is there however long the history is.
    PrinterJobsSnapshot snapshot;
    snapshot.printerName = "qopra-null";
    snapshot.firstJobId = jobId;
    ASSERT_TRUE(PrintQueueWatch::RefreshPrinterJobs(snapshot));
    EXPECT_EQ(PrintQueueWatch::FindDocumentJob(snapshot, name), PrintJobEntry::kPrinted);
    EXPECT_EQ(snapshot.jobCount, static_cast<int>(snapshot.jobs.size()));

    // Only the jobs from the first id asked for are listed; tests running beside this one may print
    // meanwhile.
    snapshot.firstJobId = jobId + 1;
    ASSERT_TRUE(PrintQueueWatch::RefreshPrinterJobs(snapshot));
    EXPECT_EQ(PrintQueueWatch::FindDocumentJob(snapshot, name), 0u);
    for (const PrintJobEntry& job : snapshot.jobs) {
        EXPECT_GT(job.jobId, jobId);
    }
    snapshot.firstJobId = jobId;
    ASSERT_TRUE(PrintQueueWatch::RefreshPrinterJobs(snapshot));
    ASSERT_FALSE(snapshot.jobs.empty());
    EXPECT_EQ(snapshot.jobs.front().jobId, jobId);
    EXPECT_EQ(snapshot.jobs.front().copies, 3);

    snapshot.printerName = "no-such-queue";
    EXPECT_FALSE(PrintQueueWatch::RefreshPrinterJobs(snapshot));
}

TEST_F(PrintOnSpoolerTest, DestinationsAreListedAndPrintingNeverWritesTheUsersDefault) {
    const auto destinations = Spooler::GetDestinations();
    ASSERT_TRUE(destinations);
    EXPECT_NE(std::find(destinations->begin(), destinations->end(), "qopra-pdf"), destinations->end());

    const std::string document = Unique("Mine", ".pdf");
    EXPECT_EQ(Print("qopra-null", document, 1, Stage(document, printtest::MinimalPdf())), Code::Printed);
    EXPECT_FALSE(fs::exists(PrivateHome().Path() / "lpoptions"));
    EXPECT_FALSE(fs::exists(PrivateHome().Path() / ".cups" / "lpoptions"));
}

TEST_F(PrintOnSpoolerTest, JobsAreJudgedByTheirEndNotByTheirStart) {
    // A printer busy with another job: ours waits in the queue and has been taken, not lost.
    const fs::path hold = fs::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / "qopra-busy.hold";
    WriteFileBytes(hold, "");
    const fs::path blocker = dir / "blocker.pdf";
    WriteFileBytes(blocker, printtest::MinimalPdf());
    const int blockerId = Spooler::SubmitFile("qopra-busy", blocker, Unique("blocker", ".pdf"), 1);
    ASSERT_TRUE(printtest::WaitForJobState("qopra-busy", blockerId, Spooler::JobState::Processing));
    const std::string queued = Unique("Queued", ".pdf");
    const Code busyResult = Print("qopra-busy", queued, 1, Stage(queued, printtest::MinimalPdf()));
    const std::optional<Spooler::JobInfo> waiting = printtest::FindJob("qopra-busy", queued);
    fs::remove(hold);
    EXPECT_EQ(busyResult, Code::Printed) << Log();
    ASSERT_TRUE(waiting);
    EXPECT_EQ(waiting->state, static_cast<int>(Spooler::JobState::Pending));
    EXPECT_TRUE(printtest::WaitForJobState("qopra-busy", waiting->id, Spooler::JobState::Completed));

    // A backend that fails every job: every request fails, however quickly the job starts.
    for (int i = 0; i < 4; ++i) {
        const std::string failing = Unique("Failing", ".pdf");
        EXPECT_EQ(Print("qopra-broken", failing, 1, Stage(failing, printtest::MinimalPdf())),
                  Code::PrintFailed)
            << i << Log();
        EXPECT_EQ(status, PrinterStatus::kError);
    }
}

TEST_F(PrintOnSpoolerTest, OwnJobsAreFoundBehindALongHistory) {
    // More finished jobs than the scheduler lists at once.
    const fs::path file = dir / "old.pdf";
    WriteFileBytes(file, printtest::MinimalPdf());
    Spooler spooler;
    int last = 0;
    for (int i = 0; i < 520; ++i) {
        last = spooler.Submit("qopra-null", file, "old", 1);
        ASSERT_NE(last, 0);
    }
    ASSERT_TRUE(printtest::WaitForJobState("qopra-null", last, Spooler::JobState::Completed));
    const std::string document = Unique("Recent", ".pdf");
    EXPECT_EQ(Print("qopra-null", document, 1, Stage(document, printtest::MinimalPdf())), Code::Printed)
        << Log();
    const std::string page = Unique("Recent", ".htm");
    PrintingWindow window(Spooler::JobState::Completed);
    EXPECT_EQ(Print("qopra-null", page, 1, Stage(page, "<p>recent</p>"), &window), Code::Printed) << Log();
}

TEST_F(PrintOnSpoolerTest, BrowserRoadChecksThePrinterFirstAndFindsTheDocumentWhateverItsCase) {
    const std::string document = Unique("Index", ".htm");
    PrintingWindow window(Spooler::JobState::Completed);
    EXPECT_EQ(Print("qopra-paused", document, 1, Stage(document, "<p>x</p>"), &window), Code::PrintFailed);
    EXPECT_EQ(status & PrinterStatus::kPaused, PrinterStatus::kPaused);
    EXPECT_EQ(window.records, 0) << "a paused queue would print the document later";

    // The archive holds "Index-....htm", the device names "index-....htm".
    const fs::path folder = Stage(document, "<p>x</p>");
    EXPECT_EQ(Print("qopra-null", AsciiLower(document), 1, folder, &window), Code::Printed) << Log();
    EXPECT_EQ(window.documentName, document) << "the page opens the file by its real name";
    EXPECT_TRUE(printtest::FindJob("qopra-null", document));
}
