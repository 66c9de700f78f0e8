#pragma once

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "print/PrintJobRecord.h"

class ConfinedBrowserProfile;
class TextDocumentPage;
class QWebEngineDownloadRequest;
class QWebEngineLoadingInfo;
class QWebEnginePage;

// The hidden preview page of the browser road: loads each document it is given, renders it to PDF and
// submits that to the record's printer by name as one job with the record's copies (the user's
// default printer is never touched), and reports the job to the record's outcome. Never shown. Documents come
// from the network: the page runs no scripts and loads nothing but the files of the record's working folder.
// Records that arrive while one is printing wait their turn, so none is lost. Lives on the GUI
// thread; the copies are submitted on a worker so that the GUI thread never waits for the spooler.
class CBrowserDlg : public QObject {
    Q_OBJECT

public:
    // A document that has not loaded and rendered by then is given up, with a new page for the next
    // one; it is shorter than the request's own wait, so the device hears the failure from the page.
    static constexpr std::chrono::milliseconds kDefaultPrintTimeLimit{20000};
    explicit CBrowserDlg(QObject* parent = nullptr,
                         std::chrono::milliseconds printTimeLimit = kDefaultPrintTimeLimit);
    ~CBrowserDlg() override;

    // Applies from the next document on.
    void SetPrintTimeLimit(std::chrono::milliseconds limit);
    // Takes the record over: loads the document and prints it when loading has finished.
    void PrintDocument(std::unique_ptr<PrintJobRecord> record);
    // A document is loading or printing, or waits for its turn.
    bool IsBusy() const { return phase != Phase::Idle || !waiting.empty(); }
    // The browser page in use; replaced when a document is given up.
    QWebEnginePage* Page() const { return page.get(); }

signals:
    // The main window should show its waiting page (a PDF document was not printed here).
    void waitingPageRequested();
    // One record has been handled; `submittedJobs` spooler jobs were made for it (one with all its
    // copies, or none).
    void documentDone(bool printed, int submittedJobs);
    // Nothing is loading, printing or waiting any more.
    void idle();

private:
    enum class Phase {
        Idle,
        LoadingDocument,
        Rendering,
        // The rendered copies are on their way to the spooler.
        Submitting,
        // A PDF was loaded and not printed; the waiting page is on its way in.
        LeavingPdf,
        // The record's outcome is being told.
        Concluding,
    };

    void MakePage();
    void StartNext();
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);
    void OnDownloadRequested(QWebEngineDownloadRequest* download);
    void OnPdfRendered(std::uint64_t serial, const QByteArray& pdf);
    void OnSubmitted(std::uint64_t serial, const std::vector<int>& jobIds);
    void OnTimeLimit();
    void FinishSubmitter();
    // Reports the current record's outcome; Finish then goes on with the next record.
    void Conclude(bool printed, const std::vector<int>& jobIds, const std::string& reason = {});
    void Finish(bool printed, const std::vector<int>& jobIds, const std::string& reason = {});
    std::unique_ptr<ConfinedBrowserProfile> browser;
    std::unique_ptr<QWebEnginePage> page;
    QTimer timeLimit;
    std::deque<std::unique_ptr<PrintJobRecord>> waiting;
    std::thread submitter;
    std::shared_ptr<std::atomic<bool>> submitterCancelled;

    Phase phase = Phase::Idle;
    std::uint64_t serial = 0;
    std::int32_t copies = 0;
    // The current record's document is of a type nothing here prints.
    bool unsupportedType = false;
    std::string documentName;
    std::string documentNameUpper;
    std::string jobPrinterName;
    std::string workingFolder;
    std::shared_ptr<BrowserPrintOutcome> outcome;
    QUrl documentUrl;
    QUrl leavingUrl;
    // The page a plain-text document is printed through, while it prints.
    std::unique_ptr<TextDocumentPage> textPage;
};
