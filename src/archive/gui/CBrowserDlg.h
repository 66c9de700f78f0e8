#pragma once

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "print/PrintJobRecord.h"

class QWebEngineLoadingInfo;
class QWebEnginePage;

// The hidden preview page of the browser road: loads each document it is given, renders it to PDF and
// submits that to the record's printer once per copy, then restores the default printer that the main
// window switched. Never shown. Records that arrive while one is printing wait their turn, so none is
// lost. Lives on the GUI thread.
class CBrowserDlg : public QObject {
    Q_OBJECT

public:
    // A document that has not loaded and rendered by then is given up, so the default printer does not
    // stay switched for good.
    static constexpr std::chrono::milliseconds kDefaultPrintTimeLimit{60000};
    // Each copy is a job of its own: a device asking for a million copies must not flood the spooler
    // and hold the GUI thread for hours. Print dialogs stop at the same number.
    static constexpr std::int32_t kDefaultCopiesLimit = 999;

    explicit CBrowserDlg(std::string printerName, QObject* parent = nullptr,
                         std::chrono::milliseconds printTimeLimit = kDefaultPrintTimeLimit);
    ~CBrowserDlg() override;

    // The printer this page was made for.
    const std::string& PrinterName() const { return printerName; }
    // Applies from the next document on.
    void SetPrintTimeLimit(std::chrono::milliseconds limit);
    // Applies from the next document on.
    void SetCopiesLimit(std::int32_t limit) { copiesLimit = limit; }
    // Takes the record over: loads the document and prints it when loading has finished.
    void PrintDocument(std::unique_ptr<PrintJobRecord> record);
    // A document is loading or printing, or waits for its turn.
    bool IsBusy() const { return phase != Phase::Idle || !waiting.empty(); }

signals:
    // The main window should show its waiting page (a PDF document was not printed here).
    void waitingPageRequested();
    // One record has been handled; `submittedJobs` spooler jobs were made for it.
    void documentDone(bool printed, int submittedJobs);
    // Nothing is loading, printing or waiting any more.
    void idle();

private:
    enum class Phase {
        Idle,
        LoadingDocument,
        Rendering,
        // A PDF was loaded and not printed; the waiting page is on its way in.
        LeavingPdf,
    };

    void StartNext();
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);
    void OnPdfRendered(std::uint64_t serial, const QByteArray& pdf);
    void OnTimeLimit();
    int SubmitCopies(const QByteArray& pdf);
    void Finish(bool printed, int submittedJobs);

    std::string printerName;
    std::unique_ptr<QWebEnginePage> page;
    QTimer timeLimit;
    std::deque<std::unique_ptr<PrintJobRecord>> waiting;

    Phase phase = Phase::Idle;
    std::uint64_t serial = 0;
    std::int32_t copies = 0;
    std::int32_t copiesLimit = kDefaultCopiesLimit;
    std::string documentName;
    std::string documentNameUpper;
    std::string jobPrinterName;
    std::string workingFolder;
    QUrl documentUrl;
    QUrl leavingUrl;
};
