#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHeaderView>
#include <QPrinter>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/IConfirmBox.h"
#include "app/IMessageBox.h"
#include "config/LocalizedStrings.h"
#include "core/PrintTestFiles.h"
#include "gui/SettingsWindowApplication.h"
#include "platform/Unicode.h"
#include "removable/DocumentFolders.h"
#include "removable/gui/DlgUSBPrints.h"
#include "support/FileBytes.h"
#include "support/LogLines.h"
#include "support/MountedVolume.h"
#include "support/TempDir.h"
#include "ui/IPrintDialog.h"
#include "ui/MainWindowController.h"
#include "ui/MainWindowFlags.h"
#include "ui/WindowPlacement.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kEnglish = 2057;
constexpr std::uint16_t kItalian = 1040;
// Jobs complete at once there; the user's default is another queue, which must stay empty.
constexpr const char* kQueue = "qopra-null";
constexpr const char* kDefaultQueue = "qopra-pdf";
// Bounds on waiting for the browser engine and the spooler; a healthy run takes a fraction of this.
constexpr int kWaitMs = 120000;

class RecordedMessages : public IMessageBox {
public:
    void Show(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

class AnsweredQuestion : public IConfirmBox {
public:
    bool Confirm(const std::string& text) override {
        texts.push_back(text);
        return answer;
    }
    bool answer = true;
    std::vector<std::string> texts;
};

// Answers the print dialog as a person would: a queue of the test spooler, or Cancel.
class AnsweredPrintDialog : public IPrintDialog {
public:
    bool Ask(QPrinter& printer, QWidget*) override {
        ++asked;
        onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        printer.setPrinterName(QString::fromStdString(queue));
        return answer;
    }
    std::string queue = kQueue;
    bool answer = true;
    int asked = 0;
    bool onGuiThread = false;
};

struct Document {
    std::string application;
    std::string description;
    std::string filename;
    std::string datetime;
    std::string copies;
    std::string printed;
    std::string content;
};

std::string DescriptionFile(const Document& document) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<document>\r\n<title>T</title>\r\n<description>" +
           document.description + "</description>\r\n<application>" + document.application +
           "</application>\r\n<filename>" + document.filename + "</filename>\r\n<datetime>" +
           document.datetime + "</datetime>\r\n<copies>" + document.copies + "</copies>\r\n<printed>" +
           document.printed + "</printed>\r\n</document>\r\n";
}

std::string Localized(unsigned id, std::uint16_t language) {
    std::string text;
    LoadLocalizedString(id, language, text);
    return text;
}

class DocumentsWindowTest : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "mounting volumes needs root";
        }
        windowtest::Application();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(dir / "config"));
        fs::create_directories(dir / "data" / "Htm");
        WriteFileBytes(dir / "data" / "Htm" / "waiting.htm", "<html><body>waiting</body></html>");
        DataFolder::SetPath(dir / "data");
        EventLog::Global().SetFileName(dir / "qopra.log");
        sources.sysfsRoot = dir / "sys";
        sources.mediaRoots.clear();
        fs::create_directories(sources.sysfsRoot);
        MainWindowFlags::shown = false;
        MainWindowFlags::previewIsPdf = false;
        tag =
            std::to_string(::getpid()) + "-" + testing::UnitTest::GetInstance()->current_test_info()->name();
        tag.erase(std::remove(tag.begin(), tag.end(), '/'), tag.end());
    }
    void TearDown() override {
        window.reset();
        controller.reset();
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
    }

    MountedVolume& Mount(MountedVolume::Kind kind, const std::string& name) {
        volumes.push_back(std::make_unique<MountedVolume>(kind, dir / "mnt" / name));
        MountedVolume& volume = *volumes.back();
        EXPECT_TRUE(volume.Mounted()) << volume.Error();
        volume.RegisterRemovable(sources.sysfsRoot);
        return volume;
    }
    // A document folder in the volume's document root; its path.
    static fs::path Add(const MountedVolume& volume, const std::string& folder, const Document& document) {
        const fs::path path = volume.MountPoint() / "Ferrulo" / folder;
        fs::create_directories(path);
        WriteFileBytes(path / "printinfo.xml", DescriptionFile(document));
        WriteFileBytes(path / document.filename, document.content);
        return path;
    }
    // An HTML page, a PDF and a text file, each with copies of its own.
    void AddThreeDocuments(const MountedVolume& volume) {
        html = Add(volume, "DOC1",
                   {"Pad Office", "Invoice 117", "report-" + tag + ".htm", "20240304091240", "2", "0",
                    "<html><body><h1>Invoice 117</h1><p>Total 12.50</p></body></html>"});
        pdf = Add(volume, "DOC2",
                  {"Pad Scan", "Delivery note", "scan-" + tag + ".pdf", "20240305164751", "3", "0",
                   printtest::MinimalPdf()});
        text = Add(volume, "DOC3",
                   {"Pad Notes", "Shopping list", "notes-" + tag + ".txt", "2024", "1", "1",
                    "bread\nmilk\ncoffee\n"});
    }

    DlgUSBPrints& Open(std::uint16_t language = kEnglish) {
        window = std::make_unique<DlgUSBPrints>(
            language, DlgUSBPrints::Parts{printDialog, messages, question, controller.get(), sources});
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return *window;
    }
    // The real main window's controller takes the documents that are no PDF to its preview page.
    void WithMainWindow() { controller = std::make_unique<MainWindowController>(nullptr); }

    QTableWidget* List() const { return window->findChild<QTableWidget*>("documentList"); }
    QPushButton* Button(const char* name) const { return window->findChild<QPushButton*>(name); }
    std::string Cell(int row, int column) const { return List()->item(row, column)->text().toStdString(); }
    int RowOf(const std::string& description) const {
        for (int row = 0; row < List()->rowCount(); ++row) {
            if (Cell(row, DlgUSBPrints::kDescriptionColumn) == description) {
                return row;
            }
        }
        return -1;
    }
    void Tick(int row, bool ticked = true) {
        ASSERT_GE(row, 0);
        List()->item(row, DlgUSBPrints::kCheckColumn)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
    void TickAll() {
        for (int row = 0; row < List()->rowCount(); ++row) {
            Tick(row);
        }
    }
    static std::string PrintedMark(const fs::path& folder) {
        const std::string file = ReadFileBytes(folder / "printinfo.xml");
        const std::size_t start = file.find("<printed>");
        const std::size_t end = file.find("</printed>");
        return start == std::string::npos || end == std::string::npos
                   ? "?"
                   : file.substr(start + 9, end - start - 9);
    }
    std::vector<Spooler::JobInfo> Jobs(const std::string& queue, const std::string& name) const {
        std::vector<Spooler::JobInfo> found;
        for (const Spooler::JobInfo& job : printtest::AllJobs(queue)) {
            if (job.name == name) {
                found.push_back(job);
            }
        }
        return found;
    }
    std::vector<std::string> Log() const { return LogMessages(dir / "qopra.log"); }
    bool Logged(const std::string& message) const {
        const std::vector<std::string> lines = Log();
        return std::find(lines.begin(), lines.end(), message) != lines.end();
    }

    TempDir dir;
    VolumeSources sources;
    std::string tag;
    fs::path html;
    fs::path pdf;
    fs::path text;
    RecordedMessages messages;
    AnsweredQuestion question;
    AnsweredPrintDialog printDialog;
    std::unique_ptr<MainWindowController> controller;
    std::unique_ptr<DlgUSBPrints> window;
    // Last: volumes are unmounted before the folder goes.
    std::vector<std::unique_ptr<MountedVolume>> volumes;
};

