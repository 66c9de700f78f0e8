#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <pugixml.hpp>
#include <set>
#include <vector>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/gui/QtConfirmBox.h"
#include "archive/PrintedDocuments.h"
#include "archive/gui/CHistoryDlg.h"
#include "gui/SettingsWindowApplication.h"
#include "support/AnsweredDialogs.h"
#include "support/FileBytes.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kEnglish = 2057;
constexpr std::uint16_t kItalian = 1040;

class HistoryWindowTest : public testing::Test {
protected:
    void SetUp() override {
        windowtest::Application();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(dir / "config"));
        fs::create_directories(data);
        DataFolder::SetPath(data);
        EventLog::Global().SetFileName(data / "qopra.log");
    }
    void TearDown() override {
        window.reset();
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
    }

    // A printed document kept the way backup mode keeps it: a working folder with the archive and the
    // document, and a register entry.
    fs::path Keep(const std::string& name, std::uint32_t id, const std::string& printer = "Office-Laser") {
        const fs::path folder = data / ("kept-" + std::to_string(id));
        fs::create_directories(folder);
        WriteFileBytes(folder / (name + ".7z"), "7z");
        WriteFileBytes(folder / name, "<html><body>" + name + "</body></html>");
        EXPECT_TRUE(documents.AddPrintedDocument(name + ".7z", printer, name, folder.string(), id));
        return folder;
    }
    // An entry naming any folder, as a hand-edited register may.
    void Enter(const fs::path& folder, std::uint32_t id) {
        EXPECT_TRUE(documents.AddPrintedDocument("x.7z", "Office-Laser", "x.htm", folder.string(), id));
    }

    // The window as the main window fills it at start-up.
    CHistoryDlg& Open(std::uint16_t language = kEnglish) {
        window = std::make_unique<CHistoryDlg>(language, documents);
        documents.LoadPrintedDocuments(
            [this](std::unique_ptr<PrintJobRecord> record) { window->AddHistoryEntry(*record); });
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return *window;
    }

    QTableWidget* List() const { return window->findChild<QTableWidget*>("historyList"); }
    QPushButton* PreviewButton() const { return window->findChild<QPushButton*>("previewButton"); }
    QPushButton* DeleteButton() const { return window->findChild<QPushButton*>("deleteButton"); }
    bool ButtonsEnabled() const {
        EXPECT_EQ(PreviewButton()->isEnabled(), DeleteButton()->isEnabled());
        return PreviewButton()->isEnabled();
    }
    void ClickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
        const QRect cell = List()->visualRect(List()->model()->index(row, 1));
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, modifiers, cell.center());
    }
    std::vector<std::string> Documents() const {
        std::vector<std::string> shown;
        for (int row = 0; row < List()->rowCount(); ++row) {
            shown.push_back(List()->item(row, 1)->text().toStdString());
        }
        return shown;
    }
    std::set<std::string> RegisterIds() {
        EXPECT_TRUE(documents.Flush());
        pugi::xml_document document;
        EXPECT_TRUE(
            document.load_file(documents.Path().c_str(), pugi::parse_default, pugi::encoding_utf16_le));
        std::set<std::string> ids;
        for (const pugi::xpath_node& entry : document.select_nodes("//prints/print")) {
            ids.insert(entry.node().attribute("id").value());
        }
        return ids;
    }

    TempDir dir;
    fs::path data = dir / "data";
    PrintedDocuments documents{data / "printed.xml"};
    std::unique_ptr<CHistoryDlg> window;
};

} // namespace

