#include "print/PrintQueueWatch.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "app/EventLog.h"
#include "print/BrowserPrintOutcome.h"
#include "print/PrinterStatus.h"
#include "print/Spooler.h"
#include "print/WatchThread.h"

namespace {

struct StatusName {
    std::uint32_t bit;
    const char* text;
};

// The order in which the texts are written.
constexpr std::array<StatusName, 12> kJobStatusNames{{
    {PrintJobEntry::kSpooling, "Spooling"},
    {PrintJobEntry::kPrinting, "Printing"},
    {PrintJobEntry::kDeleting, "Deleting"},
    {PrintJobEntry::kPaused, "Paused"},
    {PrintJobEntry::kPrinted, "Printed"},
    {PrintJobEntry::kDeleted, "Deleted"},
    {PrintJobEntry::kError, "Error"},
    {PrintJobEntry::kOffline, "Offline"},
    {PrintJobEntry::kPaperOut, "Paper Out"},
    {PrintJobEntry::kBlockedDevice, "Blocked Device"},
    {PrintJobEntry::kUserIntervention, "Intervention Required"},
    {PrintJobEntry::kRestarting, "Restarting"},
}};

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    });
    return text;
}

// Adds the offline bit when the scheduler has been trying to reach the device for too long.
class ConnectingClock {
public:
    std::uint32_t StatusOf(const PrinterJobsSnapshot& snapshot) {
        if (!snapshot.connecting) {
            since.reset();
            return snapshot.printerStatus;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!since) {
            since = now;
        }
        return now - *since >= PrintQueueWatch::kConnectingLimit
                   ? snapshot.printerStatus | PrinterStatus::kOffline
                   : snapshot.printerStatus;
    }

private:
    std::optional<std::chrono::steady_clock::time_point> since;
};

// What the last poll found of a request's jobs, read by the starter when the watch time is over.
struct JobsVerdict {
    std::mutex lock;
    // A poll got an answer from the spooler.
    bool asked = false;
    // Every job had ended well or was waiting or printing without error, on a usable printer.
    bool accepted = false;
};

// One look at the printer and at the jobs `jobIds` (all of one printer): true when the watch is over,
// because every job ended well, or one failed or the printer shows an error (the shared printer
// status then holds why).
bool JudgeJobs(Spooler& spooler, PrinterJobsSnapshot& snapshot, ConnectingClock& connecting,
               const std::vector<int>& jobIds, const std::string& documentName, JobsVerdict& verdict) {
    if (jobIds.empty()) {
        std::lock_guard guard(verdict.lock);
        verdict.asked = verdict.accepted = true;
        return true;
    }
    snapshot.firstJobId = *std::min_element(jobIds.begin(), jobIds.end());
    if (!PrintQueueWatch::RefreshPrinterJobs(spooler, snapshot)) {
        return false;
    }
    bool failed = false;
    const std::uint32_t printerStatus = connecting.StatusOf(snapshot);
    PrinterStatus& shared = PrinterStatus::Shared();
    if (PrinterStatus::IsError(printerStatus)) {
        shared.Set(printerStatus);
        EventLog::Write("nPrinterNotUsable: found printer error status: %d", static_cast<int>(printerStatus));
        failed = true;
    }

    PrinterJobsSnapshot ours;
    ours.printerName = snapshot.printerName;
    std::copy_if(snapshot.jobs.begin(), snapshot.jobs.end(), std::back_inserter(ours.jobs),
                 [&](const PrintJobEntry& job) {
                     return std::find(jobIds.begin(), jobIds.end(), job.jobId) != jobIds.end();
                 });
    if (!documentName.empty()) {
        PrintQueueWatch::FindDocumentJob(ours, documentName);
    }
    {
        std::lock_guard guard(shared.Lock());
        if (PrintQueueWatch::FindFailedJob(ours)) {
            EventLog::Write("nCheckJobsStatusFailed: found a job with error status: %d",
                            static_cast<int>(shared.ValueLocked()));
            failed = true;
        }
    }
    // A job the spooler no longer lists has left it: kept without history, or purged.
    const std::size_t waiting = static_cast<std::size_t>(
        std::count_if(ours.jobs.begin(), ours.jobs.end(),
                      [](const PrintJobEntry& job) { return (job.status & PrintJobEntry::kPrinted) == 0; }));
    {
        std::lock_guard guard(verdict.lock);
        verdict.asked = true;
        verdict.accepted = !failed;
    }
    return failed || waiting == 0;
}

