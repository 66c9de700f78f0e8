#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>

class IMainWindowPort;

// Hands one document of a pen drive over to printing on the chosen printer. A PDF or a picture goes to
// the spooler as one job with the document's copies (the preview page prints neither); any other
// document goes to the main window as a print-job record, whose preview page submits it. Either
// way the document counts as handed over only once the spooler has taken every job of it, so that
// the printed mark on the drive never stands for a print that did not happen.
class DriveDocumentPrinting {
public:
    enum class HandOver {
        // The spooler has the document.
        Taken,
        // No document file (a regular file, links are not followed) in its folder.
        Missing,
        // Refused, no main window for a document that is no PDF, not printed in time, or stopped.
        NotTaken,
    };

    // How long the preview page may take, documents of the network before this one included.
    static constexpr std::chrono::milliseconds kHandOverLimit{60000};

    // `copies` from the description file, brought into the range every road prints (Copies). `tick` is the id
    // of the record. Returns early, NotTaken, when `stop` is requested.
    static HandOver PrintDriveDocument(const std::string& printerName,
                                       const std::filesystem::path& documentPath, std::int32_t copies,
                                       const std::filesystem::path& folder, std::uint32_t tick,
                                       IMainWindowPort* mainWindow, std::stop_token stop = {},
                                       std::chrono::milliseconds limit = kHandOverLimit);
    // Sleeps for `duration` unless a stop is requested meanwhile; false when it was.
    static bool SleepUnlessStopped(std::chrono::milliseconds duration, const std::stop_token& stop);

private:
    // PrintDriveDocument without telling the main window what became of the document.
    static HandOver HandOverDocument(const std::string& printerName,
                                     const std::filesystem::path& documentPath, std::int32_t copies,
                                     const std::filesystem::path& folder, std::uint32_t tick,
                                     IMainWindowPort* mainWindow, const std::stop_token& stop,
                                     std::chrono::milliseconds limit);
};
