#include <gtest/gtest.h>

#include <QPointer>
#include <QSignalSpy>
#include <QThread>
#include <thread>
#include <unistd.h>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "archive/PrintedDocuments.h"
#include "archive/gui/CBrowserDlg.h"
#include "config/AppSettings.h"
#include "gui/SpoolerTestEnvironment.h"
#include "platform/Unicode.h"
#include "print/PrintReport.h"
#include "support/FileBytes.h"
#include "ui/MainWindowController.h"
#include "ui/MainWindowFlags.h"

using namespace spoolertest;

namespace {

constexpr const char* kNullQueue = "qopra-null";
constexpr const char* kPdfQueue = "qopra-pdf";
constexpr int kWaitMs = 120000;

class MainWindowControllerTest : public testing::Test {
protected:
    void SetUp() override {
        if (!HaveScheduler()) {
            GTEST_SKIP() << "CUPS_SERVER is not set: no test spooler";
        }
        Application();
        std::filesystem::create_directories(dir / "data" / "Htm");
        DataFolder::SetPath(dir / "data");
        EventLog::Global().SetFileName(dir / "qopra.log");
        AppSettings::Instance().backup = false;
        MainWindowFlags::shown = false;
        tag =
            std::to_string(::getpid()) + "-" + testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(SetDefaultDestination(kPdfQueue));

        controller = std::make_unique<MainWindowController>(nullptr);
        QObject::connect(controller.get(), &MainWindowController::historyEntryAdded, controller.get(),
                         [this](const PrintJobRecord& record) { history.push_back(record); });
    }

    void TearDown() override {
        controller.reset();
        AppSettings::Instance().backup = false;
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
    }

    std::unique_ptr<PrintJobRecord> Record(const std::string& printer, const std::string& stem, int copies,
                                           std::uint32_t id) const {
        auto record = std::make_unique<PrintJobRecord>();
        record->printerName = printer;
        record->documentName = stem + "-" + tag + ".htm";
        record->receivedFileName = record->documentName + ".7z";
        record->copies = copies;
        record->workingFolder = dir.Path().string();
        record->id = id;
        WriteFileBytes(dir / record->documentName, "<html><body>" + stem + "</body></html>");
        return record;
    }

    bool WaitUntilIdle() const {
        return WaitFor([&] { return !controller->PreviewPage()->IsBusy(); }, kWaitMs);
    }

    TempDir dir;
    std::string tag;
    std::unique_ptr<MainWindowController> controller;
    std::vector<PrintJobRecord> history;
};

TEST_F(MainWindowControllerTest, OnePreviewPagePrintsEveryRecordOnItsOwnPrinter) {
    controller->HandlePrintDocument(Record(kNullQueue, "first", 1, 1));
    const QPointer<CBrowserDlg> page = controller->PreviewPage();
    ASSERT_FALSE(page.isNull());
    controller->HandlePrintDocument(Record(kPdfQueue, "second", 1, 2));
    controller->HandlePrintDocument(Record(kNullQueue, "third", 2, 3));
    EXPECT_EQ(controller->PreviewPage(), page.data()) << "no new page (and renderer) per printer";

    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(JobsNamed(kNullQueue, "first-" + tag + ".htm").count, 1);
    EXPECT_EQ(JobsNamed(kPdfQueue, "second-" + tag + ".htm").count, 1);
    EXPECT_EQ(JobsNamed(kNullQueue, "third-" + tag + ".htm").copies, 2);
    EXPECT_EQ(JobsNamed(kPdfQueue, "first-" + tag + ".htm").count, 0);
}

TEST_F(MainWindowControllerTest, EveryPrintedDocumentIsShownAndWithBackupRegisteredButNoFailedOne) {
    QSignalSpy navigated(controller.get(), &MainWindowController::navigateRequested);
    QSignalSpy reported(controller.get(), &MainWindowController::printReported);
    const auto report = [&](const std::string& document, std::uint32_t id, PrintResult result, bool kept) {
        WriteFileBytes(dir / document, "x");
        PrintReport printed;
        printed.device = "127.0.0.2";
        printed.receivedFileName = document + ".7z";
        // The device's letter case; the file's own is shown and registered.
        printed.documentName = AsciiUpper(document);
        printed.printer = kNullQueue;
        printed.workingFolder = dir.Path().string();
        printed.registerId = id;
        printed.kept = kept;
        printed.result = std::move(result);
        controller->HandlePrintReport(printed);
    };
    report("plain-" + tag + ".pdf", 10, PrintResult::Printed(), false);
    EXPECT_TRUE(history.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "data" / "printed.xml"));
    ASSERT_EQ(navigated.count(), 1) << "a PDF is shown once it printed";
    EXPECT_EQ(navigated.at(0).at(0).toString().toStdString(), (dir / ("plain-" + tag + ".pdf")).string());
    EXPECT_EQ(controller->CurrentDocument(), (dir / ("plain-" + tag + ".pdf")).string());

