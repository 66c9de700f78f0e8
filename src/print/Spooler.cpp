#include "print/Spooler.h"

#include <cups/cups.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/EventLog.h"
#include "app/ProblemReport.h"
#include "print/PrintJobEntry.h"
#include "print/PrinterStatus.h"

namespace {

constexpr std::string_view kErrorSuffix = "-error";
constexpr std::string_view kWarningSuffix = "-warning";
constexpr std::string_view kReportSuffix = "-report";
constexpr std::string_view kConnectingReason = "connecting-to-device";
constexpr std::size_t kUriSize = 1024;
// A scheduler on another host that does not answer must not hold a request for long.
constexpr int kConnectTimeoutMs = 5000;
// Documents go to the scheduler in pieces this large: few writes, little copying.
constexpr std::size_t kWriteChunk = 1024 * 1024;
// The scheduler finds out the type of a document whose name only says ".pdf" somewhere.
constexpr const char* kAutoFormat = "application/octet-stream";
constexpr const char* kPdfFormat = "application/pdf";
constexpr char kPdfMagic[] = "%PDF-";

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Reasons that mean the device cannot print; they count with or without the "-error" suffix.
std::uint32_t ErrorReasonBits(std::string_view base) {
    if (base == "paused") {
        return PrinterStatus::kPaused;
    }
    if (base == "media-jam") {
        return PrinterStatus::kPaperJam;
    }
    if (base == "media-empty" || base == "media-needed") {
        return PrinterStatus::kPaperOut;
    }
    if (base == "offline" || base == "shutdown") {
        return PrinterStatus::kOffline;
    }
    if (base == "output-area-full") {
        return PrinterStatus::kOutputBinFull;
    }
    if (base == "marker-supply-empty" || base == "toner-empty") {
        return PrinterStatus::kNoToner;
    }
    if (base == "door-open" || base == "cover-open") {
        return PrinterStatus::kDoorOpen;
    }
    return 0;
}

// Reasons that keep their meaning as a report or a warning.
std::uint32_t AdvisoryReasonBits(std::string_view base) {
    if (base == "marker-supply-low" || base == "toner-low") {
        return PrinterStatus::kTonerLow;
    }
    if (base == "offline") {
        return PrinterStatus::kOffline;
    }
    return 0;
}

std::string PrinterUri(const std::string& printer) {
    std::array<char, kUriSize> uri{};
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri.data(), static_cast<int>(uri.size()), "ipp", nullptr,
                     "localhost", 0, "/printers/%s", printer.c_str());
    return uri.data();
}

// The resource a job is posted to; the scheduler routes the request by its printer-uri.
std::string PrinterResource(const std::string& printer) {
    std::array<char, kUriSize> resource{};
    httpAssembleURIf(HTTP_URI_CODING_ALL, resource.data(), static_cast<int>(resource.size()), "ipp", nullptr,
                     "localhost", 0, "/printers/%s", printer.c_str());
    char scheme[32], user[256], host[256], path[kUriSize];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_NONE, resource.data(), scheme, sizeof scheme, user, sizeof user, host,
                        sizeof host, &port, path, sizeof path) < HTTP_URI_STATUS_OK) {
        return "/";
    }
    return path;
}

// The errno of one connection attempt to `address`, 0 when it connects.
int ConnectError(const http_addr_t& address) {
    const int fd = ::socket(address.addr.sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    if (::connect(fd, &address.addr, static_cast<socklen_t>(httpAddrLength(&address))) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd watched{fd, POLLOUT, 0};
            socklen_t size = sizeof error;
            error = ::poll(&watched, 1, kConnectTimeoutMs) == 1 &&
                            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0
                        ? error
                        : ETIMEDOUT;
        }
    }
    ::close(fd);
    return error;
}

// Why the scheduler cannot be reached: the library closes its connection before it tells, so one
// more attempt finds out.
std::string ConnectFailure(const std::string& server, int port) {
    http_addrlist_t* addresses = httpAddrGetList(server.c_str(), AF_UNSPEC, std::to_string(port).c_str());
    if (addresses == nullptr) {
        return "the name " + server + " cannot be resolved";
    }
    int error = 0;
    for (http_addrlist_t* address = addresses; address != nullptr; address = address->next) {
        error = ConnectError(address->addr);
        if (error == 0) {
            break;
        }
    }
    httpAddrFreeList(addresses);
    return error != 0 ? std::strerror(error) : "the connection was closed";
}

bool RequestFailed() {
    return cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE;
}

struct IppResponse {
    explicit IppResponse(ipp_t* response) : response(response) {}
    ~IppResponse() { ippDelete(response); }
    IppResponse(const IppResponse&) = delete;
    IppResponse& operator=(const IppResponse&) = delete;
    ipp_t* response;
};

