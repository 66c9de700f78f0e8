#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <map>

#include "app/CCommandLine.h"
#include "app/EventLog.h"
#include "app/Housekeeping.h"
#include "config/AppSettings.h"
#include "config/gui/CPrnNameDlg.h"
#include "config/gui/CSettingsDlg.h"
#include "gui/SettingsWindowApplication.h"
#include "platform/NetworkAdapters.h"
#include "print/Spooler.h"
#include "support/FakeElevation.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace {

constexpr const char* kPdfQueue = "qopra-pdf";
constexpr const char* kNullQueue = "qopra-null";
constexpr const char* kProofQueue = "qopra-proof";
constexpr const char* kSettingsFile = "<?xml version=\"1.0\"?>\n<settings><local_port>2001</local_port>"
                                      "<pad_port>2000</pad_port><local_address></local_address></settings>\n";
constexpr const char* kPortMessage = "Enter a port number from 1 to 65535";

class SettingsDlgTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("CUPS_SERVER") == nullptr) {
            GTEST_SKIP() << "CUPS_SERVER is not set: no test spooler";
        }
        windowtest::Application();
        EventLog::Global().SetFileName(dir / "qopra.log");
        paths.root = dir / "root";
        paths.configHome = dir / "config";
        paths.programFile = dir / "bin" / "qopra2";
        paths.relaunchFile = dir / "bin" / "qopra2";
        services = CSettingsDlg::Services::Real();
    }
    void TearDown() override { EventLog::Global().SetFileName({}); }

    void LoadFile(const std::string& content = kSettingsFile) {
        WriteFileBytes(file, content);
        ASSERT_TRUE(settings.Load(file.string()));
    }

    // The window as the main window shows it.
    CSettingsDlg& Open() {
        if (!window) {
            housekeeping = std::make_unique<Housekeeping>(paths, elevation, messages);
            window = std::make_unique<CSettingsDlg>(settings, *housekeeping, flags, messages, services);
        }
        window->RefreshAndShow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return *window;
    }

    template <typename T> T* Child(const char* name) const { return window->findChild<T*>(name); }
    QTableWidget* List() const { return Child<QTableWidget>("printerList"); }

    int RowOf(const std::string& printer) const {
        const QList<QTableWidgetItem*> found =
            List()->findItems(QString::fromStdString(printer), Qt::MatchExactly);
        EXPECT_FALSE(found.isEmpty()) << printer;
        return found.isEmpty() ? -1 : found.front()->row();
    }
    bool Ticked(const std::string& printer) const {
        return List()->item(RowOf(printer), 0)->checkState() == Qt::Checked;
    }
    QString AliasShown(const std::string& printer) const { return List()->item(RowOf(printer), 1)->text(); }
    QPoint CellCentre(int row, int column) const {
        return List()->visualRect(List()->model()->index(row, column)).center();
    }

    // A click on the printer's name, then the space bar on its check box.
    void Toggle(const std::string& printer) {
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, CellCentre(RowOf(printer), 0));
        QTest::keyClick(List(), Qt::Key_Space);
    }

    // Double-clicks the printer's row and lets `answer` work the alias window that opens.
    void Rename(const std::string& printer, const std::function<void(CPrnNameDlg&)>& answer) {
        bool answered = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<CPrnNameDlg*>(QApplication::activeModalWidget())) {
                poll.stop();
                answered = true;
                answer(*dialog);
            }
        });
        poll.start(10);
        // The first click of a double click, then the second one that the view sees as a double click.
        const QPoint cell = CellCentre(RowOf(printer), 1);
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, cell);
        EXPECT_TRUE(answered) << "no alias window for " << printer;
    }
    // Types `alias` over the alias box and presses OK.
    void GiveAlias(const std::string& printer, const QString& alias) {
        Rename(printer, [&](CPrnNameDlg& dialog) {
            auto* edit = dialog.findChild<QLineEdit*>("aliasEdit");
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClicks(edit, alias);
            QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
        });
    }

    void TypeInto(const char* editName, const QString& text) {
        auto* edit = Child<QLineEdit>(editName);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
    void Press(const char* buttonName) { QTest::mouseClick(Child<QPushButton>(buttonName), Qt::LeftButton); }

    std::filesystem::path Entry() const { return paths.UserAutostartFolder() / Housekeeping::kNewEntryName; }

    TempDir dir;
    std::filesystem::path file = dir / "qopra.xml";
    AppSettings settings;
    InstallationPaths paths;
    FakeElevation elevation{0};
    RecordedMessages messages;
    StartupFlags flags;
    CSettingsDlg::Services services;
    std::unique_ptr<Housekeeping> housekeeping;
    std::unique_ptr<CSettingsDlg> window;
};

} // namespace

