// The trace window under a flood: 100 000 lines sent from a network thread to the shown window, timed
// until the last one is in the text box, with the longest time the GUI thread did not turn meanwhile
// (what a person clicking the window would wait at worst). Runs on DISPLAY, else offscreen.
#include <benchmark/benchmark.h>

#include "WindowBenchmarkMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/LogManager.h"
#include "app/gui/CTraceDlg.h"
#include "app/gui/TraceWindowSink.h"

namespace {

constexpr int kLines = 100000;

void BM_TraceFloodFromAThread(benchmark::State& state) {
    const bool shown = state.range(0) != 0;
    double longestStallMs = 0;
    for (auto _ : state) {
        CTraceDlg window;
        if (shown) {
            window.show();
        }
        TraceWindowSink sink(&window);
        const QString last = QString("line %1").arg(kLines - 1);

        QElapsedTimer sinceTurn;
        sinceTurn.start();
        QTimer turns;
        QObject::connect(&turns, &QTimer::timeout, [&] {
            longestStallMs = std::max(longestStallMs, sinceTurn.nsecsElapsed() / 1e6);
            sinceTurn.restart();
        });
        turns.start(0);
        std::thread sender([&] {
            for (int i = 0; i < kLines; ++i) {
                LogManager::Trace("line " + std::to_string(i), &sink);
            }
        });
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (window.Text().endsWith(last)) {
                loop.quit();
            }
        });
        poll.start(5);
        loop.exec();
        sender.join();
        turns.stop();
        benchmark::DoNotOptimize(window.LineCount());
    }
    state.counters["longest_stall_ms"] = longestStallMs;
    state.counters["lines_per_s"] = benchmark::Counter(
        static_cast<double>(kLines) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TraceFloodFromAThread)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// One delivery into a full window (the oldest lines go as the new ones come): the largest single step
// of the GUI thread during a flood.
void BM_DeliveryBatchIntoFullWindow(benchmark::State& state) {
    CTraceDlg window;
    window.show();
    QStringList full;
    for (int i = 0; i < CTraceDlg::kKeptLines; ++i) {
        full.append(QString("12:00:00 > line %1").arg(i));
    }
    window.AppendLines(full);
    const QStringList batch = full.mid(0, static_cast<qsizetype>(TraceWindowSink::kDeliveryBatch));
    for (auto _ : state) {
        window.AppendLines(batch);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_DeliveryBatchIntoFullWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return RunWindowBenchmarks(argc, argv);
}
