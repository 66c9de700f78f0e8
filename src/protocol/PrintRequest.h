#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "protocol/SharedText.h"

// One print command of a device, from its reading to its answer. Staging, unpacking, submitting and
// watching each work on the request they are given; two requests share nothing, so they run side by
// side.
struct PrintRequest {
    // The connection that delivered it ("ID" and a tick count): names the request in the trace.
    std::string connectionId;
    // The device's address.
    std::string device;
    // "FILE_NAME": the received file, in the working folder.
    std::string fileName;
    // "FILE_PREVIEW": the document inside it.
    std::string documentName;
    // "PRINTER" as the device named it, and the installed printer it stands for (alias resolved).
    std::string printerName;
    std::string printer;
    // "COPIES" as read, and the copies printed (Copies::Bound).
    std::int32_t requestedCopies = 1;
    std::int32_t copies = 1;
    // "FILE_CONTENT": the received file in Base64; released once it is written.
    SharedText content;

    // Given by staging: the request's own folder, and with backup on the register's key (its tick).
    std::filesystem::path workingFolder;
    std::uint32_t registerId = 0;
    // The folder is a backup copy, kept after the request.
    bool folderKept = false;
};
