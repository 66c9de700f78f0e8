#include <gtest/gtest.h>

#include <QBuffer>
#include <QLabel>
#include <QLineEdit>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <algorithm>
#include <arpa/inet.h>
#include <functional>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "app/CCommandLine.h"
#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/Housekeeping.h"
#include "app/IMessageBox.h"
#include "app/gui/CTraceDlg.h"
#include "app/gui/TraceWindowSink.h"
#include "archive/gui/CHistoryDlg.h"
#include "config/AppSettings.h"
#include "config/gui/CSettingsDlg.h"
#include "core/PrintTestFiles.h"
#include "gui/SettingsWindowApplication.h"
#include "net/UDPServer.h"
#include "print/PrintJobRecord.h"
#include "removable/DocumentFolders.h"
#include "removable/gui/DlgUSBPrints.h"
#include "support/ChildProcess.h"
#include "support/DriveDocuments.h"
#include "support/FakeElevation.h"
#include "support/FileBytes.h"
#include "support/LogLines.h"
#include "support/MountedVolume.h"
#include "support/RenderedPages.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"
#include "ui/CQopraDlg.h"
#include "ui/IPrintDialog.h"
#include "ui/MainWindowController.h"
#include "ui/MainWindowFlags.h"
#include "ui/ServiceStateView.h"

namespace fs = std::filesystem;

namespace {

// Answers the print dialog as a person would: a queue, a printer that writes a PDF file, or Cancel.
class AnsweredPrintDialog : public IPrintDialog {
public:
    bool Ask(QPrinter& printer, QWidget*) override {
        ++asked;
        if (!queue.empty()) {
            printer.setPrinterName(QString::fromStdString(queue));
            return answer;
        }
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(output.string()));
        return answer;
    }
    std::string queue;
    std::filesystem::path output;
    bool answer = true;
    int asked = 0;
};

std::uint16_t FreeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

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
        padPort = FreeTcpPort();
        WriteFileBytes(dir / "data" / "qopra.xml", "<?xml version=\"1.0\"?>\n<settings><local_port>" + port +
                                                       "</local_port><pad_port>" + std::to_string(padPort) +
                                                       "</pad_port><lang>en-GB</lang></settings>\n");
        paths.root = dir / "root";
        paths.programFile = dir / "bin" / "qopra2";
        paths.relaunchFile = dir / "bin" / "qopra2";
        printDialog.output = dir / "printed.pdf";
        MainWindowFlags::shown = false;
        // Volumes count as pen drives below the test's own media folder only.
        volumes.sysfsRoot = dir / "sys";
        volumes.mediaRoots = {dir / "media"};
    }
    void TearDown() override {
        window.reset();
        controller.reset();
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
    }

    CQopraDlg& Start() {
        controller = std::make_unique<MainWindowController>(nullptr);
        window = std::make_unique<CQopraDlg>(CQopraDlg::Parts{
            *controller, housekeeping, messages, printDialog, question, flags, nullptr, volumes});
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
    std::uint16_t padPort = 0;
    InstallationPaths paths;
    FakeElevation elevation;
    RecordedMessages messages;
    Housekeeping housekeeping{paths, elevation, messages};
    AnsweredPrintDialog printDialog;
    AnsweredQuestion question;
    StartupFlags flags;
    VolumeSources volumes;
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
    EXPECT_EQ(Button("settings")->text(), "&Configure");
}

