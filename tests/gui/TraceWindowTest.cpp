#include <gtest/gtest.h>

#include <QFontInfo>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <memory>
#include <thread>

#include "app/LogManager.h"
#include "app/gui/CTraceDlg.h"
#include "app/gui/TraceWindowSink.h"
#include "gui/SettingsWindowApplication.h"
#include "gui/SpoolerTestEnvironment.h"
#include "support/TempDir.h"

namespace {

constexpr int kWaitMs = 60000;
constexpr int kFlood = 100000;

class TraceWindowTest : public testing::Test {
protected:
    void SetUp() override {
        windowtest::Application();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.Path()));
    }

    static QPlainTextEdit* TextBox(CTraceDlg& window) {
        return window.findChild<QPlainTextEdit*>("traceText");
    }
    static QStringList Lines(CTraceDlg& window) { return window.Text().split('\n'); }
    // What a person sees: the newest line is inside the text box's view.
    static testing::AssertionResult NewestLineShown(CTraceDlg& window) {
        QPlainTextEdit* box = TextBox(window);
        QTextCursor end(box->document());
        end.movePosition(QTextCursor::End);
        const QRect line = box->cursorRect(end);
        if (box->viewport()->rect().contains(line.topLeft()) &&
            box->viewport()->rect().contains(line.bottomLeft())) {
            return testing::AssertionSuccess();
        }
        return testing::AssertionFailure()
               << "newest line at y " << line.top() << ", view " << box->viewport()->height() << " high";
    }

    // Sends "<prefix> <i>" for i in [first, last) from a thread of its own, as a network thread does.
    static std::thread Sender(ITraceSink& sink, std::string prefix, int first, int last) {
        return std::thread([&sink, prefix, first, last] {
            for (int i = first; i < last; ++i) {
                LogManager::Trace(prefix + " " + std::to_string(i), &sink);
            }
        });
    }

    TempDir dir;
};

} // namespace

TEST_F(TraceWindowTest, LinesFromOtherThreadsWhileHiddenAreAllThereInOrderWhenTheWindowOpens) {
    CTraceDlg window;
    EXPECT_EQ(window.windowTitle(), "Trace");
    EXPECT_TRUE(QFontInfo(TextBox(window)->font()).fixedPitch());
    EXPECT_EQ(window.LineCount(), 0);

    // The threads end while the GUI thread is held here, so tracing never waits for it.
    TraceWindowSink sink(&window);
    std::thread first = Sender(sink, "first", 0, 1500);
    std::thread second = Sender(sink, "second", 0, 1500);
    first.join();
    second.join();
    EXPECT_EQ(window.LineCount(), 0) << "delivered on the GUI thread, not on the callers'";

    ASSERT_TRUE(spoolertest::WaitFor([&] { return window.LineCount() == 3000; }, kWaitMs));
    EXPECT_FALSE(window.isVisible());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();

    const QRegularExpression stamped("^\\d\\d:\\d\\d:\\d\\d > (first|second) (\\d+)$");
    int next[2] = {0, 0};
    for (const QString& line : Lines(window)) {
        const QRegularExpressionMatch match = stamped.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        int& expected = next[match.captured(1) == "first" ? 0 : 1];
        ASSERT_EQ(match.captured(2).toInt(), expected) << line.toStdString();
        ++expected;
    }
    EXPECT_EQ(next[0], 1500);
    EXPECT_EQ(next[1], 1500);
    EXPECT_TRUE(NewestLineShown(window)) << "opens on the newest line";

    // Lines are appended: a reader scrolled up keeps the place, a reader at the end follows.
    const QString oldest = Lines(window).front();
    QTest::keyClick(TextBox(window), Qt::Key_Home, Qt::ControlModifier);
    ASSERT_EQ(TextBox(window)->verticalScrollBar()->value(), 0);
    window.AppendLine("while reading");
    EXPECT_EQ(TextBox(window)->verticalScrollBar()->value(), 0);
    EXPECT_EQ(Lines(window).front(), oldest);
    QTest::keyClick(TextBox(window), Qt::Key_End, Qt::ControlModifier);
    LogManager::Trace("at the end", &sink);
    ASSERT_TRUE(
        spoolertest::WaitFor([&] { return Lines(window).back().endsWith(" > at the end"); }, kWaitMs));
    EXPECT_TRUE(NewestLineShown(window));
    EXPECT_EQ(window.LineCount(), 3002);
    // A line break or separator a device sent stays on its line, written out.
    LogManager::Trace("receive [Office\n12:00:00 > FORGED\xE2\x80\xA9]", &sink);
    ASSERT_TRUE(spoolertest::WaitFor([&] { return window.LineCount() == 3003; }, kWaitMs));
    EXPECT_TRUE(Lines(window).back().endsWith(" > receive [Office\\n12:00:00 > FORGED\\u2029]"))
        << Lines(window).back().toStdString();

    // The text box follows all four edges.
    window.resize(900, 500);
    QApplication::processEvents();
    EXPECT_EQ(TextBox(window)->geometry(), window.rect());
    window.resize(300, 120);
    QApplication::processEvents();
    EXPECT_EQ(TextBox(window)->geometry(), window.rect());

    // Esc hides the window; its text stays for the next showing.
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    window.show();
    EXPECT_EQ(window.LineCount(), 3003);

    // Lines still on their way when the window goes are dropped, without harm.
    auto doomed = std::make_unique<CTraceDlg>();
    TraceWindowSink orphan(doomed.get());
    LogManager::Trace("too late", &orphan);
    doomed.reset();
    QApplication::processEvents();
    LogManager::Trace("no window", &orphan);
    QApplication::processEvents();
}

