// Pictures of the documents window with the documents of a pen drive, one of them ticked, in English
// and Italian, for scripts/screenshots.sh:
//     qopra-documents-shots [OUTPUT_FOLDER]        (default: build/screenshots)
// Runs on DISPLAY when there is one, else on the offscreen platform. The drive is a folder named by a
// mount table of the program's own, and the documents are made up, so the pictures do not depend on
// the machine or on earlier runs.
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/IConfirmBox.h"
#include "app/IMessageBox.h"
#include "removable/gui/DlgUSBPrints.h"
#include "screenshots/WindowShots.h"
#include "support/DriveDocuments.h"
#include "ui/IPrintDialog.h"

namespace {

using windowshots::Language;
using windowshots::Save;

// Nothing is printed, deleted or said while the pictures are taken.
class Unanswered : public IPrintDialog, public IMessageBox, public IConfirmBox {
public:
    bool Ask(QPrinter&, QWidget*) override { return false; }
    void Show(const std::string&) override {}
    bool Confirm(const std::string&) override { return false; }
};

struct Document {
    const char* folder;
    const char* application;
    const char* description;
    const char* filename;
    const char* datetime;
    const char* copies;
    const char* printed;
};

constexpr Document kDocuments[] = {
    {"DOC1", "Pad Office", "Invoice 2024-117", "invoice.htm", "20240304091240", "2", "0"},
    {"DOC2", "Pad Scan", "Delivery note 5521", "delivery.pdf", "20240304100305", "1", "1"},
    {"DOC3", "Pad Office", "Price list, spring", "prices.pdf", "20240305164751", "3", "0"},
    {"DOC4", "Pad Notes", "Order confirmation 88", "order.txt", "20240306083012", "1", "0"},
    {"DOC5", "Pad Menu", "Menu of the day", "menu.htm", "20240306115959", "25", "1"},
};

void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A drive below a media root of its own, named by a mount table of its own.
VolumeSources MakeDrive(const std::filesystem::path& folder) {
    const std::filesystem::path drive = folder / "media" / "STICK";
    for (const Document& document : kDocuments) {
        drivedocuments::AddDocumentFolder(drive, document.folder,
                                          {document.application, document.description, document.filename,
                                           document.datetime, document.copies, document.printed, "document"});
    }
    Write(folder / "mountinfo", "99 1 0:99 / " + drive.string() + " rw - vfat /dev/sdz1 rw\n");
    VolumeSources sources;
    sources.mountTable = folder / "mountinfo";
    sources.sysfsRoot.clear();
    sources.mediaRoots = {folder / "media"};
    return sources;
}

bool ShootLanguage(const Language& language, const std::filesystem::path& output) {
    QTemporaryDir folder;
    Unanswered nobody;
    DlgUSBPrints window(language.id, DlgUSBPrints::Parts{nobody, nobody, nobody, nullptr,
                                                         MakeDrive(folder.path().toStdString())});
    // The drive is read on a worker.
    if (!QTest::qWaitFor([&] { return !window.Scanning(); }, 20000)) {
        return false;
    }
    auto* list = window.findChild<QTableWidget*>("documentList");
    // The rows in the order the drive lists them; the invoice ticked and selected.
    for (int row = 0; row < list->rowCount(); ++row) {
        if (list->item(row, DlgUSBPrints::kDescriptionColumn)->text() == "Invoice 2024-117") {
            list->item(row, DlgUSBPrints::kCheckColumn)->setCheckState(Qt::Checked);
            list->selectRow(row);
        }
    }
    return Save(window, output / (std::string("documents-") + language.suffix + ".png"));
}

} // namespace

int main(int argc, char** argv) {
    return windowshots::Run(argc, argv, ShootLanguage);
}
