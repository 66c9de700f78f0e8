#include "print/DocumentStaging.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "config/AppSettings.h"
#include "platform/TickCount.h"
#include "print/BrowserPrintOutcome.h"
#include "print/DocumentNames.h"
#include "print/HiddenProcess.h"
#include "print/PdfPrinting.h"
#include "print/PrintContext.h"
#include "print/PrintJobRecord.h"
#include "print/PrintQueueWatch.h"
#include "print/PrintSlots.h"
#include "print/PrinterStatus.h"
#include "print/Spooler.h"
#include "protocol/Base64.h"
#include "protocol/PrintRequest.h"
#include "ui/IMainWindowPort.h"
#include "ui/MainWindowFlags.h"

namespace {

constexpr std::size_t kDateBufferSize = 1024;
constexpr mode_t kReceivedFileMode = 0600;
// The Base64 text is decoded and written in pieces this long.
constexpr std::size_t kDecodePiece = 1024 * 1024;
// Enough for every request of one millisecond to get a folder of its own.
constexpr int kMaxFolderSuffix = 1000;
// A listing longer than this stands for more entries than an archive may hold.
constexpr std::size_t kListingLimit = 16 * 1024 * 1024;
// The line of the listing after which the entries follow, each with a "Size = " line.
constexpr std::string_view kListingStart = "----------";
constexpr std::string_view kSizeKey = "Size = ";
// The archive program's exit codes from here on mean that unpacking failed.
constexpr int kFirstFailureExitCode = 2;

bool IsRegularFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

std::string HexTick(std::uint32_t tick) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", tick);
    return text;
}

// What the archive program's listing says the archive holds.
struct ArchiveListing {
    std::size_t entries = 0;
    // The sum of the sizes the entries declare; entries without a size (some single-file formats)
    // are bounded while unpacking.
    std::uint64_t bytes = 0;
};

ArchiveListing ParseListing(std::string_view listing) {
    ArchiveListing result;
    const std::size_t start = listing.find(kListingStart);
    if (start == std::string_view::npos) {
        return result;
    }
    listing.remove_prefix(start + kListingStart.size());
    while (!listing.empty()) {
        const std::size_t end = listing.find('\n');
        const std::string_view line = listing.substr(0, end);
        listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
        if (!line.starts_with(kSizeKey)) {
            continue;
        }
        ++result.entries;
        std::uint64_t size = 0;
        const std::string_view digits = line.substr(kSizeKey.size());
        if (std::from_chars(digits.data(), digits.data() + digits.size(), size).ec ==
            std::errc::result_out_of_range) {
            size = UINT64_MAX;
        }
        result.bytes = size > UINT64_MAX - result.bytes ? UINT64_MAX : result.bytes + size;
    }
    return result;
}

// Bytes held by the files below `folder`; links are not followed.
std::uint64_t FolderBytes(const std::filesystem::path& folder) {
    std::uint64_t total = 0;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            total += static_cast<std::uint64_t>(info.st_size);
        }
    }
    return total;
}

// What may be unpacked into `folder`: the limit, or less when the disk has less room.
std::uint64_t UnpackRoom(const std::filesystem::path& folder, std::uint64_t limit) {
    struct statvfs disk {};
    if (::statvfs(folder.c_str(), &disk) != 0) {
        return limit;
    }
    const std::uint64_t free = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
    const std::uint64_t room =
        free > DocumentStaging::kFreeSpaceMargin ? free - DocumentStaging::kFreeSpaceMargin : 0;
    return std::min(limit, room);
}

// Removes what a refused archive left in `folder`, all but the received file itself.
void ClearUnpacked(const std::filesystem::path& folder, const std::filesystem::path& keep) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path() == keep) {
            continue;
        }
        int removeError = 0;
        DocumentStaging::RemoveFolder(it->path(), true, removeError);
    }
}

// Why a request that the end of the service cut short did not print.
constexpr const char* kEndedByTheEnd = "ended by the end of the program";

