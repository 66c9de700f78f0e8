#include "removable/DriveDocumentPrinting.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "app/EventLog.h"
#include "print/BrowserPrintOutcome.h"
#include "print/DocumentNames.h"
#include "print/DocumentStaging.h"
#include "print/PrintJobRecord.h"
#include "print/Spooler.h"
#include "protocol/Copies.h"
#include "ui/IMainWindowPort.h"
#include "ui/MainWindowFlags.h"

namespace {

bool IsDocumentFile(const std::filesystem::path& path) {
    std::error_code error;
    return !path.empty() &&
           std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::regular;
}

std::int32_t BoundedCopies(std::int32_t copies, const std::string& fileName) {
    const std::int32_t bounded = Copies::Bound(copies);
    if (bounded != copies) {
        EventLog::Write("[WARNING] %d copies asked of %s, printing %d", copies, fileName.c_str(), bounded);
    }
    return bounded;
}

DriveDocumentPrinting::HandOver SubmitToSpooler(const std::string& printerName,
                                                const std::filesystem::path& path,
                                                const std::string& fileName, std::int32_t copies) {
    Spooler spooler;
    const int jobId = spooler.Submit(printerName, path, fileName, copies);
    if (jobId == 0) {
        EventLog::Write("PRINT_FAILED: %s refused on %s: %s", fileName.c_str(), printerName.c_str(),
                        spooler.ErrorText().c_str());
        spooler.ReportIfUnreachable();
        return DriveDocumentPrinting::HandOver::NotTaken;
    }
    EventLog::Write("Job %d: %s on %s, %d copies", jobId, fileName.c_str(), printerName.c_str(), copies);
    return DriveDocumentPrinting::HandOver::Taken;
}

DriveDocumentPrinting::HandOver WaitForPreviewPage(const BrowserPrintOutcome& outcome,
                                                   const std::string& fileName, const std::stop_token& stop,
                                                   std::chrono::milliseconds limit) {
    const std::optional<BrowserPrintOutcome::Result> result = outcome.Wait(limit, stop);
    if (!result) {
        if (!stop.stop_requested()) {
            EventLog::Write("PRINT_FAILED: %s was not printed in time", fileName.c_str());
        }
        return DriveDocumentPrinting::HandOver::NotTaken;
    }
    if (!result->printed) {
        EventLog::Write("PRINT_FAILED: %s was not printed", fileName.c_str());
        return DriveDocumentPrinting::HandOver::NotTaken;
    }
    return DriveDocumentPrinting::HandOver::Taken;
}

} // namespace

bool DriveDocumentPrinting::SleepUnlessStopped(std::chrono::milliseconds duration,
                                               const std::stop_token& stop) {
    std::mutex lock;
    std::condition_variable_any wake;
    std::unique_lock guard(lock);
    wake.wait_for(guard, stop, duration, [] { return false; });
    return !stop.stop_requested();
}

DriveDocumentPrinting::HandOver DriveDocumentPrinting::PrintDriveDocument(
    const std::string& printerName, const std::filesystem::path& documentPath, std::int32_t copies,
    const std::filesystem::path& folder, std::uint32_t tick, IMainWindowPort* mainWindow,
    std::stop_token stop, std::chrono::milliseconds limit) {
    const HandOver handOver =
        HandOverDocument(printerName, documentPath, copies, folder, tick, mainWindow, stop, limit);
    if (mainWindow != nullptr && !stop.stop_requested()) {
        PrintReport report;
        report.receivedFileName = documentPath.filename().string();
        report.documentName = report.receivedFileName;
        report.printer = printerName;
        report.copies = Copies::Bound(copies);
        report.workingFolder = folder.string();
        report.registerId = tick;
        // The drive's folder is where the register finds the document again.
        report.kept = true;
        report.result = handOver == HandOver::Taken ? PrintResult::Printed()
                        : handOver == HandOver::Missing
                            ? PrintResult::Failed(PrintResult::Code::DocumentMissing,
                                                  report.documentName + " is not on the drive")
                            : PrintResult::PrintFailed(report.documentName + " was not printed");
        mainWindow->PostPrintReport(std::move(report));
    }
    return handOver;
}

DriveDocumentPrinting::HandOver DriveDocumentPrinting::HandOverDocument(
    const std::string& printerName, const std::filesystem::path& documentPath, std::int32_t copies,
    const std::filesystem::path& folder, std::uint32_t tick, IMainWindowPort* mainWindow,
    const std::stop_token& stop, std::chrono::milliseconds limit) {
    const std::string fileName = documentPath.filename().string();
    if (mainWindow != nullptr && MainWindowFlags::shown && MainWindowFlags::previewIsPdf) {
        if (!mainWindow->ShowWaitingPage(true, DocumentStaging::kWaitingPageTimeout, stop) &&
            stop.stop_requested()) {
            return HandOver::NotTaken;
        }
    }
    if (!IsDocumentFile(documentPath)) {
        EventLog::Write("[ERROR] Cant find file %s", documentPath.c_str());
        return HandOver::Missing;
    }
    copies = BoundedCopies(copies, fileName);
    // PDFs and pictures are printed by the spooler itself.
    if (DocumentNames::IsPdfName(fileName) || DocumentNames::IsPicture(documentPath)) {
        return SubmitToSpooler(printerName, documentPath, fileName, copies);
    }
    if (mainWindow == nullptr) {
        return HandOver::NotTaken;
    }
    auto record = std::make_unique<PrintJobRecord>();
    record->printerName = printerName;
    record->documentName = fileName;
    record->copies = copies;
    record->workingFolder = folder.string();
    record->date = DocumentStaging::FormatPrintDate();
    record->id = tick;
    record->outcome = std::make_shared<BrowserPrintOutcome>();
    const std::shared_ptr<BrowserPrintOutcome> outcome = record->outcome;
    mainWindow->PostPrintDocument(std::move(record));
    return WaitForPreviewPage(*outcome, fileName, stop, limit);
}
