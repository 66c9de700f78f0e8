#include <gtest/gtest.h>

#include <QAbstractItemModel>
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
#include "removable/DocumentScan.h"
#include "removable/gui/DlgUSBPrints.h"
#include "support/AnsweredDialogs.h"
#include "support/DriveDocuments.h"
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

using drivedocuments::Document;
using drivedocuments::PrintedMark;

class DocumentsWindowTest : public testing::TestWithParam<MountedVolume::Kind> {
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
        MainWindowFlags::shown = false;
        MainWindowFlags::previewIsPdf = false;
        // Job names of this test alone, on queues that other tests print on too.
        tag = std::to_string(::getpid()) + (GetParam() == MountedVolume::Kind::Fat ? "f" : "t") +
              testing::UnitTest::GetInstance()->current_test_info()->name();
        tag = tag.substr(0, tag.find('/'));
    }
    void TearDown() override {
        window.reset();
        controller.reset();
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
    }

    MountedVolume& Mount(const std::string& name) {
        volumes.push_back(std::make_unique<MountedVolume>(GetParam(), dir / "mnt" / name));
        EXPECT_TRUE(volumes.back()->Mounted()) << volumes.back()->Error();
        volumes.back()->RegisterRemovable(sources.sysfsRoot);
        return *volumes.back();
    }
    static fs::path Add(const MountedVolume& volume, const std::string& folder, const Document& document) {
        return drivedocuments::AddDocumentFolder(volume.MountPoint(), folder, document);
    }
    // An HTML page, a PDF and a text file (printed before), each with copies of its own.
    void AddThreeDocuments(const MountedVolume& volume) {
        html = Add(volume, "DOC1",
                   {"Pad Office", "Invoice 117", "report-" + tag + ".htm", "20240304091240", "2", "0",
                    "<html><body><h1>Invoice 117</h1><p>Total 12.50</p></body></html>"});
        pdf = Add(volume, "DOC2",
                  {"Pad Scan", "Delivery note", "scan-" + tag + ".pdf", "20240305164751", "3", "0",
                   printtest::MinimalPdf()});
        text =
            Add(volume, "DOC3",
                {"Pad Notes", "Shopping list", "notes-" + tag + ".txt", "2024", "1", "1", "bread\nmilk\n"});
    }
    fs::path Pdf() const { return pdf / ("scan-" + tag + ".pdf"); }
    fs::path Html() const { return html / ("report-" + tag + ".htm"); }

    DlgUSBPrints& Open(std::uint16_t language = kEnglish) {
        window = std::make_unique<DlgUSBPrints>(
            language, DlgUSBPrints::Parts{printDialog, messages, question, controller.get(), sources});
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        WaitForList();
        return *window;
    }
    // The drives are read on a worker: the list is complete once its scan is over.
    void WaitForList() const {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !window->Scanning(); }, kWaitMs));
    }
    void Refresh() const {
        window->RefreshDocumentList();
        WaitForList();
    }

    QTableWidget* List() const { return window->findChild<QTableWidget*>("documentList"); }
    QPushButton* Button(const char* name) const { return window->findChild<QPushButton*>(name); }
    std::string Cell(int row, int column) const { return List()->item(row, column)->text().toStdString(); }
    std::string Heading(int column) const {
        return List()->horizontalHeaderItem(column)->text().toStdString();
    }
    int RowOf(const std::string& description) const {
        for (int row = 0; row < List()->rowCount(); ++row) {
            if (Cell(row, DlgUSBPrints::kDescriptionColumn) == description) {
                return row;
            }
        }
        ADD_FAILURE() << "no row " << description;
        return 0;
    }
    void Tick(const std::string& description, bool ticked = true) {
        List()->item(RowOf(description), 0)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
    void TickAll() {
        for (int row = 0; row < List()->rowCount(); ++row) {
            List()->item(row, 0)->setCheckState(Qt::Checked);
        }
    }
    // Runs Print and waits until the window has its fresh list.
    void PrintAndWait() {
        QSignalSpy finished(window.get(), &DlgUSBPrints::printFinished);
        window->Print();
        ASSERT_TRUE(finished.wait(kWaitMs));
    }
    static std::vector<Spooler::JobInfo> Jobs(const std::string& name, const std::string& queue = kQueue) {
        std::vector<Spooler::JobInfo> found;
        for (const Spooler::JobInfo& job : printtest::AllJobs(queue)) {
            if (job.name == name) {
                found.push_back(job);
            }
        }
        return found;
    }
    bool Logged(const std::string& message) const {
        const std::vector<std::string> lines = LogMessages(dir / "qopra.log");
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

std::string KindName(const testing::TestParamInfo<MountedVolume::Kind>& info) {
    return info.param == MountedVolume::Kind::Tmpfs ? "Tmpfs" : "Fat";
}

std::string Localized(unsigned id) {
    std::string text;
    LoadLocalizedString(id, kItalian, text);
    return text;
}

} // namespace

// Every case runs on a tmpfs and on a FAT image mounted through FUSE, as pen drives are.
TEST_P(DocumentsWindowTest, RowsTextsTicksAndPreviewFollowTheDrives) {
    MountedVolume& stick = Mount("stick");
    AddThreeDocuments(stick);
    Add(stick, "DOC4", {"Pad", "Escaping", "../../outside.htm", "", "1", "0", ""});
    DlgUSBPrints& shown = Open();
    EXPECT_TRUE(DocumentFolders::removableDrivePresent);
    EXPECT_EQ(shown.windowTitle(), "Wi-Fi print service - Documents on removable drives");
    // Each with its own keyboard letter.
    EXPECT_EQ(QString(Button("printButton")->text() + Button("previewButton")->text() +
                      Button("deleteButton")->text() + Button("closeButton")->text()),
              "&PrintP&REVIEW&DELETE&Close");
    const std::vector<std::string> headings = {"", "Program", "Description", "Date", "Status", "Copies"};
    const std::vector<int> widths = {DlgUSBPrints::kCheckWidth,       DlgUSBPrints::kProgramWidth,
                                     DlgUSBPrints::kDescriptionWidth, DlgUSBPrints::kDateWidth,
                                     DlgUSBPrints::kStatusWidth,      DlgUSBPrints::kCopiesWidth};
    for (int column = 0; column < DlgUSBPrints::kColumns; ++column) {
        EXPECT_EQ(Heading(column), headings[static_cast<std::size_t>(column)]);
        EXPECT_GE(List()->columnWidth(column), widths[static_cast<std::size_t>(column)]);
    }
    EXPECT_EQ(List()->columnWidth(0), DlgUSBPrints::kCheckWidth);
    // Dates are never cut in the desktop's font.
    EXPECT_LT(List()->fontMetrics().horizontalAdvance(" 04.03.2024 09:12:40"),
              List()->columnWidth(DlgUSBPrints::kDateColumn));

    // A row per document folder: unticked box, program, description, date, status, copies.
    ASSERT_EQ(List()->rowCount(), 4);
    ASSERT_EQ(shown.RowCount(), 4);
    const int invoice = RowOf("Invoice 117");
    EXPECT_EQ(List()->item(invoice, 0)->checkState(), Qt::Unchecked);
    EXPECT_TRUE(List()->item(invoice, 0)->flags() & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(List()->item(invoice, 2)->flags() & Qt::ItemIsEditable);
    EXPECT_EQ(Cell(invoice, 1) + "|" + Cell(invoice, 3) + "|" + Cell(invoice, 4) + "|" + Cell(invoice, 5),
              "Pad Office| 04.03.2024 09:12:40|Not printed|2");
    EXPECT_EQ(Cell(RowOf("Delivery note"), 5), "3");
    // A date that is no time shows nothing; a printed document says so.
    EXPECT_EQ(Cell(RowOf("Shopping list"), 3) + "|" + Cell(RowOf("Shopping list"), 4), "|Printed");

    // Preview is usable exactly while one row is ticked.
    QPushButton* preview = Button("previewButton");
    EXPECT_FALSE(preview->isEnabled());
    Tick("Invoice 117");
    EXPECT_TRUE(preview->isEnabled());
    Tick("Delivery note");
    EXPECT_FALSE(preview->isEnabled());
    shown.Preview();
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Select a document"});
    Tick("Invoice 117", false);
    EXPECT_TRUE(preview->isEnabled());
    // The ticked document goes to the main window, and this window steps aside.
    QSignalSpy requested(&shown, &DlgUSBPrints::previewRequested);
    QTest::mouseClick(preview, Qt::LeftButton);
    ASSERT_EQ(requested.count(), 1);
    EXPECT_EQ(requested.at(0).at(0).toString().toStdString(), Pdf().string());
    EXPECT_EQ(shown.PreviewPath(), Pdf());
    EXPECT_FALSE(shown.isVisible());
    // A description that names no file of its folder has nothing to show.
    shown.show();
    Refresh();
    EXPECT_FALSE(preview->isEnabled()) << "a fresh list has no ticks";
    Tick("Escaping");
    shown.Preview();
    EXPECT_EQ(requested.count(), 1);
    ASSERT_EQ(messages.texts.size(), 2u);
    EXPECT_EQ(messages.texts[1].rfind("Cannot find the file ", 0), 0u) << messages.texts[1];

    // Close hides the window; its placement is kept under the window's own section.
    QTest::mouseClick(Button("closeButton"), Qt::LeftButton);
    EXPECT_FALSE(shown.isVisible());
    EXPECT_TRUE(WindowPlacement::Stored(DlgUSBPrints::kPlacementSection).has_value());
    // The drive goes: the refresh the main window asks for empties the list.
    ASSERT_TRUE(stick.Unmount());
    Refresh();
    EXPECT_EQ(List()->rowCount() + shown.RowCount(), 0);
    // Nothing left to print, preview or delete.
    EXPECT_FALSE(Button("printButton")->isEnabled() || Button("deleteButton")->isEnabled() ||
                 preview->isEnabled());
    EXPECT_FALSE(DocumentFolders::removableDrivePresent);
    EXPECT_FALSE(preview->isEnabled());

    // Every text from the interface language.
    AddThreeDocuments(Mount("again"));
    DlgUSBPrints& italian = Open(kItalian);
    EXPECT_EQ(italian.windowTitle(), "Servizio di stampa Wi-Fi - Documenti su unità rimovibili");
    EXPECT_EQ(QString(Button("printButton")->text() + Button("previewButton")->text() +
                      Button("deleteButton")->text() + Button("closeButton")->text())
                  .remove(QChar('&'))
                  .toStdString(),
              Localized(142) + Localized(148) + Localized(147) + Localized(156));
    for (const unsigned column : {1u, 2u, 3u, 4u}) {
        EXPECT_EQ(Heading(static_cast<int>(column)), Localized(162 + column));
    }
    EXPECT_EQ(Heading(DlgUSBPrints::kCopiesColumn), "Copie");
    EXPECT_EQ(Cell(RowOf("Invoice 117"), 4) + "|" + Cell(RowOf("Shopping list"), 4), "Non stampato|Stampato");
    EXPECT_LT(List()->fontMetrics().horizontalAdvance("Non stampato"),
              List()->columnWidth(DlgUSBPrints::kStatusColumn));
    italian.Preview();
    EXPECT_EQ(messages.texts.back(), "Selezionare un documento");
}

TEST_P(DocumentsWindowTest,
       PrintGivesTheTickedDocumentsToTheChosenQueueWithTheirCopiesAndMarksOnlyWhatWasTaken) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "CUPS_SERVER is not set: no test spooler";
    }
    ASSERT_EQ(std::system((std::string("lpoptions -d ") + kDefaultQueue + " >/dev/null").c_str()), 0);
    AddThreeDocuments(Mount("stick"));
    // The real main window's controller takes the documents that are no PDF to its preview page.
    controller = std::make_unique<MainWindowController>(nullptr);
    DlgUSBPrints& shown = Open();

    // Nothing ticked: the message, and no dialog.
    shown.Print();
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Select a document"});
    EXPECT_EQ(printDialog.asked, 0);
    // Print from the main window's preview (this window hidden), cancelled in the dialog: nothing
    // is printed or marked, and this window comes back.
    TickAll();
    shown.hide();
    printDialog.answer = false;
    PrintAndWait();
    EXPECT_TRUE(shown.isVisible());
    EXPECT_EQ(PrintedMark(html) + PrintedMark(pdf), "00");
    EXPECT_TRUE(Jobs("scan-" + tag + ".pdf").empty());
    // The ticks stay as the person left them.
    for (int row = 0; row < List()->rowCount(); ++row) {
        EXPECT_EQ(List()->item(row, 0)->checkState(), Qt::Checked) << row;
    }

    // All three ticked, the text file printed before (printing it again is the person's choice).
    printDialog.answer = true;
    QSignalSpy finished(&shown, &DlgUSBPrints::printFinished);
    QTest::mouseClick(Button("printButton"), Qt::LeftButton);
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_EQ(printDialog.asked, 2);
    EXPECT_TRUE(printDialog.onGuiThread) << "the print dialog must be asked on the GUI thread";
    EXPECT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(shown.PrintsRunning(), 0);
    // Each document is one job with the copies of its description.
    const std::vector<Spooler::JobInfo> pdfJobs = Jobs("scan-" + tag + ".pdf");
    const std::vector<Spooler::JobInfo> htmlJobs = Jobs("report-" + tag + ".htm");
    const std::vector<Spooler::JobInfo> textJobs = Jobs("notes-" + tag + ".txt");
    ASSERT_EQ(pdfJobs.size(), 1u);
    EXPECT_EQ(pdfJobs[0].copies, 3);
    ASSERT_EQ(htmlJobs.size(), 1u);
    EXPECT_EQ(htmlJobs[0].copies, 2);
    ASSERT_EQ(textJobs.size(), 1u);
    EXPECT_EQ(textJobs[0].copies, 1);
    for (const fs::path& document : {Pdf(), Html(), text / ("notes-" + tag + ".txt")}) {
        EXPECT_TRUE(Jobs(document.filename().string(), kDefaultQueue).empty())
            << document << " went to the default";
    }
    // One after the other in row order, a second apart.
    std::map<int, std::time_t> created = {{RowOf("Invoice 117"), htmlJobs[0].created},
                                          {RowOf("Delivery note"), pdfJobs[0].created},
                                          {RowOf("Shopping list"), textJobs[0].created}};
    EXPECT_LT(created[0], created[1]);
    EXPECT_LT(created[1], created[2]);
    // Every description file holds the printed mark, and the refreshed, unticked list shows it.
    EXPECT_EQ(PrintedMark(html) + PrintedMark(pdf) + PrintedMark(text), "111");
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Cell(row, DlgUSBPrints::kStatusColumn), "Printed");
        EXPECT_EQ(List()->item(row, 0)->checkState(), Qt::Unchecked);
    }
    const std::vector<std::string> log = LogMessages(dir / "qopra.log");
    const std::vector<std::string> banner = {"*******************", "PrintProcessThread",
                                             "*******************"};
    EXPECT_NE(std::search(log.begin(), log.end(), banner.begin(), banner.end()), log.end());

    // Documents gone from the drive since the listing, a PDF among them, and one the main window is
    // not there to print (new folders: the FUSE FAT driver mishandles files rewritten after a rename).
    const fs::path goneHtml =
        Add(*volumes.back(), "DOC4", {"Pad", "Gone page", "gone.htm", "", "1", "0", "x"});
    const fs::path gonePdf =
        Add(*volumes.back(), "DOC5", {"Pad", "Gone scan", "gone.pdf", "", "1", "0", "x"});
    const fs::path stays =
        Add(*volumes.back(), "DOC6", {"Pad", "No window", "stays-" + tag + ".txt", "", "1", "0", "x"});
    window.reset();
    controller.reset();
    Open();
    Tick("Gone page");
    Tick("Gone scan");
    Tick("No window");
    fs::remove(goneHtml / "gone.htm");
    fs::remove(gonePdf / "gone.pdf");
    messages.texts.clear();
    PrintAndWait();
    // Rows come in the order of the drive: compared without order.
    std::sort(messages.texts.begin(), messages.texts.end());
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{"Cannot find the file " + (goneHtml / "gone.htm").string(),
                                        "Cannot find the file " + (gonePdf / "gone.pdf").string()}));
    EXPECT_TRUE(Logged("[ERROR] Cant find file " + (gonePdf / "gone.pdf").string()));
    EXPECT_EQ(PrintedMark(goneHtml) + PrintedMark(gonePdf) + PrintedMark(stays), "000");
    EXPECT_TRUE(Jobs("stays-" + tag + ".txt").empty());

    // A PDF the spooler refuses is not marked either.
    WriteFileBytes(gonePdf / "gone.pdf", printtest::MinimalPdf());
    Tick("Gone scan");
    printDialog.queue = "qopra-reject";
    PrintAndWait();
    EXPECT_EQ(PrintedMark(gonePdf), "0");

    // The window goes while its question is still to be asked: the worker ends, nothing is asked.
    Tick("Gone scan");
    const int asked = printDialog.asked;
    window->Print();
    window.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(printDialog.asked, asked);
}

