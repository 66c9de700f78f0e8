#include "print/PdfPrinting.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "app/EventLog.h"
#include "platform/Unicode.h"
#include "print/DocumentNames.h"
#include "print/PrintQueueWatch.h"
#include "print/PrinterStatus.h"
#include "print/Spooler.h"

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

int PdfPrinting::PrintPdfFiles(const std::shared_ptr<Spooler>& spooler, const std::string& printerName,
                               const std::filesystem::path& folder, int copies,
                               const std::string& receivedFileName) {
    const std::vector<std::string> files = ListPdfFiles(folder, receivedFileName);
    if (files.empty()) {
        return 0;
    }
    // The original PDF road always printed one copy; a device that sends no usable count keeps that.
    copies = std::max(copies, kMinimumCopies);
    std::vector<int> jobIds;
    for (const std::string& file : files) {
        const int jobId = spooler->Submit(printerName, folder / file, file, copies);
        if (jobId == 0) {
            EventLog::Write("PRINT_FAILED: %s refused on %s: %s", file.c_str(), printerName.c_str(),
                            spooler->ErrorText().c_str());
            return 0;
        }
        EventLog::Write("Job %d: %s on %s, %d copies", jobId, file.c_str(), printerName.c_str(), copies);
        jobIds.push_back(jobId);
    }
    return PrintQueueWatch::WatchSubmittedJobs(spooler, printerName, jobIds, kWatchLimit) ? 1 : 0;
}

int PdfPrinting::PrintPdfDocuments(const std::string& printerName, const std::string& /*documentName*/,
                                   int copies, std::uint32_t& printerStatus,
                                   const std::filesystem::path& folder, const std::string& receivedFileName) {
    PrinterStatus& shared = PrinterStatus::Shared();
    shared.Set(0);
    auto spooler = std::make_shared<Spooler>();
    const std::optional<Spooler::PrinterInfo> printer = spooler->Printer(printerName);
    if (!printer) {
        EventLog::Write("Unable to open printer %s, error: %d", printerName.c_str(), spooler->ErrorCode());
        spooler->ReportIfUnreachable();
        return 0;
    }
    EventLog::Write("Waiting for printer result ...");
    const std::string upperName = AsciiUpper(printerName);
    EventLog::Write("EnumPrinters(%s) --> jobs: %d, printerStatus: %x", upperName.c_str(),
                    printer->queuedJobCount, printer->status);
    if (PrinterStatus::IsError(printer->status)) {
        printerStatus = printer->status;
        shared.Set(printer->status);
        EventLog::Write("PRINT_FAILED: EnumPrinters(%s) --> jobs: %d, printerStatus: %x", upperName.c_str(),
                        printer->queuedJobCount, printer->status);
        return 4;
    }
    const int result = PrintPdfFiles(spooler, printerName, folder, copies, receivedFileName);
    printerStatus = shared.Get();
    EventLog::Write("Print done with code %d", result);
    return result;
}