TEST_F(SettingsDlgTest, WithoutSettingsFileShowsDefaultsTheChosenAddressAndTheSpoolersPrintersUnticked) {
    EXPECT_FALSE(settings.Load(file.string()));
    // What the network start chooses when there is no saved adapter.
    const std::vector<std::string> addresses = ListLocalAddresses();
    settings.local_address = addresses.empty() ? "" : addresses.front();

    Open();
    EXPECT_EQ(Child<QLineEdit>("localPortEdit")->text(), "2001");
    EXPECT_EQ(Child<QLineEdit>("padPortEdit")->text(), "2000");
    EXPECT_EQ(Child<QComboBox>("addressBox")->count(), static_cast<int>(addresses.size()));
    EXPECT_EQ(Child<QComboBox>("addressBox")->currentText().toStdString(), settings.local_address);
    EXPECT_EQ(Child<QLabel>("macLabel")->text().toStdString(),
              AppSettings::GetMacForAddress(settings.local_address));

    const std::optional<std::vector<std::string>> installed = Spooler::GetDestinations();
    ASSERT_TRUE(installed);
    ASSERT_EQ(List()->rowCount(), static_cast<int>(installed->size()));
    for (int row = 0; row < List()->rowCount(); ++row) {
        EXPECT_EQ(List()->item(row, 0)->text().toStdString(), (*installed)[static_cast<std::size_t>(row)]);
        EXPECT_EQ(List()->item(row, 0)->checkState(), Qt::Unchecked);
        EXPECT_EQ(List()->item(row, 1)->text(), "");
    }
    EXPECT_FALSE(Child<QCheckBox>("autoStartBox")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>("backupBox")->isVisible());
    EXPECT_FALSE(Child<QCheckBox>("backupBox")->isChecked());

    // OK keeps the values for this run and leaves no file behind.
    Toggle(kPdfQueue);
    Press("okButton");
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(settings.Printers(), (std::vector<std::string>{kPdfQueue}));
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(SettingsDlgTest, TickedPrinterWithAnAliasIsSavedAndPublishedAndAClearedAliasIsRemoved) {
    LoadFile();
    Open();
    Toggle(kPdfQueue);
    Toggle(kNullQueue);
    QString shownName;
    bool nameReadOnly = false;
    Rename(kPdfQueue, [&](CPrnNameDlg& dialog) {
        shownName = dialog.findChild<QLineEdit*>("printerNameEdit")->text();
        nameReadOnly = dialog.findChild<QLineEdit*>("printerNameEdit")->isReadOnly();
        QTest::keyClicks(dialog.findChild<QLineEdit*>("aliasEdit"), "Office");
        QTest::keyClick(dialog.findChild<QLineEdit*>("aliasEdit"), Qt::Key_Return);
    });
    EXPECT_EQ(shownName, kPdfQueue);
    EXPECT_TRUE(nameReadOnly);
    EXPECT_EQ(AliasShown(kPdfQueue), "Office");
    // Nothing is stored before OK.
    EXPECT_TRUE(settings.Aliases().empty());

    Press("okButton");
    const std::string saved = ReadFileBytes(file);
    EXPECT_NE(saved.find("<printers><printer>qopra-null</printer><printer>qopra-pdf</printer></printers>"),
              std::string::npos)
        << saved;
    EXPECT_NE(saved.find("<aliases><alias>qopra-pdf|Office</alias></aliases>"), std::string::npos) << saved;
    EXPECT_EQ(settings.GetPublishedPrinters(), (std::vector<std::string>{kNullQueue, "Office"}));
    EXPECT_EQ(settings.ResolvePrinterName("OFFICE"), kPdfQueue);

    // The next showing starts from what was stored; an emptied alias removes it.
    Open();
    EXPECT_TRUE(Ticked(kPdfQueue));
    EXPECT_TRUE(Ticked(kNullQueue));
    EXPECT_FALSE(Ticked(kProofQueue));
    EXPECT_EQ(AliasShown(kPdfQueue), "Office");
    GiveAlias(kPdfQueue, "");
    Press("okButton");
    EXPECT_EQ(ReadFileBytes(file).find("<alias>"), std::string::npos) << ReadFileBytes(file);
    EXPECT_EQ(settings.GetPublishedPrinters(), (std::vector<std::string>{kNullQueue, kPdfQueue}));
}

TEST_F(SettingsDlgTest, AliasOfAnUntickedPrinterAndCancelStoreNothing) {
    LoadFile();
    Open();
    GiveAlias(kProofQueue, "Lost");
    EXPECT_EQ(AliasShown(kProofQueue), "Lost");
    // The alias window's own Cancel keeps the row as it was.
    Rename(kProofQueue, [](CPrnNameDlg& dialog) {
        QTest::keyClicks(dialog.findChild<QLineEdit*>("aliasEdit"), "Other");
        QTest::mouseClick(dialog.findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    });
    EXPECT_EQ(AliasShown(kProofQueue), "Lost");
    Press("okButton");
    EXPECT_TRUE(settings.Aliases().empty());
    EXPECT_EQ(ReadFileBytes(file).find("<alias>"), std::string::npos);

    const std::string before = ReadFileBytes(file);
    Open();
    Toggle(kPdfQueue);
    GiveAlias(kPdfQueue, "Office");
    TypeInto("localPortEdit", "3001");
    Press("cancelButton");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_EQ(settings.local_port, "2001");
    EXPECT_TRUE(settings.Printers().empty());
    EXPECT_TRUE(settings.Aliases().empty());
    Open();
    EXPECT_EQ(Child<QLineEdit>("localPortEdit")->text(), "2001");
    EXPECT_FALSE(Ticked(kPdfQueue));
    EXPECT_EQ(AliasShown(kPdfQueue), "");
}

TEST_F(SettingsDlgTest, BadPortsAreRefusedBesideTheirBoxAndAChangeRestartsTheNetworkService) {
    LoadFile();
    Open();
    QSignalSpy restarts(window.get(), &CSettingsDlg::networkSettingsChanged);
    const std::string before = ReadFileBytes(file);
    for (const QString bad : {"0", "65536", "abc", "", "20 01", "-1", "99999999999"}) {
        TypeInto("localPortEdit", bad);
        Press("okButton");
        EXPECT_TRUE(window->isVisible()) << bad.toStdString();
        EXPECT_TRUE(Child<QLabel>("localPortError")->isVisible()) << bad.toStdString();
        EXPECT_EQ(Child<QLabel>("localPortError")->text(), kPortMessage);
        EXPECT_FALSE(Child<QLabel>("padPortError")->isVisible());
    }
    TypeInto("localPortEdit", "2001");
    TypeInto("padPortEdit", "0x10");
    Press("okButton");
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(Child<QLabel>("localPortError")->isVisible());
    EXPECT_TRUE(Child<QLabel>("padPortError")->isVisible());
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_EQ(settings.pad_port, "2000");
    EXPECT_EQ(restarts.count(), 0);

    // Unchanged values restart nothing; each change says what changed.
    TypeInto("padPortEdit", "2000");
    Press("okButton");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(restarts.count(), 0);
    Open();
    EXPECT_FALSE(Child<QLabel>("padPortError")->isVisible());
    TypeInto("localPortEdit", " 3001 ");
    TypeInto("padPortEdit", "09100");
    Press("okButton");
    ASSERT_EQ(restarts.count(), 1);
    EXPECT_EQ(restarts.at(0), (QList<QVariant>{true, true, false}));
    EXPECT_EQ(settings.local_port, "3001");
    EXPECT_EQ(settings.pad_port, "9100");
    EXPECT_NE(ReadFileBytes(file).find("<local_port>3001</local_port><pad_port>9100</pad_port>"),
              std::string::npos);
}

TEST_F(SettingsDlgTest, AddressBoxSelectsTheSavedAddressAndTheHardwareAddressFollowsThePick) {
    const std::map<std::string, std::string> macs = {{"192.168.7.1", "AA-00-00-00-00-01"},
                                                     {"192.168.7.10", "AA-00-00-00-00-10"}};
    services.localAddresses = [] {
        return std::vector<std::string>{"192.168.7.10", "10.1.2.3", "192.168.7.1"};
    };
    services.macForAddress = [&](const std::string& address) {
        const auto found = macs.find(address);
        return found == macs.end() ? std::string() : found->second;
    };
    LoadFile();
    settings.local_address = "192.168.7.1";
    Open();
    auto* box = Child<QComboBox>("addressBox");
    EXPECT_EQ(box->itemText(0), "10.1.2.3");
    EXPECT_EQ(box->currentText(), "192.168.7.1");
    EXPECT_EQ(Child<QLabel>("macLabel")->text(), "AA-00-00-00-00-01");

    // A pick shows its adapter at once and becomes the address with OK.
    QSignalSpy restarts(window.get(), &CSettingsDlg::networkSettingsChanged);
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(box->currentText(), "192.168.7.10");
    EXPECT_EQ(Child<QLabel>("macLabel")->text(), "AA-00-00-00-00-10");
    EXPECT_EQ(settings.local_address, "192.168.7.1");
    Press("okButton");
    EXPECT_EQ(settings.local_address, "192.168.7.10");
    ASSERT_EQ(restarts.count(), 1);
    EXPECT_EQ(restarts.at(0), (QList<QVariant>{false, false, true}));

    // An address the host does not have selects nothing, and OK keeps it.
    settings.local_address = "172.16.0.9";
    Open();
    EXPECT_EQ(box->currentIndex(), -1);
    EXPECT_EQ(Child<QLabel>("macLabel")->text(), "");
    Press("okButton");
    EXPECT_EQ(settings.local_address, "172.16.0.9");
    EXPECT_EQ(restarts.count(), 1);

    const std::vector<std::string> entries{"10.0.0.1", "10.0.0.10", "10.0.0.2"};
    EXPECT_EQ(CSettingsDlg::ChooseAddress(entries, "10.0.0.1"), 0);
    EXPECT_EQ(CSettingsDlg::ChooseAddress(entries, "10.0.0."), 1);
    EXPECT_EQ(CSettingsDlg::ChooseAddress(entries, "10.0.0.2"), 2);
    EXPECT_EQ(CSettingsDlg::ChooseAddress({"10.0.0.5"}, "10.0"), 0);
    EXPECT_EQ(CSettingsDlg::ChooseAddress(entries, ""), -1);
    EXPECT_EQ(CSettingsDlg::ChooseAddress({}, "10.0.0.1"), -1);
}

TEST_F(SettingsDlgTest, AutoStartIsTheUsersOwnEntryWrittenWithoutElevationByAnyUser) {
    for (const unsigned user : {1000u, 0u}) {
        elevation.userId = user;
        std::filesystem::remove_all(paths.configHome);
        LoadFile();
        Open();
        auto* box = Child<QCheckBox>("autoStartBox");
        EXPECT_FALSE(box->isChecked());
        if (user != 0) {
            Toggle(kPdfQueue);
        }
        // Alt and the box's letter tick it, as a person with the keyboard does.
        const QString text = box->text();
        const QChar letter = text.at(text.indexOf('&') + 1);
        QTest::keyClick(window.get(), letter.toLatin1(), Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return box->isChecked(); })) << text.toStdString();
        Press("okButton");
        EXPECT_FALSE(window->isVisible());
        EXPECT_NE(ReadFileBytes(Entry()).find("\nExec=" + paths.programFile.string() + "\n"),
                  std::string::npos);
        EXPECT_NE(ReadFileBytes(file).find("<printer>qopra-pdf</printer>"), std::string::npos);

        // The box reads the entry: gone by other hands, the box shows it.
        Open();
        EXPECT_TRUE(box->isChecked());
        std::filesystem::remove(Entry());
        Open();
        EXPECT_FALSE(box->isChecked());
        QTest::keyClick(box, Qt::Key_Space);
        Press("okButton");
        Open();
        QTest::keyClick(box, Qt::Key_Space);
        Press("okButton");
        EXPECT_FALSE(std::filesystem::exists(Entry()));
        EXPECT_TRUE(elevation.launches.empty()) << "no elevation, no restart";
        EXPECT_TRUE(messages.texts.empty());
        window.reset();
    }

    // A copy started by an older program's relaunch still shows the box as its command line says, once.
    flags.autostartCheck = true;
    flags.checkState = 1;
    Open();
    EXPECT_TRUE(Child<QCheckBox>("autoStartBox")->isChecked());
    EXPECT_FALSE(flags.autostartCheck);
    Press("okButton");
    EXPECT_TRUE(std::filesystem::exists(Entry()));
    Open();
    EXPECT_TRUE(Child<QCheckBox>("autoStartBox")->isChecked());
}