TEST_P(DocumentsWindowTest, DeleteRemovesTheTickedFoldersAfterTheQuestionAndNothingThroughALink) {
    MountedVolume& stick = Mount("stick");
    AddThreeDocuments(stick);
    DlgUSBPrints& shown = Open();
    shown.Delete();
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Select a document"});
    EXPECT_TRUE(question.texts.empty());

    // Cancel keeps everything; OK removes the whole ticked folders and their rows.
    Tick("Invoice 117");
    question.answer = false;
    QTest::mouseClick(Button("deleteButton"), Qt::LeftButton);
    EXPECT_EQ(question.texts, std::vector<std::string>{
                                  "Attention!\nAre you sure you wish to delete the selected documents?"});
    EXPECT_TRUE(fs::exists(html / "printinfo.xml"));
    Tick("Delivery note");
    question.answer = true;
    // The Delete key in the list does what the button does.
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Delete);
    EXPECT_EQ(question.texts.size(), 2u);
    WaitForList();
    EXPECT_FALSE(fs::exists(html) || fs::exists(pdf));
    EXPECT_TRUE(fs::exists(text / "printinfo.xml"));
    ASSERT_EQ(List()->rowCount(), 1);
    EXPECT_EQ(Cell(0, DlgUSBPrints::kDescriptionColumn), "Shopping list");
    EXPECT_TRUE(Logged("Delete folder: " + html.string()) && Logged("Delete folder: " + pdf.string()));
    if (GetParam() == MountedVolume::Kind::Fat) {
        return; // FAT has no links
    }

    // Links inside a document folder go by themselves, and so does a document folder that became a
    // link (to a folder outside the document root) since the listing; what they point at stays.
    fs::create_directories(dir / "outside" / "folder");
    WriteFileBytes(dir / "outside" / "folder" / "keep.txt", "keep");
    fs::create_directory_symlink(dir / "outside" / "folder", text / "linked-folder");
    fs::create_symlink(dir / "outside" / "folder" / "keep.txt", text / "linked-file");
    const fs::path victim = Add(stick, "DOC5", {"Pad", "Victim", "v.htm", "", "1", "0", "v"});
    Refresh();
    fs::rename(victim, stick.MountPoint() / "moved");
    fs::create_directory_symlink(stick.MountPoint() / "moved", victim);
    TickAll();
    QTest::mouseClick(Button("deleteButton"), Qt::LeftButton);
    WaitForList();
    EXPECT_FALSE(fs::exists(fs::symlink_status(text)) || fs::exists(fs::symlink_status(victim)));
    EXPECT_EQ(ReadFileBytes(dir / "outside" / "folder" / "keep.txt"), "keep");
    EXPECT_EQ(ReadFileBytes(stick.MountPoint() / "moved" / "v.htm"), "v");

    // A document root that became a link since the listing leads nowhere: nothing is removed.
    const fs::path last = Add(stick, "DOC6", {"Pad", "Last", "l.htm", "", "1", "0", "l"});
    Refresh();
    fs::rename(stick.MountPoint() / "Ferrulo", stick.MountPoint() / "elsewhere");
    fs::create_directory_symlink(stick.MountPoint() / "elsewhere", stick.MountPoint() / "Ferrulo");
    TickAll();
    QTest::mouseClick(Button("deleteButton"), Qt::LeftButton);
    WaitForList();
    EXPECT_EQ(ReadFileBytes(stick.MountPoint() / "elsewhere" / "DOC6" / "l.htm"), "l");
    EXPECT_TRUE(Logged("[WARNING] " + last.string() +
                       " is not a document folder of a removable drive and is not removed"));
    EXPECT_FALSE(Logged("Delete folder: " + last.string()));
}

