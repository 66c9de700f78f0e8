#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <functional>
#include <memory>

#include "app/gui/CTraceDlg.h"
#include "archive/gui/CHistoryDlg.h"
#include "gui/SettingsWindowApplication.h"
#include "gui/SpoolerTestEnvironment.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"
#include "ui/WindowPlacement.h"

namespace {

constexpr int kWaitMs = 10000;

// Any window of the program keeps its placement the same way, e.g. the pen-drive window to come.
class PlainWindow : public QWidget {
public:
    PlainWindow() : placement(*this, "QopraUSB") {
        resize(300, 200);
        placement.Restore();
    }
    WindowPlacement placement;
};

class WindowPlacementTest : public testing::Test {
protected:
    void SetUp() override {
        windowtest::Application();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.Path()));
    }

    static QString StoredText(const char* section) {
        QSettings settings(WindowPlacement::kOrganisation, WindowPlacement::kApplication);
        return settings.value(QString(section) + "/" + WindowPlacement::kKey).toString();
    }
    static void Store(const char* section, const QString& text) {
        QSettings settings(WindowPlacement::kOrganisation, WindowPlacement::kApplication);
        settings.setValue(QString(section) + "/" + WindowPlacement::kKey, text);
    }
    // The profile as a person may have written it: the text without quotes.
    void WriteProfile(const std::string& content) {
        WriteFileBytes(dir / WindowPlacement::kOrganisation / "qopra2.conf", content);
    }
    static QRect Screen() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    static bool Show(QWidget& window) {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }

    TempDir dir;
};

using WindowFactory = std::function<std::unique_ptr<QWidget>()>;

struct Kind {
    const char* section;
    WindowFactory make;
};

const Kind kKinds[] = {
    {"QopraTrace", [] { return std::unique_ptr<QWidget>(new CTraceDlg); }},
    {"QopraDocs",
     [] {
         static PrintedDocuments none{std::filesystem::path()};
         return std::unique_ptr<QWidget>(new CHistoryDlg(2057, none));
     }},
    {"QopraUSB", [] { return std::unique_ptr<QWidget>(new PlainWindow); }},
};

} // namespace

TEST_F(WindowPlacementTest, EachWindowComesBackWhereItWasClosedAfterARestart) {
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.section);
        // Never shown: whatever an earlier run saved stays.
        Store(kind.section, "1,2,303,204,1,0");
        kind.make().reset();
        EXPECT_EQ(StoredText(kind.section), "1,2,303,204,1,0");

        std::unique_ptr<QWidget> window = kind.make();
        EXPECT_EQ(window->geometry(), QRect(1, 2, 302, 202));
        ASSERT_TRUE(Show(*window));
        window->setGeometry(110, 120, 420, 260);
        ASSERT_TRUE(
            spoolertest::WaitFor([&] { return window->geometry() == QRect(110, 120, 420, 260); }, kWaitMs));
        window->close();
        EXPECT_EQ(StoredText(kind.section), "110,120,530,380,1,0");

        window = kind.make();
        EXPECT_EQ(window->geometry(), QRect(110, 120, 420, 260)) << "restored before it is shown";
        EXPECT_FALSE(window->isVisible());
        ASSERT_TRUE(Show(*window));
        EXPECT_TRUE(
            spoolertest::WaitFor([&] { return window->geometry() == QRect(110, 120, 420, 260); }, kWaitMs));

        // Ended while shown (the program ends with the window open): saved all the same.
        window->setGeometry(150, 160, 380, 240);
        ASSERT_TRUE(
            spoolertest::WaitFor([&] { return window->geometry() == QRect(150, 160, 380, 240); }, kWaitMs));
        window.reset();
        EXPECT_EQ(StoredText(kind.section), "150,160,530,400,1,0");
    }

    // Each window has its section; Esc closes a dialog the way its close box does.
    auto trace = std::make_unique<CTraceDlg>();
    ASSERT_TRUE(Show(*trace));
    trace->setGeometry(200, 210, 400, 220);
    ASSERT_TRUE(
        spoolertest::WaitFor([&] { return trace->geometry() == QRect(200, 210, 400, 220); }, kWaitMs));
    QTest::keyClick(trace.get(), Qt::Key_Escape);
    EXPECT_FALSE(trace->isVisible());
    EXPECT_EQ(StoredText("QopraTrace"), "200,210,600,430,1,0");
    EXPECT_EQ(StoredText("QopraDocs"), "150,160,530,400,1,0");

    // Maximized: the normal rectangle is kept with the state, and the window comes back maximized.
    trace->showMaximized();
    ASSERT_TRUE(spoolertest::WaitFor([&] { return trace->isMaximized(); }, kWaitMs));
    trace->close();
    EXPECT_TRUE(StoredText("QopraTrace").startsWith("200,210,600,430,3,"))
        << StoredText("QopraTrace").toStdString();
    trace = std::make_unique<CTraceDlg>();
    EXPECT_TRUE(trace->isMaximized());
    EXPECT_EQ(trace->normalGeometry(), QRect(200, 210, 400, 220));

    // Minimized comes back as it was before: maximized when the flags say so, else normal.
    Store("QopraTrace", "200,210,600,430,2,2");
    EXPECT_TRUE(CTraceDlg().isMaximized());
    Store("QopraTrace", "200,210,600,430,2,0");
    CTraceDlg normal;
    EXPECT_FALSE(normal.isMaximized());
    EXPECT_FALSE(normal.isMinimized());
    EXPECT_EQ(normal.geometry(), QRect(200, 210, 400, 220));
}

