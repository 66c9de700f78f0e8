#pragma once

#include <atomic>

// Process-wide flags written by the GUI thread and read by printing workers.
struct MainWindowFlags {
    // The main window is shown (restored from the tray, pen-drive preview).
    static inline std::atomic<bool> shown = false;
    // The document of the last print-job record is a PDF.
    static inline std::atomic<bool> previewIsPdf = false;
};