TEST_F(MainWindowTest, EscFromInsideTheViewAndAHistoryPreviewWhileHiddenBringsTheWindowWithTheDocument) {
    CQopraDlg& main = Start();
    QTRY_VERIFY(main.isVisible());
    ShowPage("page.htm", "<p>a page to click into</p>");
    // A click into the page gives the view the keyboard; Esc still hides the window.
    QWidget* page = main.View().focusProxy() != nullptr ? main.View().focusProxy() : &main.View();
    QTest::mouseClick(page, Qt::LeftButton, {}, page->rect().center());
    page->setFocus();
    QWidget* focused = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : page;
    ASSERT_EQ(focused->window(), &main);
    QTest::keyClick(focused, Qt::Key_Escape);
    EXPECT_FALSE(main.isVisible());
    EXPECT_FALSE(MainWindowFlags::shown);

    // The history's Preview, the main window hidden: it comes up with the kept document.
    WriteFileBytes(dir / "data" / "kept.htm", "<html><body>kept</body></html>");
    PrintJobRecord record;
    record.workingFolder = (dir / "data").string();
    record.documentName = "kept.htm";
    record.id = 9;
    main.HistoryWindow().AddHistoryEntry(record);
    main.Command(32776);
    auto* list = main.HistoryWindow().findChild<QTableWidget*>("historyList");
    list->selectRow(0);
    QSignalSpy loaded(&main.View(), &QWebEngineView::loadFinished);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(MainWindowFlags::shown);
    ASSERT_TRUE(loaded.wait(20000));
    EXPECT_EQ(main.View().url(),
              QUrl::fromLocalFile(QString::fromStdString((dir / "data" / "kept.htm").string())));

    // The history's Delete asks first, through the program's question.
    question.answer = false;
    list->selectRow(0);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(question.texts.size(), 1u);
    EXPECT_EQ(main.HistoryWindow().RowCount(), 1);
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
    QSignalSpy printed(&main, &CQopraDlg::documentPrinted);
    QTest::mouseClick(Button("print"), Qt::LeftButton);
    ASSERT_TRUE(printed.count() > 0 || printed.wait(20000));
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

TEST_F(MainWindowTest, PrintInTheWindowPrintsAPictureAsThePictureAndNamesTheJobAfterTheDocument) {
    if (std::getenv("CUPS_SERVER") == nullptr) {
        GTEST_SKIP() << "no test spooler";
    }
    CQopraDlg& main = Start();
    // A landscape photo: red with a blue block in the middle.
    QImage photo(600, 400, QImage::Format_RGB32);
    photo.fill(QColor(0xe0, 0x30, 0x10));
    QPainter(&photo).fillRect(150, 100, 300, 200, QColor(0x20, 0x40, 0xe0));
    ASSERT_TRUE(photo.save(QString::fromStdString((dir / "data" / "holiday.jpg").string()), "JPEG"));
    PrintJobRecord record;
    record.workingFolder = (dir / "data").string();
    record.documentName = "holiday.jpg";
    QSignalSpy loaded(&main.View(), &QWebEngineView::loadFinished);
    main.ShowDocument(record);
    ASSERT_TRUE(loaded.wait(20000));

    QSignalSpy printed(&main, &CQopraDlg::documentPrinted);
    QTest::mouseClick(Button("print"), Qt::LeftButton);
    ASSERT_TRUE(printed.count() > 0 || printed.wait(20000));
    EXPECT_TRUE(printed[0][0].toBool());
    const std::vector<RenderedPage> pages = RenderPdf(printDialog.output);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(pages[0].Landscape()) << "the page is turned to the picture";
    const double red = pages[0].Share([](int r, int g, int b) { return r > 180 && g < 110 && b < 90; });
    const double blue = pages[0].Share([](int r, int g, int b) { return b > 170 && r < 110 && g < 130; });
    EXPECT_GT(red + blue, 0.6) << "the picture fills the page";
    EXPECT_GT(blue, 0.1);
    EXPECT_LT(pages[0].Share([](int r, int g, int b) { return r < 50 && g < 50 && b < 50; }), 0.05);

    // Printed on a queue, the job is named after the document, as the prints of devices are.
    const std::string name = "reprint-" + std::to_string(::getpid()) + ".htm";
    ShowPage(name, "reprinted");
    printDialog.queue = "qopra-null";
    QTest::mouseClick(Button("print"), Qt::LeftButton);
    ASSERT_TRUE(printed.count() > 1 || printed.wait(20000));
    EXPECT_TRUE(WaitUntil([&] { return printtest::FindJob("qopra-null", name).has_value(); }));
}

TEST_F(MainWindowTest, TraceAndHistoryWindowsAndThePlacementOfTheMainWindow) {
    TraceWindowSink traceSink;
    controller = std::make_unique<MainWindowController>(&traceSink);
    window = std::make_unique<CQopraDlg>(CQopraDlg::Parts{*controller, housekeeping, messages, printDialog,
                                                          question, flags, &traceSink, volumes});
    window->Initialise();
    CQopraDlg& main = *window;
    QTRY_VERIFY(main.isVisible());

    // Lines traced by another thread while the trace window is hidden are there when it opens.
    std::thread([&traceSink] {
        for (int i = 0; i < 5; ++i) {
            traceSink.TraceLine("12:00:0" + std::to_string(i) + " > line " + std::to_string(i));
        }
    }).join();
    QTest::keyClicks(&main, "53814026");
    QTest::mouseClick(Button("trace"), Qt::LeftButton);
    EXPECT_TRUE(main.TraceWindow().isVisible());
    QTRY_VERIFY(main.TraceWindow().Text().contains("12:00:04 > line 4"));

    // A history row previewed shows its kept document in the main window's view.
    WriteFileBytes(dir / "data" / "kept.htm", "<html><body>kept</body></html>");
    PrintJobRecord record;
    record.workingFolder = (dir / "data").string();
    record.documentName = "kept.htm";
    record.printerName = "qopra-null";
    record.date = "08.12.2026 10:00:00";
    record.id = 7;
    main.HistoryWindow().AddHistoryEntry(record);
    main.Command(32776);
    EXPECT_TRUE(main.HistoryWindow().isVisible());
    auto* list = main.HistoryWindow().findChild<QTableWidget*>("historyList");
    ASSERT_EQ(list->rowCount(), 1);
    list->selectRow(0);
    QSignalSpy loaded(&main.View(), &QWebEngineView::loadFinished);
    QTest::mouseClick(main.HistoryWindow().findChild<QPushButton*>("previewButton"), Qt::LeftButton);
    ASSERT_TRUE(loaded.wait(20000));
    EXPECT_EQ(main.View().url(),
              QUrl::fromLocalFile(QString::fromStdString((dir / "data" / "kept.htm").string())));

    // The main window's placement is kept for the next start.
    main.move(140, 90);
    main.resize(700, 500);
    const QRect placed = main.geometry();
    main.HideToTray();
    window.reset();
    controller.reset();
    CQopraDlg& again = Start();
    again.HideToTray();
    EXPECT_EQ(again.geometry(), placed);
}

// A document from the network or a pen drive names a file of the user's in a frame: whichever way it
// reaches the view, the file is neither shown nor printed; the document's own files and the waiting
// page still show.
TEST_F(MainWindowTest, TheViewShowsNothingOutsideTheFolderOfTheDocumentShown) {
    CQopraDlg& main = Start();
    const std::filesystem::path secret = dir / "home" / "contract.htm";
    std::filesystem::create_directories(secret.parent_path());
    WriteFileBytes(secret, "<html><body>SECRET-TEXT</body></html>");
    // What the view shows, as its Print button would put it on paper.
    const auto shownText = [&]() -> std::string {
        std::optional<QByteArray> pdf;
        main.View().page()->printToPdf([&](const QByteArray& bytes) { pdf = bytes; },
                                       QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, {}));
        if (!QTest::qWaitFor([&] { return pdf.has_value(); }, 20000)) {
            return "(nothing rendered)";
        }
        QBuffer buffer(&*pdf);
        buffer.open(QIODevice::ReadOnly);
        QPdfDocument document;
        document.load(&buffer);
        QString text;
        for (int page = 0; page < document.pageCount(); ++page) {
            text += document.getAllText(page).text();
        }
        return text.toStdString();
    };
    const auto hostile = [&](const std::filesystem::path& folder) {
        std::filesystem::create_directories(folder);
        WriteFileBytes(folder / "own.htm", "<html><body>OWN-TEXT</body></html>");
        WriteFileBytes(folder / "page.htm",
                       "<html><body><h1>PAGE-TEXT</h1><iframe src=\"own.htm\"></iframe>"
                       "<iframe src=\"file://" +
                           secret.string() +
                           "\"></iframe><iframe src=\"../../home/contract.htm\"></iframe>"
                           "</body></html>");
        return folder / "page.htm";
    };
    const std::filesystem::path network = hostile(dir / "data" / "pf");
    const std::filesystem::path kept = hostile(dir / "data" / "1a2b3c");
    const std::filesystem::path drive = hostile(dir / "media" / "STICK" / "Ferrulo" / "DOC1");
    const std::vector<std::pair<const char*, std::function<void()>>> roads = {
        {"network document", [&] { emit controller->navigateRequested(QString::fromStdString(network)); }},
        {"history preview",
         [&] {
             PrintJobRecord record;
             record.workingFolder = kept.parent_path().string();
             record.documentName = "page.htm";
             main.ShowDocument(record);
         }},
        {"pen-drive preview", [&] { main.PreviewPenDriveDocument(QString::fromStdString(drive)); }},
    };
    for (const auto& [road, show] : roads) {
        QSignalSpy loaded(&main.View(), &QWebEngineView::loadFinished);
        show();
        ASSERT_TRUE(loaded.wait(20000)) << road;
        const std::string text = shownText();
        EXPECT_NE(text.find("PAGE-TEXT"), std::string::npos) << road << ": " << text;
        EXPECT_NE(text.find("OWN-TEXT"), std::string::npos) << road << ": its own folder loads: " << text;
        EXPECT_EQ(text.find("SECRET-TEXT"), std::string::npos) << road << ": " << text;
    }
    const std::string log = ReadFileBytes(dir / "qopra.log");
    EXPECT_NE(log.find("[WARNING] Refused file://" + secret.string()), std::string::npos) << log;

    QSignalSpy loaded(&main.View(), &QWebEngineView::loadFinished);
    emit controller->waitingPageRequested(false);
    ASSERT_TRUE(loaded.wait(20000));
    EXPECT_TRUE(loaded.at(0).at(0).toBool());
    EXPECT_NE(shownText().find("waiting"), std::string::npos);
}

