#include <gtest/gtest.h>

#include <QImage>
#include <QSignalSpy>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "archive/gui/CBrowserDlg.h"
#include "gui/SpoolerTestEnvironment.h"
#include "print/DefaultPrinter.h"
#include "support/FileBytes.h"
#include "ui/MainWindowFlags.h"

using namespace spoolertest;

namespace {

constexpr const char* kNullQueue = "qopra-null";
constexpr const char* kPdfQueue = "qopra-pdf";
// Only this test prints there, so the queue's output file is this test's.
constexpr const char* kProofQueue = "qopra-proof";
// Bounds on waiting for the browser and the spooler; a healthy run takes a fraction of this.
constexpr int kWaitMs = 120000;

// A document that never arrives: a named pipe without a writer keeps the browser reading until the
// pipe is released.
class NeverEndingDocument {
public:
    explicit NeverEndingDocument(std::filesystem::path file) : path(std::move(file)) {
        ::mkfifo(path.c_str(), 0644);
    }
    ~NeverEndingDocument() {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
        }
    }
    NeverEndingDocument(const NeverEndingDocument&) = delete;
    NeverEndingDocument& operator=(const NeverEndingDocument&) = delete;

private:
    std::filesystem::path path;
};

class BrowserPrintTest : public testing::Test {
protected:
    void SetUp() override {
        if (!HaveScheduler()) {
            GTEST_SKIP() << "CUPS_SERVER is not set: no test spooler";
        }
        Application();
        std::filesystem::create_directories(dir / "data" / "Htm");
        WriteFileBytes(dir / "data" / "Htm" / "waiting.htm", "<html><body>Please wait</body></html>");
        DataFolder::SetPath(dir / "data");
        EventLog::Global().SetFileName(dir / "qopra.log");
        MainWindowFlags::shown = false;
        MainWindowFlags::previewIsPdf = false;
        tag =
            std::to_string(::getpid()) + "-" + testing::UnitTest::GetInstance()->current_test_info()->name();
        // The default is what the user had; the page restores it after each document.
        ASSERT_TRUE(SetDefaultDestination(kPdfQueue));
        DefaultPrinter::SwitchDefaultPrinter(kNullQueue);
        ASSERT_EQ(DefaultDestination(), kNullQueue);
    }

    void TearDown() override {
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
    }

    // An HTML page showing a picture beside it, in the test's working folder.
    std::string HtmlDocument(const std::string& stem) const {
        const std::string name = stem + "-" + tag + ".htm";
        QImage picture(120, 80, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        picture.save(QString::fromStdString((dir / "picture.png").string()), "PNG");
        WriteFileBytes(dir / name, "<html><head><meta charset=\"utf-8\"></head><body><h1>Report</h1>"
                                   "<img src=\"picture.png\" width=\"120\" height=\"80\"></body></html>");
        return name;
    }

    std::unique_ptr<PrintJobRecord> Record(const std::string& printer, const std::string& document,
                                           int copies) const {
        auto record = std::make_unique<PrintJobRecord>();
        record->printerName = printer;
        record->documentName = document;
        record->copies = copies;
        record->workingFolder = dir.Path().string();
        return record;
    }

    std::string Log() const { return ReadFileBytes(dir / "qopra.log"); }

    TempDir dir;
    std::string tag;
};

TEST_F(BrowserPrintTest, HtmlPageGivesOneJobPerCopyOnTheRecordsPrinterWithItsPictureAndRestoresTheDefault) {
    // A space and a non-ASCII letter: the loaded document must still be recognised as this record's.
    const std::string document = HtmlDocument("Prüf bericht");
    const std::string single = HtmlDocument("single");
    CBrowserDlg browser(kNullQueue);
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);

    browser.PrintDocument(Record(kNullQueue, document, 2));
    browser.PrintDocument(Record(kProofQueue, single, 1));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 2; }, kWaitMs)) << Log();

    EXPECT_TRUE(done.at(0).at(0).toBool()) << Log();
    EXPECT_EQ(done.at(0).at(1).toInt(), 2);
    EXPECT_EQ(JobsNamed(kNullQueue, document).count, 2);
    EXPECT_EQ(JobsNamed(kPdfQueue, document).count, 0);
    EXPECT_EQ(DefaultDestination(), kPdfQueue);
    EXPECT_FALSE(browser.IsBusy());

    // The PDF queue writes what it printed to a file of the rig: the picture must be in it.
    ASSERT_TRUE(WaitFor([&] { return JobsNamed(kProofQueue, single).completed == 1; }, kWaitMs));
    const std::string printed = ReadFileBytes(
        std::filesystem::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / "qopra-proof.out");
    EXPECT_NE(printed.find(single.substr(0, 40)), std::string::npos) << "the output is not this job's";
    EXPECT_NE(printed.find("%PDF"), std::string::npos);
    EXPECT_NE(printed.find("/Image"), std::string::npos) << "the picture did not make it into the print";
}

