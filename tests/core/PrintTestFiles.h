#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "print/HiddenProcess.h"
#include "print/Spooler.h"
#include "protocol/Copies.h"
#include "protocol/PrintRequest.h"
#include "support/FileBytes.h"
#include "support/SamplePdf.h"

// Sample documents and archives for printing tests, and the private scheduler those tests use.
namespace printtest {

// A one-page PDF; `padding` bytes of blanks make it as large as needed.
inline std::string MinimalPdf(std::size_t padding = 0) {
    return SamplePdf("BT /F1 24 Tf 72 700 Td (Qopra test page) Tj ET\n" + std::string(padding, ' '));
}

// Packs the named files of `folder` into `archive` with the real 7za; `switches` go before the names.
inline bool MakeArchive(const std::filesystem::path& archive, const std::filesystem::path& folder,
                        const std::vector<std::string>& names,
                        const std::vector<std::string>& switches = {}) {
    const std::filesystem::path program = HiddenProcess::FindProgram("7za", {});
    std::vector<std::string> arguments = {"a", archive.string()};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    arguments.insert(arguments.end(), names.begin(), names.end());
    int exitCode = -1;
    return !program.empty() && HiddenProcess::RunHiddenProcess(program, arguments, folder, true, exitCode) &&
           exitCode == 0;
}

// A request as a device's print command makes it, staged in `folder`.
inline PrintRequest Request(const std::string& received, const std::string& printer,
                            const std::string& document, int copies, const std::filesystem::path& folder,
                            std::uint32_t registerId = 0) {
    PrintRequest request;
    request.connectionId = "ID1";
    request.device = "127.0.0.1";
    request.fileName = received;
    request.documentName = document;
    request.printerName = printer;
    request.printer = printer;
    request.requestedCopies = copies;
    request.copies = Copies::Bound(copies);
    request.workingFolder = folder;
    request.registerId = registerId;
    return request;
}

// The private scheduler of the test command, when there is one.
inline bool HaveScheduler() {
    const char* server = std::getenv("CUPS_SERVER");
    return server != nullptr && server[0] != '\0';
}

// Polls the spooler until the job reaches `state` or a generous bound passes (a broken scheduler
// fails the test instead of hanging it).
inline std::optional<Spooler::JobInfo> WaitForJobState(const std::string& printer, int jobId,
                                                       Spooler::JobState state) {
    constexpr int kTries = 300;
    for (int i = 0; i < kTries; ++i) {
        if (auto jobs = Spooler::GetJobs(printer, jobId)) {
            for (const Spooler::JobInfo& job : *jobs) {
                if (job.id == jobId && job.state == static_cast<int>(state)) {
                    return job;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

// Every job the scheduler keeps for `printer`, oldest first. It lists a long history in parts, so it
// is read part by part.
inline std::vector<Spooler::JobInfo> AllJobs(const std::string& printer) {
    std::vector<Spooler::JobInfo> all;
    Spooler spooler;
    for (int first = 1;;) {
        const auto jobs = spooler.Jobs(printer, first);
        if (!jobs || jobs->empty()) {
            return all;
        }
        all.insert(all.end(), jobs->begin(), jobs->end());
        first = jobs->back().id + 1;
    }
}

// The newest job of `printer` named `name`.
inline std::optional<Spooler::JobInfo> FindJob(const std::string& printer, const std::string& name) {
    std::optional<Spooler::JobInfo> found;
    for (const Spooler::JobInfo& job : AllJobs(printer)) {
        if (job.name == name) {
            found = job;
        }
    }
    return found;
}

} // namespace printtest
