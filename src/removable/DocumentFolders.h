#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "removable/RemovableDocument.h"
#include "removable/VolumeSources.h"

// Documents that client devices leave on pen drives: each in a sub-folder of the folder "Ferrulo" at
// the root of the drive, with its description file "printinfo.xml". A "drive" is the mount point of
// a removable volume; log lines name it where drive letters were printed before.
//
// Names on the drive are matched without regard to case, as the file systems of pen drives do, and
// files are opened by their real names. Links are never followed out of a document folder.
class DocumentFolders {
public:
    static constexpr const char* kDocumentRootName = "Ferrulo";
    static constexpr const char* kDescriptionFileName = "printinfo.xml";

    // Whether the last listing found a removable drive; the tray menu reads it.
    static inline std::atomic<bool> removableDrivePresent = false;

    explicit DocumentFolders(VolumeSources sources = {});

    // The mount points of the removable volumes, in mount-point order; sets removableDrivePresent.
    std::vector<std::filesystem::path> ListRemovableDrives() const;
    // Whether the drive has a document root (any kind of entry of that name counts).
    static bool HasDocumentFolder(const std::filesystem::path& drive);
    // Empties both lists and fills them with one record per document folder on every removable drive.
    void ScanDocumentFolders(std::vector<RemovableDocument>& list,
                             std::vector<RemovableDocument>& second) const;
    // The same records, each handed to `found` as soon as its description file has been read; a stop
    // requested meanwhile ends the scan before the next document folder.
    void ScanDocumentFolders(const std::function<void(RemovableDocument)>& found,
                             const std::stop_token& stop = {}) const;
    // Fills the record from the folder's description file, adding `printed` = "0" to a file without it.
    static void ReadDocumentInfo(const std::filesystem::path& folder, RemovableDocument& record);
    // Sets `printed` to "1" in the description file of the record whose document path equals `documentPath`
    // without regard to case. True when the file was written.
    static bool MarkDocumentPrinted(const std::filesystem::path& documentPath,
                                    const std::vector<RemovableDocument>& list);
    // " dd.mm.yyyy HH:MM:SS" from the 14 digits; empty for a text that is no valid time.
    static std::string FormatDocumentDate(std::string_view datetime);

    // The entry of `folder` named `name` without regard to ASCII case; `folder / name` when none is.
    static std::filesystem::path FindEntry(const std::filesystem::path& folder, const std::string& name);

private:
    VolumeSources sources;
};
