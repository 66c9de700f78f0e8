#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "print/PrintJobEntry.h"

// A printer and its jobs as the spooler showed them at the last refresh.
struct PrinterJobsSnapshot {
    std::string printerName;
    // Jobs created before this moment belong to earlier requests and are left out.
    std::time_t since = 0;
    // Jobs up to this id were there before the request; the clock alone cannot tell them apart from
    // the request's own jobs when both come within one second.
    int afterJobId = 0;
    std::uint32_t printerStatus = 0;
    // The scheduler is trying to reach the device.
    bool connecting = false;
    // Jobs waiting or printing, as the printer counts them.
    int queuedJobCount = 0;
    // Number of entries returned by the last refresh.
    int jobCount = 0;
    std::vector<PrintJobEntry> jobs;
};
