#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "print/PrintResult.h"
#include "print/PrinterJobsSnapshot.h"

class BrowserPrintOutcome;
class Spooler;

// Judges a print by watching the spooler: the printer's status and the jobs the request submitted,
// asked for by their ids. Each watch ends in a verdict of its own.
class PrintQueueWatch {
public:
    static constexpr std::chrono::milliseconds kBrowserWatchLimit{30000};
    static constexpr std::chrono::milliseconds kWatchGrace{10000};
    // A device the scheduler keeps trying to reach for this long counts as offline.
    static constexpr std::chrono::milliseconds kConnectingLimit{5000};

    // What a watch made of a request's jobs.
    struct Verdict {
        // The spooler answered at least once.
        bool asked = false;
        // A job failed, or the printer showed an error: `printerStatus` says which.
        bool failed = false;
        // The watch was stopped by the end of the service before it had judged the jobs.
        bool stopped = false;
        // The browser road: the preview page could not print the document (nothing was submitted).
        bool notHandedOver = false;
        // ... because nothing here prints a document of its type.
        bool unsupportedType = false;
        std::uint32_t printerStatus = 0;
        // The jobs the request made, and those of them that had ended (completed or failed) at the
        // last look.
        std::vector<int> jobIds;
        std::vector<int> endedJobs;
        // What to tell the device: printed unless the jobs failed, the spooler could not be asked
        // or the watch was cut short. `why` says why the page did not print, when it did not.
        PrintResult Result(const std::string& printerName, const std::string& why = {}) const;
    };

    // What the device is told must come true: the result of `verdict`, and when that is a failure the
    // request's jobs that have not ended are cancelled (with a log line), so that none of them prints
    // later. A job that turns out to have completed meanwhile makes the request printed after all.
    static PrintResult Settle(const Verdict& verdict, const std::string& printerName,
                              const std::string& why = {});
    // Looks at the printer before anything is handed to it: nothing when it can print, else what to
    // tell the device (unknown to the spooler, the spooler out of reach, or an error state such as
    // paused). A paused queue would print the document later, after the device was told otherwise.
    static std::optional<PrintResult> CheckPrinter(Spooler& spooler, const std::string& printerName);
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
    // The printer status of the first failed job of the snapshot, 0 when none has failed.
    static std::uint32_t FindFailedJob(const PrinterJobsSnapshot& snapshot);

    // The PDF road's watch over the jobs it submitted. Each job counts until it has completed (or left
    // the spooler, which keeps no history of it) or ended aborted, canceled or stopped; a failed job
    // or a printer error ends the watch. Jobs still waiting or printing without error when `limit` is
    // reached have been accepted by the spooler.
    static Verdict WatchSubmittedJobs(const std::shared_ptr<Spooler>& spooler, const std::string& printerName,
                                      const std::vector<int>& jobIds, std::chrono::milliseconds limit,
                                      std::stop_token stop);
    // The browser road's watch: waits for the preview page to report the jobs it made of the
    // document, then judges them as above.
    static Verdict WaitForBrowserJob(const std::shared_ptr<Spooler>& spooler, const std::string& printerName,
                                     const std::string& documentName,
                                     const std::shared_ptr<BrowserPrintOutcome>& outcome,
                                     std::stop_token stop,
                                     std::chrono::milliseconds limit = kBrowserWatchLimit);
};
