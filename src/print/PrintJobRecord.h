#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "print/BrowserPrintOutcome.h"

// A document to print through the main window (browser road, pen drives) and a register entry.
struct PrintJobRecord {
    std::string printerName;
    std::string receivedFileName;
    std::string documentName;
    std::int32_t copies = 1;
    std::string workingFolder;
    std::string date;
    std::uint32_t id = 0;
    // Where the preview page reports what it printed; null when nobody waits for it. Copies of the
    // record share it.
    std::shared_ptr<BrowserPrintOutcome> outcome;
};
