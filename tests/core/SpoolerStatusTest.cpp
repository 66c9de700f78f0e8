#include <gtest/gtest.h>

#include "app/EventLog.h"
#include "print/PrintJobEntry.h"
#include "print/PrintQueueWatch.h"
#include "print/PrinterStatus.h"
#include "print/Spooler.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace {

constexpr int kIdle = 3;
constexpr int kProcessing = 4;
constexpr int kStopped = 5;

std::uint32_t StatusOf(std::vector<std::string> reasons, int state = kIdle, bool accepting = true) {
    return Spooler::PrinterStatusWord(state, reasons, accepting);
}

PrintJobEntry Job(int id, const std::string& name, std::uint32_t status) {
    PrintJobEntry entry;
    entry.jobId = id;
    entry.documentName = name;
    entry.status = status;
    entry.statusText = PrintQueueWatch::JobStatusText(status);
    return entry;
}

} // namespace

TEST(PrinterStatusWord, StatesAndAcceptingMapToTheirBits) {
    EXPECT_EQ(StatusOf({}), 0u);
    EXPECT_EQ(StatusOf({}, kProcessing), PrinterStatus::kPrinting);
    EXPECT_EQ(StatusOf({}, kStopped), PrinterStatus::kPaused);
    EXPECT_EQ(StatusOf({"paused"}, kStopped), PrinterStatus::kPaused);
    EXPECT_EQ(StatusOf({}, kIdle, false), PrinterStatus::kNotAvailable);
}

TEST(PrinterStatusWord, ErrorReasonsSetTheErrorBitBesideTheirOwn) {
    EXPECT_EQ(StatusOf({"media-jam-error"}), PrinterStatus::kError | PrinterStatus::kPaperJam);
    EXPECT_EQ(StatusOf({"media-empty-error"}), PrinterStatus::kError | PrinterStatus::kPaperOut);
    EXPECT_EQ(StatusOf({"media-needed"}), PrinterStatus::kPaperOut);
    EXPECT_EQ(StatusOf({"other-error"}), PrinterStatus::kError);
    EXPECT_EQ(StatusOf({"cover-open-error", "door-open"}), PrinterStatus::kError | PrinterStatus::kDoorOpen);
    EXPECT_EQ(StatusOf({"output-area-full"}), PrinterStatus::kOutputBinFull);
    EXPECT_EQ(StatusOf({"toner-empty-error"}), PrinterStatus::kError | PrinterStatus::kNoToner);
    EXPECT_EQ(StatusOf({"shutdown"}), PrinterStatus::kOffline);
}

TEST(PrinterStatusWord, ReportsAndWarningsOnlyKeepTonerLowAndOffline) {
    EXPECT_EQ(StatusOf({"offline-report"}), PrinterStatus::kOffline);
    EXPECT_EQ(StatusOf({"marker-supply-low-warning"}), PrinterStatus::kTonerLow);
    EXPECT_EQ(StatusOf({"toner-low-report"}), PrinterStatus::kTonerLow);
    EXPECT_EQ(StatusOf({"media-empty-warning", "cups-missing-filter-warning", "other-report"}), 0u);
    // Reaching the device is only an error when it lasts, which the watch decides.
    EXPECT_EQ(StatusOf({"connecting-to-device"}), 0u);
}

TEST(PrinterStatusErrors, MasksSeparateFailuresFromBusyStates) {
    EXPECT_TRUE(PrinterStatus::IsError(PrinterStatus::kPaused));
    EXPECT_TRUE(PrinterStatus::IsError(PrinterStatus::kNotAvailable));
    EXPECT_TRUE(PrinterStatus::IsError(PrinterStatus::kDoorOpen));
    EXPECT_TRUE(PrinterStatus::IsError(PrinterStatus::kServerUnknown));
    EXPECT_FALSE(PrinterStatus::IsError(PrinterStatus::kManualFeed));
    EXPECT_FALSE(PrinterStatus::IsError(PrinterStatus::kPrinting | PrinterStatus::kTonerLow));
}

TEST(JobStatusWord, EveryJobStateHasItsWord) {
    EXPECT_EQ(Spooler::JobStatusWord(3), PrintJobEntry::kSpooling);
    EXPECT_EQ(Spooler::JobStatusWord(4), PrintJobEntry::kPaused);
    EXPECT_EQ(Spooler::JobStatusWord(5), PrintJobEntry::kPrinting);
    EXPECT_EQ(Spooler::JobStatusWord(6), PrintJobEntry::kError);
    EXPECT_EQ(Spooler::JobStatusWord(7), PrintJobEntry::kDeleted);
    EXPECT_EQ(Spooler::JobStatusWord(8), PrintJobEntry::kError);
    EXPECT_EQ(Spooler::JobStatusWord(9), PrintJobEntry::kPrinted);
    EXPECT_EQ(Spooler::JobStatusWord(42), 0u);
}