TEST_F(MainWindowTest, PrintersChosenInTheSettingsAreOfferedAtOnceOnTheNewPort) {
    if (std::getenv("CUPS_SERVER") == nullptr) {
        GTEST_SKIP() << "no test spooler";
    }
    CQopraDlg& main = Start();
    main.Command(32773); // tray SETTINGS
    CSettingsDlg& settings = main.SettingsWindow();
    ASSERT_TRUE(settings.isVisible());
    auto* list = settings.findChild<QTableWidget*>("printerList");
    for (int row = 0; row < list->rowCount(); ++row) {
        const QString name = list->item(row, 0)->text();
        if (name == "qopra-null" || name == "qopra-pdf") {
            list->item(row, 0)->setCheckState(Qt::Checked);
        }
        if (name == "qopra-pdf") {
            list->item(row, 1)->setText("Office");
        }
    }
    const std::string newPort = FreeUdpPort();
    auto* portEdit = settings.findChild<QLineEdit*>("localPortEdit");
    portEdit->clear();
    QTest::keyClicks(portEdit, QString::fromStdString(newPort));
    QTest::mouseClick(settings.findChild<QPushButton*>("okButton"), Qt::LeftButton);
    EXPECT_FALSE(settings.isVisible());

    // A device asking on the new port right away gets exactly those two, under their names.
    std::vector<std::string> names;
    std::thread device([&] {
        ChildProcess pad(
            ChildProcess::Executable("qopra-pad"),
            {"--udp-port", newPort, "--pad-port", std::to_string(padPort), "--timeout", "20", "list"});
        pad.Wait(std::chrono::seconds(30));
        names.push_back(pad.Output());
    });
    QTRY_VERIFY_WITH_TIMEOUT(!names.empty(), 40000);
    device.join();
    EXPECT_NE(names[0].find("printer: qopra-null\nprinter: Office\n"), std::string::npos) << names[0];
    EXPECT_NE(ReadFileBytes(dir / "data" / "qopra.xml").find("<alias>qopra-pdf|Office</alias>"),
              std::string::npos);
}

