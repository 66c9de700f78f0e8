#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "print/PrinterJobsSnapshot.h"

// Judges a print by watching the spooler: the printer's status and its jobs. The result of a request
// is decided by the shared printer status (PrinterStatus::Shared()).
class PrintQueueWatch {
public:
    static constexpr std::chrono::milliseconds kBrowserWatchLimit{30000};
    static constexpr std::chrono::milliseconds kWatchGrace{10000};
    // A device the scheduler keeps trying to reach for this long counts as offline.
    static constexpr std::chrono::milliseconds kConnectingLimit{5000};

    // Re-reads the printer and its jobs since `snapshot.since`; leaves the snapshot as it was and
    // returns false when the spooler cannot be asked.
    static bool RefreshPrinterJobs(PrinterJobsSnapshot& snapshot);
    // "Spooling - Printing" and so on, for the log.
    static std::string JobStatusText(std::uint32_t jobStatus);
    // Status of the first job whose name contains `documentName` (letter case ignored), 0 when none;
    // logs every job it looks at.
    static std::uint32_t FindDocumentJob(const PrinterJobsSnapshot& snapshot,
                                         const std::string& documentName);
    // The printer status a failed job stands for, 0 when the job has not failed.
    static std::uint32_t FailedJobPrinterStatus(std::uint32_t jobStatus);
    // Stores the status of the first failed job in the shared printer status; the caller holds its lock.
    static bool FindFailedJob(const PrinterJobsSnapshot& snapshot);

    // Watches for a job of the document created since `since` that prints or has printed; a job of
    // it that failed ends the watch with its status in the shared printer status. 1 when the watch
    // ended within its limit, 0 otherwise.
    static int WaitForBrowserJob(const std::string& printerName, const std::string& documentName,
                                 std::time_t since, int afterJobId = 0);
    // The browser road's wait: 0 the printer cannot be watched or nothing happened in time, 1 the
    // watch ended in time, 4 the printer was in an error state (its status in `printerStatus`).
    static int WaitForPrinterResult(const std::string& printerName, const std::string& documentName,
                                    std::uint32_t& printerStatus, std::time_t since, int afterJobId = 0);
    // The highest id among the printer's jobs created since `since`, 0 when there is none or the
    // spooler cannot be asked. Taken before a document is handed over, it marks the jobs to ignore.
    static int LastJobId(const std::string& printerName, std::time_t since);
    // The PDF road's watch over the jobs it submitted: ends when each reached processing or
    // completed, or when one failed or the printer shows an error. True when it ended within `limit`.
    static bool WatchSubmittedJobs(const std::string& printerName, const std::vector<int>& jobIds,
                                   std::time_t since, std::chrono::milliseconds limit);
};
