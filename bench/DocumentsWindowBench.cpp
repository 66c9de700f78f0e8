// The documents window listing a pen drive with 1 000 document folders: the refresh the main window
// asks for on an arrival (scan, description files, rows), on the GUI thread. Once on a folder of the
// local disk named by a mount table of the benchmark's own, and once (as root) on a FAT image mounted
// through FUSE, as pen drives are here. Runs on DISPLAY, else offscreen.
#include <benchmark/benchmark.h>

#include "DriveDescriptions.h"

#include "WindowBenchmarkMain.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
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

constexpr int kDocumentFolders = 1000;

class Unanswered : public IPrintDialog, public IMessageBox, public IConfirmBox {
public:
    bool Ask(QPrinter&, QWidget*) override { return false; }
    void Show(const std::string&) override {}
    bool Confirm(const std::string&) override { return false; }
};

void FillDrive(const std::filesystem::path& drive) {
    for (int n = 0; n < kDocumentFolders; ++n) {
        const std::filesystem::path document = drive / "Ferrulo" / ("DOC" + std::to_string(n));
        std::filesystem::create_directories(document);
        WriteFileBytes(document / "printinfo.xml", DriveDescription(n));
        WriteFileBytes(document / "doc.pdf", "%PDF-1.4\n");
    }
}

void ListOneThousandDocumentFolders(benchmark::State& state) {
    const bool fat = state.range(0) != 0;
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
        FillDrive(volume->MountPoint());
        sources.sysfsRoot = folder / "sys";
        sources.mediaRoots.clear();
    } else {
        const std::filesystem::path drive = folder / "media" / "STICK";
        FillDrive(drive);
        WriteFileBytes(folder / "mountinfo", "99 1 0:99 / " + drive.string() + " rw - vfat /dev/sdz1 rw\n");
        sources.mountTable = folder / "mountinfo";
        sources.sysfsRoot.clear();
        sources.mediaRoots = {folder / "media"};
    }
    Unanswered nobody;
    DlgUSBPrints window(2057, DlgUSBPrints::Parts{nobody, nobody, nobody, nullptr, sources});
    window.show();
    for (auto _ : state) {
        window.RefreshDocumentList();
        QApplication::processEvents();
    }
    if (window.RowCount() != kDocumentFolders) {
        state.SkipWithError("not every document folder was listed");
    }
    state.SetItemsProcessed(state.iterations() * kDocumentFolders);
    window.hide();
    window.RefreshDocumentList();
}
BENCHMARK(ListOneThousandDocumentFolders)
    ->ArgName("fat")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return RunWindowBenchmarks(argc, argv);
}
