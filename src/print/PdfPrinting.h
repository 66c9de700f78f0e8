#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class Spooler;

// The PDF road: the spooler prints PDF natively, so each PDF file of the working folder becomes one
// job on the named printer, and the request is judged by the jobs it submitted.
class PdfPrinting {
public:
    static constexpr std::chrono::milliseconds kWatchLimit{10000};
    static constexpr int kMinimumCopies = 1;

    // 0 the printer cannot be used or the jobs were not taken in time, 1 the jobs were taken,
    // 4 the printer was in an error state. `printerStatus` receives the status the watch found.
    static int PrintPdfDocuments(const std::string& printerName, const std::string& documentName, int copies,
                                 std::uint32_t& printerStatus, const std::filesystem::path& folder,
                                 const std::string& receivedFileName = {});
    // Submits every PDF file of `folder` and watches the jobs: 1 when they were judged, 0 otherwise
    // (a refused submission included).
    static int PrintPdfFiles(const std::shared_ptr<Spooler>& spooler, const std::string& printerName,
                             const std::filesystem::path& folder, int copies,
                             const std::string& receivedFileName = {});
    // Regular files (links not followed) whose upper-cased name contains ".PDF", sorted by name. The
    // received archive ("report.pdf.7z") is no document, unless it is the document itself.
    static std::vector<std::string> ListPdfFiles(const std::filesystem::path& folder,
                                                 const std::string& receivedFileName = {});
};