// The same cases on a tmpfs and on a FAT image mounted through FUSE, as pen drives are.
class DocumentsWindowOnVolume : public DocumentsWindowTest,
                                public testing::WithParamInterface<MountedVolume::Kind> {};

std::string KindName(const testing::TestParamInfo<MountedVolume::Kind>& info) {
    return info.param == MountedVolume::Kind::Tmpfs ? "Tmpfs" : "Fat";
}

} // namespace

TEST_P(DocumentsWindowOnVolume, ListsEachDocumentWithItsRowInTheInterfaceLanguageAndEmptiesAfterUnmount) {
    MountedVolume& stick = Mount(GetParam(), "stick");
    AddThreeDocuments(stick);
    DlgUSBPrints& shown = Open();

    EXPECT_EQ(shown.windowTitle(), "Wi-Fi print service - Documents on removable drives");
    EXPECT_EQ(Button("printButton")->text(), "Print");
    EXPECT_EQ(Button("previewButton")->text(), "PREVIEW");
    EXPECT_EQ(Button("deleteButton")->text(), "DELETE");
    EXPECT_EQ(Button("closeButton")->text(), "Close");
    QStringList headings;
    for (int column = 0; column < DlgUSBPrints::kColumns; ++column) {
        headings << List()->horizontalHeaderItem(column)->text();
    }
    EXPECT_EQ(headings, QStringList({"", "Program", "Description", "Date", "Status", "Copies"}));
    const std::vector<int> widths = {DlgUSBPrints::kCheckWidth,       DlgUSBPrints::kProgramWidth,
                                     DlgUSBPrints::kDescriptionWidth, DlgUSBPrints::kDateWidth,
                                     DlgUSBPrints::kStatusWidth,      DlgUSBPrints::kCopiesWidth};
    EXPECT_EQ(List()->columnWidth(0), DlgUSBPrints::kCheckWidth);
    for (int column = 1; column < DlgUSBPrints::kColumns; ++column) {
        EXPECT_GE(List()->columnWidth(column), widths[static_cast<std::size_t>(column)]) << column;
    }
    // Dates are never cut in the desktop's font.
    EXPECT_LT(List()->fontMetrics().horizontalAdvance(" 04.03.2024 09:12:40"),
              List()->columnWidth(DlgUSBPrints::kDateColumn));
    EXPECT_TRUE(DocumentFolders::removableDrivePresent);

    // One row per document folder: program, description, date, status, copies, an unticked box.
    ASSERT_EQ(List()->rowCount(), 3);
    ASSERT_EQ(shown.RowCount(), 3);
    const int invoice = RowOf("Invoice 117");
    const int delivery = RowOf("Delivery note");
    const int shopping = RowOf("Shopping list");
    ASSERT_GE(invoice, 0);
    ASSERT_GE(delivery, 0);
    ASSERT_GE(shopping, 0);
    EXPECT_EQ(Cell(invoice, DlgUSBPrints::kProgramColumn), "Pad Office");
    EXPECT_EQ(Cell(invoice, DlgUSBPrints::kDateColumn), " 04.03.2024 09:12:40");
    EXPECT_EQ(Cell(invoice, DlgUSBPrints::kStatusColumn), "Not printed");
    EXPECT_EQ(Cell(invoice, DlgUSBPrints::kCopiesColumn), "2");
    EXPECT_EQ(Cell(delivery, DlgUSBPrints::kCopiesColumn), "3");
    EXPECT_EQ(Cell(delivery, DlgUSBPrints::kDateColumn), " 05.03.2024 16:47:51");
    // A date that is no time shows nothing; a printed document says so.
    EXPECT_EQ(Cell(shopping, DlgUSBPrints::kDateColumn), "");
    EXPECT_EQ(Cell(shopping, DlgUSBPrints::kStatusColumn), "Printed");
    for (int row = 0; row < 3; ++row) {
        const QTableWidgetItem* box = List()->item(row, DlgUSBPrints::kCheckColumn);
        EXPECT_TRUE(box->flags() & Qt::ItemIsUserCheckable);
        EXPECT_EQ(box->checkState(), Qt::Unchecked);
        EXPECT_FALSE(List()->item(row, DlgUSBPrints::kDescriptionColumn)->flags() & Qt::ItemIsEditable);
    }
    EXPECT_EQ(shown.DocumentAt(delivery).documentPath, pdf / ("scan-" + tag + ".pdf"));

    // Close hides the window; its placement is kept under the window's own section.
    QTest::mouseClick(Button("closeButton"), Qt::LeftButton);
    EXPECT_FALSE(shown.isVisible());
    EXPECT_TRUE(WindowPlacement::Stored(DlgUSBPrints::kPlacementSection).has_value());

    // The drive goes: the refresh the main window asks for empties the list.
    Tick(invoice);
    ASSERT_TRUE(stick.Unmount());
    shown.RefreshDocumentList();
    EXPECT_EQ(List()->rowCount(), 0);
    EXPECT_EQ(shown.RowCount(), 0);
    EXPECT_FALSE(DocumentFolders::removableDrivePresent);
    EXPECT_FALSE(Button("previewButton")->isEnabled());

    // Every text from the interface language.
    Mount(GetParam(), "again");
    AddThreeDocuments(*volumes.back());
    DlgUSBPrints& italian = Open(kItalian);
    EXPECT_EQ(italian.windowTitle().toStdString(),
              Localized(150, kItalian) + " - " + Localized(162, kItalian));
    EXPECT_EQ(italian.windowTitle(), "Servizio di stampa Wi-Fi - Documenti su unità rimovibili");
    EXPECT_EQ(Button("printButton")->text().toStdString(), Localized(142, kItalian));
    EXPECT_EQ(Button("previewButton")->text().toStdString(), Localized(148, kItalian));
    EXPECT_EQ(Button("deleteButton")->text().toStdString(), Localized(147, kItalian));
    EXPECT_EQ(Button("closeButton")->text().toStdString(), Localized(156, kItalian));
    for (int column = 1; column < DlgUSBPrints::kColumns; ++column) {
        const unsigned id = column == DlgUSBPrints::kCopiesColumn ? 171 : 162 + static_cast<unsigned>(column);
        EXPECT_EQ(List()->horizontalHeaderItem(column)->text().toStdString(), Localized(id, kItalian));
    }
    EXPECT_EQ(Cell(RowOf("Invoice 117"), DlgUSBPrints::kStatusColumn), "Non stampato");
    EXPECT_LT(List()->fontMetrics().horizontalAdvance("Non stampato"),
              List()->columnWidth(DlgUSBPrints::kStatusColumn));
    EXPECT_EQ(Cell(RowOf("Shopping list"), DlgUSBPrints::kStatusColumn), "Stampato");
    italian.Preview();
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0], "Selezionare un documento");
}

