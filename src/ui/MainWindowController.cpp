#include "ui/MainWindowController.h"

#include <QMetaObject>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <future>
#include <utility>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/LogManager.h"
#include "app/StartupChecks.h"
#include "archive/PrintedDocuments.h"
#include "archive/gui/CBrowserDlg.h"
#include "config/AppSettings.h"
#include "platform/Unicode.h"
#include "print/PrintStop.h"
#include "print/Spooler.h"
#include "ui/MainWindowFlags.h"

namespace {

constexpr const char* kSettingsFileName = "qopra.xml";
constexpr const char* kPdfMarker = ".PDF";
constexpr std::chrono::milliseconds kWaitStep{50};

std::string DocumentPath(const PrintJobRecord& record) {
    return (std::filesystem::path(record.workingFolder) / record.documentName).string();
}

} // namespace

MainWindowController::MainWindowController(ITraceSink* sink, QObject* parent)
    : QObject(parent), traceSink(sink) {
    networkRetry.setInterval(kNetworkRetryMilliseconds);
    connect(&networkRetry, &QTimer::timeout, this, [this] { StartNetwork(); });
}

MainWindowController::~MainWindowController() {
    Shutdown();
}

void MainWindowController::Initialise() {
    LoadSettings();
    Start();
    LoadHistory();
}

void MainWindowController::LoadSettings() {
    // Without a data folder the program runs on defaults: never a settings file of the current folder.
    const std::filesystem::path dataFolder = DataFolder::Path();
    AppSettings& settings = AppSettings::Instance();
    if (!dataFolder.empty() && !settings.Load((dataFolder / kSettingsFileName).string())) {
        StartupChecks::ReportSettings(settings, problems);
    }
    StartupChecks::ReportDataFolder(problems);
    StartupChecks::ReportSpooler(problems);
}

void MainWindowController::SetDesktopNotifier(IDesktopNotifier* notifier) {
    notices.SetNotifier(notifier);
    problems.SetAudience(notifier != nullptr ? ServiceProblems::Audience::Desktop
                                             : ServiceProblems::Audience::Service);
}

void MainWindowController::CheckPrinters() {
    const bool listedBefore = problems.Known(ServiceProblems::Problem::NoPrinterOffered);
    StartupChecks::ReportPrintersOffered(AppSettings::Instance(), Spooler::GetDestinations(), problems);
    // An empty list is also traced, where a person watching the devices looks: they see none.
    if (!listedBefore && problems.Known(ServiceProblems::Problem::NoPrinterOffered)) {
        LogManager::Trace(problems.Current().back(), traceSink);
    }
}

void MainWindowController::Start() {
    CheckPrinters();
    network.SetTraceSink(traceSink);
    network.SetMainWindow(this);
    if (!StartNetwork()) {
        // A port that is taken or an address that is not up yet may come free: try again later.
        networkRetry.start();
    }
}

void MainWindowController::Shutdown() {
    networkRetry.stop();
    network.Stop();
}

bool MainWindowController::StartNetwork() {
    const std::string port = AppSettings::Instance().local_port;
    if (network.StartNetworkService(port)) {
        networkRetry.stop();
        if (problems.Known(ServiceProblems::Problem::PortTaken) ||
            problems.Known(ServiceProblems::Problem::PortUnavailable)) {
            EventLog::Write("The UDP port %s is open again: devices are served", port.c_str());
        }
        problems.Resolved(ServiceProblems::Problem::PortTaken);
        problems.Resolved(ServiceProblems::Problem::PortUnavailable);
        emit networkStarted();
        return true;
    }
    const int error = network.StartError();
    problems.Report(error == EADDRINUSE ? ServiceProblems::Problem::PortTaken
                                        : ServiceProblems::Problem::PortUnavailable,
                    port, error != 0 ? std::strerror(error) : "the address is not of this computer");
    emit networkStartFailed();
    return false;
}

void MainWindowController::PostPrintDocument(std::unique_ptr<PrintJobRecord> record) {
    if (!record) {
        return;
    }
    // A queued call needs a copyable function; the record rides in a shared holder and is dropped with
    // it if the controller is gone before the call runs.
    auto holder = std::make_shared<std::unique_ptr<PrintJobRecord>>(std::move(record));
    QMetaObject::invokeMethod(
        this, [this, holder] { HandlePrintDocument(std::move(*holder)); }, Qt::QueuedConnection);
}

bool MainWindowController::ShowWaitingPage(bool refresh, std::chrono::milliseconds timeout) {
    if (QThread::currentThread() == thread()) {
        HandleShowWaitingPage(refresh);
        return true;
    }
    // The worker waits a bounded time only: the GUI thread may itself be waiting for this worker.
    auto shown = std::make_shared<std::promise<bool>>();
    std::future<bool> result = shown->get_future();
    QMetaObject::invokeMethod(
        this,
        [this, refresh, shown] {
            HandleShowWaitingPage(refresh);
            shown->set_value(true);
        },
        Qt::QueuedConnection);
    // Waited for in steps, so that the end of the server does not wait for a GUI thread that is
    // itself ending the server.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (result.wait_for(kWaitStep) != std::future_status::ready) {
        if (PrintStop::Requested() || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
    try {
        return result.get();
    } catch (const std::future_error&) {
        // The controller went away before it came round to the request.
        return false;
    }
}

void MainWindowController::HandleShowWaitingPage(bool refresh) {
    emit waitingPageRequested(refresh);
}

void MainWindowController::HandlePrintDocument(std::unique_ptr<PrintJobRecord> record) {
    if (!record) {
        return;
    }
    emit printJobReceived();
    const bool isPdf = AsciiUpper(record->documentName).find(kPdfMarker) != std::string::npos;
    MainWindowFlags::previewIsPdf = isPdf;
    // The preview page prints on the record's printer by name; the user's default stays theirs.
    EventLog::Write("Printing %s on %s, the default printer is left as it is", record->documentName.c_str(),
                    record->printerName.c_str());
    const std::string document = DocumentPath(*record);
    emit navigateRequested(QString::fromStdString(document));
    currentDocument = isPdf ? DataFolder::WaitingPage().string() : document;

    PreviewPageFor(record->printerName).PrintDocument(std::make_unique<PrintJobRecord>(*record));

    if (AppSettings::Instance().backup) {
        PrintedDocuments().AddPrintedDocument(record->receivedFileName, record->printerName,
                                              record->documentName, record->workingFolder, record->id);
        emit historyEntryAdded(*record);
    }
}

CBrowserDlg& MainWindowController::PreviewPageFor(const std::string& printerName) {
    if (previewPage && previewPage->PrinterName() != printerName) {
        // A page that is still printing finishes its documents first, then goes.
        CBrowserDlg* retired = previewPage.release();
        retired->setParent(this);
        if (retired->IsBusy()) {
            connect(retired, &CBrowserDlg::idle, retired, &QObject::deleteLater);
        } else {
            retired->deleteLater();
        }
    }
    if (!previewPage) {
        previewPage = std::make_unique<CBrowserDlg>(printerName);
        connect(previewPage.get(), &CBrowserDlg::waitingPageRequested, this,
                [this] { HandleShowWaitingPage(false); });
    }
    return *previewPage;
}

void MainWindowController::LoadHistory() {
    PrintedDocuments().LoadPrintedDocuments(
        [this](std::unique_ptr<PrintJobRecord> record) { emit historyEntryAdded(*record); });
}
