#include "ui/MainWindowController.h"

#include "app/DataFolder.h"
#include "config/AppSettings.h"

namespace {

constexpr const char* kSettingsFileName = "qopra.xml";

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
    AppSettings::Instance().Load((DataFolder::Path() / kSettingsFileName).string());
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
    if (network.StartNetworkService(AppSettings::Instance().local_port)) {
        networkRetry.stop();
        emit networkStarted();
        return true;
    }
    emit networkStartFailed();
    return false;
}

void MainWindowController::PostPrintDocument(std::unique_ptr<PrintJobRecord>) {}

bool MainWindowController::ShowWaitingPage(bool, std::chrono::milliseconds) {
    return true;
}