TEST_P(DocumentsWindowOnVolume,
       PrintingTheTickedDocumentsGivesJobsOnTheChosenQueueWithTheirCopiesAndMarksThem) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "CUPS_SERVER is not set: no test spooler";
    }
    ASSERT_TRUE(std::system((std::string("lpoptions -d ") + kDefaultQueue + " >/dev/null").c_str()) == 0);
    MountedVolume& stick = Mount(GetParam(), "stick");
    AddThreeDocuments(stick);
    WithMainWindow();
    DlgUSBPrints& shown = Open();
    ASSERT_EQ(shown.RowCount(), 3);
    // The text file was printed before: printing it again is the person's choice.
    TickAll();
    QSignalSpy finished(&shown, &DlgUSBPrints::printFinished);
    QTest::mouseClick(Button("printButton"), Qt::LeftButton);
    ASSERT_TRUE(finished.wait(kWaitMs));

    EXPECT_EQ(printDialog.asked, 1);
    EXPECT_TRUE(printDialog.onGuiThread) << "the print dialog must be asked on the GUI thread";
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(shown.PrintsRunning(), 0);

    // The PDF is one job with the copies of its description; the preview page prints one job per copy.
    const std::vector<Spooler::JobInfo> pdfJobs = Jobs(kQueue, "scan-" + tag + ".pdf");
    const std::vector<Spooler::JobInfo> htmlJobs = Jobs(kQueue, "report-" + tag + ".htm");
    const std::vector<Spooler::JobInfo> textJobs = Jobs(kQueue, "notes-" + tag + ".txt");
    ASSERT_EQ(pdfJobs.size(), 1u);
    EXPECT_EQ(pdfJobs[0].copies, 3);
    ASSERT_EQ(htmlJobs.size(), 2u);
    EXPECT_EQ(htmlJobs[0].copies + htmlJobs[1].copies, 2);
    ASSERT_EQ(textJobs.size(), 1u);
    EXPECT_EQ(textJobs[0].copies, 1);
    for (const std::string& name :
         {"scan-" + tag + ".pdf", "report-" + tag + ".htm", "notes-" + tag + ".txt"}) {
        EXPECT_TRUE(Jobs(kDefaultQueue, name).empty()) << name << " went to the default printer";
    }
    // Handed over one after the other, a second apart, in row order.
    std::map<int, std::time_t> created;
    const std::map<fs::path, std::time_t> byFolder = {
        {html, htmlJobs[0].created}, {pdf, pdfJobs[0].created}, {text, textJobs[0].created}};
    for (const auto& [folder, when] : byFolder) {
        for (int row = 0; row < shown.RowCount(); ++row) {
            if (shown.DocumentAt(row).folderPath == folder) {
                created[row] = when;
            }
        }
    }
    ASSERT_EQ(created.size(), 3u);
    EXPECT_GT(created[1], created[0]);
    EXPECT_GT(created[2], created[1]);

    // Every description file now holds the printed mark, and the refreshed list shows it.
    EXPECT_EQ(PrintedMark(html), "1");
    EXPECT_EQ(PrintedMark(pdf), "1");
    EXPECT_EQ(PrintedMark(text), "1");
    ASSERT_EQ(List()->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Cell(row, DlgUSBPrints::kStatusColumn), "Printed");
        EXPECT_EQ(List()->item(row, DlgUSBPrints::kCheckColumn)->checkState(), Qt::Unchecked);
    }
    const std::vector<std::string> log = Log();
    const auto banner = std::find(log.begin(), log.end(), "PrintProcessThread");
    ASSERT_NE(banner, log.end());
    ASSERT_NE(banner, log.begin());
    EXPECT_EQ(*(banner - 1), "*******************");
    ASSERT_NE(banner + 1, log.end());
    EXPECT_EQ(*(banner + 1), "*******************");
}

