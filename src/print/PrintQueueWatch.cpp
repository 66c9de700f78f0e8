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
#include "platform/Unicode.h"
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

// What the polls found so far of a request's jobs, read by the starter when the watch is over.
struct WatchState {
    std::mutex lock;
    PrintQueueWatch::Verdict verdict;
    // The jobs were judged: all ended well, or one failed.
    bool judged = false;
    // The job states of the last poll: a change means the jobs are moving.
    std::vector<std::uint32_t> lastStates;
    std::uint32_t lastPrinterStatus = 0;
};

// One look at the printer and at the jobs `jobIds` (all of one printer): Done when every job ended
// well, or one failed, or the printer shows an error (the verdict then holds why).
WatchThread::Poll JudgeJobs(Spooler& spooler, PrinterJobsSnapshot& snapshot, ConnectingClock& connecting,
                            const std::vector<int>& jobIds, const std::string& documentName,
                            WatchState& state) {
    if (jobIds.empty()) {
        std::lock_guard guard(state.lock);
        state.verdict.asked = true;
        state.judged = true;
        return WatchThread::Poll::Done;
    }
    snapshot.firstJobId = *std::min_element(jobIds.begin(), jobIds.end());
    if (!PrintQueueWatch::RefreshPrinterJobs(spooler, snapshot)) {
        return WatchThread::Poll::Waiting;
    }
    std::uint32_t failedStatus = 0;
    const std::uint32_t printerStatus = connecting.StatusOf(snapshot);
    if (PrinterStatus::IsError(printerStatus)) {
        failedStatus = printerStatus;
        EventLog::Write("nPrinterNotUsable: found printer error status: %d", static_cast<int>(printerStatus));
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
    if (const std::uint32_t jobFailure = PrintQueueWatch::FindFailedJob(ours); jobFailure != 0) {
        EventLog::Write("nCheckJobsStatusFailed: found a job with error status: %d",
                        static_cast<int>(jobFailure));
        failedStatus = failedStatus == 0 ? jobFailure : failedStatus;
    }
    // A job the spooler no longer lists has left it: kept without history, or purged.
    const std::size_t waiting = static_cast<std::size_t>(
        std::count_if(ours.jobs.begin(), ours.jobs.end(),
                      [](const PrintJobEntry& job) { return (job.status & PrintJobEntry::kPrinted) == 0; }));
    std::vector<std::uint32_t> states;
    std::vector<int> ended;
    for (const PrintJobEntry& job : ours.jobs) {
        states.push_back(job.status);
        if ((job.status & PrintJobEntry::kPrinted) != 0 ||
            PrintQueueWatch::FailedJobPrinterStatus(job.status) != 0) {
            ended.push_back(job.jobId);
        }
    }
    std::lock_guard guard(state.lock);
    state.verdict.asked = true;
    state.verdict.jobIds = jobIds;
    state.verdict.endedJobs = std::move(ended);
    state.verdict.failed = failedStatus != 0;
    state.verdict.printerStatus = failedStatus != 0 ? failedStatus : printerStatus;
    if (failedStatus != 0 || waiting == 0) {
        state.judged = true;
        return WatchThread::Poll::Done;
    }
    const bool moved = states != state.lastStates || printerStatus != state.lastPrinterStatus;
    state.lastStates = std::move(states);
    state.lastPrinterStatus = printerStatus;
    return moved ? WatchThread::Poll::Moving : WatchThread::Poll::Waiting;
}

// Lets the watch run until it is done, stopped, or `limit` has passed.
void WatchUntil(WatchThread& watch, std::chrono::milliseconds limit) {
    if (!watch.WaitFinished(limit)) {
        watch.StopAndJoin(PrintQueueWatch::kWatchGrace);
    }
}

// The verdict once the watch is over: cut short by the end of the service unless the jobs were judged.
PrintQueueWatch::Verdict Conclude(WatchState& state, const std::stop_token& stop) {
    std::lock_guard guard(state.lock);
    PrintQueueWatch::Verdict verdict = state.verdict;
    verdict.stopped = !state.judged && stop.stop_requested();
    return verdict;
}

} // namespace

PrintResult PrintQueueWatch::Verdict::Result(const std::string& printerName, const std::string& why) const {
    if (stopped) {
        return PrintResult::PrintFailed("ended by the end of the program", 0, PrintResult::Cause::Ended);
    }
    if (notHandedOver) {
        return PrintResult::PrintFailed(why.empty() ? "the document could not be printed" : why, 0,
                                        unsupportedType ? PrintResult::Cause::UnsupportedType
                                                        : PrintResult::Cause::Other);
    }
    if (!asked) {
        return PrintResult::PrintFailed("the spooler could not be asked about the job");
    }
    if (failed) {
        return PrintResult::PrintFailed(printerName + ": " + PrinterStatus::Describe(printerStatus),
                                        printerStatus);
    }
    return PrintResult::Printed();
}

