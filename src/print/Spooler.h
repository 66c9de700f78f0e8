#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The seam to the print spooler (CUPS). Nothing outside src/print/Spooler*.cpp includes a CUPS header.
// Every call fails cleanly (a result and the spooler's error text) when the scheduler is not reachable.
class Spooler {
public:
    // IPP printer states and job states, as the scheduler reports them.
    enum class PrinterState { Idle = 3, Processing = 4, Stopped = 5 };
    enum class JobState {
        Pending = 3,
        Held = 4,
        Processing = 5,
        Stopped = 6,
        Canceled = 7,
        Aborted = 8,
        Completed = 9
    };

    struct PrinterInfo {
        std::string name;
        int state = static_cast<int>(PrinterState::Idle);
        std::vector<std::string> reasons;
        bool acceptingJobs = true;
        int queuedJobCount = 0;
        // The scheduler is trying to reach the device; only an error when it lasts.
        bool connecting = false;
        // The printer status word built from the above.
        std::uint32_t status = 0;
    };

    struct JobInfo {
        int id = 0;
        std::string name;
        std::string user;
        int state = static_cast<int>(JobState::Pending);
        std::string stateMessage;
        int copies = 1;
        int pagesPrinted = 0;
        int totalPages = 0;
        std::int64_t sizeBytes = 0;
        std::time_t created = 0;
    };

    // Submits one file as one job on `printer` with `copies` copies and `jobName` as the job's
    // name. Returns the job id, 0 when the spooler refused it or is not reachable.
    static int SubmitFile(const std::string& printer, const std::filesystem::path& file,
                          const std::string& jobName, int copies);

    // The printer's attributes; nothing when the printer is unknown or the scheduler unreachable.
    static std::optional<PrinterInfo> GetPrinter(const std::string& printer);
    // Every job of the printer created at `since` or later, completed ones included, oldest first;
    // nothing when the scheduler cannot be asked.
    static std::optional<std::vector<JobInfo>> GetJobs(const std::string& printer, std::time_t since);
    // Names of the destinations the scheduler offers.
    static std::optional<std::vector<std::string>> GetDestinations();

    // The per-user default destination ("" when none is set); nothing when it cannot be read.
    static std::optional<std::string> GetDefaultDestination();
    // Makes `printer` the per-user default destination ("" clears it). False when the printer is
    // unknown or the setting cannot be written.
    static bool SetDefaultDestination(const std::string& printer);

    // The spooler's code and text for the last failed call of this thread.
    static int LastErrorCode();
    static std::string LastErrorText();

    // Printer status word from the scheduler's printer-state, printer-state-reasons and
    // printer-is-accepting-jobs (connecting-to-device is left to the caller, who knows how long it lasts).
    static std::uint32_t PrinterStatusWord(int printerState, const std::vector<std::string>& reasons,
                                           bool acceptingJobs);
    // Job status word from the scheduler's job-state.
    static std::uint32_t JobStatusWord(int jobState);
    static bool IsFailedJobState(int jobState);
};
