#include "print/PdfPrinting.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "app/EventLog.h"
#include "print/DocumentNames.h"
#include "print/PrintQueueWatch.h"
#include "print/PrinterStatus.h"
#include "print/Spooler.h"
#include "protocol/PrintRequest.h"

std::vector<std::string> PdfPrinting::ListPdfFiles(const std::filesystem::path& folder,
                                                   const std::string& receivedFileName) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code statusError;
        if (DocumentNames::IsPdfName(name) && name != receivedFileName &&
            it->symlink_status(statusError).type() == std::filesystem::file_type::regular) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

PrintResult PdfPrinting::PrintPdfDocuments(const PrintRequest& request, const std::string& receivedFileName,
                                           const std::function<void()>& submitted, std::stop_token stop) {
    return PrintFiles(request, ListPdfFiles(request.workingFolder, receivedFileName), submitted,
                      std::move(stop));
}

PrintResult PdfPrinting::PrintFiles(const PrintRequest& request, const std::vector<std::string>& files,
                                    const std::function<void()>& submitted, std::stop_token stop) {
    // However the submission ends, the next request may stage while this one is watched.
    struct Submitted {
        const std::function<void()>& tell;
        bool told = false;
        void Tell() {
            if (!told && tell) {
                tell();
            }
            told = true;
        }
        ~Submitted() { Tell(); }
    } handedOver{submitted};

    auto spooler = std::make_shared<Spooler>();
    const std::string& printerName = request.printer;
    if (std::optional<PrintResult> unusable = PrintQueueWatch::CheckPrinter(*spooler, printerName)) {
        return *unusable;
    }

    if (files.empty()) {
        return PrintResult::PrintFailed("no document to print");
    }
    std::vector<int> jobIds;
    for (const std::string& file : files) {
        const int jobId = spooler->Submit(printerName, request.workingFolder / file, file, request.copies);
        if (jobId == 0) {
            EventLog::Write("PRINT_FAILED: %s refused on %s: %s", file.c_str(), printerName.c_str(),
                            spooler->ErrorText().c_str());
            return PrintResult::PrintFailed("the spooler refused it: " + spooler->ErrorText());
        }
        EventLog::Write("Job %d: %s on %s, %d copies", jobId, file.c_str(), printerName.c_str(),
                        request.copies);
        jobIds.push_back(jobId);
    }
    handedOver.Tell();

    const PrintQueueWatch::Verdict verdict =
        PrintQueueWatch::WatchSubmittedJobs(spooler, printerName, jobIds, kWatchLimit, stop);
    PrintResult result = PrintQueueWatch::Settle(verdict, printerName);
    if (result.IsPrinted()) {
        // Jobs still queued at the end have been taken by the spooler and print in their turn.
        EventLog::Write("ALL PDF JOBS IN QUEUE, --> PRINT SUCCESS");
    }
    EventLog::Write("Print done with code %d", result.IsPrinted() ? 1 : 0);
    return result;
}