struct DestinationList {
    ~DestinationList() { cupsFreeDests(count, dests); }
    int count = 0;
    cups_dest_t* dests = nullptr;
};

const char* TextOf(ipp_attribute_t* attribute) {
    const char* text = ippGetString(attribute, 0, nullptr);
    return text == nullptr ? "" : text;
}

} // namespace

std::uint32_t Spooler::PrinterStatusWord(int printerState, const std::vector<std::string>& reasons,
                                         bool acceptingJobs) {
    std::uint32_t status = 0;
    if (printerState == static_cast<int>(PrinterState::Stopped)) {
        status |= PrinterStatus::kPaused;
    }
    if (printerState == static_cast<int>(PrinterState::Processing)) {
        status |= PrinterStatus::kPrinting;
    }
    if (!acceptingJobs) {
        status |= PrinterStatus::kNotAvailable;
    }
    for (const std::string& reason : reasons) {
        const std::string_view text = reason;
        if (EndsWith(text, kErrorSuffix)) {
            status |=
                PrinterStatus::kError | ErrorReasonBits(text.substr(0, text.size() - kErrorSuffix.size()));
        } else if (EndsWith(text, kWarningSuffix)) {
            status |= AdvisoryReasonBits(text.substr(0, text.size() - kWarningSuffix.size()));
        } else if (EndsWith(text, kReportSuffix)) {
            status |= AdvisoryReasonBits(text.substr(0, text.size() - kReportSuffix.size()));
        } else {
            status |= ErrorReasonBits(text) | AdvisoryReasonBits(text);
        }
    }
    return status;
}

std::uint32_t Spooler::JobStatusWord(int jobState) {
    switch (static_cast<JobState>(jobState)) {
    case JobState::Pending:
        return PrintJobEntry::kSpooling;
    case JobState::Held:
        return PrintJobEntry::kPaused;
    case JobState::Processing:
        return PrintJobEntry::kPrinting;
    case JobState::Stopped:
    case JobState::Aborted:
        return PrintJobEntry::kError;
    case JobState::Canceled:
        return PrintJobEntry::kDeleted;
    case JobState::Completed:
        return PrintJobEntry::kPrinted;
    }
    return 0;
}

bool Spooler::IsFailedJobState(int jobState) {
    return jobState == static_cast<int>(JobState::Stopped) ||
           jobState == static_cast<int>(JobState::Canceled) ||
           jobState == static_cast<int>(JobState::Aborted);
}

bool Spooler::IsFinalJobState(int jobState) {
    return jobState == static_cast<int>(JobState::Completed) || IsFailedJobState(jobState);
}