TEST_F(TraceWindowTest, AHundredThousandLinesKeepTheLastFiftyThousandAndTheWindowAnswering) {
    CTraceDlg window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    TraceWindowSink sink(&window);

    // Sent while the GUI thread runs: it keeps turning, and ends with the newest lines.
    int turns = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++turns; });
    ticker.start(0);
    std::thread sender = Sender(sink, "line", 0, kFlood);
    const bool arrived = spoolertest::WaitFor(
        [&] { return window.Text().endsWith("line " + QString::number(kFlood - 1)); }, kWaitMs);
    sender.join();
    ticker.stop();
    ASSERT_TRUE(arrived);
    EXPECT_GT(turns, 10);
    EXPECT_EQ(window.LineCount(), CTraceDlg::kKeptLines);
    QStringList lines = Lines(window);
    EXPECT_TRUE(lines.front().endsWith(" > line " + QString::number(kFlood - CTraceDlg::kKeptLines)))
        << lines.front().toStdString();

    // Sent while the GUI thread is held: the queue keeps no more than the window would.
    std::thread held = Sender(sink, "held", 0, kFlood);
    held.join();
    ASSERT_TRUE(spoolertest::WaitFor(
        [&] { return window.Text().endsWith("held " + QString::number(kFlood - 1)); }, kWaitMs));
    lines = Lines(window);
    EXPECT_EQ(lines.size(), CTraceDlg::kKeptLines);
    EXPECT_TRUE(lines.front().endsWith(" > held " + QString::number(kFlood - CTraceDlg::kKeptLines)))
        << lines.front().toStdString();
    for (int i = 1; i < lines.size(); i += 997) {
        EXPECT_TRUE(lines[i].endsWith(" > held " + QString::number(kFlood - CTraceDlg::kKeptLines + i)));
    }

    // A full window still takes keys and lines.
    QTest::keyClick(TextBox(window), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(TextBox(window)->verticalScrollBar()->value(), 0);
    QTest::keyClick(TextBox(window), Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(NewestLineShown(window));
    window.AppendLines({"one more", "and another"});
    EXPECT_EQ(window.LineCount(), CTraceDlg::kKeptLines);
    EXPECT_TRUE(
        Lines(window).front().endsWith(" > held " + QString::number(kFlood - CTraceDlg::kKeptLines + 2)));
    EXPECT_TRUE(NewestLineShown(window));
}