// Runs `poll` on a watch thread until it is done or `limit` has passed; true when it ended in time.
bool WatchUntil(std::function<bool()> poll, std::chrono::milliseconds limit) {
    WatchThread watch(std::move(poll));
    if (watch.WaitFinished(limit)) {
        return true;
    }
    watch.StopAndJoin(PrintQueueWatch::kWatchGrace);
    return false;
}

} // namespace

bool PrintQueueWatch::RefreshPrinterJobs(Spooler& spooler, PrinterJobsSnapshot& snapshot) {
    const std::optional<Spooler::PrinterInfo> printer = spooler.Printer(snapshot.printerName);
    if (!printer) {
        return false;
    }
    const std::optional<std::vector<Spooler::JobInfo>> jobs =
        spooler.Jobs(snapshot.printerName, snapshot.firstJobId);
    if (!jobs) {
        return false;
    }
    snapshot.printerStatus = printer->status;
    snapshot.connecting = printer->connecting;
    snapshot.queuedJobCount = printer->queuedJobCount;
    snapshot.jobs.clear();
    for (const Spooler::JobInfo& job : *jobs) {
        PrintJobEntry entry;
        entry.jobId = job.id;
        entry.documentName = job.name;
        entry.userName = job.user;
        entry.status = Spooler::JobStatusWord(job.state);
        entry.statusText = JobStatusText(entry.status);
        entry.copies = job.copies;
        entry.pagesPrinted = job.pagesPrinted;
        entry.totalPages = job.totalPages;
        entry.size = job.sizeBytes;
        entry.submitted = job.created;
        snapshot.jobs.push_back(std::move(entry));
    }
    snapshot.jobCount = static_cast<int>(snapshot.jobs.size());
    return true;
}

bool PrintQueueWatch::RefreshPrinterJobs(PrinterJobsSnapshot& snapshot) {
    Spooler spooler;
    return RefreshPrinterJobs(spooler, snapshot);
}

std::string PrintQueueWatch::JobStatusText(std::uint32_t jobStatus) {
    std::string text;
    std::uint32_t left = jobStatus;
    for (const StatusName& name : kJobStatusNames) {
        if ((left & name.bit) != 0) {
            text += text.empty() ? "" : " - ";
            text += name.text;
            left &= ~name.bit;
        }
    }
    if (left != 0) {
        text += text.empty() ? "" : " - ";
        text += "Unkown";
    }
    return text;
}

std::uint32_t PrintQueueWatch::FindDocumentJob(const PrinterJobsSnapshot& snapshot,
                                               const std::string& documentName) {
    const std::string wanted = LowerCase(documentName);
    for (const PrintJobEntry& job : snapshot.jobs) {
        if (!job.documentName.empty() && LowerCase(job.documentName).find(wanted) != std::string::npos) {
            EventLog::Write("[%s] Status : %ld --> %s", wanted.c_str(), static_cast<long>(job.status),
                            job.statusText.c_str());
            return job.status;
        }
        EventLog::Write("[%s] %s : %ld --> %s ", wanted.c_str(), job.documentName.c_str(),
                        static_cast<long>(job.status), job.statusText.c_str());
    }
    return 0;
}

std::uint32_t PrintQueueWatch::FailedJobPrinterStatus(std::uint32_t jobStatus) {
    if ((jobStatus & (PrintJobEntry::kError | PrintJobEntry::kBlockedDevice)) != 0) {
        return PrinterStatus::kError;
    }
    if ((jobStatus & PrintJobEntry::kOffline) != 0) {
        return PrinterStatus::kOffline;
    }
    if ((jobStatus & PrintJobEntry::kPaperOut) != 0) {
        return PrinterStatus::kPaperOut;
    }
    if ((jobStatus & (PrintJobEntry::kDeleting | PrintJobEntry::kDeleted)) != 0) {
        return PrinterStatus::kPendingDeletion;
    }
    if ((jobStatus & PrintJobEntry::kUserIntervention) != 0) {
        return PrinterStatus::kServerUnknown;
    }
    return 0;
}

