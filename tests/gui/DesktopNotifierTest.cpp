#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>

#include "app/EventLog.h"
#include "config/AppSettings.h"
#include "gui/SettingsWindowApplication.h"
#include "support/SessionBus.h"
#include "support/TempDir.h"
#include "ui/DesktopNotifier.h"
#include "ui/MainWindowController.h"

namespace {

using Urgency = IDesktopNotifier::Urgency;

// A person typing in a window of their own while the notifications come.
struct Typing {
    Typing() {
        edit.show();
        QApplication::setActiveWindow(&edit);
        edit.setFocus();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&edit));
    }
    bool StillTyping() const { return QApplication::focusWidget() == &edit; }
    QLineEdit edit;
};

} // namespace

TEST(DesktopNotifier, TheSessionsServiceShowsEachNoticeWithItsUrgencyAndNothingTakesTheFocus) {
    if (!SessionBus::Available()) {
        GTEST_SKIP() << "no dbus-daemon (Debian package dbus-daemon)";
    }
    TempDir dir;
    SessionBus bus(dir.Path());
    ASSERT_TRUE(bus.Ready());
    // The program's own bus is the test's: set before the first notification opens it.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
    windowtest::Application();
    AppSettings::Instance().language = 2057;
    Typing person;

    DesktopNotifier notifier;
    QSignalSpy shown(&notifier, &DesktopNotifier::shown);
    // The controller's notices reach the desktop: what the print results are told through.
    MainWindowController controller(nullptr);
    controller.SetDesktopNotifier(&notifier);
    controller.Notices().PrintFailed("Invoice <2024>.pdf", "Tablet & Co", "paused");
    controller.Notices().Printed("Welcome.htm", "Tablet", "Office");
    AppSettings::Instance().notify_printed = false;
    controller.Notices().Printed("Quiet.htm", "Tablet", "Office");
    AppSettings::Instance().notify_printed = true;
    ASSERT_TRUE(bus.WaitForNotifications(2, std::chrono::seconds(10)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown.count() == 2; }, 5000));
    QTest::qWait(200);
    const std::vector<std::string> told = bus.Notifications();
    ASSERT_EQ(told.size(), 2u) << "a printed document is not told while the setting is off";
    // A service that reads no markup gets the names as they are.
    EXPECT_EQ(told[0],
              "1\tPrinting failed\tInvoice <2024>.pdf from Tablet & Co was not printed: paused.\tqopra2");
    EXPECT_EQ(told[1], "0\tPrinted\tWelcome.htm from Tablet was printed on Office.\tqopra2");
    EXPECT_EQ(shown.at(0).at(0).toString(), "service");
    EXPECT_TRUE(person.StillTyping());
    EXPECT_EQ(notifier.Balloon(), nullptr);
}

TEST(DesktopNotifier, WithoutAServiceTheTrayOrABalloonOfOurOwnTellsItWithoutTakingTheFocus) {
    // A bus without the service, as on a desktop with none.
    TempDir dir;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir / "no-bus").string()).c_str(), 1);
    windowtest::Application();
    Typing person;
    DesktopNotifier notifier;
    QSignalSpy shown(&notifier, &DesktopNotifier::shown);

    std::vector<QString> atTheTray;
    bool trayDocked = true;
    notifier.SetTrayMessage([&](const QString& title, const QString& text, Urgency) {
        if (trayDocked) {
            atTheTray.push_back(title + ": " + text);
        }
        return trayDocked;
    });
    notifier.Notify(Urgency::Critical, "Qopra cannot serve the devices", "The UDP port 2001 is taken.");
    ASSERT_EQ(shown.count(), 1);
    EXPECT_EQ(shown.at(0).at(0).toString(), "tray");
    EXPECT_EQ(atTheTray,
              (std::vector<QString>{"Qopra cannot serve the devices: The UDP port 2001 is taken."}));

    // No tray either: a balloon at the corner of the screen, which a click closes.
    trayDocked = false;
    notifier.Notify(Urgency::Normal, "Printing failed", "Invoice.pdf from Tablet was not printed: paused.");
    ASSERT_EQ(shown.count(), 2);
    EXPECT_EQ(shown.at(1).at(0).toString(), "balloon");
    NoticeBalloon* balloon = notifier.Balloon();
    ASSERT_NE(balloon, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(balloon));
    EXPECT_EQ(balloon->Title(), "Printing failed");
    EXPECT_EQ(balloon->Text(), "Invoice.pdf from Tablet was not printed: paused.");
    EXPECT_TRUE(balloon->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(balloon->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(person.StillTyping());
    // Every line of the text is seen.
    auto* text = balloon->findChild<QLabel*>("noticeText");
    EXPECT_GE(text->height(), text->heightForWidth(text->width()));
    // Its colours are the theme's tool tips: readable on a dark theme as on a light one.
    EXPECT_EQ(balloon->backgroundRole(), QPalette::ToolTipBase);
    // A second notice replaces the first; a click closes it.
    notifier.Notify(Urgency::Normal, "Printed", "Welcome.htm from Tablet was printed on Office.");
    QTest::qWait(50);
    ASSERT_NE(notifier.Balloon(), nullptr);
    EXPECT_EQ(notifier.Balloon()->Title(), "Printed");
    QTest::mouseClick(notifier.Balloon(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return notifier.Balloon() == nullptr; }, 2000));
    EXPECT_TRUE(person.StillTyping());
}