TEST_F(SettingsDlgTest, NotifyBoxKeyboardAccessAndSizesFitTheTexts) {
    LoadFile();
    Open();
    auto* notify = Child<QCheckBox>("notifyBox");
    EXPECT_TRUE(notify->isChecked()) << "printed documents are told by default";
    QTest::keyClick(notify, Qt::Key_Space);
    Press("okButton");
    EXPECT_FALSE(settings.notify_printed);
    EXPECT_NE(ReadFileBytes(file).find("<notify_printed>0</notify_printed>"), std::string::npos);
    Open();
    EXPECT_FALSE(notify->isChecked());

    // Every label leads to its box, every control has its own letter and a name for screen readers.
    QSet<QChar> letters;
    for (QWidget* each : window->findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(each); label != nullptr && label->buddy() != nullptr) {
            text = label->text();
            EXPECT_FALSE(label->buddy()->accessibleName().isEmpty()) << text.toStdString();
        } else if (auto* button = qobject_cast<QAbstractButton*>(each);
                   button != nullptr && button->isVisible()) {
            text = button->text();
        } else {
            continue;
        }
        const qsizetype mark = text.indexOf('&');
        ASSERT_GE(mark, 0) << text.toStdString();
        EXPECT_FALSE(letters.contains(text.at(mark + 1).toLower())) << text.toStdString();
        letters.insert(text.at(mark + 1).toLower());
    }
    EXPECT_GE(letters.size(), 8);
    auto* localPortLabel = Child<QLabel>("localPortLabel");
    const QString portText = localPortLabel->text();
    QTest::keyClick(window.get(), portText.at(portText.indexOf('&') + 1).toLatin1(), Qt::AltModifier);
    EXPECT_TRUE(Child<QLineEdit>("localPortEdit")->hasFocus());

    // Ten printer rows show without scrolling, and the window cannot be made smaller than its texts.
    EXPECT_GE(List()->viewport()->height(), 10 * List()->verticalHeader()->defaultSectionSize());
    window->resize(100, 100);
    QTest::qWait(20);
    EXPECT_GE(window->width(), window->minimumSizeHint().width());
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->isVisible()) {
            EXPECT_GE(label->width(), label->minimumSizeHint().width()) << label->text().toStdString();
        }
    }
}