TEST_F(BrowserPrintTest, PdfDocumentIsNotPrintedAndAsksForTheWaitingPageUnlessThePdfIsOnShow) {
    const std::string document = "scan-" + tag + ".Pdf";
    WriteFileBytes(dir / document, "%PDF-1.4\n%%EOF\n");
    CBrowserDlg browser(kNullQueue);
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);
    QSignalSpy waitingPage(&browser, &CBrowserDlg::waitingPageRequested);

    browser.PrintDocument(Record(kNullQueue, document, 3));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 1; }, kWaitMs));
    EXPECT_EQ(waitingPage.count(), 1);
    EXPECT_EQ(DefaultDestination(), kPdfQueue);

    MainWindowFlags::shown = true;
    MainWindowFlags::previewIsPdf = true;
    browser.PrintDocument(Record(kNullQueue, document, 1));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 2; }, kWaitMs));
    EXPECT_EQ(waitingPage.count(), 1) << "the PDF the user is looking at must stay on show";
    EXPECT_EQ(JobsNamed(kNullQueue, document).count, 0);
    EXPECT_EQ(Log().find("PrintFileOnBrowser error."), std::string::npos);
}

TEST_F(BrowserPrintTest, FailuresAreLoggedPrintNothingOnTheDefaultQueueAndStillRestoreIt) {
    const std::string document = HtmlDocument("fail");
    CBrowserDlg browser(kNullQueue);
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);

    browser.PrintDocument(Record(kNullQueue, "missing-" + tag + ".htm", 1));
    browser.PrintDocument(Record("no-such-queue", document, 1));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 2; }, kWaitMs));

    EXPECT_FALSE(done.at(0).at(0).toBool());
    EXPECT_FALSE(done.at(1).at(0).toBool());
    EXPECT_EQ(JobsNamed(kPdfQueue, document).count, 0);
    EXPECT_EQ(JobsNamed(kNullQueue, document).count, 0);
    EXPECT_EQ(DefaultDestination(), kPdfQueue);
    const std::string log = Log();
    const std::size_t first = log.find("PrintFileOnBrowser error.");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("PrintFileOnBrowser error.", first + 1), std::string::npos) << log;
}

TEST_F(BrowserPrintTest, CopiesBeyondTheLimitArePrintedUpToTheLimit) {
    const std::string document = HtmlDocument("many");
    CBrowserDlg browser(kNullQueue);
    browser.SetCopiesLimit(3);
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);
    browser.PrintDocument(Record(kNullQueue, document, 1000000));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 1; }, kWaitMs));
    EXPECT_TRUE(done.at(0).at(0).toBool());
    EXPECT_EQ(done.at(0).at(1).toInt(), 3);
    EXPECT_EQ(JobsNamed(kNullQueue, document).count, 3);
    EXPECT_NE(Log().find("[WARNING] 1000000 copies asked of " + document + ", printing 3"),
              std::string::npos);
}

TEST_F(BrowserPrintTest, DocumentThatNeverFinishesLoadingIsGivenUpAndTheQueuedOnesStillPrint) {
    const std::string hanging = "hanging-" + tag + ".htm";
    const NeverEndingDocument never(dir / hanging);
    const std::string good = HtmlDocument("after");
    CBrowserDlg browser(kNullQueue, nullptr, std::chrono::milliseconds(300));
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);
    QSignalSpy idle(&browser, &CBrowserDlg::idle);
    // Only the hanging document gets the short limit; the ones queued behind it get all the time.
    QObject::connect(&browser, &CBrowserDlg::documentDone, &browser,
                     [&browser] { browser.SetPrintTimeLimit(std::chrono::milliseconds(kWaitMs)); });

    browser.PrintDocument(Record(kNullQueue, hanging, 1));
    browser.PrintDocument(Record(kNullQueue, good, 0));
    browser.PrintDocument(Record(kNullQueue, good, 1));
    EXPECT_TRUE(browser.IsBusy());
    ASSERT_TRUE(WaitFor([&] { return idle.count() == 1; }, kWaitMs)) << Log();

    ASSERT_EQ(done.count(), 3);
    EXPECT_FALSE(done.at(0).at(0).toBool());
    EXPECT_TRUE(done.at(1).at(0).toBool()) << "no copies asked for is not a failure";
    EXPECT_EQ(done.at(1).at(1).toInt(), 0);
    EXPECT_TRUE(done.at(2).at(0).toBool()) << Log();
    EXPECT_EQ(JobsNamed(kNullQueue, hanging).count, 0);
    EXPECT_EQ(JobsNamed(kNullQueue, good).count, 1);
    EXPECT_EQ(DefaultDestination(), kPdfQueue);
    EXPECT_NE(Log().find("PrintFileOnBrowser error."), std::string::npos);
}

} // namespace
