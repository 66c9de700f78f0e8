#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>

#include "print/PrintResult.h"

struct PrintContext;
struct PrintRequest;

// Gives each print request its working folder, writes and unpacks the received archive there, checks
// the document, chooses the printing road and folds the outcome into the request's result.
class DocumentStaging {
public:
    // The folder below which requests work when backup is off, one folder each.
    static constexpr const char* kSingleJobFolder = "pf";
    static constexpr const char* kArchiveProgram = "7za";
    static constexpr std::chrono::milliseconds kWaitingPageTimeout{5000};
    // Far more than a real document needs; an archive that unpacks without end is stopped here.
    static constexpr std::chrono::milliseconds kExtractTimeLimit{60000};
    // What one request may unpack at most (less when the disk has less room); a few kilobytes of
    // archive can stand for gigabytes.
    static constexpr std::uint64_t kUnpackLimit = 1024ull * 1024 * 1024;
    // Room that unpacking always leaves free on the disk of the data folder.
    static constexpr std::uint64_t kFreeSpaceMargin = 64ull * 1024 * 1024;
    // Entries one archive may hold; each becomes a file in the working folder.
    static constexpr std::size_t kEntryLimit = 10000;

    // The data folder; empty when the program runs without one.
    static std::filesystem::path GetStagingRoot();
    // A new folder of the request's own, made here so that no other request can take it: backup on,
    // named by the tick in hexadecimal (a suffix keeps it unique), the tick becoming the request's
    // register id; backup off, the same below "pf". False (and no folder) when it cannot be made.
    static bool CreateJobFolder(PrintRequest& request);
    // Empties "pf" of what an earlier run left, links removed and never followed.
    static void ClearSingleJobFolder();
    static bool CreateFolderTree(const std::filesystem::path& path);
    // Decodes the Base64 text into `path` piece by piece, replacing a file there; never writes
    // through a link.
    static bool WriteReceivedFile(const std::filesystem::path& path, std::string_view base64Text);
    // Deletes the files of `path` (and its sub-folders when `recursive`) and then the folder itself.
    // Links are removed, never followed; a file or link in place of the folder goes by itself. `error`
    // receives the errno of the first failure.
    static bool RemoveFolder(const std::filesystem::path& path, bool recursive, int& error);
    // Unpacks every file of the archive into `outputFolder`, without stored paths. The archive is
    // listed first: one that would unpack more than `sizeLimit` (or the free room of the disk), holds
    // more than kEntryLimit entries or cannot be read is refused with a log line that says why, and
    // the archive program is stopped when the folder grows past the limit while it runs, or when
    // `stop` is requested. True when the archive was unpacked whole (the program's warnings, exit
    // code 1, let it pass). A file named like the document it carries (`mayBeTheDocument`) that is
    // no archive is taken as it is.
    static bool ExtractArchive(const std::filesystem::path& archive,
                               const std::filesystem::path& outputFolder,
                               std::chrono::milliseconds timeLimit = kExtractTimeLimit,
                               std::uint64_t sizeLimit = kUnpackLimit, bool mayBeTheDocument = false,
                               std::stop_token stop = {});
    static bool FolderHasPdf(const std::filesystem::path& folder, const std::string& receivedFileName = {});
    static std::string FormatPrintDate();

    // A name counts as a PDF when its upper-cased form contains ".PDF" anywhere.
    static bool IsPdfName(std::string_view name);
    // A name a device may give to a file of the working folder: not empty, no "/", "\", "..", NUL.
    static bool IsPlainFileName(std::string_view name);

    // Stages and prints one request whose received file is in its working folder; blocks until
    // printing has been judged. Only the printers offered to devices are printed on.
    static PrintResult PrintReceivedDocument(const PrintRequest& request, const PrintContext& context);

private:
    // PrintReceivedDocument without the look at whether the service is ending.
    static PrintResult PrintStagedDocument(const PrintRequest& request, const PrintContext& context);
};