// The archive program to run. Some systems install it as a script that starts the real program;
// starting that one directly saves a shell for each of the two runs of every request.
std::filesystem::path ArchiveProgram(const std::filesystem::path& executableFolder) {
    const std::filesystem::path found =
        HiddenProcess::FindProgram(DocumentStaging::kArchiveProgram, executableFolder);
    const std::filesystem::path real = found.empty() ? found : HiddenProcess::ScriptTarget(found);
    return real.empty() ? found : real;
}

// The browser road: the printer is looked at first, then the document goes to the main window's
// preview page, which renders and submits it; the request then waits for the page's report and judges
// the jobs it made.
PrintResult PrintThroughBrowser(const PrintRequest& request, const std::string& document,
                                const PrintContext& context, const std::function<void()>& handedOver) {
    auto spooler = std::make_shared<Spooler>();
    if (std::optional<PrintResult> unusable = PrintQueueWatch::CheckPrinter(*spooler, request.printer)) {
        return *unusable;
    }
    if (context.mainWindow == nullptr) {
        return PrintResult::PrintFailed("nothing here prints " + document);
    }
    auto record = std::make_unique<PrintJobRecord>();
    record->printerName = request.printer;
    record->receivedFileName = request.fileName;
    record->documentName = document;
    record->copies = request.copies;
    record->workingFolder = request.workingFolder.string();
    record->date = DocumentStaging::FormatPrintDate();
    record->id = request.registerId;
    record->outcome = std::make_shared<BrowserPrintOutcome>();
    const std::shared_ptr<BrowserPrintOutcome> outcome = record->outcome;
    context.mainWindow->PostPrintDocument(std::move(record));
    handedOver();

    const PrintQueueWatch::Verdict verdict =
        PrintQueueWatch::WaitForBrowserJob(spooler, request.printer, document, outcome, context.stop);
    const std::optional<BrowserPrintOutcome::Result> page = outcome->Get();
    PrintResult result =
        PrintQueueWatch::Settle(verdict, request.printer, page ? page->reason : std::string());
    EventLog::Write("Print done with code %d", result.IsPrinted() ? 1 : 0);
    return result;
}

} // namespace

std::filesystem::path DocumentStaging::GetStagingRoot() {
    return DataFolder::Path();
}

bool DocumentStaging::CreateJobFolder(PrintRequest& request) {
    request.workingFolder.clear();
    const std::filesystem::path root = GetStagingRoot();
    if (root.empty()) {
        return false;
    }
    const bool backup = AppSettings::Instance().backup;
    const std::filesystem::path parent = backup ? root : root / kSingleJobFolder;
    const std::uint32_t tick = TickCount();
    const std::string name = HexTick(tick);
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    std::filesystem::path folder = parent / name;
    // The folder is made here, so a second request of the same millisecond cannot take it too.
    for (int suffix = 1; suffix <= kMaxFolderSuffix; ++suffix) {
        if (std::filesystem::create_directory(folder, error)) {
            request.workingFolder = folder;
            request.registerId = tick;
            request.folderKept = backup;
            return true;
        }
        if (error && error != std::errc::file_exists) {
            EventLog::Write("[ERROR] Unable to make %s: %s", folder.c_str(), error.message().c_str());
            return false;
        }
        folder = parent / (name + "-" + std::to_string(suffix));
    }
    EventLog::Write("[ERROR] No free working folder for %s", name.c_str());
    return false;
}

void DocumentStaging::ClearSingleJobFolder() {
    const std::filesystem::path root = GetStagingRoot();
    if (root.empty()) {
        return;
    }
    const std::filesystem::path folder = root / kSingleJobFolder;
    int error = 0;
    std::error_code exists;
    // Everything an earlier run left there goes, folders included: the staging folder is ours.
    if (std::filesystem::exists(std::filesystem::symlink_status(folder, exists)) &&
        !RemoveFolder(folder, true, error)) {
        EventLog::Write("Failed to RemoveDirectory %s : error %d", folder.c_str(), error);
    }
}

