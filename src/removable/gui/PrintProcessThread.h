#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "removable/RemovableDocument.h"

class IMainWindowPort;
class IPrintDialog;

// One Print command of the documents window, on a worker of its own. The printer is asked for with the
// print dialog on the GUI thread while the worker waits for the answer (never the other way round);
// then each ticked document is handed over with its own copies, one second apart, and marked printed
// on the drive once the spooler has taken it. The window hears of the rest through the signals, on
// its own thread.
class PrintProcessThread : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDocumentInterval{1000};

    // A ticked row, as it was when Print was pressed.
    struct TickedDocument {
        // Empty when the description names no file of the folder.
        std::filesystem::path documentPath;
        std::int32_t copies = 1;
        std::filesystem::path folder;
        // The `filename` of the description, for the message about a missing document.
        std::string filename;
    };

    // `list` is the window's list of that moment, where the printed marks are looked up. The dialog
    // and the main window outlive this object; `mainWindow` may be null (PDF documents still print).
    PrintProcessThread(std::vector<TickedDocument> ticked, std::vector<RemovableDocument> list,
                       IPrintDialog& printDialog, QWidget* dialogParent, IMainWindowPort* mainWindow);
    // Stops the worker (a question still open counts as cancelled) and waits for it to end.
    ~PrintProcessThread() override;
    PrintProcessThread(const PrintProcessThread&) = delete;
    PrintProcessThread& operator=(const PrintProcessThread&) = delete;

    void Start();

signals:
    // The print dialog was cancelled: nothing was printed.
    void printerDeclined();
    // "Cannot find the file %s" is to be shown for this path (in its real letter case).
    void documentMissing(const QString& path);
    // Every document has been dealt with (or the dialog was cancelled); the list may have changed.
    void finished();

private:
    void Run(std::stop_token stop);
    // The printer chosen in the dialog; nothing when it was cancelled or the worker is stopped.
    std::optional<std::string> AskPrinter(const std::stop_token& stop);

    std::vector<TickedDocument> ticked;
    std::vector<RemovableDocument> list;
    IPrintDialog& printDialog;
    QPointer<QWidget> dialogParent;
    IMainWindowPort* mainWindow;
    // Last: it ends before the members it uses.
    std::jthread worker;
};
