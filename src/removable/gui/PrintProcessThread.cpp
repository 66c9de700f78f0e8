#include "removable/gui/PrintProcessThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPrinter>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

#include "app/EventLog.h"
#include "platform/TickCount.h"
#include "platform/Unicode.h"
#include "removable/DocumentFolders.h"
#include "removable/DriveDocumentPrinting.h"
#include "ui/IPrintDialog.h"

namespace {

// The dialog's answer, handed from the GUI thread to the waiting worker.
struct PrinterAnswer {
    std::mutex lock;
    std::condition_variable_any answered;
    bool given = false;
    std::optional<std::string> printer;
};

} // namespace

PrintProcessThread::PrintProcessThread(std::vector<TickedDocument> tickedDocuments,
                                       std::vector<RemovableDocument> documents, IPrintDialog& dialog,
                                       QWidget* parent, IMainWindowPort* port)
    : ticked(std::move(tickedDocuments)), list(std::move(documents)), printDialog(dialog),
      dialogParent(parent), mainWindow(port) {}

PrintProcessThread::~PrintProcessThread() {
    if (worker.joinable()) {
        worker.request_stop();
        worker.join();
    }
}

void PrintProcessThread::Start() {
    worker = std::jthread([this](std::stop_token stop) { Run(std::move(stop)); });
}

std::optional<std::string> PrintProcessThread::AskPrinter(const std::stop_token& stop) {
    auto answer = std::make_shared<PrinterAnswer>();
    // The application object runs the call: this object may go while the dialog is open, and the
    // call must not run inside an object that is gone. It touches nothing of this object afterwards.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [answer, self = QPointer<PrintProcessThread>(this), dialog = &printDialog, parent = dialogParent] {
            std::optional<std::string> printer;
            if (self) {
                QPrinter chosen;
                if (dialog->Ask(chosen, parent.data())) {
                    const std::string name = chosen.printerName().toStdString();
                    // Output to a file is no printer.
                    if (!name.empty() && chosen.outputFileName().isEmpty()) {
                        printer = name;
                    }
                }
            }
            {
                std::lock_guard guard(answer->lock);
                answer->given = true;
                answer->printer = std::move(printer);
            }
            answer->answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock guard(answer->lock);
    answer->answered.wait(guard, stop, [&] { return answer->given; });
    return answer->given ? answer->printer : std::nullopt;
}

void PrintProcessThread::Run(std::stop_token stop) {
    // No job folder: the records print from the document folders, and making one would empty the
    // network's working folder under a request that may be printing from it.
    const std::uint32_t tick = TickCount();
    const std::optional<std::string> printer = AskPrinter(stop);
    if (!printer) {
        if (!stop.stop_requested()) {
            emit printerDeclined();
            emit finished();
        }
        return;
    }
    EventLog::Write("*******************");
    EventLog::Write("PrintProcessThread");
    EventLog::Write("*******************");
    for (std::size_t i = 0; i < ticked.size(); ++i) {
        if (i > 0 && !DriveDocumentPrinting::SleepUnlessStopped(kDocumentInterval, stop)) {
            return;
        }
        const TickedDocument& document = ticked[i];
        const DriveDocumentPrinting::HandOver handOver = DriveDocumentPrinting::PrintDriveDocument(
            *printer, document.documentPath, document.copies, document.folder, tick, mainWindow, stop);
        if (handOver == DriveDocumentPrinting::HandOver::Taken) {
            DocumentFolders::MarkDocumentPrinted(document.documentPath, list);
        } else if (handOver == DriveDocumentPrinting::HandOver::Missing) {
            const std::filesystem::path shown =
                document.documentPath.empty() ? document.folder / document.filename : document.documentPath;
            emit documentMissing(QString::fromStdString(shown.string()));
        }
        if (stop.stop_requested()) {
            return;
        }
    }
    emit finished();
}
