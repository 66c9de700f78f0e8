#pragma once

#include <cstdint>
#include <string>

#include "print/PrintResult.h"

// What became of one print, of a device or of a pen drive, for the main window: it shows the document
// printed last, keeps a printed one in the register when backup is on, and tells the person.
struct PrintReport {
    // The device's address and its connection ("ID…"); empty for a pen drive.
    std::string device;
    std::string connectionId;
    std::string receivedFileName;
    std::string documentName;
    std::string printer;
    std::int32_t copies = 1;
    // Where the document lies; `kept` when that folder is a backup copy the register may list.
    std::string workingFolder;
    std::uint32_t registerId = 0;
    bool kept = false;
    PrintResult result;
};
