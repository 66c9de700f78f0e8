#include <gtest/gtest.h>

#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineView>

#include "app/CCommandLine.h"
#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/Housekeeping.h"
#include "app/IMessageBox.h"
#include "config/AppSettings.h"
#include "config/gui/CSettingsDlg.h"
#include "gui/SettingsWindowApplication.h"
#include "net/UDPServer.h"
#include "print/PrintJobRecord.h"
#include "support/FakeElevation.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"
#include "ui/CQopraDlg.h"
#include "ui/IPrintDialog.h"
#include "ui/MainWindowController.h"
#include "ui/MainWindowFlags.h"

namespace {

class RecordedMessages : public IMessageBox {
public:
    void Show(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

// Answers the print dialog as a person would: a printer that writes a PDF file, or Cancel.
class AnsweredPrintDialog : public IPrintDialog {
public:
    bool Ask(QPrinter& printer, QWidget*) override {
        ++asked;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(output.string()));
        return answer;
    }
    std::filesystem::path output;
    bool answer = true;
    int asked = 0;
};

std::string FreeUdpPort() {
    UDPServer probe;
    probe.Start("", "0");
    return std::to_string(probe.LocalPort());
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        windowtest::Application();
        std::filesystem::create_directories(dir / "data" / "Htm");
        WriteFileBytes(dir / "data" / "Htm" / "waiting.htm", "<html><body>waiting</body></html>");
        DataFolder::SetPath(dir / "data");
        EventLog::Global().SetFileName(dir / "qopra.log");
        port = FreeUdpPort();
        WriteFileBytes(dir / "data" / "qopra.xml",
                       "<?xml version=\"1.0\"?>\n<settings><local_port>" + port +
                           "</local_port><pad_port>2000</pad_port><lang>en-GB</lang></settings>\n");
        paths.root = dir / "root";
        paths.programFile = dir / "bin" / "qopra2";
        paths.relaunchFile = dir / "bin" / "qopra2";
        printDialog.output = dir / "printed.pdf";
        MainWindowFlags::shown = false;
    }
    void TearDown() override {
        window.reset();
        controller.reset();
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
    }

    CQopraDlg& Start() {
        controller = std::make_unique<MainWindowController>(nullptr);
        window = std::make_unique<CQopraDlg>(
            CQopraDlg::Parts{*controller, housekeeping, messages, printDialog, flags});
        window->Initialise();
        QTest::qWait(50); // the end of the start (timer 1)
        return *window;
    }

    QPushButton* Button(const char* name) const { return window->findChild<QPushButton*>(name); }

    // Shows `name` (written into the data folder) as a history document does, and waits for it.
    void ShowPage(const std::string& name, const std::string& body) {
        WriteFileBytes(dir / "data" / name, "<html><body>" + body + "</body></html>");
        PrintJobRecord record;
        record.workingFolder = (dir / "data").string();
        record.documentName = name;
        QSignalSpy loaded(&window->View(), &QWebEngineView::loadFinished);
        window->ShowDocument(record);
        ASSERT_TRUE(loaded.wait(20000));
    }

    TempDir dir;
    std::string port;
    InstallationPaths paths;
    FakeElevation elevation;
    RecordedMessages messages;
    Housekeeping housekeeping{paths, elevation, messages};
    AnsweredPrintDialog printDialog;
    StartupFlags flags;
    std::unique_ptr<MainWindowController> controller;
    std::unique_ptr<CQopraDlg> window;
};

} // namespace

