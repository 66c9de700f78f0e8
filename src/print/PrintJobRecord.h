#pragma once

#include <cstdint>
#include <string>

// A document to print through the main window (browser road, pen drives) and a register entry.
struct PrintJobRecord {
    std::string printerName;
    std::string receivedFileName;
    std::string documentName;
    std::int32_t copies = 1;
    std::string workingFolder;
    std::string date;
    std::uint32_t id = 0;
};