TEST_F(DocumentsWindowTest, PrintAsksFirstAndMarksNothingThatWasNotHandedToTheSpooler) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "CUPS_SERVER is not set: no test spooler";
    }
    MountedVolume& stick = Mount(MountedVolume::Kind::Tmpfs, "stick");
    AddThreeDocuments(stick);
    WriteFileBytes(text / "printinfo.xml", DescriptionFile({"Pad Notes", "Shopping list",
                                                            "notes-" + tag + ".txt", "", "1", "0", ""}));
    DlgUSBPrints& shown = Open();
    QSignalSpy finished(&shown, &DlgUSBPrints::printFinished);

    // Nothing ticked: the message, and no dialog.
    shown.Print();
    ASSERT_EQ(messages.texts, std::vector<std::string>{"Select a document"});
    EXPECT_EQ(printDialog.asked, 0);

    // Print from the main window's preview (this window hidden), cancelled in the dialog: nothing is
    // printed or marked, and this window comes back.
    TickAll();
    shown.hide();
    printDialog.answer = false;
    shown.Print();
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_EQ(printDialog.asked, 1);
    EXPECT_TRUE(shown.isVisible());
    EXPECT_EQ(PrintedMark(html), "0");
    EXPECT_EQ(PrintedMark(pdf), "0");
    EXPECT_TRUE(Jobs(kQueue, "scan-" + tag + ".pdf").empty());

    // Documents gone from the drive since the listing (the PDF among them), and one that no main
    // window is there to print: each missing one is said, and none is marked printed.
    TickAll();
    printDialog.answer = true;
    fs::remove(pdf / ("scan-" + tag + ".pdf"));
    fs::remove(html / ("report-" + tag + ".htm"));
    messages.texts.clear();
    shown.Print();
    ASSERT_TRUE(finished.wait(kWaitMs));
    std::vector<std::string> expected = {
        "Cannot find the file " + AsciiUpper((pdf / ("scan-" + tag + ".pdf")).string()),
        "Cannot find the file " + AsciiUpper((html / ("report-" + tag + ".htm")).string())};
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> said = messages.texts;
    std::sort(said.begin(), said.end());
    EXPECT_EQ(said, expected);
    EXPECT_TRUE(Logged("[ERROR] Cant find file " + (pdf / ("scan-" + tag + ".pdf")).string()));
    EXPECT_EQ(PrintedMark(html), "0");
    EXPECT_EQ(PrintedMark(pdf), "0");
    EXPECT_EQ(PrintedMark(text), "0");
    EXPECT_TRUE(Jobs(kQueue, "notes-" + tag + ".txt").empty());

    // A PDF the spooler refuses is not marked either.
    WriteFileBytes(pdf / ("scan-" + tag + ".pdf"), printtest::MinimalPdf());
    shown.RefreshDocumentList();
    Tick(RowOf("Delivery note"));
    printDialog.queue = "qopra-reject";
    shown.Print();
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_EQ(PrintedMark(pdf), "0");

    // The window goes while its question is still to be asked: the worker ends, nothing is asked.
    Tick(RowOf("Delivery note"));
    const int asked = printDialog.asked;
    shown.Print();
    window.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(printDialog.asked, asked);
}

