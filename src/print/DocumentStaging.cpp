#include "print/DocumentStaging.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "config/AppSettings.h"
#include "platform/TickCount.h"
#include "print/HiddenProcess.h"
#include "print/PdfPrinting.h"
#include "print/PrintJobRecord.h"
#include "print/PrintQueueWatch.h"
#include "print/PrinterStatus.h"
#include "protocol/Base64.h"
#include "ui/IMainWindowPort.h"
#include "ui/MainWindowFlags.h"

namespace {

constexpr std::size_t kDateBufferSize = 1024;
constexpr mode_t kReceivedFileMode = 0644;
// Enough for every request of one millisecond to get a folder of its own.
constexpr int kMaxFolderSuffix = 1000;

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

} // namespace

std::filesystem::path DocumentStaging::GetStagingRoot() {
    return DataFolder::Path();
}

void DocumentStaging::CreateJobFolder(std::filesystem::path& folder, std::uint32_t& tick) {
    const std::filesystem::path root = GetStagingRoot();
    if (root.empty()) {
        folder.clear();
        return;
    }
    if (AppSettings::Instance().backup) {
        tick = TickCount();
        const std::string name = HexTick(tick);
        std::error_code error;
        std::filesystem::create_directories(root, error);
        folder = root / name;
        // The folder is made here, so a second request of the same millisecond cannot take it too.
        for (int suffix = 1; suffix <= kMaxFolderSuffix; ++suffix) {
            if (std::filesystem::create_directory(folder, error)) {
                return;
            }
            folder = root / (name + "-" + std::to_string(suffix));
        }
        EventLog::Write("[ERROR] No free working folder for %s", name.c_str());
        return;
    }
    folder = root / kSingleJobFolder;
    int error = 0;
    std::error_code exists;
    if (std::filesystem::exists(std::filesystem::symlink_status(folder, exists)) &&
        !RemoveFolder(folder, false, error)) {
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
    std::vector<char> bytes(Base64::MaxDecodedSize(base64Text.size()));
    const std::size_t size = Base64::DecodeInto(base64Text, bytes.data());
    // O_NOFOLLOW: a link an earlier archive left under this name must not redirect the write.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kReceivedFileMode);
    if (fd < 0) {
        EventLog::Write("[ERROR] Unable to write %s: error %d", path.c_str(), errno);
        return false;
    }
    const bool written = WriteAll(fd, bytes.data(), size);
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
    // A link in place of the folder goes by itself; what it points at is not ours to delete.
    if (S_ISLNK(info.st_mode)) {
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
                                     std::chrono::milliseconds timeLimit) {
    const std::filesystem::path executableFolder = DataFolder::ExecutableFolder();
    const std::filesystem::path program = HiddenProcess::FindProgram(kArchiveProgram, executableFolder);
    if (program.empty()) {
        EventLog::Write("[ERROR] %s not found beside the program nor on PATH", kArchiveProgram);
        return false;
    }
    // "-p" with an empty password: an encrypted archive fails at once instead of asking for one.
    const std::vector<std::string> arguments = {"e", archive.string(), "-y", "-p",
                                                "-o" + outputFolder.string()};
    int exitCode = 0;
    if (!HiddenProcess::RunHiddenProcess(program, arguments, executableFolder, true, exitCode, timeLimit)) {
        EventLog::Write("[ERROR] Unable to start %s", program.c_str());
        return false;
    }
    if (exitCode == HiddenProcess::kTimedOut) {
        // What it left behind may be cut short; it must not be printed as the document.
        EventLog::Write("[ERROR] %s stopped after %lld ms on %s", kArchiveProgram,
                        static_cast<long long>(timeLimit.count()), archive.c_str());
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
    constexpr std::string_view kPdf = ".PDF";
    if (name.size() < kPdf.size()) {
        return false;
    }
    for (std::size_t at = 0; at + kPdf.size() <= name.size(); ++at) {
        if (std::equal(
                kPdf.begin(), kPdf.end(), name.begin() + static_cast<std::ptrdiff_t>(at),
                [](char wanted, char c) { return wanted == (c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); })) {
            return true;
        }
    }
    return false;
}

bool DocumentStaging::IsPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name.find('/') == std::string_view::npos &&
           name.find('\\') == std::string_view::npos && name.find("..") == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

int DocumentStaging::PrintReceivedDocument(const std::string& receivedFileName,
                                           const std::string& printerName, const std::string& documentName,
                                           int copies, const std::filesystem::path& workingFolder,
                                           std::uint32_t tick, IMainWindowPort* mainWindow,
                                           std::uint32_t& printerStatus) {
    // Jobs the spooler shows from before this moment belong to earlier requests.
    const std::time_t requestTime = std::time(nullptr);
    if (workingFolder.empty() || !IsPlainFileName(receivedFileName)) {
        return kResultReceivedFileMissing;
    }
    const std::filesystem::path receivedFile = workingFolder / receivedFileName;
    if (!IsRegularFile(receivedFile)) {
        return kResultReceivedFileMissing;
    }

    if (mainWindow != nullptr && MainWindowFlags::shown && MainWindowFlags::previewIsPdf) {
        mainWindow->ShowWaitingPage(true, kWaitingPageTimeout);
        std::this_thread::sleep_for(kWaitingPagePause);
    }

    if (!ExtractArchive(receivedFile, workingFolder)) {
        return kResultDecompressFailed;
    }
    if (!IsPlainFileName(documentName)) {
        return kResultDocumentMissing;
    }
    // A missing PDF name does not stop the request: the PDF road prints whatever PDF files there are.
    const bool documentThere = IsRegularFile(workingFolder / documentName);
    if (!documentThere && !IsPdfName(documentName)) {
        return kResultDocumentMissing;
    }

    // An archive named after its PDF is not printed itself; a PDF sent without an archive still is.
    const std::string archiveName = receivedFileName == documentName ? std::string() : receivedFileName;
    int roadResult = 0;
    if (FolderHasPdf(workingFolder, archiveName)) {
        roadResult = PdfPrinting::PrintPdfDocuments(printerName, documentName, copies, printerStatus,
                                                    workingFolder, requestTime, archiveName);
    } else {
        if (!documentThere) {
            return kResultDocumentMissing;
        }
        // A job of the same name from the previous request may carry the same second; it must not
        // count for this one.
        const int lastJobId = PrintQueueWatch::LastJobId(printerName, requestTime);
        if (mainWindow != nullptr) {
            auto record = std::make_unique<PrintJobRecord>();
            record->printerName = printerName;
            record->receivedFileName = receivedFileName;
            record->documentName = documentName;
            record->copies = copies;
            record->workingFolder = workingFolder.string();
            record->date = FormatPrintDate();
            record->id = tick;
            mainWindow->PostPrintDocument(std::move(record));
        }
        roadResult = PrintQueueWatch::WaitForPrinterResult(printerName, documentName, printerStatus,
                                                           requestTime, lastJobId);
    }
    if (roadResult == 0) {
        return kResultPrintFailed;
    }
    const std::uint32_t shared = PrinterStatus::Shared().Get();
    if (PrinterStatus::IsError(shared)) {
        // The device learns why: a job that failed during the watch leaves its status here.
        printerStatus = shared;
        return kResultPrintFailed;
    }
    return kResultPrinted;
}
