#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "app/IDesktopNotifier.h"

// What the program tells the person at the desktop as notifications, in the interface language: a
// print that failed (always), a document printed (unless the `notify_printed` setting is off), and a
// problem that keeps the server from serving the devices. Without a notifier (the headless service)
// nothing is shown. GUI thread.
class DesktopNotices {
public:
    // Why a document was not printed, as the person is told.
    enum class FailureReason {
        Paused,
        PaperOut,
        PaperJam,
        DoorOpen,
        TonerEmpty,
        Offline,
        PrinterError,
        NotAPrinterHere,
        UnsupportedType,
        SpoolerUnreachable,
        NotReceived,
    };

    explicit DesktopNotices(IDesktopNotifier* notifier = nullptr) : notifier(notifier) {}

    void SetNotifier(IDesktopNotifier* desktop) { notifier = desktop; }
    bool Enabled() const { return notifier != nullptr; }

    // `document` from `device` was not printed; `reason` says why in a few words ("paused", "out of
    // paper", "not a printer here", "cannot print this type").
    void PrintFailed(const std::string& document, const std::string& device, const std::string& reason);
    // `document` from `device` was printed on `printer`: a quiet notification, when the setting wants it.
    void Printed(const std::string& document, const std::string& device, const std::string& printer);
    // The server cannot serve the devices: `problem` names it and says what to do.
    void CannotServe(const std::string& problem);

    // The words for `reason` in the interface language ("paused", "out of paper", ...).
    static std::string ReasonWords(FailureReason reason);
    // The reason a printer status word gives (its most telling bit); PrinterError when none names one.
    static FailureReason ReasonOf(std::uint32_t printerStatus);

    // The interface text `id` with "%1", "%2", ... replaced by `arguments` in order.
    static std::string Text(unsigned id, const char* english,
                            std::initializer_list<std::string> arguments = {});

private:
    IDesktopNotifier* notifier;
};
