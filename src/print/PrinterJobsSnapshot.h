#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "print/PrintJobEntry.h"

// A printer and its jobs as the spooler showed them at the last refresh.
struct PrinterJobsSnapshot {
    std::string printerName;
    // Jobs with a lower id belong to earlier requests and are not asked for (0: all jobs).
    int firstJobId = 0;
    std::uint32_t printerStatus = 0;
    // The scheduler is trying to reach the device.
    bool connecting = false;
    // Jobs waiting or printing, as the printer counts them.
    int queuedJobCount = 0;
    // Number of entries returned by the last refresh.
    int jobCount = 0;
    std::vector<PrintJobEntry> jobs;
};