bool DocumentStaging::CreateFolderTree(const std::filesystem::path& path) {
    if (path.native().find('/') == std::string::npos) {
        return false;
    }
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return true;
    }
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

bool DocumentStaging::WriteReceivedFile(const std::filesystem::path& path, std::string_view base64Text) {
    // O_NOFOLLOW: a link an earlier archive left under this name must not redirect the write.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kReceivedFileMode);
    if (fd < 0) {
        EventLog::Write("[ERROR] Unable to write %s: error %d", path.c_str(), errno);
        return false;
    }
    // Decoded a piece at a time: the document never exists whole in memory beside its Base64.
    Base64::Decoder decoder;
    std::vector<char> bytes(Base64::MaxDecodedSize(std::min(base64Text.size(), kDecodePiece)));
    bool written = true;
    for (std::size_t at = 0; written && at < base64Text.size(); at += kDecodePiece) {
        const std::size_t size = decoder.Feed(base64Text.substr(at, kDecodePiece), bytes.data());
        written = WriteAll(fd, bytes.data(), size);
    }
    if (written) {
        const std::size_t tail = decoder.Finish(bytes.data());
        written = WriteAll(fd, bytes.data(), tail);
    }
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        EventLog::Write("[ERROR] Unable to write %s: error %d", path.c_str(), errno);
        return false;
    }
    return true;
}

bool DocumentStaging::RemoveFolder(const std::filesystem::path& path, bool recursive, int& error) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        error = errno;
        return false;
    }
    // A link or file in place of the folder goes by itself; what a link points at is not ours to delete.
    if (!S_ISDIR(info.st_mode)) {
        if (::unlink(path.c_str()) != 0) {
            error = errno;
            return false;
        }
        return true;
    }
    std::error_code failure;
    std::filesystem::directory_iterator it(path, failure);
    if (failure) {
        error = failure.value();
        return false;
    }
    for (std::filesystem::directory_iterator end; it != end; it.increment(failure)) {
        const std::filesystem::file_status status = it->symlink_status(failure);
        if (failure) {
            break;
        }
        if (status.type() == std::filesystem::file_type::directory) {
            if (recursive && !RemoveFolder(it->path(), true, error)) {
                return false;
            }
            continue;
        }
        if (::unlink(it->path().c_str()) != 0) {
            error = errno;
            return false;
        }
    }
    if (failure) {
        error = failure.value();
        EventLog::Write("Failed to RemoveDirectory %s : error %d", path.c_str(), error);
        return false;
    }
    if (::rmdir(path.c_str()) != 0) {
        error = errno;
        return false;
    }
    return true;
}

