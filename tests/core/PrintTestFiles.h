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
#include "support/FileBytes.h"

// Sample documents and archives for printing tests, and the private scheduler those tests use.
namespace printtest {

// A one-page PDF with correct cross references; `padding` bytes of comment make it as large as needed.
inline std::string MinimalPdf(std::size_t padding = 0) {
    const std::string content =
        "BT /F1 24 Tf 72 700 Td (Qopra test page) Tj ET\n" + std::string(padding, ' ');
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
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
        if (auto jobs = Spooler::GetJobs(printer, 0)) {
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

inline std::optional<Spooler::JobInfo> FindJob(const std::string& printer, const std::string& name) {
    if (auto jobs = Spooler::GetJobs(printer, 0)) {
        for (auto it = jobs->rbegin(); it != jobs->rend(); ++it) {
            if (it->name == name) {
                return *it;
            }
        }
    }
    return std::nullopt;
}

} // namespace printtest
