#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "net/NetworkService.h"
#include "ui/IMainWindowPort.h"

class ITraceSink;

// What the main window does that needs no visible window: loads the settings, runs the network
// service, and takes the print-job records and requests of the workers. The desktop window and the
// headless service both drive one of these.
class MainWindowController : public QObject, public IMainWindowPort {
    Q_OBJECT

public:
    static constexpr int kNetworkRetryMilliseconds = 5000;

    explicit MainWindowController(ITraceSink* traceSink, QObject* parent = nullptr);
    ~MainWindowController() override;

    // Loads the settings from the data folder and starts the network service.
    void Initialise();
    // Stops the network service; the order of the end of the program.
    void Shutdown();
    // Starts the network service again (the Connect command); true when it runs.
    bool StartNetwork();

    void PostPrintDocument(std::unique_ptr<PrintJobRecord> record) override;
    bool ShowWaitingPage(bool refresh, std::chrono::milliseconds timeout) override;

signals:
    // The last network start failed (the desktop window offers its Connect button) or succeeded.
    void networkStartFailed();
    void networkStarted();

private:
    ITraceSink* traceSink;
    NetworkService network;
    QTimer networkRetry;
};
