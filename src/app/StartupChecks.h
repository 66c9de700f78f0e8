#pragma once

#include <optional>
#include <string>
#include <vector>

class AppSettings;
class ServiceProblems;

// What keeps the server from doing its work, looked for at the start (and the printers again whenever
// they change), so that the person running it learns the real cause before the first device is
// turned away. Each finding goes to `problems`, which says it once.
class StartupChecks {
public:
    // The settings file could not be read: its name, why, and that the defaults are used.
    static void ReportSettings(const AppSettings& settings, ServiceProblems& problems);
    // The data folder is missing or cannot be written.
    static void ReportDataFolder(ServiceProblems& problems);
    // The spooler cannot be reached (with the server that was tried).
    static void ReportSpooler(ServiceProblems& problems);
    // No printer is offered, or an offered printer is no queue of the spooler (`queues`; nothing when
    // the spooler cannot be asked, and then no printer is called unknown). Problems that are over are
    // resolved. Returns the texts said now.
    static std::vector<std::string>
    ReportPrintersOffered(const AppSettings& settings, const std::optional<std::vector<std::string>>& queues,
                          ServiceProblems& problems);
};