TEST_F(WindowPlacementTest, AStoredTextThatDoesNotGiveSixNumbersIsIgnored) {
    const QRect unplaced = CTraceDlg().geometry();
    for (const char* text : {"", "1,2,3,4,5", "1,2,300,400,1,0,7", "a,b,c,d,e,f", "10,20,300,400,1,x",
                             "10;20;300;400;1;0", "300,20,10,400,1,0", "10,400,300,20,1,0",
                             "10,20,10,400,1,0", "99999999999,20,300,400,1,0", "0x10,20,300,400,1,0"}) {
        SCOPED_TRACE(text);
        Store("QopraTrace", text);
        EXPECT_FALSE(WindowPlacement::Stored("QopraTrace").has_value());
        CTraceDlg window;
        EXPECT_EQ(window.geometry(), unplaced);
        EXPECT_FALSE(window.isMaximized());
    }
    // Blanks around the numbers are fine, and so is a text written by hand without quotes, which the
    // profile reads back in pieces.
    Store("QopraTrace", " 10, 20 ,310 ,220,1,0");
    EXPECT_EQ(CTraceDlg().geometry(), QRect(10, 20, 300, 200));
    WriteProfile("[QopraTrace]\nWindowPlacement=30,40,330,240,1,0\n");
    EXPECT_EQ(CTraceDlg().geometry(), QRect(30, 40, 300, 200));
    WriteProfile("[QopraTrace]\nWindowPlacement=30,40,330\n");
    EXPECT_EQ(CTraceDlg().geometry(), unplaced);
}

TEST_F(WindowPlacementTest, APlacementOffEveryScreenComesBackOntoTheNearestScreen) {
    const QRect screen = Screen();
    ASSERT_GE(screen.width(), 640);
    const auto restored = [&](const QString& text) {
        Store("QopraTrace", text);
        return CTraceDlg().geometry();
    };
    // Far to the right and below, far to the left and above: the same size, wholly on the screen.
    for (const QString& text :
         {QString("5000,5000,5400,5300,1,0"), QString("-3000,-2000,-2600,-1700,1,0"),
          QString("%1,100,%2,400,1,0").arg(screen.right() - 10).arg(screen.right() + 390)}) {
        SCOPED_TRACE(text.toStdString());
        const QRect placed = restored(text);
        EXPECT_EQ(placed.size(), QSize(400, 300));
        EXPECT_TRUE(screen.contains(placed)) << placed.x() << "," << placed.y();
    }
    EXPECT_EQ(restored("5000,100,5400,400,1,0"), QRect(screen.right() + 1 - 400, 100, 400, 300))
        << "moved sideways only";
    // Larger than the screen: cut to it.
    EXPECT_EQ(restored("-9000,-9000,-1000,-1000,1,0"), screen);
    // Enough of it on the screen to be reached: left where it was.
    EXPECT_EQ(restored("-200,-100,200,200,1,0"), QRect(-200, -100, 400, 300));
    EXPECT_EQ(restored("20,30,6000,5000,1,0"), QRect(20, 30, 5980, 4970));

    // The window shows where it was put.
    Store("QopraTrace", "5000,5000,5400,5300,1,0");
    CTraceDlg window;
    ASSERT_TRUE(Show(window));
    EXPECT_TRUE(spoolertest::WaitFor([&] { return screen.contains(window.frameGeometry()); }, kWaitMs));

    // Two screens side by side: the nearest one takes it.
    const QList<QRect> two = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    EXPECT_EQ(WindowPlacement::OntoScreens(QRect(4000, 200, 400, 300), two), QRect(2800, 200, 400, 300));
    EXPECT_EQ(WindowPlacement::OntoScreens(QRect(-900, 2000, 400, 300), two), QRect(0, 780, 400, 300));
    EXPECT_EQ(WindowPlacement::OntoScreens(QRect(1900, 100, 400, 300), two), QRect(1900, 100, 400, 300));
    // Only a sliver on a screen is not enough to take hold of.
    EXPECT_EQ(WindowPlacement::OntoScreens(QRect(3190, 100, 400, 300), two), QRect(2800, 100, 400, 300));
    EXPECT_EQ(WindowPlacement::OntoScreens(QRect(10, 10, 20, 20), {}), QRect(10, 10, 20, 20));
}
