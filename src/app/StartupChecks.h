#pragma once

#include <string>

class AppSettings;

// What keeps the server from doing its work, said at start on standard error and in the log, so that
// a person running it learns the real cause before the first device is turned away.
class StartupChecks {
public:
    // The settings file could not be read: its name, why, and that the defaults are used.
    static void ReportSettings(const AppSettings& settings);
    // The data folder is missing or cannot be written.
    static void ReportDataFolder();
    // The spooler cannot be reached (with the server that was tried).
    static void ReportSpooler();
    // No printer is offered: devices will see an empty list. Also traced, so the trace window and the
    // service's output say it where a person looks. Returns the text said, empty when printers are offered.
    static std::string ReportPrintersOffered(const AppSettings& settings);
};
