#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

#include "config/CultureTable.h"
#include "gui/SettingsWindowApplication.h"
#include "gui/TrayHost.h"
#include "ui/CSystemTray.h"

namespace {

std::uint16_t Language(const char* culture) {
    return LanguageFromCultureName(culture).value_or(0);
}

std::vector<QString> EntryTexts(const CSystemTray& tray) {
    std::vector<QString> texts;
    for (const QAction* action : tray.Menu()->actions()) {
        texts.push_back(action->text());
    }
    return texts;
}

} // namespace

TEST(SystemTray, MenuTextsFollowTheInterfaceLanguageAndThePenDriveEntryTheDrives) {
    windowtest::Application();
    CSystemTray tray;
    std::uint16_t language = Language("en-GB");
    bool drives = false;
    tray.SetLanguageSource([&] { return language; });
    tray.SetPenDriveSource([&] { return drives; });

    tray.PrepareMenu();
    // Each entry with a letter of its own for the keyboard.
    EXPECT_EQ(EntryTexts(tray), (std::vector<QString>{"&Open", "&ARCHIVE", "&Configure",
                                                      "&Documents on removable drives", "C&lose"}));
    EXPECT_FALSE(tray.Menu()->actions()[3]->isEnabled());
    language = Language("it-IT");
    drives = true;
    tray.PrepareMenu();
    EXPECT_EQ(tray.Menu()->actions()[0]->text(), "&Apri");
    EXPECT_TRUE(tray.Menu()->actions()[3]->isEnabled());
    language = Language("ja-JP");
    tray.PrepareMenu();
    EXPECT_NE(tray.Menu()->actions()[4]->text(), "Close");

    // Choosing an entry reports its command; the default entry moves from SETTINGS to OPEN.
    QSignalSpy chosen(&tray, &CSystemTray::commandChosen);
    tray.Menu()->actions()[4]->trigger();
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen[0][0].toInt(), CSystemTray::kClose);
    EXPECT_EQ(tray.DefaultCommand(), CSystemTray::kSettings);
    tray.SetDefaultEntry(CSystemTray::kOpen, false);
    EXPECT_EQ(tray.DefaultCommand(), CSystemTray::kOpen);
    EXPECT_EQ(tray.Menu()->defaultAction(), tray.Menu()->actions()[0]);

    tray.ShowTrayIcon(QString(300, 'x'));
    EXPECT_EQ(tray.ToolTip().size(), CSystemTray::kTooltipLimit);
}

TEST(SystemTray, ArrivalAnimationRestartsAndEndsOnTheNormalIcon) {
    windowtest::Application();
    CSystemTray tray;
    const qint64 normal = tray.CurrentIcon().cacheKey();
    tray.StartIconAnimation(std::chrono::milliseconds(20), std::chrono::seconds(1));
    EXPECT_TRUE(tray.Animating());
    const qint64 first = tray.CurrentIcon().cacheKey();
    EXPECT_NE(first, normal);
    QTRY_VERIFY_WITH_TIMEOUT(tray.CurrentIcon().cacheKey() != first, 2000);
    // A second document restarts it from the first frame.
    tray.StartIconAnimation(std::chrono::milliseconds(20), std::chrono::seconds(1));
    EXPECT_EQ(tray.CurrentIcon().cacheKey(), first);
    QTRY_VERIFY_WITH_TIMEOUT(!tray.Animating(), 5000);
    EXPECT_EQ(tray.CurrentIcon().cacheKey(), normal);
}

TEST(SystemTray, IconDocksInATrayHostAnswersADoubleClickAndComesBackWithTheHost) {
    if (!trayhost::Available()) {
        GTEST_SKIP() << "no X server with trayer and xdotool";
    }
    windowtest::Application();
    auto host = trayhost::Start();
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    CSystemTray tray;
    tray.ShowTrayIcon("Double click to activate");
    QTRY_VERIFY_WITH_TIMEOUT(tray.IsVisible() && !tray.Geometry().isEmpty(), 10000);

    QSignalSpy chosen(&tray, &CSystemTray::commandChosen);
    tray.SetDefaultEntry(CSystemTray::kOpen, false);
    ASSERT_TRUE(trayhost::Click(tray.Geometry(), 1, 2));
    QTRY_VERIFY_WITH_TIMEOUT(chosen.size() >= 1, 5000);
    EXPECT_EQ(chosen[0][0].toInt(), CSystemTray::kOpen);

    // The menu button opens the menu at the icon.
    ASSERT_TRUE(trayhost::Click(tray.Geometry(), 3));
    QTRY_VERIFY_WITH_TIMEOUT(tray.Menu()->isVisible(), 5000);
    tray.Menu()->hide();

    // The host goes and comes back: the icon is docked again.
    host.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    host = trayhost::Start();
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!tray.Geometry().isEmpty(), 10000);
    chosen.clear();
    ASSERT_TRUE(trayhost::Click(tray.Geometry(), 1, 2));
    QTRY_VERIFY_WITH_TIMEOUT(chosen.size() >= 1, 5000);
}
