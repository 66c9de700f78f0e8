#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "print/PrinterJobsSnapshot.h"

class BrowserPrintOutcome;
class Spooler;

// Judges a print by watching the spooler: the printer's status and the jobs the request submitted,
// asked for by their ids. The result of a request is decided by the shared printer status
// (PrinterStatus::Shared()).
class PrintQueueWatch {
public:
    static constexpr std::chrono::milliseconds kBrowserWatchLimit{30000};
    static constexpr std::chrono::milliseconds kWatchGrace{10000};
    // A device the scheduler keeps trying to reach for this long counts as offline.
    static constexpr std::chrono::milliseconds kConnectingLimit{5000};

    // Re-reads the printer and its jobs from `snapshot.firstJobId` on; leaves the snapshot as it was
    // and returns false when the spooler cannot be asked.
    static bool RefreshPrinterJobs(Spooler& spooler, PrinterJobsSnapshot& snapshot);
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

    // The PDF road's watch over the jobs it submitted. Each job counts until it has completed (or left
    // the spooler, which keeps no history of it) or ended aborted, canceled or stopped; a failed job
    // or a printer error ends the watch with that status in the shared printer status. Jobs still
    // waiting or printing without error when `limit` is reached have been accepted by the spooler.
    // True when the jobs were judged, false when the spooler could not be asked.
    static bool WatchSubmittedJobs(const std::shared_ptr<Spooler>& spooler, const std::string& printerName,
                                   const std::vector<int>& jobIds, std::chrono::milliseconds limit);
    // The browser road's watch: waits for the preview page to report the jobs it made of the
    // document, then judges them as above. 1 when they were judged, 0 when the page could not print
    // the document, nothing was reported in time, or the spooler could not be asked.
    static int WaitForBrowserJob(const std::shared_ptr<Spooler>& spooler, const std::string& printerName,
                                 const std::string& documentName,
                                 const std::shared_ptr<BrowserPrintOutcome>& outcome,
                                 std::chrono::milliseconds limit = kBrowserWatchLimit);
    // The browser road: checks the printer before anything is handed over, then calls `handOver` (which
    // posts the record to the preview page and returns where the page reports) and waits. 0 the
    // printer cannot be watched or nothing happened in time, 1 the watch ended in time, 4 the printer
    // was in an error state (its status in `printerStatus`; nothing was handed over).
    static int WaitForPrinterResult(const std::string& printerName, const std::string& documentName,
                                    std::uint32_t& printerStatus,
                                    const std::function<std::shared_ptr<BrowserPrintOutcome>()>& handOver);
};