struct Spooler::Connection {
    explicit Connection(http_t* http) : http(http) {}
    ~Connection() { httpClose(http); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    http_t* http;
};

Spooler::Spooler() = default;
Spooler::~Spooler() = default;

std::string Spooler::ServerName() {
    const std::string server = cupsServer();
    if (!server.empty() && server.front() == '/') {
        return server;
    }
    return server + ":" + std::to_string(ippPort());
}

void Spooler::ReportIfUnreachable() const {
    if (unreachable) {
        ProblemReport::Say("Cannot reach the spooler at %s: %s", ServerName().c_str(), errorText.c_str());
    }
}

Spooler::Connection* Spooler::Connect() {
    if (connection) {
        return connection.get();
    }
    const std::string server = cupsServer();
    http_t* http = httpConnect2(server.c_str(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                kConnectTimeoutMs, nullptr);
    if (http == nullptr) {
        unreachable = true;
        errorCode = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
        errorText = ConnectFailure(server, ippPort());
        return nullptr;
    }
    unreachable = false;
    connection = std::make_unique<Connection>(http);
    return connection.get();
}

void Spooler::RecordFailure() {
    errorCode = static_cast<int>(cupsLastError());
    const char* text = cupsLastErrorString();
    errorText = text == nullptr ? std::string() : std::string(text);
    // The library reconnects by itself; when even that fails, the scheduler is gone.
    unreachable = cupsLastError() == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
}

int Spooler::SubmitDocument(const std::string& printer, const DocumentWriter& document,
                            const std::string& jobName, int copies, const char* format) {
    Connection* link = Connect();
    if (link == nullptr) {
        return 0;
    }
    ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 PrinterUri(printer).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, jobName.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", copies);
    const std::string resource = PrinterResource(printer);

    // Sent in chunks: with a length given, the library first waits for the scheduler's leave to go on.
    http_status_t status = cupsSendRequest(link->http, request, resource.c_str(), CUPS_LENGTH_VARIABLE);
    bool written = status == HTTP_STATUS_CONTINUE;
    if (written) {
        written = document([&](std::string_view piece) {
            status = cupsWriteRequestData(link->http, piece.data(), piece.size());
            return status == HTTP_STATUS_CONTINUE;
        });
    }
    IppResponse response(cupsGetResponse(link->http, resource.c_str()));
    ippDelete(request);
    int jobId = 0;
    if (response.response != nullptr && !RequestFailed()) {
        if (ipp_attribute_t* id = ippFindAttribute(response.response, "job-id", IPP_TAG_INTEGER)) {
            jobId = ippGetInteger(id, 0);
        }
    }
    if (jobId == 0) {
        RecordFailure();
        if (!written && errorText.empty()) {
            errorText = "the document could not be sent";
        }
        EventLog::Write("Spooler refused %s on %s: %s", jobName.c_str(), printer.c_str(), errorText.c_str());
    }
    return jobId;
}

int Spooler::Submit(const std::string& printer, const std::filesystem::path& file, const std::string& jobName,
                    int copies) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        errorCode = 0;
        errorText = std::strerror(errno);
        unreachable = false;
        if (fd >= 0) {
            ::close(fd);
        }
        EventLog::Write("Spooler refused %s on %s: %s", file.c_str(), printer.c_str(), errorText.c_str());
        return 0;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    // A file that starts as a PDF is sent as one; the scheduler then need not find out what it is.
    char start[sizeof kPdfMagic - 1] = {};
    const bool pdf = ::pread(fd, start, sizeof start, 0) == static_cast<ssize_t>(sizeof start) &&
                     std::string_view(start, sizeof start) == kPdfMagic;
    const int jobId = SubmitDocument(
        printer,
        [fd, size](const std::function<bool(std::string_view)>& write) {
            std::vector<char> buffer(std::min(size, kWriteChunk) + 1);
            for (;;) {
                const ssize_t count = ::read(fd, buffer.data(), buffer.size());
                if (count < 0 && errno == EINTR) {
                    continue;
                }
                if (count <= 0) {
                    return count == 0;
                }
                if (!write(std::string_view(buffer.data(), static_cast<std::size_t>(count)))) {
                    return false;
                }
            }
        },
        jobName, copies, pdf ? kPdfFormat : kAutoFormat);
    ::close(fd);
    return jobId;
}

int Spooler::SubmitPdf(const std::string& printer, std::string_view pdf, const std::string& jobName,
                       int copies) {
    return SubmitDocument(
        printer,
        [pdf](const std::function<bool(std::string_view)>& write) {
            for (std::size_t at = 0; at < pdf.size(); at += kWriteChunk) {
                if (!write(pdf.substr(at, kWriteChunk))) {
                    return false;
                }
            }
            return true;
        },
        jobName, copies, kPdfFormat);
}

bool Spooler::Cancel(int jobId) {
    Connection* link = Connect();
    if (link == nullptr) {
        return false;
    }
    ipp_t* request = ippNewRequest(IPP_OP_CANCEL_JOB);
    char uri[kUriSize];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/jobs/%d", jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    IppResponse response(cupsDoRequest(link->http, request, "/jobs/"));
    if (response.response == nullptr || RequestFailed()) {
        RecordFailure();
        return false;
    }
    return true;
}

std::optional<Spooler::PrinterInfo> Spooler::Printer(const std::string& printer) {
    static const char* const kAttributes[] = {"printer-name", "printer-state", "printer-state-reasons",
                                              "printer-is-accepting-jobs", "queued-job-count"};
    Connection* link = Connect();
    if (link == nullptr) {
        return std::nullopt;
    }
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 PrinterUri(printer).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kAttributes)), nullptr, kAttributes);
    IppResponse response(cupsDoRequest(link->http, request, "/"));
    if (response.response == nullptr || RequestFailed()) {
        RecordFailure();
        return std::nullopt;
    }

    PrinterInfo info;
    info.name = printer;
    if (ipp_attribute_t* name = ippFindAttribute(response.response, "printer-name", IPP_TAG_NAME)) {
        info.name = TextOf(name);
    }
    if (ipp_attribute_t* state = ippFindAttribute(response.response, "printer-state", IPP_TAG_ENUM)) {
        info.state = ippGetInteger(state, 0);
    }
    if (ipp_attribute_t* reasons =
            ippFindAttribute(response.response, "printer-state-reasons", IPP_TAG_ZERO)) {
        for (int i = 0; i < ippGetCount(reasons); ++i) {
            const char* reason = ippGetString(reasons, i, nullptr);
            if (reason != nullptr && std::string_view(reason) != "none") {
                info.reasons.emplace_back(reason);
                info.connecting = info.connecting || std::string_view(reason).starts_with(kConnectingReason);
            }
        }
    }
    if (ipp_attribute_t* accepting =
            ippFindAttribute(response.response, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN)) {
        info.acceptingJobs = ippGetBoolean(accepting, 0) != 0;
    }
    if (ipp_attribute_t* queued = ippFindAttribute(response.response, "queued-job-count", IPP_TAG_INTEGER)) {
        info.queuedJobCount = ippGetInteger(queued, 0);
    }
    info.status = PrinterStatusWord(info.state, info.reasons, info.acceptingJobs);
    return info;
}