TEST_F(MainWindowTest, TheWindowShowsTheServiceTheLastPrintedDocumentAndKeepsEveryPrintInTheHistory) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "no test spooler";
    }
    WriteFileBytes(dir / "data" / "qopra.xml",
                   "<?xml version=\"1.0\"?>\n<settings><local_port>" + port + "</local_port><pad_port>" +
                       std::to_string(padPort) +
                       "</pad_port><lang>en-GB</lang><backup>1</backup><printers>"
                       "<printer>qopra-null</printer><printer>qopra-pdf</printer></printers><aliases>"
                       "<alias>qopra-pdf|Office</alias></aliases></settings>\n");
    CQopraDlg& main = Start();
    // At a glance: where devices are served, and the printers under the names devices see.
    ServiceStateView& state = main.StateView();
    EXPECT_TRUE(state.ServingText().contains(QString::fromStdString("UDP port " + port)))
        << state.ServingText().toStdString();
    EXPECT_EQ(state.Printers(), QStringList({"qopra-null", "Office (queue qopra-pdf)"}));
    EXPECT_EQ(state.RecentPrints(), QStringList({"No document yet."}));

    const auto print = [&](const fs::path& file, const std::string& printer) {
        std::string output;
        std::thread device([&] {
            ChildProcess pad(ChildProcess::Executable("qopra-pad"),
                             {"--udp-port", port, "--pad-port", std::to_string(padPort), "--timeout", "20",
                              "print", file.string(), "--printer", printer});
            pad.Wait(std::chrono::seconds(30));
            output = pad.Output();
        });
        // The GUI thread goes on meanwhile: the print's record and report reach it.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !output.empty(); }, 40000));
        device.join();
        return output;
    };
    const fs::path pdf = dir / "scan.pdf";
    WriteFileBytes(pdf, printtest::MinimalPdf());
    EXPECT_NE(print(pdf, "Office").find("RESULT 0"), std::string::npos);
    // The document printed last is shown, a PDF too.
    EXPECT_TRUE(QTest::qWaitFor([&] { return main.View().url().fileName() == "scan.pdf"; }, 20000))
        << main.View().url().toString().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return state.RecentPrints().size() == 1 &&
                   state.RecentPrints()[0].startsWith("scan.pdf from 127.0.0.1 on qopra-pdf: printed");
        },
        20000))
        << state.RecentPrints().join("|").toStdString();

    const fs::path page = dir / "page.htm";
    WriteFileBytes(page, "<html><body>page</body></html>");
    EXPECT_NE(print(page, "qopra-null").find("RESULT 0"), std::string::npos);
    const fs::path letter = dir / "letter.docx";
    WriteFileBytes(letter, std::string("PK\x03\x04", 4) + std::string(100, '\x02'));
    EXPECT_NE(print(letter, "qopra-null").find("RESULT 4"), std::string::npos);
    EXPECT_TRUE(QTest::qWaitFor([&] { return state.RecentPrints().size() == 3; }, 20000));
    EXPECT_EQ(state.RecentPrints()[0],
              "letter.docx from 127.0.0.1 on qopra-null: not printed: cannot print this type");

    // Every printed document is in the history, the PDF too, and nothing that did not print.
    CHistoryDlg& history = main.HistoryWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return history.RowCount() == 2; }, 20000));
    int pdfRow = -1;
    for (int row = 0; row < history.RowCount(); ++row) {
        pdfRow = history.RecordAt(row).documentName == "scan.pdf" ? row : pdfRow;
    }
    ASSERT_GE(pdfRow, 0);
    const fs::path kept = history.RecordAt(pdfRow).workingFolder;
    EXPECT_TRUE(fs::exists(kept / "scan.pdf"));
    // Deleting its row removes its kept folder.
    auto* list = history.findChild<QTableWidget*>("historyList");
    list->selectRow(pdfRow);
    question.answer = true;
    QTest::mouseClick(history.findChild<QPushButton*>("deleteButton"), Qt::LeftButton);
    EXPECT_EQ(history.RowCount(), 1);
    EXPECT_FALSE(fs::exists(kept));
}