TEST(JobStatusText, BitsInFixedOrderJoinedByDashes) {
    EXPECT_EQ(PrintQueueWatch::JobStatusText(0), "");
    EXPECT_EQ(PrintQueueWatch::JobStatusText(0x18), "Spooling - Printing");
    EXPECT_EQ(PrintQueueWatch::JobStatusText(0x81), "Paused - Printed");
    EXPECT_EQ(PrintQueueWatch::JobStatusText(0x402), "Error - Intervention Required");
    EXPECT_EQ(PrintQueueWatch::JobStatusText(0x10 | 0x3000), "Printing - Unkown");
    EXPECT_EQ(PrintQueueWatch::JobStatusText(0x8000), "Unkown");
}

class FindJobTest : public testing::Test {
protected:
    void SetUp() override { EventLog::Global().SetFileName(dir / "qopra.log"); }
    void TearDown() override { EventLog::Global().SetFileName({}); }
    std::string Log() { return ReadFileBytes(dir / "qopra.log"); }

    TempDir dir;
    PrinterJobsSnapshot snapshot;
};

TEST_F(FindJobTest, MatchesPartOfTheJobNameWhateverTheCase) {
    snapshot.jobs = {Job(1, "", PrintJobEntry::kPrinted), Job(2, "Other.htm", PrintJobEntry::kSpooling),
                     Job(3, "Copy of REPORT.htm - page", PrintJobEntry::kPrinting)};
    EXPECT_EQ(PrintQueueWatch::FindDocumentJob(snapshot, "Report.HTM"), PrintJobEntry::kPrinting);
    const std::string log = Log();
    EXPECT_NE(log.find("[report.htm] Other.htm : 8 --> Spooling \n"), std::string::npos) << log;
    EXPECT_NE(log.find("[report.htm] Status : 16 --> Printing\n"), std::string::npos) << log;
}

TEST_F(FindJobTest, NoMatchGivesZeroAndEmptyNameTakesTheFirstNamedJob) {
    snapshot.jobs = {Job(1, "a.htm", PrintJobEntry::kPrinted), Job(2, "b.htm", PrintJobEntry::kSpooling)};
    EXPECT_EQ(PrintQueueWatch::FindDocumentJob(snapshot, "c.htm"), 0u);
    EXPECT_EQ(PrintQueueWatch::FindDocumentJob(snapshot, ""), PrintJobEntry::kPrinted);
    EXPECT_EQ(PrintQueueWatch::FindDocumentJob(PrinterJobsSnapshot{}, "a.htm"), 0u);
}

TEST_F(FindJobTest, FailedJobGivesAnErrorOfItsKindAndJobsStillGoingAreNone) {
    const auto find = [&](std::uint32_t jobStatus) {
        snapshot.jobs = {Job(1, "ok", PrintJobEntry::kPrinting), Job(2, "bad", jobStatus)};
        return PrintQueueWatch::FindFailedJob(snapshot);
    };
    EXPECT_EQ(find(PrintJobEntry::kError), PrinterStatus::kError);
    EXPECT_EQ(find(PrintJobEntry::kBlockedDevice), PrinterStatus::kError);
    EXPECT_EQ(find(PrintJobEntry::kOffline), PrinterStatus::kOffline);
    EXPECT_EQ(find(PrintJobEntry::kPaperOut), PrinterStatus::kPaperOut);
    EXPECT_EQ(find(PrintJobEntry::kDeleted), PrinterStatus::kPendingDeletion);
    EXPECT_EQ(find(PrintJobEntry::kUserIntervention), PrinterStatus::kServerUnknown);
    // Every failure must fail the request.
    for (std::uint32_t bit = 1; bit != 0x1000; bit <<= 1) {
        const std::uint32_t status = PrintQueueWatch::FailedJobPrinterStatus(bit);
        EXPECT_TRUE(status == 0 || PrinterStatus::IsError(status)) << bit;
    }
    snapshot.jobs = {Job(1, "a", PrintJobEntry::kSpooling), Job(2, "b", PrintJobEntry::kPrinting),
                     Job(3, "c", PrintJobEntry::kPrinted), Job(4, "d", PrintJobEntry::kPaused)};
    EXPECT_EQ(PrintQueueWatch::FindFailedJob(snapshot), 0u);
}

TEST(PrinterStatusWords, ErrorConditionsAreToldInWords) {
    EXPECT_EQ(PrinterStatus::Describe(0), "");
    EXPECT_EQ(PrinterStatus::Describe(PrinterStatus::kPaused), "paused");
    EXPECT_EQ(PrinterStatus::Describe(PrinterStatus::kError | PrinterStatus::kPaperOut),
              "out of paper, printer error");
    EXPECT_EQ(PrinterStatus::Describe(PrinterStatus::kPrinting | PrinterStatus::kTonerLow), "");
}
