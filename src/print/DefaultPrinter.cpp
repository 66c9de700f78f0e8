#include "print/DefaultPrinter.h"

#include <mutex>

#include "app/EventLog.h"
#include "print/Spooler.h"

namespace {

std::mutex savedLock;
std::string savedDefault;
// Switches not yet restored. Records for several printers may overlap; only the first switch saves
// the user's own default and only the last restore puts it back, so it is never lost.
int outstandingSwitches = 0;

} // namespace

int DefaultPrinter::SwitchDefaultPrinter(const std::string& printerName) {
    // A machine without a default destination is usual here, so only an unreachable spooler counts
    // as a failed read.
    std::lock_guard guard(savedLock);
    if (outstandingSwitches++ > 0) {
        const int result = Spooler::SetDefaultDestination(printerName) ? 1 : 0;
        EventLog::Write("[%d] Settig default printer to %s ", result, printerName.c_str());
        return result;
    }
    const std::optional<std::string> current = Spooler::GetDefaultDestination();
    if (!current) {
        EventLog::Write("Gettig default printer failed: %ld", static_cast<long>(Spooler::LastErrorCode()));
        savedDefault.clear();
        return 0;
    }
    savedDefault = *current;
    EventLog::Write("Gettig default printer : %s", savedDefault.c_str());
    const int result = Spooler::SetDefaultDestination(printerName) ? 1 : 0;
    EventLog::Write("[%d] Settig default printer to %s ", result, printerName.c_str());
    return result;
}

int DefaultPrinter::RestoreDefaultPrinter() {
    std::lock_guard guard(savedLock);
    if (outstandingSwitches > 1) {
        --outstandingSwitches;
        return 1;
    }
    outstandingSwitches = 0;
    const int result = Spooler::SetDefaultDestination(savedDefault) ? 1 : 0;
    EventLog::Write("[%d] Restoring default printer to %s ", result, savedDefault.c_str());
    return result;
}
