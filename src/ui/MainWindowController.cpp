#include "ui/MainWindowController.h"

#include <QMetaObject>
#include <QThread>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/LogManager.h"
#include "app/StartupChecks.h"
#include "archive/PrintedDocuments.h"
#include "archive/gui/CBrowserDlg.h"
#include "config/AppSettings.h"
#include "platform/Unicode.h"
#include "print/DocumentNames.h"
#include "print/DocumentStaging.h"
#include "print/Spooler.h"
#include "ui/MainWindowFlags.h"

namespace {

constexpr const char* kSettingsFileName = "qopra.xml";
constexpr const char* kPdfMarker = ".PDF";

std::string DocumentPath(const PrintJobRecord& record) {
    return (std::filesystem::path(record.workingFolder) / record.documentName).string();
}

} // namespace

MainWindowController::MainWindowController(ITraceSink* sink, QObject* parent)
    : QObject(parent), traceSink(sink), network(sink, this) {
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
    // What is said now is also traced, where a person watching the devices looks: an empty list (they
    // see none) or a name that is no queue (their prints on it are refused).
    for (const std::string& said :
         StartupChecks::ReportPrintersOffered(AppSettings::Instance(), Spooler::GetDestinations(), problems)) {
        LogManager::Trace(said, traceSink);
    }
    emit stateChanged();
}

void MainWindowController::Start() {
    CheckPrinters();
    StartNetwork();
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
        serving = true;
        emit networkStarted();
        emit stateChanged();
        return true;
    }
    const int error = network.StartError();
    const bool told = problems.Report(
        error == EADDRINUSE ? ServiceProblems::Problem::PortTaken : ServiceProblems::Problem::PortUnavailable,
        port, error != 0 ? std::strerror(error) : "the address is not of this computer");
    // A port that is taken or an address that is not up yet may come free: try again later, after a
    // restart with new ports as after the start of the program.
    if (!networkRetry.isActive()) {
        networkRetry.start();
    }
    const bool changed = serving || told;
    serving = false;
    emit networkStartFailed();
    // Shown once, not at every retry.
    if (changed) {
        emit stateChanged();
    }
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

bool MainWindowController::ShowWaitingPage(bool refresh, std::chrono::milliseconds timeout,
                                           std::stop_token stop) {
    if (QThread::currentThread() == thread()) {
        HandleShowWaitingPage(refresh);
        return true;
    }
    struct Shown {
        std::mutex lock;
        std::condition_variable_any done;
        bool shown = false;
    };
    // The worker waits a bounded time only, and not past the end of the service: the GUI thread may
    // itself be waiting for this worker.
    auto shown = std::make_shared<Shown>();
    QMetaObject::invokeMethod(
        this,
        [this, refresh, shown] {
            HandleShowWaitingPage(refresh);
            std::lock_guard guard(shown->lock);
            shown->shown = true;
            shown->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock guard(shown->lock);
    return shown->done.wait_for(guard, stop, timeout, [&] { return shown->shown; });
}

void MainWindowController::HandleShowWaitingPage(bool refresh) {
    emit waitingPageRequested(refresh);
}

void MainWindowController::HandlePrintDocument(std::unique_ptr<PrintJobRecord> record) {
    if (!record) {
        return;
    }
    emit printJobReceived();
    // The preview page prints on the record's printer by name; the user's default stays theirs.
    EventLog::Write("Printing %s on %s, the default printer is left as it is", record->documentName.c_str(),
                    record->printerName.c_str());
    Page().PrintDocument(std::move(record));
}

void MainWindowController::PostPrintReport(PrintReport report) {
    QMetaObject::invokeMethod(
        this, [this, report = std::move(report)] { HandlePrintReport(report); }, Qt::QueuedConnection);
}

void MainWindowController::HandlePrintReport(const PrintReport& report) {
    recent.push_front(report);
    if (recent.size() > kRecentPrints) {
        recent.pop_back();
    }
    emit printReported(report);
    emit stateChanged();
    if (!report.result.IsPrinted()) {
        // The person always hears of a print that failed, and why, in words.
        notices.PrintFailed(report.documentName, report.device, FailureWords(report.result));
        return;
    }
    notices.Printed(report.documentName, report.device, report.printer);
    // Opened by its real name, whatever letter case the device wrote.
    const std::string name = DocumentNames::FindRegularFile(report.workingFolder, report.documentName)
                                 .value_or(report.documentName);
    PrintJobRecord record;
    record.printerName = report.printer;
    record.receivedFileName = report.receivedFileName;
    record.documentName = name;
    record.copies = report.copies;
    record.workingFolder = report.workingFolder;
    record.date = DocumentStaging::FormatPrintDate();
    record.id = report.registerId;
    // Every document printed is kept in the register, whatever road it took; one that did not print
    // is not.
    if (AppSettings::Instance().backup && report.kept) {
        Register().AddPrintedDocument(record.receivedFileName, record.printerName, record.documentName,
                                      record.workingFolder, record.id);
        emit historyEntryAdded(record);
    }
    // The main window shows the document printed last, PDFs and pictures included.
    const std::string document = DocumentPath(record);
    if (document != currentDocument) {
        currentDocument = document;
        MainWindowFlags::previewIsPdf = AsciiUpper(name).find(kPdfMarker) != std::string::npos;
        emit navigateRequested(QString::fromStdString(document));
    }
}

CBrowserDlg& MainWindowController::Page() {
    // One page prints every record, each on its own printer by name.
    if (!previewPage) {
        previewPage = std::make_unique<CBrowserDlg>();
        connect(previewPage.get(), &CBrowserDlg::waitingPageRequested, this,
                [this] { HandleShowWaitingPage(false); });
    }
    return *previewPage;
}

MainWindowController::ServiceState MainWindowController::State() const {
    const AppSettings& settings = AppSettings::Instance();
    ServiceState state;
    state.serving = serving;
    state.address = settings.local_address;
    state.port = network.LocalPort();
    for (const std::string& printer : settings.Printers()) {
        const std::string alias = settings.GetAlias(printer);
        state.printers.emplace_back(printer, alias.empty() ? printer : alias);
    }
    state.recent.assign(recent.begin(), recent.end());
    state.problems = problems.Current();
    return state;
}

std::string MainWindowController::FailureWords(const PrintResult& result) {
    using Reason = DesktopNotices::FailureReason;
    switch (result.cause) {
    case PrintResult::Cause::PrinterState:
        return DesktopNotices::ReasonWords(DesktopNotices::ReasonOf(result.printerStatus));
    case PrintResult::Cause::NotAPrinter:
        return DesktopNotices::ReasonWords(Reason::NotAPrinterHere);
    case PrintResult::Cause::UnsupportedType:
        return DesktopNotices::ReasonWords(Reason::UnsupportedType);
    case PrintResult::Cause::SpoolerUnreachable:
        return DesktopNotices::ReasonWords(Reason::SpoolerUnreachable);
    case PrintResult::Cause::NotReceived:
        return DesktopNotices::ReasonWords(Reason::NotReceived);
    case PrintResult::Cause::Ended:
    case PrintResult::Cause::Other:
    case PrintResult::Cause::None:
        break;
    }
    return DesktopNotices::ReasonWords(Reason::PrinterError);
}

PrintedDocuments& MainWindowController::Register() {
    if (!documents) {
        documents = std::make_unique<PrintedDocuments>();
    }
    return *documents;
}

void MainWindowController::LoadHistory() {
    Register().LoadPrintedDocuments(
        [this](std::unique_ptr<PrintJobRecord> record) { emit historyEntryAdded(*record); });
}