    AppSettings::Instance().backup = true;
    report("kept-" + tag + ".pdf", 0x80000001u, PrintResult::Printed(), true);
    report("refused-" + tag + ".docx", 12,
           PrintResult::PrintFailed("refused.docx is of a type that cannot be printed here"), true);
    EXPECT_EQ(reported.count(), 3);
    EXPECT_EQ(navigated.count(), 2) << "a document that did not print is not shown";
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].id, 0x80000001u);
    std::vector<PrintJobRecord> registered;
    ASSERT_TRUE(controller->Register().Flush());
    PrintedDocuments(dir / "data" / "printed.xml")
        .LoadPrintedDocuments([&](std::unique_ptr<PrintJobRecord> record) { registered.push_back(*record); });
    ASSERT_EQ(registered.size(), 1u);
    EXPECT_EQ(registered[0].id, 0x80000001u);
    EXPECT_EQ(registered[0].documentName, "kept-" + tag + ".pdf");
}

TEST_F(MainWindowControllerTest, WorkersReachTheGuiThreadAndNeverWaitLongerThanTheirLimit) {
    QThread* handledOn = nullptr;
    QObject::connect(controller.get(), &MainWindowController::printJobReceived, controller.get(),
                     [&] { handledOn = QThread::currentThread(); });
    QSignalSpy waiting(controller.get(), &MainWindowController::waitingPageRequested);

    bool shown = false;
    std::thread worker([&] {
        controller->PostPrintDocument(nullptr);
        controller->PostPrintDocument(Record(kNullQueue, "worker", 0, 30));
        shown = controller->ShowWaitingPage(true, std::chrono::milliseconds(kWaitMs), {});
    });
    ASSERT_TRUE(WaitFor([&] { return waiting.count() == 1 && handledOn != nullptr; }, kWaitMs));
    worker.join();
    EXPECT_TRUE(shown);
    EXPECT_EQ(handledOn, QThread::currentThread());
    EXPECT_TRUE(waiting.at(0).at(0).toBool());

    // Here the GUI thread is busy joining the worker: the worker gives up after its limit, and the
    // late request is still carried out safely afterwards.
    bool late = true;
    std::thread blocked(
        [&] { late = controller->ShowWaitingPage(true, std::chrono::milliseconds(200), {}); });
    blocked.join();
    EXPECT_FALSE(late);
    ASSERT_TRUE(WaitFor([&] { return waiting.count() == 2; }, kWaitMs));
    ASSERT_TRUE(WaitUntilIdle());
}

TEST_F(MainWindowControllerTest, PrintingLeavesTheUsersDefaultPrinterAsItIs) {
    // A user with a default of their own keeps it, while records for other printers print.
    controller->HandlePrintDocument(Record(kNullQueue, "own-default", 1, 40));
    EXPECT_EQ(DefaultDestination(), kPdfQueue);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(DefaultDestination(), kPdfQueue);
    EXPECT_EQ(JobsNamed(kNullQueue, "own-default-" + tag + ".htm").count, 1);

    // A user without one of their own is not given one.
    std::filesystem::remove(UserOptionsFile());
    controller->HandlePrintDocument(Record(kNullQueue, "no-default", 1, 41));
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_FALSE(std::filesystem::exists(UserOptionsFile()));
    EXPECT_NE(
        ReadFileBytes(dir / "qopra.log")
            .find("Printing no-default-" + tag + ".htm on qopra-null, the default printer is left as it is"),
        std::string::npos);
}

} // namespace