TEST_F(MainWindowTest, APenDrivePluggedInShowsItsDocumentsWhichPrintWithTheirCopiesAndAreMarked) {
    if (::geteuid() != 0 || !printtest::HaveScheduler()) {
        GTEST_SKIP() << "needs root to mount volumes and the test spooler";
    }
    using drivedocuments::AddDocumentFolder;
    using drivedocuments::PrintedMark;
    const std::string tag = std::to_string(::getpid());
    const std::string queue = "qopra-null";
    printDialog.queue = queue;
    const auto jobs = [&](const std::string& name) {
        std::vector<Spooler::JobInfo> found;
        for (const Spooler::JobInfo& job : printtest::AllJobs(queue)) {
            if (job.name == name) {
                found.push_back(job);
            }
        }
        return found;
    };
    CQopraDlg& main = Start();
    DlgUSBPrints& documents = main.DocumentsWindow();
    EXPECT_FALSE(documents.isVisible());
    EXPECT_FALSE(DocumentFolders::removableDrivePresent) << "no pen drive yet: the tray entry is off";

    // A FAT pen drive filled elsewhere, then plugged in where the desktop mounts media.
    MountedVolume stick(MountedVolume::Kind::Fat, dir / "filled");
    ASSERT_TRUE(stick.Mounted()) << stick.Error();
    AddDocumentFolder(
        stick.MountPoint(), "DOC1",
        {"Pad Office", "Invoice", "page-" + tag + ".htm", "20261208100000", "2", "0", "<p>Invoice</p>"});
    AddDocumentFolder(stick.MountPoint(), "DOC2",
                      {"Pad Scan", "Scan", "scan-" + tag + ".pdf", "", "3", "0", printtest::MinimalPdf()});
    AddDocumentFolder(stick.MountPoint(), "DOC3",
                      {"Pad Notes", "Notes", "notes-" + tag + ".txt", "", "1", "0", "milk\n"});
    const std::filesystem::path drive = dir / "media" / "STICK";
    ASSERT_TRUE(stick.MoveTo(drive)) << stick.Error();
    const std::filesystem::path html = drive / "Ferrulo" / "DOC1";
    const std::filesystem::path pdf = drive / "Ferrulo" / "DOC2";
    const std::filesystem::path text = drive / "Ferrulo" / "DOC3";
    QTRY_VERIFY_WITH_TIMEOUT(documents.isVisible(), 10000);
    // The drive is read on a worker: the rows follow.
    QTRY_COMPARE_WITH_TIMEOUT(documents.RowCount(), 3, 20000);
    EXPECT_TRUE(DocumentFolders::removableDrivePresent);
    const std::vector<std::string> log = LogMessages(dir / "qopra.log");
    EXPECT_NE(std::find(log.begin(), log.end(), "WM_DEVICECHANGE --> Inserted, Drive: " + drive.string()),
              log.end());

    auto* list = documents.findChild<QTableWidget*>("documentList");
    const auto tick = [&](const std::string& description) {
        for (int row = 0; row < list->rowCount(); ++row) {
            if (list->item(row, DlgUSBPrints::kDescriptionColumn)->text().toStdString() == description) {
                list->item(row, DlgUSBPrints::kCheckColumn)->setCheckState(Qt::Checked);
            }
        }
    };
    auto* preview = documents.findChild<QPushButton*>("previewButton");
    // The scan previewed in the main window; Esc leads back to the list, its tick kept.
    tick("Scan");
    const QPoint listPlace = documents.pos();
    QTest::mouseClick(preview, Qt::LeftButton);
    EXPECT_TRUE(main.isVisible() && main.PenDrivePreview());
    EXPECT_FALSE(documents.isVisible());
    EXPECT_EQ(main.CurrentDocument(), (pdf / ("scan-" + tag + ".pdf")).string());
    QTest::keyClick(&main, Qt::Key_Escape);
    EXPECT_FALSE(main.isVisible());
    EXPECT_TRUE(documents.isVisible());
    // A window manager, where there is one, places it again in a moment.
    QTest::qWait(500);
    EXPECT_EQ(documents.pos(), listPlace) << "back where it was";
    ASSERT_TRUE(preview->isEnabled());
    // Print during the preview prints the ticked scan, once, with its three copies.
    QTest::mouseClick(preview, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Button("print")->isEnabled(), 20000);
    QSignalSpy printed(&documents, &DlgUSBPrints::printFinished);
    QTest::mouseClick(Button("print"), Qt::LeftButton);
    EXPECT_FALSE(main.isVisible());
    ASSERT_TRUE(printed.wait(120000));
    const std::vector<Spooler::JobInfo> scanJobs = jobs("scan-" + tag + ".pdf");
    ASSERT_EQ(scanJobs.size(), 1u);
    EXPECT_EQ(scanJobs[0].copies, 3);
    EXPECT_EQ(PrintedMark(pdf), "1");

    // The other two from the list, opened from the tray: the page as two jobs of one copy, the notes
    // as one.
    EXPECT_FALSE(documents.isVisible());
    main.Command(32775);
    ASSERT_TRUE(documents.isVisible());
    tick("Invoice");
    tick("Notes");
    QTest::mouseClick(documents.findChild<QPushButton*>("printButton"), Qt::LeftButton);
    ASSERT_TRUE(printed.wait(120000));
    ASSERT_EQ(jobs("page-" + tag + ".htm").size(), 1u);
    EXPECT_EQ(jobs("page-" + tag + ".htm")[0].copies, 2);
    EXPECT_EQ(jobs("notes-" + tag + ".txt").size(), 1u);
    EXPECT_EQ(PrintedMark(html) + PrintedMark(pdf) + PrintedMark(text), "111");
    EXPECT_EQ(printDialog.asked, 2);

    // Delete the notes; then the drive goes, and the list with it.
    tick("Notes");
    QTest::mouseClick(documents.findChild<QPushButton*>("deleteButton"), Qt::LeftButton);
    EXPECT_FALSE(std::filesystem::exists(text));
    QTRY_COMPARE_WITH_TIMEOUT(documents.RowCount(), 2, 20000);
    ASSERT_TRUE(stick.Unmount());
    // The drive took its documents along: the window, with nothing left to offer, goes.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return documents.RowCount() == 0 && !documents.Scanning() && !documents.isVisible(); }, 10000));
    EXPECT_FALSE(DocumentFolders::removableDrivePresent);
    const std::vector<std::string> after = LogMessages(dir / "qopra.log");
    EXPECT_NE(std::find(after.begin(), after.end(), "WM_DEVICECHANGE --> Removed, Drive: " + drive.string()),
              after.end());
}
