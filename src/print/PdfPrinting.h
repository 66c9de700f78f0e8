#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "print/PrintResult.h"

class Spooler;
struct PrintRequest;

// The spooler's own road: the spooler prints PDF and pictures natively (a picture fitted to the page,
// turned to its shape), so each such file becomes one job with the request's copies on the request's
// printer, and the request is judged by the jobs it submitted. Every PDF file of the working folder is
// printed; a picture is printed when it is the document.
class PdfPrinting {
public:
    static constexpr std::chrono::milliseconds kWatchLimit{10000};

    // Checks the printer, submits every PDF file of the request's folder (`submitted` is called once
    // they are all with the spooler, or it is clear they will not be) and watches the jobs.
    static PrintResult PrintPdfDocuments(const PrintRequest& request, const std::string& receivedFileName,
                                         const std::function<void()>& submitted, std::stop_token stop);
    // The same for the named files of the request's folder.
    static PrintResult PrintFiles(const PrintRequest& request, const std::vector<std::string>& files,
                                  const std::function<void()>& submitted, std::stop_token stop);
    // Regular files (links not followed) whose upper-cased name contains ".PDF", sorted by name. The
    // received archive ("report.pdf.7z") is no document, unless it is the document itself.
    static std::vector<std::string> ListPdfFiles(const std::filesystem::path& folder,
                                                 const std::string& receivedFileName = {});
};
