#include "print/PrintQueueWatch.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <utility>

#include "app/EventLog.h"
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

} // namespace

bool PrintQueueWatch::RefreshPrinterJobs(PrinterJobsSnapshot& snapshot) {
    const std::optional<Spooler::PrinterInfo> printer = Spooler::GetPrinter(snapshot.printerName);
    if (!printer) {
        return false;
    }
    const std::optional<std::vector<Spooler::JobInfo>> jobs =
        Spooler::GetJobs(snapshot.printerName, snapshot.since);
    if (!jobs) {
        return false;
    }
    snapshot.printerStatus = printer->status;
    snapshot.connecting = printer->connecting;
    snapshot.queuedJobCount = printer->queuedJobCount;
    snapshot.jobs.clear();
    for (const Spooler::JobInfo& job : *jobs) {
        if (job.id <= snapshot.afterJobId) {
            continue;
        }
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

int PrintQueueWatch::WaitForBrowserJob(const std::string& printerName, const std::string& documentName,
                                       std::time_t since, int afterJobId) {
    auto snapshot = std::make_shared<PrinterJobsSnapshot>();
    snapshot->printerName = printerName;
    snapshot->since = since;
    snapshot->afterJobId = afterJobId;
    WatchThread watch([snapshot, documentName] {
        if (!RefreshPrinterJobs(*snapshot)) {
            return false;
        }
        const std::uint32_t status = FindDocumentJob(*snapshot, documentName);
        // A short job may have completed before the first look: it has printed all the same.
        if ((status & (PrintJobEntry::kPrinting | PrintJobEntry::kPrinted)) != 0) {
            return true;
        }
        const std::uint32_t failed = FailedJobPrinterStatus(status);
        if (failed != 0) {
            PrinterStatus::Shared().Set(failed);
            EventLog::Write("nCheckJobsStatusFailed: found a job with error status: %d",
                            static_cast<int>(failed));
            return true;
        }
        return false;
    });
    if (watch.WaitFinished(kBrowserWatchLimit)) {
        return 1;
    }
    watch.StopAndJoin(kWatchGrace);
    return 0;
}

int PrintQueueWatch::WaitForPrinterResult(const std::string& printerName, const std::string& documentName,
                                          std::uint32_t& printerStatus, std::time_t since, int afterJobId) {
    PrinterStatus::Shared().Set(0);
    const std::optional<Spooler::PrinterInfo> printer = Spooler::GetPrinter(printerName);
    if (!printer) {
        EventLog::Write("Unable to open printer %s", printerName.c_str());
        return 0;
    }
    EventLog::Write("Waiting for printer result ...");
    if (PrinterStatus::IsError(printer->status)) {
        printerStatus = printer->status;
        PrinterStatus::Shared().Set(printer->status);
        return 4;
    }
    const int result = WaitForBrowserJob(printerName, documentName, since, afterJobId);
    EventLog::Write("Print done with code %d", result);
    return result;
}

int PrintQueueWatch::LastJobId(const std::string& printerName, std::time_t since) {
    int last = 0;
    if (const std::optional<std::vector<Spooler::JobInfo>> jobs = Spooler::GetJobs(printerName, since)) {
        for (const Spooler::JobInfo& job : *jobs) {
            last = std::max(last, job.id);
        }
    }
    return last;
}

bool PrintQueueWatch::WatchSubmittedJobs(const std::string& printerName, const std::vector<int>& jobIds,
                                         std::time_t since, std::chrono::milliseconds limit) {
    auto snapshot = std::make_shared<PrinterJobsSnapshot>();
    snapshot->printerName = printerName;
    snapshot->since = since;
    auto connecting = std::make_shared<ConnectingClock>();
    WatchThread watch([snapshot, connecting, jobIds] {
        if (!RefreshPrinterJobs(*snapshot)) {
            return false;
        }
        bool done = false;
        const std::uint32_t printerStatus = connecting->StatusOf(*snapshot);
        PrinterStatus& shared = PrinterStatus::Shared();
        if (PrinterStatus::IsError(printerStatus)) {
            shared.Set(printerStatus);
            EventLog::Write("nPrinterNotUsable: found printer error status: %d",
                            static_cast<int>(printerStatus));
            done = true;
        }

        PrinterJobsSnapshot ours;
        ours.printerName = snapshot->printerName;
        std::copy_if(snapshot->jobs.begin(), snapshot->jobs.end(), std::back_inserter(ours.jobs),
                     [&](const PrintJobEntry& job) {
                         return std::find(jobIds.begin(), jobIds.end(), job.jobId) != jobIds.end();
                     });
        {
            std::lock_guard guard(shared.Lock());
            if (FindFailedJob(ours)) {
                EventLog::Write("nCheckJobsStatusFailed: found a job with error status: %d",
                                static_cast<int>(shared.ValueLocked()));
                done = true;
            }
        }

        const std::size_t started = static_cast<std::size_t>(
            std::count_if(ours.jobs.begin(), ours.jobs.end(), [](const PrintJobEntry& job) {
                return (job.status & (PrintJobEntry::kPrinting | PrintJobEntry::kPrinted)) != 0;
            }));
        if (!done && started == jobIds.size()) {
            EventLog::Write("ALL PDF JOBS IN QUEUE, --> PRINT SUCCESS");
            done = true;
        }
        return done;
    });
    if (watch.WaitFinished(limit)) {
        return true;
    }
    watch.StopAndJoin(kWatchGrace);
    return false;
}