TEST_F(HistoryWindowTest, ShowsTheKeptDocumentsWithTheirTextsAndLayoutInTheInterfaceLanguage) {
    Keep("first.htm", 11, "Office-Laser");
    Keep("second.htm", 12, "Reception-Inkjet");
    const fs::path gone = Keep("gone.htm", 13);
    fs::remove_all(gone);
    Open();
    EXPECT_EQ(window->windowTitle(), "ARCHIVE");
    EXPECT_EQ(PreviewButton()->text().remove(QChar('&')), "PREVIEW");
    EXPECT_EQ(DeleteButton()->text().remove(QChar('&')), "DELETE");
    EXPECT_FALSE(PreviewButton()->isEnabled());
    EXPECT_FALSE(DeleteButton()->isEnabled());
    const QStringList headings = {List()->horizontalHeaderItem(0)->text(),
                                  List()->horizontalHeaderItem(1)->text(),
                                  List()->horizontalHeaderItem(2)->text()};
    EXPECT_EQ(headings, QStringList({"Date", "File", "Printer"}));
    EXPECT_EQ(List()->columnWidth(0), CHistoryDlg::kDateWidth);
    EXPECT_EQ(List()->columnWidth(1), CHistoryDlg::kFileWidth);
    EXPECT_EQ(List()->columnWidth(2), CHistoryDlg::kPrinterWidth);
    EXPECT_EQ(List()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(List()->selectionBehavior(), QAbstractItemView::SelectRows);

    // The register's entries whose folders are still there, in file order: date, document, printer.
    ASSERT_EQ(Documents(), (std::vector<std::string>{"first.htm", "second.htm"}));
    EXPECT_EQ(List()->item(1, 2)->text(), "Reception-Inkjet");
    EXPECT_TRUE(QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d$")
                    .match(List()->item(0, 0)->text())
                    .hasMatch())
        << List()->item(0, 0)->text().toStdString();
    EXPECT_EQ(window->RecordAt(1).id, 12u);
    EXPECT_EQ(window->RecordAt(1).receivedFileName, "second.htm.7z");

    // Each recorded print adds a row at the end; the row holds its own copy of the record.
    {
        PrintJobRecord printed;
        printed.documentName = "third.htm";
        printed.printerName = "Office-Laser";
        printed.date = "01.02.2024 10:11:12";
        printed.id = 14;
        window->AddHistoryEntry(printed);
    }
    ASSERT_EQ(window->RowCount(), 3);
    EXPECT_EQ(List()->item(2, 0)->text(), "01.02.2024 10:11:12");
    EXPECT_EQ(window->RecordAt(2).documentName, "third.htm");

    // The list grows with the window; the buttons keep their place at the lower right edge.
    const auto gaps = [&] {
        const QRect list = List()->geometry();
        const QRect button = DeleteButton()->geometry();
        return std::vector<int>{window->width() - list.right(), window->width() - button.right(),
                                window->height() - button.bottom(), button.top() - list.bottom()};
    };
    const std::vector<int> before = gaps();
    const QSize listBefore = List()->size();
    window->resize(window->width() + 200, window->height() + 150);
    QApplication::processEvents();
    EXPECT_EQ(gaps(), before);
    EXPECT_EQ(List()->size(), listBefore + QSize(200, 150));

    CHistoryDlg italian(kItalian, documents);
    EXPECT_EQ(italian.windowTitle(), "ARCHIVIO");
    EXPECT_EQ(italian.findChild<QPushButton*>("previewButton")->text().remove(QChar('&')), "ANTEPRIMA");
    EXPECT_EQ(italian.findChild<QPushButton*>("deleteButton")->text().remove(QChar('&')), "ELIMINA");
    EXPECT_EQ(italian.findChild<QTableWidget*>("historyList")->horizontalHeaderItem(2)->text(), "Stampante");
}

TEST_F(HistoryWindowTest, PreviewAndDeleteAreUsableWhileARowIsSelectedAndPreviewAsksForTheFirst) {
    for (std::uint32_t id = 1; id <= 4; ++id) {
        Keep("doc" + std::to_string(id) + ".htm", id);
    }
    Open();
    std::vector<PrintJobRecord> previewed;
    QObject::connect(window.get(), &CHistoryDlg::showDocumentRequested,
                     [&](const PrintJobRecord& record) { previewed.push_back(record); });
    EXPECT_FALSE(ButtonsEnabled());

    ClickRow(0);
    EXPECT_TRUE(ButtonsEnabled());
    ClickRow(2); // the selection moves: still usable
    EXPECT_TRUE(ButtonsEnabled());
    ClickRow(2, Qt::ControlModifier); // nothing selected any more
    EXPECT_FALSE(ButtonsEnabled());
    QTest::mouseClick(PreviewButton(), Qt::LeftButton);
    EXPECT_TRUE(previewed.empty());

    // Several rows: Preview takes the first of them, which stays selected, and the list has the focus.
    ClickRow(3);
    ClickRow(1, Qt::ControlModifier);
    EXPECT_TRUE(ButtonsEnabled());
    QTest::mouseClick(PreviewButton(), Qt::LeftButton);
    ASSERT_EQ(previewed.size(), 1u);
    EXPECT_EQ(previewed[0].documentName, "doc2.htm");
    EXPECT_EQ(previewed[0].workingFolder, (data / "kept-2").string());
    EXPECT_TRUE(List()->selectionModel()->isRowSelected(1));
    EXPECT_TRUE(List()->selectionModel()->isRowSelected(3));
    EXPECT_EQ(window->focusWidget(), List());
    // One of two deselected: the other one is still there to act on.
    ClickRow(1, Qt::ControlModifier);
    EXPECT_TRUE(ButtonsEnabled());
    ClickRow(3, Qt::ControlModifier);
    EXPECT_FALSE(ButtonsEnabled());

    // Keys as well as clicks.
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(ButtonsEnabled());
    // Enter in the list deletes nothing.
    QTest::keyClick(List(), Qt::Key_Return);
    EXPECT_EQ(window->RowCount(), 4);

    // Delete asks once for all the selected rows, and Cancel keeps every one.
    AnsweredQuestion question;
    question.answer = false;
    window->SetConfirmation(&question);
    QTest::mouseClick(DeleteButton(), Qt::LeftButton);
    EXPECT_EQ(window->RowCount(), 4);
    EXPECT_EQ(question.texts, (std::vector<std::string>{
                                  "Attention!\nAre you sure you wish to delete the selected documents?"}));
    // Two of them: both go after one question; the Delete key in the list does what the button does.
    question.answer = true;
    ClickRow(1);
    ClickRow(3, Qt::ControlModifier);
    QTest::keyClick(List(), Qt::Key_Delete);
    EXPECT_EQ(Documents(), (std::vector<std::string>{"doc1.htm", "doc3.htm"}));
    EXPECT_EQ(question.texts.size(), 2u);
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_EQ(RegisterIds(), (std::set<std::string>{"1", "3"}));
    // The rest at once leaves nothing to press.
    QTest::keyClick(List(), Qt::Key_A, Qt::ControlModifier);
    QTest::mouseClick(DeleteButton(), Qt::LeftButton);
    EXPECT_EQ(window->RowCount(), 0);
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_TRUE(RegisterIds().empty());
    EXPECT_FALSE(fs::exists(data / "kept-1"));
}

TEST_F(HistoryWindowTest, DeleteRemovesEntryFolderAndRowButNeverAnythingOutsideTheDataFolder) {
    const fs::path kept = Keep("kept.htm", 1);
    fs::create_directories(kept / "images");
    WriteFileBytes(kept / "images" / "logo.png", "png");
    const fs::path outside = dir / "elsewhere";
    fs::create_directories(outside / "docs");
    WriteFileBytes(outside / "docs" / "mine.txt", "mine");
    WriteFileBytes(outside / "precious.txt", "precious");
    fs::create_symlink(outside / "precious.txt", kept / "link-to-precious");
    fs::create_directory_symlink(outside / "docs", kept / "images" / "link-to-docs");

    const fs::path gone = Keep("gone.htm", 2);
    Enter(outside / "docs", 3); // outside the data folder
    fs::create_directory_symlink(outside / "docs", data / "link");
    Enter(data / "link", 4); // a link in place of the folder
    Enter(data, 5);          // the data folder itself
    fs::create_directory_symlink(outside / "docs", data / "other-link");
    Enter(data / "other-link" / "..", 6); // leads out through the link
    fs::create_directories(outside / "sub");
    fs::create_directory_symlink(outside, data / "way-out");
    Enter(data / "way-out" / "sub", 7); // a link on the way
    Open();
    ASSERT_EQ(window->RowCount(), 7);
    // Its folder went after the window was filled: the row still goes with its register entry.
    fs::remove_all(gone);

    for (int row = 0; row < 7; ++row) {
        ClickRow(0);
        QTest::mouseClick(DeleteButton(), Qt::LeftButton);
    }
    EXPECT_EQ(window->RowCount(), 0);
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_TRUE(RegisterIds().empty());

    EXPECT_FALSE(fs::exists(fs::symlink_status(kept)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(data / "link"))) << "the link goes";
    EXPECT_EQ(ReadFileBytes(outside / "precious.txt"), "precious");
    EXPECT_EQ(ReadFileBytes(outside / "docs" / "mine.txt"), "mine");
    EXPECT_TRUE(fs::is_directory(outside / "sub"));
    EXPECT_TRUE(fs::exists(data / "printed.xml"));
    EXPECT_TRUE(fs::exists(data / "qopra.log"));

    const std::vector<std::string> log = LogMessages(data / "qopra.log");
    const auto warned = [&](const fs::path& folder) {
        const std::string line =
            "[WARNING] " + folder.string() + " is not inside the data folder and is not removed";
        return std::find(log.begin(), log.end(), line) != log.end();
    };
    EXPECT_TRUE(warned(outside / "docs"));
    EXPECT_TRUE(warned(data));
    EXPECT_TRUE(warned(data / "other-link" / ".."));
    EXPECT_TRUE(warned(data / "way-out" / "sub"));
    EXPECT_EQ(std::count(log.begin(), log.end(), std::string("DeleteDocument error.")), 0);

    // A register that cannot be read keeps the row from nothing: the folder and the row still go.
    const fs::path last = Keep("last.htm", 8);
    window->AddHistoryEntry([&] {
        PrintJobRecord record;
        record.documentName = "last.htm";
        record.workingFolder = last.string();
        record.id = 8;
        return record;
    }());
    ASSERT_TRUE(documents.Flush());
    WriteFileBytes(documents.Path(), "not a register");
    ClickRow(0);
    QTest::mouseClick(DeleteButton(), Qt::LeftButton);
    EXPECT_EQ(window->RowCount(), 0);
    EXPECT_FALSE(fs::exists(last));
    EXPECT_EQ(ReadFileBytes(documents.Path()), "not a register");
    const std::vector<std::string> after = LogMessages(data / "qopra.log");
    EXPECT_EQ(after.back(), "Failed to remove printed document 8 from XML.");
}

TEST_F(HistoryWindowTest, TheRealQuestionBeforeDeleteKeepsTheDocumentsOnEnter) {
    Keep("kept.htm", 1);
    Open();
    QtConfirmBox box;
    window->SetConfirmation(&box);
    // Answers the message box as a person would: `key` on whatever button has the keyboard.
    const auto answer = [&](Qt::Key key) {
        bool asked = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                poll.stop();
                asked = true;
                EXPECT_EQ(question->defaultButton(), question->button(QMessageBox::Cancel))
                    << "the destructive button is not the default";
                QTest::keyClick(question, key);
            }
        });
        poll.start(10);
        ClickRow(0);
        QTest::mouseClick(DeleteButton(), Qt::LeftButton);
        EXPECT_TRUE(asked);
    };
    answer(Qt::Key_Return);
    EXPECT_EQ(window->RowCount(), 1);
    EXPECT_TRUE(fs::exists(data / "kept-1"));
}