// A big pen drive held the GUI thread while its description files were read (a network print waited
// seconds for it): the drives are read on a worker, the rows come in batches as they are read, and a
// refresh or the end of the window in the middle of a scan leaves one whole list or nothing.
TEST_P(DocumentsWindowTest, DrivesAreReadOnAWorkerAndTheRowsComeAsTheyAreRead) {
    constexpr int kFolders = static_cast<int>(DocumentScan::kBatchSize) + 20; // more than one batch
    MountedVolume& stick = Mount("stick");
    // One description without the printed mark, which the scan adds (written once: the FUSE FAT
    // driver mishandles files rewritten in place).
    const fs::path unmarked = stick.MountPoint() / "Ferrulo" / "DOC7";
    for (int n = 0; n < kFolders; ++n) {
        if (n != 7) {
            Add(stick, "DOC" + std::to_string(n),
                {"Pad", "Document " + std::to_string(n), "d.pdf", "", "1", "1", "x"});
        }
    }
    fs::create_directories(unmarked);
    WriteFileBytes(unmarked / "printinfo.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<document>\r\n"
                                               "<description>Unmarked</description>\r\n<filename>d.pdf"
                                               "</filename>\r\n</document>\r\n");

    window = std::make_unique<DlgUSBPrints>(
        kEnglish, DlgUSBPrints::Parts{printDialog, messages, question, controller.get(), sources});
    EXPECT_EQ(window->RowCount(), 0) << "the window was made without waiting for the drive";
    EXPECT_TRUE(window->Scanning());
    QSignalSpy inserted(List()->model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy filled(window.get(), &DlgUSBPrints::documentListFilled);
    ASSERT_TRUE(filled.wait(kWaitMs));
    EXPECT_FALSE(window->Scanning());
    EXPECT_EQ(window->RowCount(), kFolders);
    EXPECT_EQ(List()->rowCount(), kFolders);
    EXPECT_GE(inserted.count(), 2) << "the rows came in batches";
    EXPECT_EQ(Cell(RowOf("Unmarked"), DlgUSBPrints::kStatusColumn), "Not printed");
    EXPECT_EQ(PrintedMark(unmarked), "0");

    // Refreshes one upon the other: the last one's list, once.
    window->RefreshDocumentList();
    window->RefreshDocumentList();
    EXPECT_EQ(window->RowCount(), 0);
    WaitForList();
    EXPECT_EQ(window->RowCount(), kFolders);
    EXPECT_EQ(filled.count(), 2);
    // The window goes while it reads the drive: its worker ends with it.
    window->RefreshDocumentList();
    window.reset();
    QCoreApplication::processEvents();
}

INSTANTIATE_TEST_SUITE_P(PenDrives, DocumentsWindowTest,
                         testing::Values(MountedVolume::Kind::Tmpfs, MountedVolume::Kind::Fat), KindName);
