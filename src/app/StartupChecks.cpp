#include "app/StartupChecks.h"

#include <algorithm>

#include "app/DataFolder.h"
#include "app/ServiceProblems.h"
#include "config/AppSettings.h"
#include "print/Spooler.h"

using Problem = ServiceProblems::Problem;

void StartupChecks::ReportSettings(const AppSettings& settings, ServiceProblems& problems) {
    problems.Report(Problem::SettingsUnreadable, settings.path, settings.LoadProblem());
}

void StartupChecks::ReportDataFolder(ServiceProblems& problems) {
    const std::filesystem::path inUse = DataFolder::Path();
    const std::filesystem::path folder = inUse.empty() ? DataFolder::Locate() : inUse;
    if (const std::optional<std::string> problem = DataFolder::WriteProblem(folder)) {
        problems.Report(Problem::DataFolderNotWritable, folder.string(), *problem);
    } else if (inUse.empty()) {
        problems.Report(Problem::DataFolderNotWritable, folder.string(), "it could not be made");
    }
}

void StartupChecks::ReportSpooler(ServiceProblems& problems) {
    Spooler spooler;
    if (spooler.Reachable()) {
        problems.Resolved(Problem::SpoolerUnreachable);
    } else {
        problems.Report(Problem::SpoolerUnreachable, Spooler::ServerName(), spooler.ErrorText());
    }
}

std::vector<std::string>
StartupChecks::ReportPrintersOffered(const AppSettings& settings,
                                     const std::optional<std::vector<std::string>>& queues,
                                     ServiceProblems& problems) {
    const std::vector<std::string> offered = settings.Printers();
    std::vector<std::string> said;
    const auto report = [&](Problem problem, const std::string& subject) {
        if (problems.Report(problem, subject)) {
            said.push_back(problems.Current().back());
        }
    };
    if (offered.empty()) {
        report(Problem::NoPrinterOffered, {});
    } else {
        problems.Resolved(Problem::NoPrinterOffered);
    }
    std::vector<std::string> unknown;
    if (queues) {
        for (const std::string& printer : offered) {
            if (std::find(queues->begin(), queues->end(), printer) == queues->end()) {
                unknown.push_back(printer);
            }
        }
    }
    // A printer that was mended or is no longer offered is forgotten; one still unknown stays said.
    for (const std::string& printer : problems.Subjects(Problem::UnknownPrinter)) {
        if (std::find(unknown.begin(), unknown.end(), printer) == unknown.end()) {
            problems.Resolved(Problem::UnknownPrinter, printer);
        }
    }
    for (const std::string& printer : unknown) {
        report(Problem::UnknownPrinter, printer);
    }
    return said;
}