std::optional<std::vector<Spooler::JobInfo>> Spooler::Jobs(const std::string& printer, int firstJobId) {
    static const char* const kAttributes[] = {"job-id",
                                              "job-name",
                                              "job-originating-user-name",
                                              "job-state",
                                              "job-printer-state-message",
                                              "copies",
                                              "job-impressions-completed",
                                              "job-impressions",
                                              "job-k-octets",
                                              "time-at-creation"};
    Connection* link = Connect();
    if (link == nullptr) {
        return std::nullopt;
    }
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 PrinterUri(printer).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    if (firstJobId > 0) {
        // The scheduler lists only jobs from this id on: a long history never hides a new job.
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "first-job-id", firstJobId);
    }
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kAttributes)), nullptr, kAttributes);
    IppResponse response(cupsDoRequest(link->http, request, "/"));
    if (response.response == nullptr || RequestFailed()) {
        RecordFailure();
        return std::nullopt;
    }

    std::vector<JobInfo> jobs;
    JobInfo job;
    auto finish = [&] {
        if (job.id != 0 && job.id >= firstJobId) {
            jobs.push_back(job);
        }
        job = JobInfo{};
    };
    for (ipp_attribute_t* attribute = ippFirstAttribute(response.response); attribute != nullptr;
         attribute = ippNextAttribute(response.response)) {
        const char* rawName = ippGetName(attribute);
        if (rawName == nullptr) {
            finish();
            continue;
        }
        if (ippGetGroupTag(attribute) != IPP_TAG_JOB) {
            continue;
        }
        const std::string_view name = rawName;
        if (name == "job-id") {
            job.id = ippGetInteger(attribute, 0);
        } else if (name == "job-name") {
            job.name = TextOf(attribute);
        } else if (name == "job-originating-user-name") {
            job.user = TextOf(attribute);
        } else if (name == "job-state") {
            job.state = ippGetInteger(attribute, 0);
        } else if (name == "job-printer-state-message") {
            job.stateMessage = TextOf(attribute);
        } else if (name == "copies") {
            job.copies = ippGetInteger(attribute, 0);
        } else if (name == "job-impressions-completed") {
            job.pagesPrinted = ippGetInteger(attribute, 0);
        } else if (name == "job-impressions") {
            job.totalPages = ippGetInteger(attribute, 0);
        } else if (name == "job-k-octets") {
            job.sizeBytes = static_cast<std::int64_t>(ippGetInteger(attribute, 0)) * 1024;
        } else if (name == "time-at-creation") {
            job.created = ippGetInteger(attribute, 0);
        }
    }
    finish();
    std::sort(jobs.begin(), jobs.end(), [](const JobInfo& a, const JobInfo& b) { return a.id < b.id; });
    return jobs;
}

std::optional<std::vector<std::string>> Spooler::Destinations() {
    Connection* link = Connect();
    if (link == nullptr) {
        return std::nullopt;
    }
    DestinationList list;
    list.count = cupsGetDests2(link->http, &list.dests);
    if (list.count == 0 && RequestFailed()) {
        RecordFailure();
        EventLog::Write("[ERROR] Unable to list the printers: %s", errorText.c_str());
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (int i = 0; i < list.count; ++i) {
        if (list.dests[i].instance == nullptr) {
            names.emplace_back(list.dests[i].name);
        }
    }
    return names;
}

int Spooler::SubmitFile(const std::string& printer, const std::filesystem::path& file,
                        const std::string& jobName, int copies) {
    Spooler spooler;
    return spooler.Submit(printer, file, jobName, copies);
}

std::optional<Spooler::PrinterInfo> Spooler::GetPrinter(const std::string& printer) {
    Spooler spooler;
    return spooler.Printer(printer);
}

std::optional<std::vector<Spooler::JobInfo>> Spooler::GetJobs(const std::string& printer, int firstJobId) {
    Spooler spooler;
    return spooler.Jobs(printer, firstJobId);
}

std::optional<std::vector<std::string>> Spooler::GetDestinations() {
    Spooler spooler;
    return spooler.Destinations();
}
