#include "app/StartupChecks.h"

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/ProblemReport.h"

#include "config/AppSettings.h"
#include "print/Spooler.h"
#include <cstdio>

void StartupChecks::ReportSettings(const AppSettings& settings) {
    ProblemReport::Say("The settings file %s cannot be read (%s), using defaults", settings.path.c_str(),
                       settings.LoadProblem().c_str());
}

void StartupChecks::ReportDataFolder() {
    if (!DataFolder::ReportWriteProblem() && DataFolder::Path().empty()) {
        ProblemReport::Say("Running without the data folder %s: no log, no saved settings",
                           DataFolder::Locate().c_str());
    }
}

void StartupChecks::ReportSpooler() {
    Spooler spooler;
    if (!spooler.Reachable()) {
        spooler.ReportIfUnreachable();
    }
}

std::string StartupChecks::ReportPrintersOffered(const AppSettings& settings) {
    if (!settings.Printers().empty()) {
        return {};
    }
    const std::string file = settings.path.empty() ? std::string("qopra.xml") : settings.path;
    const std::string text = "No printer is offered: devices will see an empty printer list. Choose the "
                             "printers in the settings window, or list them as <printer> elements of "
                             "<printers> in " +
                             file;
    std::fprintf(stderr, "qopra2: %s\n", text.c_str());
    std::fflush(stderr);
    EventLog::Write("[WARNING] %s", text.c_str());
    return text;
}