bool DocumentStaging::ExtractArchive(const std::filesystem::path& archive,
                                     const std::filesystem::path& outputFolder,
                                     std::chrono::milliseconds timeLimit, std::uint64_t sizeLimit,
                                     bool mayBeTheDocument, std::stop_token stop) {
    const std::filesystem::path executableFolder = DataFolder::ExecutableFolder();
    const std::filesystem::path program = ArchiveProgram(executableFolder);
    if (program.empty()) {
        EventLog::Write("[ERROR] %s not found beside the program nor on PATH", kArchiveProgram);
        return false;
    }
    const auto overran = [&] {
        // What it left behind may be cut short; it must not be printed as the document.
        EventLog::Write("[ERROR] %s stopped after %lld ms on %s", kArchiveProgram,
                        static_cast<long long>(timeLimit.count()), archive.c_str());
        return false;
    };

    // "-p" with an empty password: an encrypted archive fails at once instead of asking for one.
    std::string listing;
    int exitCode = 0;
    if (!HiddenProcess::RunForOutput(program, {"l", "-slt", "-p", archive.string()}, executableFolder,
                                     exitCode, listing, kListingLimit, timeLimit, stop)) {
        EventLog::Write("[ERROR] Unable to start %s", program.c_str());
        return false;
    }
    if (exitCode == HiddenProcess::kTimedOut) {
        return overran();
    }
    if (exitCode == HiddenProcess::kStopped && stop.stop_requested()) {
        return false;
    }
    if (exitCode == HiddenProcess::kStopped) {
        EventLog::Write("[ERROR] %s refused: it lists more than %zu entries", archive.c_str(), kEntryLimit);
        return false;
    }
    if (exitCode >= kFirstFailureExitCode || exitCode < 0) {
        if (mayBeTheDocument) {
            // Sent as it is, without an archive around it.
            return true;
        }
        EventLog::Write("[ERROR] %s refused: %s cannot read it (code %d)", archive.c_str(), kArchiveProgram,
                        exitCode);
        return false;
    }
    const ArchiveListing content = ParseListing(listing);
    const std::uint64_t room = UnpackRoom(outputFolder, sizeLimit);
    if (content.entries > kEntryLimit) {
        EventLog::Write("[ERROR] %s refused: it holds %zu entries, more than the %zu allowed",
                        archive.c_str(), content.entries, kEntryLimit);
        return false;
    }
    if (content.bytes > room) {
        EventLog::Write("[ERROR] %s refused: it would unpack %llu bytes, more than the %llu allowed",
                        archive.c_str(), static_cast<unsigned long long>(content.bytes),
                        static_cast<unsigned long long>(room));
        return false;
    }

    // Sizes the archive does not declare, or declares falsely, are held to the same room.
    const std::uint64_t before = FolderBytes(outputFolder);
    bool outgrown = false;
    const std::vector<std::string> arguments = {"e", archive.string(), "-y", "-p",
                                                "-o" + outputFolder.string()};
    if (!HiddenProcess::RunHiddenProcess(
            program, arguments, executableFolder, true, exitCode, timeLimit,
            [&] {
                outgrown = FolderBytes(outputFolder) - before > room;
                return !outgrown;
            },
            stop)) {
        EventLog::Write("[ERROR] Unable to start %s", program.c_str());
        return false;
    }
    if (exitCode == HiddenProcess::kStopped && outgrown) {
        EventLog::Write("[ERROR] %s refused: it unpacked more than the %llu bytes allowed", archive.c_str(),
                        static_cast<unsigned long long>(room));
        ClearUnpacked(outputFolder, archive);
        return false;
    }
    if (exitCode == HiddenProcess::kStopped && stop.stop_requested()) {
        EventLog::Write("[WARNING] %s stopped on %s: the program is ending", kArchiveProgram,
                        archive.c_str());
        ClearUnpacked(outputFolder, archive);
        return false;
    }
    if (exitCode == HiddenProcess::kTimedOut) {
        ClearUnpacked(outputFolder, archive);
        return overran();
    }
    if (exitCode >= kFirstFailureExitCode || exitCode < 0) {
        // A truncated or damaged archive leaves documents cut short.
        EventLog::Write("[ERROR] %s ended with code %d on %s", kArchiveProgram, exitCode, archive.c_str());
        ClearUnpacked(outputFolder, archive);
        return false;
    }
    if (exitCode != 0) {
        EventLog::Write("[WARNING] %s ended with code %d on %s", kArchiveProgram, exitCode, archive.c_str());
    }
    return true;
}

bool DocumentStaging::FolderHasPdf(const std::filesystem::path& folder, const std::string& receivedFileName) {
    return !PdfPrinting::ListPdfFiles(folder, receivedFileName).empty();
}

std::string DocumentStaging::FormatPrintDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[kDateBufferSize];
    std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", &local);
    return text;
}

bool DocumentStaging::IsPdfName(std::string_view name) {
    return DocumentNames::IsPdfName(name);
}

bool DocumentStaging::IsPlainFileName(std::string_view name) {
    return DocumentNames::IsPlainFileName(name);
}