std::optional<PrintResult> PrintQueueWatch::CheckPrinter(Spooler& spooler, const std::string& printerName) {
    const std::optional<Spooler::PrinterInfo> printer = spooler.Printer(printerName);
    if (!printer) {
        EventLog::Write("Unable to open printer %s, error: %d", printerName.c_str(), spooler.ErrorCode());
        spooler.ReportIfUnreachable();
        if (spooler.Unreachable()) {
            return PrintResult::PrintFailed("the spooler cannot be reached", 0,
                                            PrintResult::Cause::SpoolerUnreachable);
        }
        // The device hears that the spooler does not know the printer, not that it is busy elsewhere.
        return PrintResult::PrintFailed(printerName + " is not a printer here", PrinterStatus::kServerUnknown,
                                        PrintResult::Cause::NotAPrinter);
    }
    EventLog::Write("Waiting for printer result ...");
    const std::string upperName = AsciiUpper(printerName);
    EventLog::Write("EnumPrinters(%s) --> jobs: %d, printerStatus: %x", upperName.c_str(),
                    printer->queuedJobCount, printer->status);
    if (PrinterStatus::IsError(printer->status)) {
        EventLog::Write("PRINT_FAILED: EnumPrinters(%s) --> jobs: %d, printerStatus: %x", upperName.c_str(),
                        printer->queuedJobCount, printer->status);
        return PrintResult::PrintFailed(printerName + ": " + PrinterStatus::Describe(printer->status),
                                        printer->status);
    }
    return std::nullopt;
}

PrintResult PrintQueueWatch::Settle(const Verdict& verdict, const std::string& printerName,
                                    const std::string& why) {
    PrintResult result = verdict.Result(printerName, why);
    if (result.IsPrinted()) {
        return result;
    }
    Spooler spooler;
    bool completedMeanwhile = false;
    for (const int jobId : verdict.jobIds) {
        if (std::find(verdict.endedJobs.begin(), verdict.endedJobs.end(), jobId) != verdict.endedJobs.end()) {
            continue;
        }
        if (spooler.Cancel(jobId)) {
            EventLog::Write("Job %d cancelled: %s; the device is told that the print failed", jobId,
                            result.reason.c_str());
            continue;
        }
        // It may have ended since the last look: a completed job has printed.
        const std::optional<std::vector<Spooler::JobInfo>> jobs = spooler.Jobs(printerName, jobId);
        const bool completed =
            jobs && std::any_of(jobs->begin(), jobs->end(), [&](const Spooler::JobInfo& job) {
                return job.id == jobId && job.state == static_cast<int>(Spooler::JobState::Completed);
            });
        completedMeanwhile = completedMeanwhile || completed;
        if (!completed) {
            EventLog::Write("[ERROR] Job %d could not be cancelled: %s", jobId, spooler.ErrorText().c_str());
        }
    }
    return completedMeanwhile && !verdict.failed ? PrintResult::Printed() : result;
}

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

std::uint32_t PrintQueueWatch::FindFailedJob(const PrinterJobsSnapshot& snapshot) {
    for (const PrintJobEntry& job : snapshot.jobs) {
        if (const std::uint32_t status = FailedJobPrinterStatus(job.status); status != 0) {
            return status;
        }
    }
    return 0;
}

PrintQueueWatch::Verdict PrintQueueWatch::WatchSubmittedJobs(const std::shared_ptr<Spooler>& spooler,
                                                             const std::string& printerName,
                                                             const std::vector<int>& jobIds,
                                                             std::chrono::milliseconds limit,
                                                             std::stop_token stop) {
    auto snapshot = std::make_shared<PrinterJobsSnapshot>();
    snapshot->printerName = printerName;
    auto connecting = std::make_shared<ConnectingClock>();
    auto state = std::make_shared<WatchState>();
    WatchThread watch([spooler, snapshot, connecting, state,
                       jobIds] { return JudgeJobs(*spooler, *snapshot, *connecting, jobIds, {}, *state); },
                      stop);
    WatchUntil(watch, limit);
    Verdict verdict = Conclude(*state, stop);
    verdict.jobIds = jobIds;
    return verdict;
}

PrintQueueWatch::Verdict
PrintQueueWatch::WaitForBrowserJob(const std::shared_ptr<Spooler>& spooler, const std::string& printerName,
                                   const std::string& documentName,
                                   const std::shared_ptr<BrowserPrintOutcome>& outcome, std::stop_token stop,
                                   std::chrono::milliseconds limit) {
    auto snapshot = std::make_shared<PrinterJobsSnapshot>();
    snapshot->printerName = printerName;
    auto connecting = std::make_shared<ConnectingClock>();
    auto state = std::make_shared<WatchState>();
    auto pageFailed = std::make_shared<std::atomic<bool>>(false);
    WatchThread watch(
        [spooler, snapshot, connecting, state, pageFailed, outcome, documentName] {
            const std::optional<BrowserPrintOutcome::Result> page = outcome->Get();
            if (!page) {
                return WatchThread::Poll::Waiting;
            }
            if (!page->printed) {
                *pageFailed = true;
                return WatchThread::Poll::Done;
            }
            return JudgeJobs(*spooler, *snapshot, *connecting, page->jobIds, documentName, *state);
        },
        stop);
    // The page's report wakes the watch at once instead of at its next poll.
    outcome->OnReport(watch.Nudger());
    WatchUntil(watch, limit);
    outcome->OnReport({});
    Verdict verdict = Conclude(*state, stop);
    if (const std::optional<BrowserPrintOutcome::Result> page = outcome->Get();
        page && verdict.jobIds.empty()) {
        verdict.jobIds = page->jobIds;
    }
    verdict.notHandedOver = *pageFailed || !outcome->Get().has_value();
    verdict.unsupportedType = outcome->Get().has_value() && outcome->Get()->unsupportedType;
    return verdict;
}