bool PrintQueueWatch::FindFailedJob(const PrinterJobsSnapshot& snapshot) {
    for (const PrintJobEntry& job : snapshot.jobs) {
        const std::uint32_t status = FailedJobPrinterStatus(job.status);
        if (status != 0) {
            PrinterStatus::Shared().SetLocked(status);
            return true;
        }
    }
    return false;
}

bool PrintQueueWatch::WatchSubmittedJobs(const std::shared_ptr<Spooler>& spooler,
                                         const std::string& printerName, const std::vector<int>& jobIds,
                                         std::chrono::milliseconds limit) {
    auto snapshot = std::make_shared<PrinterJobsSnapshot>();
    snapshot->printerName = printerName;
    auto connecting = std::make_shared<ConnectingClock>();
    auto verdict = std::make_shared<JobsVerdict>();
    WatchUntil([spooler, snapshot, connecting, verdict,
                jobIds] { return JudgeJobs(*spooler, *snapshot, *connecting, jobIds, {}, *verdict); },
               limit);
    std::lock_guard guard(verdict->lock);
    if (!verdict->asked) {
        return false;
    }
    if (verdict->accepted) {
        // Jobs still queued at the end have been taken by the spooler and print in their turn.
        EventLog::Write("ALL PDF JOBS IN QUEUE, --> PRINT SUCCESS");
    }
    return true;
}

int PrintQueueWatch::WaitForBrowserJob(const std::shared_ptr<Spooler>& spooler,
                                       const std::string& printerName, const std::string& documentName,
                                       const std::shared_ptr<BrowserPrintOutcome>& outcome,
                                       std::chrono::milliseconds limit) {
    if (!outcome) {
        // Nobody will print the document.
        return 0;
    }
    auto snapshot = std::make_shared<PrinterJobsSnapshot>();
    snapshot->printerName = printerName;
    auto connecting = std::make_shared<ConnectingClock>();
    auto verdict = std::make_shared<JobsVerdict>();
    auto pageFailed = std::make_shared<std::atomic<bool>>(false);
    WatchUntil(
        [spooler, snapshot, connecting, verdict, pageFailed, outcome, documentName] {
            const std::optional<BrowserPrintOutcome::Result> page = outcome->Get();
            if (!page) {
                return false;
            }
            if (!page->printed) {
                *pageFailed = true;
                return true;
            }
            return JudgeJobs(*spooler, *snapshot, *connecting, page->jobIds, documentName, *verdict);
        },
        limit);
    std::lock_guard guard(verdict->lock);
    return !*pageFailed && verdict->asked ? 1 : 0;
}

int PrintQueueWatch::WaitForPrinterResult(
    const std::string& printerName, const std::string& documentName, std::uint32_t& printerStatus,
    const std::function<std::shared_ptr<BrowserPrintOutcome>()>& handOver) {
    PrinterStatus::Shared().Set(0);
    auto spooler = std::make_shared<Spooler>();
    const std::optional<Spooler::PrinterInfo> printer = spooler->Printer(printerName);
    if (!printer) {
        EventLog::Write("Unable to open printer %s", printerName.c_str());
        spooler->ReportIfUnreachable();
        return 0;
    }
    EventLog::Write("Waiting for printer result ...");
    if (PrinterStatus::IsError(printer->status)) {
        // Checked before the document is handed over: a paused queue would print it later.
        printerStatus = printer->status;
        PrinterStatus::Shared().Set(printer->status);
        return 4;
    }
    const std::shared_ptr<BrowserPrintOutcome> outcome = handOver();
    const int result = WaitForBrowserJob(spooler, printerName, documentName, outcome);
    EventLog::Write("Print done with code %d", result);
    return result;
}
