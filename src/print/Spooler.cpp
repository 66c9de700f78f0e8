#include "print/Spooler.h"

#include <cups/cups.h>

#include <array>
#include <string_view>

#include "app/EventLog.h"
#include "print/PrintJobEntry.h"
#include "print/PrinterStatus.h"

namespace {

constexpr std::string_view kErrorSuffix = "-error";
constexpr std::string_view kWarningSuffix = "-warning";
constexpr std::string_view kReportSuffix = "-report";
constexpr std::string_view kConnectingReason = "connecting-to-device";
constexpr std::size_t kUriSize = 1024;

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

struct Destinations {
    ~Destinations() { cupsFreeDests(count, dests); }
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

int Spooler::SubmitFile(const std::string& printer, const std::filesystem::path& file,
                        const std::string& jobName, int copies) {
    cups_option_t* options = nullptr;
    int optionCount = cupsAddOption("copies", std::to_string(copies).c_str(), 0, &options);
    const int jobId = cupsPrintFile2(CUPS_HTTP_DEFAULT, printer.c_str(), file.c_str(), jobName.c_str(),
                                     optionCount, options);
    cupsFreeOptions(optionCount, options);
    if (jobId == 0) {
        EventLog::Write("Spooler refused %s on %s: %s", file.c_str(), printer.c_str(), cupsLastErrorString());
    }
    return jobId;
}

std::optional<Spooler::PrinterInfo> Spooler::GetPrinter(const std::string& printer) {
    static const char* const kAttributes[] = {"printer-name", "printer-state", "printer-state-reasons",
                                              "printer-is-accepting-jobs", "queued-job-count"};
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 PrinterUri(printer).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kAttributes)), nullptr, kAttributes);
    IppResponse response(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    if (response.response == nullptr || RequestFailed()) {
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

std::optional<std::vector<Spooler::JobInfo>> Spooler::GetJobs(const std::string& printer, std::time_t since) {
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
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 PrinterUri(printer).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kAttributes)), nullptr, kAttributes);
    IppResponse response(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    if (response.response == nullptr || RequestFailed()) {
        return std::nullopt;
    }

    std::vector<JobInfo> jobs;
    JobInfo job;
    auto finish = [&] {
        if (job.id != 0 && job.created >= since) {
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
    return jobs;
}

std::optional<std::vector<std::string>> Spooler::GetDestinations() {
    Destinations list;
    list.count = cupsGetDests2(CUPS_HTTP_DEFAULT, &list.dests);
    if (list.count == 0 && RequestFailed()) {
        EventLog::Write("[ERROR] Unable to list the printers: %s", cupsLastErrorString());
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

std::optional<std::string> Spooler::GetDefaultDestination() {
    Destinations list;
    list.count = cupsGetDests2(CUPS_HTTP_DEFAULT, &list.dests);
    if (list.count == 0 && RequestFailed()) {
        return std::nullopt;
    }
    for (int i = 0; i < list.count; ++i) {
        if (list.dests[i].is_default != 0) {
            return std::string(list.dests[i].name);
        }
    }
    return std::string();
}

bool Spooler::SetDefaultDestination(const std::string& printer) {
    Destinations list;
    list.count = cupsGetDests2(CUPS_HTTP_DEFAULT, &list.dests);
    if (list.count == 0 && RequestFailed()) {
        return false;
    }
    bool found = printer.empty();
    for (int i = 0; i < list.count; ++i) {
        const bool chosen = list.dests[i].instance == nullptr && printer == list.dests[i].name;
        list.dests[i].is_default = chosen ? 1 : 0;
        found = found || chosen;
    }
    if (!found) {
        return false;
    }
    return cupsSetDests2(CUPS_HTTP_DEFAULT, list.count, list.dests) == 0;
}

int Spooler::LastErrorCode() {
    return static_cast<int>(cupsLastError());
}

std::string Spooler::LastErrorText() {
    const char* text = cupsLastErrorString();
    return text == nullptr ? std::string() : std::string(text);
}
