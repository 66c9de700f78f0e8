#pragma once

#include <chrono>
#include <memory>
#include <stop_token>

#include "print/PrintJobRecord.h"
#include "print/PrintReport.h"

// What workers may ask of the main window. Implemented on the GUI side; calls come from any thread
// and are queued to the GUI thread. A null port means "no main window".
class IMainWindowPort {
public:
    virtual ~IMainWindowPort() = default;
    // Hands a print-job record to the main window (posted; the window owns it from now on).
    virtual void PostPrintDocument(std::unique_ptr<PrintJobRecord> record) = 0;
    // Tells the main window what became of a print (posted).
    virtual void PostPrintReport(PrintReport report) = 0;
    // Shows the waiting page (refreshing it when asked) and waits at most `timeout` for the window to
    // have done so, or until `stop` is requested. Returns false when it has not been shown.
    virtual bool ShowWaitingPage(bool refresh, std::chrono::milliseconds timeout, std::stop_token stop) = 0;
};
