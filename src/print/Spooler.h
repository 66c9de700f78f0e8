#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The seam to the print spooler (CUPS). Nothing outside src/print/Spooler*.cpp includes a CUPS header.
// One object holds one connection to the scheduler, made on first use and kept for the object's life,
// so that a print request asks everything over one connection. Every call fails cleanly (a result and
// the error text) when the scheduler is not reachable. One thread at a time uses an object.
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

    Spooler();
    ~Spooler();
    Spooler(const Spooler&) = delete;
    Spooler& operator=(const Spooler&) = delete;

    // Submits one file, or a document held in memory, as one job with `copies` copies and `jobName`
    // as the job's name. Returns the job id, 0 when the spooler refused it or is not reachable.
    int Submit(const std::string& printer, const std::filesystem::path& file, const std::string& jobName,
               int copies);
    int SubmitPdf(const std::string& printer, std::string_view pdf, const std::string& jobName, int copies);
    // Cancels a job; false when the spooler refused (a job that has ended cannot be cancelled).
    bool Cancel(int jobId);
    // The attributes of one printer; nothing when it is unknown or the scheduler unreachable.
    std::optional<PrinterInfo> Printer(const std::string& printer);
    // The printer's jobs with an id of at least `firstJobId` (0: all), completed ones included (as
    // long as the scheduler keeps them), oldest first; nothing when the scheduler cannot be asked.
    std::optional<std::vector<JobInfo>> Jobs(const std::string& printer, int firstJobId);
    // Names of the destinations the scheduler offers.
    std::optional<std::vector<std::string>> Destinations();

    // Connects now; false (and the error recorded) when the scheduler cannot be reached.
    bool Reachable() { return Connect() != nullptr; }
    // Whether the printer of the last failed call is unknown to the scheduler.
    bool UnknownPrinter() const { return errorCode == kNotFound; }
    // Whether the last failed call could not reach the scheduler at all.
    bool Unreachable() const { return unreachable; }
    // The scheduler's status code and text of the last failed call.
    int ErrorCode() const { return errorCode; }
    const std::string& ErrorText() const { return errorText; }
    // Tells the person running the server, when the last failed call could not reach the scheduler.
    void ReportIfUnreachable() const;
    // The scheduler this process talks to: a socket path, or a host with its port.
    static std::string ServerName();

    // One-call conveniences, each on a connection of its own.
    static int SubmitFile(const std::string& printer, const std::filesystem::path& file,
                          const std::string& jobName, int copies);
    static std::optional<PrinterInfo> GetPrinter(const std::string& printer);
    static std::optional<std::vector<JobInfo>> GetJobs(const std::string& printer, int firstJobId);
    static std::optional<std::vector<std::string>> GetDestinations();

    // Printer status word from the scheduler's printer-state, printer-state-reasons and
    // printer-is-accepting-jobs (connecting-to-device is left to the caller, who knows how long it lasts).
    static std::uint32_t PrinterStatusWord(int printerState, const std::vector<std::string>& reasons,
                                           bool acceptingJobs);
    // Job status word from the scheduler's job-state.
    static std::uint32_t JobStatusWord(int jobState);
    static bool IsFailedJobState(int jobState);
    // Completed, or failed: the job will not change any more.
    static bool IsFinalJobState(int jobState);

private:
    // The scheduler's answer for a printer it does not know (client-error-not-found).
    static constexpr int kNotFound = 0x0406;
    struct Connection;
    // Hands the document to `write` piece by piece; false when it could not be read or written.
    using DocumentWriter = std::function<bool(const std::function<bool(std::string_view)>& write)>;

    int SubmitDocument(const std::string& printer, const DocumentWriter& document, const std::string& jobName,
                       int copies, const char* format);
    // Null when the scheduler cannot be reached (the error is then recorded).
    Connection* Connect();
    void RecordFailure();

    std::unique_ptr<Connection> connection;
    bool unreachable = false;
    int errorCode = 0;
    std::string errorText;
};
