#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

class IMainWindowPort;

// Gives each print request its working folder, writes and unpacks the received archive there, checks
// the document, chooses the printing road and folds the outcome into the request's result code.
class DocumentStaging {
public:
    static constexpr int kResultPrinted = 0;
    static constexpr int kResultReceivedFileMissing = 1;
    static constexpr int kResultDecompressFailed = 2;
    static constexpr int kResultDocumentMissing = 3;
    static constexpr int kResultPrintFailed = 4;

    // The working folder of every request when backup is off.
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
    // Pause after asking for the waiting page. It let a PDF viewer let go of the file it showed before
    // the archive overwrote it; nothing here holds files that way, so no pause is needed.
    static constexpr std::chrono::milliseconds kWaitingPagePause{0};

    // The data folder; empty when the program runs without one.
    static std::filesystem::path GetStagingRoot();
    // Backup on: a new folder named by the tick in hexadecimal (a suffix keeps it unique), the tick
    // returned as the request's id; the folder is reserved (made) here, and `folder` is empty when it
    // cannot be. Backup off: the "pf" folder, cleared completely first; `tick` is left as it was.
    static void CreateJobFolder(std::filesystem::path& folder, std::uint32_t& tick);
    static bool CreateFolderTree(const std::filesystem::path& path);
    // Decodes the Base64 text into `path`, replacing a file there; never writes through a link.
    static bool WriteReceivedFile(const std::filesystem::path& path, std::string_view base64Text);
    // Deletes the files of `path` (and its sub-folders when `recursive`) and then the folder itself.
    // Links are removed, never followed; a file or link in place of the folder goes by itself. `error`
    // receives the errno of the first failure.
    static bool RemoveFolder(const std::filesystem::path& path, bool recursive, int& error);
    // Unpacks every file of the archive into `outputFolder`, without stored paths. The archive is
    // listed first: one that would unpack more than `sizeLimit` (or the free room of the disk), holds
    // more than kEntryLimit entries or cannot be read is refused with a log line that says why, and
    // the archive program is stopped when the folder grows past the limit while it runs. True when the
    // archive was unpacked whole (the program's warnings, exit code 1, let it pass). A file named like
    // the document it carries (`mayBeTheDocument`) that is no archive is taken as it is.
    static bool ExtractArchive(const std::filesystem::path& archive,
                               const std::filesystem::path& outputFolder,
                               std::chrono::milliseconds timeLimit = kExtractTimeLimit,
                               std::uint64_t sizeLimit = kUnpackLimit, bool mayBeTheDocument = false);
    static bool FolderHasPdf(const std::filesystem::path& folder, const std::string& receivedFileName = {});
    static std::string FormatPrintDate();

    // A name counts as a PDF when its upper-cased form contains ".PDF" anywhere.
    static bool IsPdfName(std::string_view name);
    // A name a device may give to a file of the working folder: not empty, no "/", "\", "..", NUL.
    static bool IsPlainFileName(std::string_view name);

    // Stages and prints one request; blocks until printing has been judged. Result 0..4. Only the
    // printers offered to devices are printed on; any other name gives 4 with the not-available bit.
    static int PrintReceivedDocument(const std::string& receivedFileName, const std::string& printerName,
                                     const std::string& documentName, int copies,
                                     const std::filesystem::path& workingFolder, std::uint32_t tick,
                                     IMainWindowPort* mainWindow, std::uint32_t& printerStatus);

private:
    // PrintReceivedDocument without the look at whether the server is ending.
    static int PrintStagedDocument(const std::string& receivedFileName, const std::string& printerName,
                                   const std::string& documentName, int copies,
                                   const std::filesystem::path& workingFolder, std::uint32_t tick,
                                   IMainWindowPort* mainWindow, std::uint32_t& printerStatus);
};
