#include "app/StartupChecks.h"

#include "app/DataFolder.h"
#include "app/ProblemReport.h"
#include "config/AppSettings.h"
#include "print/Spooler.h"

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
