// The documents window listing a pen drive's document folders, as the main window asks for it when a
// drive appears: the drive is read on a worker and the rows come in batches. Reported: the time until
// the list is complete (real time), and what the GUI thread spent meanwhile: its own CPU time (gui_ms)
// and the longest stretch in which its event loop did not come round (longest_gui_ms, what a network
// print arriving then would wait; on a busy machine it includes time the thread was not scheduled). On a
// folder of the local disk named by a mount table of the benchmark's own, with 1 000 and 10 000 document
// folders, and (as root) with 1 000 on a FAT image mounted through FUSE, as pen drives are here. Runs on
// DISPLAY, else offscreen.
#include <benchmark/benchmark.h>

#include "DriveDescriptions.h"

#include "WindowBenchmarkMain.h"

#include <QApplication>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "app/IConfirmBox.h"
#include "app/IMessageBox.h"
#include "removable/gui/DlgUSBPrints.h"
#include "support/FileBytes.h"
#include "support/MountedVolume.h"
#include "support/TempDir.h"
#include "ui/IPrintDialog.h"

namespace {

using Clock = std::chrono::steady_clock;

class Unanswered : public IPrintDialog, public IMessageBox, public IConfirmBox {
public:
    bool Ask(QPrinter&, QWidget*) override { return false; }
    void Show(const std::string&) override {}
    bool Confirm(const std::string&) override { return false; }
};

void FillDrive(const std::filesystem::path& drive, int folders) {
    for (int n = 0; n < folders; ++n) {
        const std::filesystem::path document = drive / "Ferrulo" / ("DOC" + std::to_string(n));
        std::filesystem::create_directories(document);
        WriteFileBytes(document / "printinfo.xml", DriveDescription(n));
        WriteFileBytes(document / "doc.pdf", "%PDF-1.4\n");
    }
}

// CPU time of the calling thread: what the GUI thread spends itself, whatever else runs meanwhile.
double ThreadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The longest time the GUI thread's event loop did not come round to a timer of 1 ms.
class Heartbeat {
public:
    Heartbeat() {
        beat.setInterval(1);
        beat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&beat, &QTimer::timeout, [this] {
            const Clock::time_point now = Clock::now();
            longest = std::max(longest, now - last);
            last = now;
        });
    }
    void Start() {
        last = Clock::now();
        beat.start();
    }
    void Stop() {
        beat.stop();
        longest = std::max(longest, Clock::now() - last);
    }
    double LongestMs() const { return std::chrono::duration<double, std::milli>(longest).count(); }

private:
    QTimer beat;
    Clock::time_point last;
    Clock::duration longest{};
};

void ListDocumentFolders(benchmark::State& state) {
    const bool fat = state.range(0) != 0;
    const int folders = static_cast<int>(state.range(1));
    TempDir folder;
    VolumeSources sources;
    std::unique_ptr<MountedVolume> volume;
    if (fat) {
        if (::geteuid() != 0) {
            state.SkipWithError("mounting a FAT image needs root");
            return;
        }
        volume = std::make_unique<MountedVolume>(MountedVolume::Kind::Fat, folder / "mnt" / "STICK");
        if (!volume->Mounted()) {
            state.SkipWithError(volume->Error().c_str());
            return;
        }
        volume->RegisterRemovable(folder / "sys");
        FillDrive(volume->MountPoint(), folders);
        sources.sysfsRoot = folder / "sys";
        sources.mediaRoots.clear();
    } else {
        const std::filesystem::path drive = folder / "media" / "STICK";
        FillDrive(drive, folders);
        WriteFileBytes(folder / "mountinfo", "99 1 0:99 / " + drive.string() + " rw - vfat /dev/sdz1 rw\n");
        sources.mountTable = folder / "mountinfo";
        sources.sysfsRoot.clear();
        sources.mediaRoots = {folder / "media"};
    }
    Unanswered nobody;
    DlgUSBPrints window(2057, DlgUSBPrints::Parts{nobody, nobody, nobody, nullptr, sources});
    window.show();
    QEventLoop filled;
    QObject::connect(&window, &DlgUSBPrints::documentListFilled, &filled, &QEventLoop::quit);
    if (window.Scanning()) {
        filled.exec();
    }
    double cpuMs = 0;
    for (auto _ : state) {
        const double before = ThreadCpuMs();
        window.RefreshDocumentList();
        filled.exec();
        cpuMs += ThreadCpuMs() - before;
    }
    // Once more with the heartbeat, which costs the GUI thread time of its own.
    Heartbeat heartbeat;
    heartbeat.Start();
    window.RefreshDocumentList();
    filled.exec();
    heartbeat.Stop();
    if (window.RowCount() != folders) {
        state.SkipWithError("not every document folder was listed");
    }
    state.counters["gui_ms"] = cpuMs / static_cast<double>(state.iterations());
    state.counters["longest_gui_ms"] = heartbeat.LongestMs();
    state.SetItemsProcessed(state.iterations() * folders);
    window.hide();
}
BENCHMARK(ListDocumentFolders)
    ->ArgNames({"fat", "folders"})
    ->Args({0, 1000})
    ->Args({0, 10000})
    ->Args({1, 1000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return RunWindowBenchmarks(argc, argv);
}