TEST_F(SettingsDlgTest, TextsFollowTheInterfaceLanguageAndAnUnreachableSpoolerKeepsTheOfferedPrinters) {
    LoadFile("<?xml version=\"1.0\"?>\n<settings><lang>it-IT</lang><printers><printer>Ufficio</printer>"
             "</printers><aliases><alias>Ufficio|Stampa</alias></aliases></settings>\n");
    services.installedPrinters = [] { return std::optional<std::vector<std::string>>(); };
    Open();
    EXPECT_EQ(window->windowTitle(), "Impostazioni");
    EXPECT_EQ(Child<QLabel>("addressLabel")->text().remove(QChar('&')), "Indirizzo UDP");
    EXPECT_EQ(Child<QLabel>("localPortLabel")->text().remove(QChar('&')), "Porta UDP");
    EXPECT_EQ(Child<QLabel>("padPortLabel")->text().remove(QChar('&')), "Porta TCP");
    EXPECT_EQ(Child<QLabel>("printersLabel")->text().remove(QChar('&')), "Stampanti disponibili");
    EXPECT_EQ(Child<QCheckBox>("autoStartBox")->text().remove(QChar('&')), "Avvio automatico");
    EXPECT_EQ(Child<QPushButton>("cancelButton")->text().remove(QChar('&')), "Annulla");
    EXPECT_EQ(Child<QPushButton>("okButton")->text().remove(QChar('&')), "OK");
    EXPECT_EQ(Child<QLabel>("localPortError")->text(), "Inserire un numero di porta da 1 a 65535");
    EXPECT_EQ(List()->horizontalHeaderItem(0)->text(), "Nome originale");
    EXPECT_EQ(List()->horizontalHeaderItem(1)->text(), "Nome personale");
    EXPECT_EQ(List()->columnWidth(0), CSettingsDlg::kColumnWidth);

    ASSERT_EQ(List()->rowCount(), 1);
    EXPECT_TRUE(Ticked("Ufficio"));
    EXPECT_EQ(AliasShown("Ufficio"), "Stampa");
    Rename("Ufficio", [](CPrnNameDlg& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Nome della stampante");
        EXPECT_EQ(dialog.findChild<QLabel*>("printerNameLabel")->text().remove(QChar('&')), "Nome originale");
        EXPECT_EQ(dialog.findChild<QLabel*>("aliasLabel")->text().remove(QChar('&')), "Nome personale");
        EXPECT_EQ(dialog.findChild<QPushButton*>("cancelButton")->text().remove(QChar('&')), "Annulla");
        EXPECT_EQ(dialog.findChild<QLineEdit*>("aliasEdit")->text(), "Stampa");
        QTest::keyClick(dialog.findChild<QLineEdit*>("aliasEdit"), Qt::Key_Escape);
    });
    Press("okButton");
    EXPECT_EQ(settings.GetPublishedPrinters(), (std::vector<std::string>{"Stampa"}));
}