PrintResult DocumentStaging::PrintReceivedDocument(const PrintRequest& request, const PrintContext& context) {
    PrintResult result = context.stop.stop_requested()
                             ? PrintResult::PrintFailed(kEndedByTheEnd, 0, PrintResult::Cause::Ended)
                             : PrintStagedDocument(request, context);
    // A print that the end of the service cut short is not known to be printed.
    if (context.stop.stop_requested() && !result.IsPrinted()) {
        EventLog::Write("[WARNING] Printing %s ended by the end of the program", request.fileName.c_str());
        result = PrintResult::PrintFailed(kEndedByTheEnd, result.printerStatus, PrintResult::Cause::Ended);
    }
    return result;
}

PrintResult DocumentStaging::PrintStagedDocument(const PrintRequest& request, const PrintContext& context) {
    const std::filesystem::path& workingFolder = request.workingFolder;
    const std::string& receivedFileName = request.fileName;
    const std::string& documentName = request.documentName;
    if (workingFolder.empty() || !IsPlainFileName(receivedFileName) ||
        !IsRegularFile(workingFolder / receivedFileName)) {
        // When the data folder is to blame, the person running the server hears the real cause.
        DataFolder::ReportWriteProblem();
        return PrintResult::Failed(PrintResult::Code::ReceivedFileMissing,
                                   "the received file was not stored");
    }
    const std::filesystem::path receivedFile = workingFolder / receivedFileName;
    if (!AppSettings::Instance().IsOffered(request.printer)) {
        EventLog::Write("[ERROR] %s is not a printer offered to devices", request.printer.c_str());
        // For the device it is as if the printer did not exist: it is not one it was offered.
        return PrintResult::PrintFailed(request.printer + " is not a printer offered to devices",
                                        PrinterStatus::kServerUnknown, PrintResult::Cause::NotAPrinter);
    }

    IMainWindowPort* mainWindow = context.mainWindow;
    if (mainWindow != nullptr && MainWindowFlags::shown && MainWindowFlags::previewIsPdf) {
        mainWindow->ShowWaitingPage(true, kWaitingPageTimeout, context.stop);
    }

    // Unpacking and handing over take a slot; the verdict is waited for without one.
    std::optional<PrintSlots::Slot> slot;
    if (context.slots != nullptr) {
        slot = context.slots->Acquire(context.stop);
        if (!slot) {
            return PrintResult::PrintFailed(kEndedByTheEnd, 0, PrintResult::Cause::Ended);
        }
    }
    const auto releaseSlot = [&slot] {
        if (slot) {
            slot->Release();
        }
    };

    const bool sentAsItIs = receivedFileName == documentName;
    if (!ExtractArchive(receivedFile, workingFolder, kExtractTimeLimit, kUnpackLimit, sentAsItIs,
                        context.stop)) {
        return PrintResult::Failed(PrintResult::Code::DecompressFailed,
                                   receivedFileName + " could not be unpacked");
    }
    if (!IsPlainFileName(documentName)) {
        return PrintResult::Failed(PrintResult::Code::DocumentMissing,
                                   "the document name is not a file name");
    }
    // The document is found whatever the letter case of its name, and opened by its real name. A
    // missing PDF name does not stop the request: the PDF road prints whatever PDF files there are.
    const std::optional<std::string> document = DocumentNames::FindRegularFile(workingFolder, documentName);
    if (!document && !IsPdfName(documentName)) {
        return PrintResult::Failed(PrintResult::Code::DocumentMissing,
                                   documentName + " is not in the archive");
    }

    // An archive named after its PDF is not printed itself; a PDF sent without an archive still is.
    const std::string archiveName = sentAsItIs ? std::string() : receivedFileName;
    if (FolderHasPdf(workingFolder, archiveName)) {
        return PdfPrinting::PrintPdfDocuments(request, archiveName, releaseSlot, context.stop);
    }
    if (!document) {
        return PrintResult::Failed(PrintResult::Code::DocumentMissing,
                                   documentName + " is not in the archive");
    }
    // A picture is printed as the picture by the spooler; the browser would print its own page for it.
    if (DocumentNames::IsPicture(workingFolder / *document)) {
        return PdfPrinting::PrintFiles(request, {*document}, releaseSlot, context.stop);
    }
    return PrintThroughBrowser(request, *document, context, releaseSlot);
}