TEST_F(MainWindowTest, ShownOnlyFromTheTrayAndHiddenByEscape) {
    CQopraDlg& main = Start();
    // No tray host here: the start shows the window once, so that it can be reached at all.
    QTRY_VERIFY(main.isVisible());
    EXPECT_TRUE(MainWindowFlags::shown);
    QTest::keyClick(&main, Qt::Key_Escape);
    EXPECT_FALSE(main.isVisible());
    EXPECT_FALSE(MainWindowFlags::shown);

    // An ordinary show request does nothing; OPEN does.
    main.show();
    EXPECT_FALSE(main.isVisible());
    main.Command(32771);
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(MainWindowFlags::shown);
    main.close();
    EXPECT_FALSE(main.isVisible());

    EXPECT_TRUE(Button("trace")->isHidden());
    EXPECT_TRUE(Button("exit")->isHidden());
    EXPECT_TRUE(Button("history")->isHidden());
    EXPECT_TRUE(Button("connect")->isHidden()) << "the network service started";
    EXPECT_FALSE(Button("print")->isEnabled());
    EXPECT_EQ(main.windowTitle(), "Wi-Fi print service");
    EXPECT_EQ(main.findChild<QLabel*>("version")->text(), "v. " QOPRA_VERSION);
    EXPECT_EQ(Button("settings")->text(), "Configure");
}

TEST_F(MainWindowTest, KeySequenceTypedAnywhereShowsTheTraceButton) {
    CQopraDlg& main = Start();
    QTRY_VERIFY(main.isVisible());
    main.activateWindow();
    QTest::keyClicks(&main, "5381402");
    QTest::keyClicks(&main, "9"); // a wrong digit: start over
    QTest::keyClicks(&main, "6");
    EXPECT_TRUE(Button("trace")->isHidden());
    // Typed in another window of the program, it works the same.
    main.SettingsWindow().RefreshAndShow();
    QApplication::setActiveWindow(&main.SettingsWindow());
    QWidget* typedIn = QApplication::focusWidget() != nullptr ? QApplication::focusWidget()
                                                              : static_cast<QWidget*>(&main.SettingsWindow());
    QTest::keyClicks(typedIn, "53814026");
    EXPECT_FALSE(Button("trace")->isHidden());
}

TEST_F(MainWindowTest, ZoomPrintAndTheNetworkConnectButton) {
    CQopraDlg& main = Start();
    ShowPage("first.htm", "first page");
    EXPECT_TRUE(Button("print")->isEnabled());
    EXPECT_TRUE(Button("zoomIn")->isEnabled());
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(Button("zoomIn"), Qt::LeftButton);
    }
    EXPECT_EQ(main.Zoom(), 130);
    EXPECT_DOUBLE_EQ(main.View().zoomFactor(), 1.3);
    ShowPage("second.htm", "second page");
    EXPECT_EQ(main.Zoom(), 100);
    for (int i = 0; i < 20; ++i) {
        QTest::mouseClick(Button("zoomOut"), Qt::LeftButton);
    }
    EXPECT_EQ(main.Zoom(), CQopraDlg::kMinimumZoom) << "held at what the view accepts";

    // Print asks the person and prints what the view shows; Cancel prints nothing.
    printDialog.answer = false;
    QTest::mouseClick(Button("print"), Qt::LeftButton);
    EXPECT_EQ(printDialog.asked, 1);
    EXPECT_FALSE(std::filesystem::exists(printDialog.output));
    printDialog.answer = true;
    QSignalSpy printed(&main.View(), &QWebEngineView::printFinished);
    QTest::mouseClick(Button("print"), Qt::LeftButton);
    ASSERT_TRUE(printed.wait(20000));
    EXPECT_TRUE(printed[0][0].toBool());
    EXPECT_EQ(ReadFileBytes(printDialog.output).rfind("%PDF", 0), 0u);

    // A start that fails (the port is taken) offers Connect, which starts the service again.
    UDPServer taken;
    window.reset();
    controller.reset();
    ASSERT_TRUE(taken.Start("", port));
    CQopraDlg& again = Start();
    EXPECT_FALSE(Button("connect")->isHidden());
    taken.Stop();
    QTest::mouseClick(Button("connect"), Qt::LeftButton);
    EXPECT_TRUE(Button("connect")->isHidden());
    (void)again;
}
