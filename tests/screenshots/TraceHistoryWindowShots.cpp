// Pictures of the trace window with a conversation in it and of the history window with kept
// documents, one of them selected, in English and Italian, for scripts/screenshots.sh:
//     qopra-trace-history-shots [OUTPUT_FOLDER]        (default: build/screenshots)
// Runs on DISPLAY when there is one, else on the offscreen platform. The lines, documents and printers
// are made up, so the pictures do not depend on the machine or on earlier runs.
#include <QTableWidget>
#include <filesystem>
#include <string>

#include "app/LogManager.h"
#include "app/gui/CTraceDlg.h"
#include "app/gui/TraceWindowSink.h"
#include "archive/gui/CHistoryDlg.h"
#include "screenshots/WindowShots.h"

namespace {

using windowshots::Language;
using windowshots::Save;

constexpr const char* kConversation[] = {
    "UDP Server: office-pc, Address: 192.168.1.20 is running on port 2001",
    "7 successfully connected with 192.168.1.41",
    "7 connection established",
    "7 sent [<?xml version=\"1.0\"?><PLS><HOST>office-pc</HOST><PRN>Office</PRN><PRN>Reception-Inkjet</PRN>"
    "</PLS>] to 192.168.1.41",
    "7 receive [<?xml version=\"1.0\"?><PFL><FILE_NAME>invoice-2024-117.7z</FILE_NAME><FILE_PREVIEW>"
    "invoice.htm</FILE_PREVIEW><PRINTER>Office</PRINTER><COPIES>1</COPIES><DATA>N3q8ryccAAS] from "
    "192.168.1.41",
    "7 received invoice-2024-117.7z",
    "7: invoice-2024-117.7z printed successfully n.1 on Office-Laser",
    "7 sent [<?xml version=\"1.0\"?><PRP><RESULT>0</RESULT><STATUS>0</STATUS></PRP>] to 192.168.1.41",
    "7 connection closed",
    "8 successfully connected with 192.168.1.57",
    "8 connection established",
    "8 receive [<?xml version=\"1.0\"?><PFL><FILE_NAME>delivery-note.7z</FILE_NAME>] from 192.168.1.57",
    "8 received delivery-note.7z",
    "8: delivery-note.7z print failed on Reception-Inkjet",
    "8 connection closed",
};

struct Kept {
    const char* date;
    const char* document;
    const char* printer;
};

constexpr Kept kKept[] = {
    {"04.03.2024 09:12:40", "invoice-2024-117.htm", "Office-Laser"},
    {"04.03.2024 10:03:05", "delivery-note-5521.htm", "Reception-Inkjet"},
    {"05.03.2024 16:47:51", "price-list-spring.htm", "Office-Laser"},
    {"06.03.2024 08:30:12", "order-confirmation-88.htm", "Warehouse-Labels"},
    {"06.03.2024 11:59:59", "menu-of-the-day.htm", "Reception-Inkjet"},
};

bool ShootLanguage(const Language& language, const std::filesystem::path& output) {
    CTraceDlg trace;
    TraceWindowSink sink(&trace);
    for (const char* line : kConversation) {
        LogManager::Trace(line, &sink);
    }
    QApplication::processEvents();
    trace.resize(760, 300);
    bool ok = Save(trace, output / (std::string("trace-") + language.suffix + ".png"));

    PrintedDocuments none{std::filesystem::path()};
    CHistoryDlg history(language.id, none);
    std::uint32_t id = 1000;
    for (const Kept& kept : kKept) {
        PrintJobRecord record;
        record.date = kept.date;
        record.documentName = kept.document;
        record.printerName = kept.printer;
        record.id = ++id;
        history.AddHistoryEntry(record);
    }
    history.findChild<QTableWidget*>("historyList")->selectRow(1);
    ok = Save(history, output / (std::string("history-") + language.suffix + ".png")) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    return windowshots::Run(argc, argv, ShootLanguage);
}
