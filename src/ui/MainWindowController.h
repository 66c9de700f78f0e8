#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/DesktopNotices.h"
#include "app/ServiceProblems.h"
#include "net/NetworkService.h"
#include "ui/IMainWindowPort.h"

class CBrowserDlg;
class IDesktopNotifier;
class PrintedDocuments;
class ITraceSink;

// What the main window does that needs no visible window: loads the settings, runs the network
// service, and takes the print-job records and requests of the workers. The desktop window and the
// headless service both drive one of these.
class MainWindowController : public QObject, public IMainWindowPort {
    Q_OBJECT

public:
    static constexpr int kNetworkRetryMilliseconds = 5000;
    // Prints the main window lists with their results.
    static constexpr std::size_t kRecentPrints = 12;

    // What the person sees at a glance in the main window.
    struct ServiceState {
        // Devices are served: the discovery port is open.
        bool serving = false;
        std::string address;
        std::uint16_t port = 0;
        // The printers offered: the queue and the name devices see.
        std::vector<std::pair<std::string, std::string>> printers;
        // The last prints, the latest first.
        std::vector<PrintReport> recent;
        // What keeps the server from serving, as said to the person.
        std::vector<std::string> problems;
    };

    explicit MainWindowController(ITraceSink* traceSink, QObject* parent = nullptr);
    ~MainWindowController() override;

    // The desktop's notifications (before LoadSettings): problems are then told there, with the
    // settings window as the remedy; without them the advice is the service's (edit the file).
    void SetDesktopNotifier(IDesktopNotifier* notifier);
    // GUI thread: what the person is told of prints (PrintFailed, Printed) and problems.
    DesktopNotices& Notices() { return notices; }
    // What keeps the server from serving the devices now (said once each).
    const ServiceProblems& Problems() const { return problems; }
    // Looks at the offered printers again (after the settings window's OK): an empty list or a name
    // that is no queue of the spooler is said once; one that was mended is forgotten.
    void CheckPrinters();

    // Loads the settings from the data folder, says what keeps the server from printing (settings that
    // cannot be read, a data folder that cannot be written, a spooler out of reach) and starts the
    // network service.
    void Initialise();
    // The steps of Initialise, for the desktop window, which makes its windows in between: the
    // settings (the interface language among them), then the network service.
    void LoadSettings();
    void Start();
    // Stops the network service; the order of the end of the program.
    void Shutdown();
    // Starts the network service again (the Connect command); true when it runs.
    bool StartNetwork();

    // From any thread: queued to the GUI thread.
    void PostPrintDocument(std::unique_ptr<PrintJobRecord> record) override;
    void PostPrintReport(PrintReport report) override;
    bool ShowWaitingPage(bool refresh, std::chrono::milliseconds timeout, std::stop_token stop) override;

    // GUI thread: a print-job record reaches the main window and goes to the preview page.
    void HandlePrintDocument(std::unique_ptr<PrintJobRecord> record);
    // GUI thread: what became of a print. A printed document is shown and, with backup on, registered.
    void HandlePrintReport(const PrintReport& report);
    // GUI thread: the main window's browser shows the waiting page.
    void HandleShowWaitingPage(bool refresh);
    // Hands every kept document of the register to the history (`historyEntryAdded`).
    void LoadHistory();

    // GUI thread: what the main window shows of the service.
    ServiceState State() const;
    // Why a document did not print, in the person's words and the interface language.
    static std::string FailureWords(const PrintResult& result);

    // What the main window's preview stands for: the waiting page while a PDF is printed.
    const std::string& CurrentDocument() const { return currentDocument; }
    // The register of kept documents (made at first use, in the data folder of that time).
    PrintedDocuments& Register();
    // The preview page; null before the first record.
    CBrowserDlg* PreviewPage() const { return previewPage.get(); }

signals:
    // The last network start failed (the desktop window offers its Connect button) or succeeded.
    void networkStartFailed();
    void networkStarted();
    // A print-job record arrived (the tray icon animates).
    void printJobReceived();
    // A print ended, printed or not (notifications, the main window's list of recent prints).
    void printReported(const PrintReport& report);
    // Something the main window shows of the service changed (State()).
    void stateChanged();
    // The main window's browser should show this document or page.
    void navigateRequested(const QString& location);
    // The main window's browser should show the waiting page, refreshed when asked.
    void waitingPageRequested(bool refresh);
    // A document for the history list (printed with backup on, or kept from earlier runs).
    void historyEntryAdded(const PrintJobRecord& record);

private:
    // The preview page, made for the first record.
    CBrowserDlg& Page();

    ITraceSink* traceSink;
    DesktopNotices notices;
    ServiceProblems problems{ServiceProblems::Audience::Service, notices};
    NetworkService network;
    QTimer networkRetry;
    std::string currentDocument;
    std::unique_ptr<CBrowserDlg> previewPage;
    std::unique_ptr<PrintedDocuments> documents;
    std::deque<PrintReport> recent;
    bool serving = false;
};