TEST_F(DocumentsWindowTest, PreviewIsUsableExactlyWithOneTickAndNamesTheTickedDocument) {
    MountedVolume& stick = Mount(MountedVolume::Kind::Tmpfs, "stick");
    AddThreeDocuments(stick);
    Add(stick, "DOC4", {"Pad", "Escaping", "../../outside.htm", "", "1", "0", ""});
    DlgUSBPrints& shown = Open();
    QPushButton* preview = Button("previewButton");
    const int invoice = RowOf("Invoice 117");
    const int delivery = RowOf("Delivery note");

    EXPECT_FALSE(preview->isEnabled());
    Tick(invoice);
    EXPECT_TRUE(preview->isEnabled());
    Tick(delivery);
    EXPECT_FALSE(preview->isEnabled());
    Tick(invoice, false);
    EXPECT_TRUE(preview->isEnabled());
    Tick(delivery, false);
    EXPECT_FALSE(preview->isEnabled());

    // The ticked document goes to the main window, and this window steps aside.
    Tick(delivery);
    QSignalSpy requested(&shown, &DlgUSBPrints::previewRequested);
    QTest::mouseClick(preview, Qt::LeftButton);
    ASSERT_EQ(requested.count(), 1);
    EXPECT_EQ(requested.at(0).at(0).toString().toStdString(), (pdf / ("scan-" + tag + ".pdf")).string());
    EXPECT_EQ(shown.PreviewPath(), pdf / ("scan-" + tag + ".pdf"));
    EXPECT_FALSE(shown.isVisible());

    // Two ticks, or a description that names no file of its folder: nothing to show.
    shown.show();
    Tick(invoice);
    shown.Preview();
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Select a document"});
    shown.RefreshDocumentList();
    EXPECT_FALSE(preview->isEnabled()) << "a fresh list has no ticks";
    Tick(RowOf("Escaping"));
    shown.Preview();
    EXPECT_EQ(requested.count(), 1);
    ASSERT_EQ(messages.texts.size(), 2u);
    EXPECT_EQ(messages.texts[1].rfind("Cannot find the file ", 0), 0u) << messages.texts[1];
    EXPECT_TRUE(shown.isVisible());
}

TEST_P(DocumentsWindowOnVolume, DeleteRemovesTheTickedFoldersAfterTheQuestionAndNothingThroughALink) {
    MountedVolume& stick = Mount(GetParam(), "stick");
    AddThreeDocuments(stick);
    DlgUSBPrints& shown = Open();

    shown.Delete();
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Select a document"});
    EXPECT_TRUE(question.texts.empty());

    // Cancel keeps everything.
    Tick(RowOf("Invoice 117"));
    question.answer = false;
    QTest::mouseClick(Button("deleteButton"), Qt::LeftButton);
    ASSERT_EQ(question.texts.size(), 1u);
    EXPECT_EQ(question.texts[0], "Attention!\nAre you sure you wish to delete the selected documents?");
    EXPECT_TRUE(fs::exists(html / "printinfo.xml"));
    EXPECT_EQ(List()->rowCount(), 3);

    // OK removes the whole ticked folders, description files included, and the rows go.
    Tick(RowOf("Delivery note"));
    question.answer = true;
    QTest::mouseClick(Button("deleteButton"), Qt::LeftButton);
    EXPECT_FALSE(fs::exists(html));
    EXPECT_FALSE(fs::exists(pdf));
    EXPECT_TRUE(fs::exists(text / "printinfo.xml"));
    ASSERT_EQ(List()->rowCount(), 1);
    EXPECT_EQ(Cell(0, DlgUSBPrints::kDescriptionColumn), "Shopping list");
    EXPECT_TRUE(Logged("Delete folder: " + html.string()));
    EXPECT_TRUE(Logged("Delete folder: " + pdf.string()));

    if (GetParam() == MountedVolume::Kind::Fat) {
        return; // FAT has no links
    }
    // Links inside a document folder go by themselves; what they point at stays.
    const fs::path outside = dir / "outside";
    fs::create_directories(outside / "folder");
    WriteFileBytes(outside / "keep.txt", "keep");
    WriteFileBytes(outside / "folder" / "keep.txt", "keep");
    fs::create_directory_symlink(outside / "folder", text / "linked-folder");
    fs::create_symlink(outside / "keep.txt", text / "linked-file");
    // A document folder that became a link since the listing (to a folder outside the document root):
    // only the link goes.
    const fs::path victim = Add(stick, "DOC5", {"Pad", "Victim", "v.htm", "", "1", "0", "v"});
    shown.RefreshDocumentList();
    fs::rename(victim, stick.MountPoint() / "moved");
    fs::create_directory_symlink(stick.MountPoint() / "moved", victim);
    TickAll();
    QTest::mouseClick(Button("deleteButton"), Qt::LeftButton);
    EXPECT_FALSE(fs::exists(fs::symlink_status(text)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(victim)));
    EXPECT_EQ(ReadFileBytes(outside / "keep.txt"), "keep");
    EXPECT_EQ(ReadFileBytes(outside / "folder" / "keep.txt"), "keep");
    EXPECT_EQ(ReadFileBytes(stick.MountPoint() / "moved" / "v.htm"), "v");

    // A document root that became a link since the listing leads nowhere: nothing is removed.
    const fs::path last = Add(stick, "DOC6", {"Pad", "Last", "l.htm", "", "1", "0", "l"});
    shown.RefreshDocumentList();
    const fs::path elsewhere = stick.MountPoint() / "elsewhere";
    fs::rename(stick.MountPoint() / "Ferrulo", elsewhere);
    fs::create_directory_symlink(elsewhere, stick.MountPoint() / "Ferrulo");
    TickAll();
    QTest::mouseClick(Button("deleteButton"), Qt::LeftButton);
    EXPECT_EQ(ReadFileBytes(elsewhere / "DOC6" / "l.htm"), "l");
    EXPECT_TRUE(Logged("[WARNING] " + last.string() +
                       " is not a document folder of a removable drive and is not removed"));
    EXPECT_FALSE(Logged("Delete folder: " + last.string()));
}

INSTANTIATE_TEST_SUITE_P(PenDrives, DocumentsWindowOnVolume,
                         testing::Values(MountedVolume::Kind::Tmpfs, MountedVolume::Kind::Fat), KindName);
