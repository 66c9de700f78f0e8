#include "app/ServiceProblems.h"

#include <algorithm>
#include <cstdio>

#include "app/EventLog.h"
#include "config/AppSettings.h"

namespace {

using Problem = ServiceProblems::Problem;
using Audience = ServiceProblems::Audience;

enum TextId : unsigned {
    kPortTakenText = 197,
    kPortUnavailableText = 198,
    kNoPrinterText = 199,
    kUnknownPrinterText = 200,
    kSpoolerText = 201,
    kDataFolderText = 202,
    kSettingsText = 203,
};

std::string SettingsFile() {
    const std::string& path = AppSettings::Instance().path;
    return path.empty() ? std::string("qopra.xml") : path;
}

} // namespace

std::string ServiceProblems::Describe(Problem problem, Audience audience, const std::string& subject,
                                      const std::string& cause, const std::string& settingsFile) {
    const bool desktop = audience == Audience::Desktop;
    switch (problem) {
    case Problem::SettingsUnreadable:
        return "The settings file " + subject + " cannot be read (" + cause +
               "), using defaults. Mend or delete the file, then restart Qopra" +
               (desktop ? "." : " (sudo systemctl restart qopra).");
    case Problem::DataFolderNotWritable:
        return "Cannot write the data folder " + subject + ": " + cause +
               ". Nothing is logged and no document can be received: make the folder writable for " +
               (desktop ? "your user" : "the service's user") + ", then restart Qopra.";
    case Problem::SpoolerUnreachable:
        return "Cannot reach the spooler at " + subject + ": " + cause +
               ". Nothing can be printed until it answers: start CUPS (sudo systemctl start cups), or " +
               (desktop ? "set CUPS_SERVER to the spooler's host."
                        : "set CUPS_SERVER in the service's environment (sudo systemctl edit qopra).");
    case Problem::NoPrinterOffered:
        return desktop
                   ? std::string("No printer is offered: devices will see an empty printer list. Choose "
                                 "the printers in the settings window (Configure in the tray menu).")
                   : "No printer is offered: devices will see an empty printer list. Edit " + settingsFile +
                         ": list the printers as <printer> elements of <printers> (lpstat -e names the "
                         "queues), then restart the service.";
    case Problem::UnknownPrinter:
        return "The offered printer " + subject +
               " is not a queue of the spooler: devices printing on it are refused. " +
               (desktop ? std::string("Tick the printers of this computer in the settings window (lpstat -e "
                                      "lists the queues).")
                        : "Edit " + settingsFile +
                              ": correct the <printer> element (lpstat -e lists the queues), then restart "
                              "the service.");
    case Problem::PortTaken:
    case Problem::PortUnavailable: {
        std::string text = "Unable to start UDP server on port " + subject + ": " + cause +
                           ". Devices cannot reach this computer.";
        if (problem == Problem::PortTaken) {
            text += " Another program holds the port, perhaps a second Qopra (the service beside the desktop "
                    "program): sudo ss -ulpn 'sport = :" +
                    subject + "' names it. Stop it, or";
        } else {
            text += " Choose another port:";
        }
        text += desktop ? " choose another UDP port in the settings window"
                        : " set another <local_port> in " + settingsFile + " and restart the service";
        return text + "; the devices must use the same port. Qopra tries again every 5 seconds.";
    }
    }
    return {};
}

std::string ServiceProblems::Notice(Problem problem, const std::string& subject, const std::string& cause) {
    switch (problem) {
    case Problem::SettingsUnreadable:
        return DesktopNotices::Text(kSettingsText,
                                    "The settings file %1 cannot be read (%2): the defaults are used. Mend "
                                    "or delete it and restart Qopra.",
                                    {subject, cause});
    case Problem::DataFolderNotWritable:
        return DesktopNotices::Text(kDataFolderText,
                                    "The data folder %1 cannot be written (%2): nothing is logged or "
                                    "received. Make it writable and restart Qopra.",
                                    {subject, cause});
    case Problem::SpoolerUnreachable:
        return DesktopNotices::Text(kSpoolerText,
                                    "The print spooler cannot be reached (%1): nothing can be printed. Start "
                                    "CUPS (sudo systemctl start cups) or set CUPS_SERVER.",
                                    {subject});
    case Problem::NoPrinterOffered:
        return DesktopNotices::Text(
            kNoPrinterText,
            "No printer is offered: devices see an empty list. Tick the printers in the settings window.");
    case Problem::UnknownPrinter:
        return DesktopNotices::Text(
            kUnknownPrinterText,
            "The offered printer %1 is not a printer of this computer: devices printing on it are refused. "
            "Tick the printers in the settings window (lpstat -e lists them).",
            {subject});
    case Problem::PortTaken:
        return DesktopNotices::Text(kPortTakenText,
                                    "Devices cannot reach this computer: the UDP port %1 is taken by another "
                                    "program, perhaps Qopra running as a service. Stop it, or choose another "
                                    "UDP port in the settings window; the devices must use the same port.",
                                    {subject});
    case Problem::PortUnavailable:
        return DesktopNotices::Text(
            kPortUnavailableText,
            "Devices cannot reach this computer: the UDP port %1 cannot be opened (%2). Choose another UDP "
            "port in the settings window; the devices must use the same port.",
            {subject, cause});
    }
    return {};
}

bool ServiceProblems::Report(Problem problem, const std::string& subject, const std::string& cause) {
    const bool known = std::any_of(said.begin(), said.end(), [&](const Said& each) {
        return each.problem == problem && each.subject == subject;
    });
    if (known) {
        return false;
    }
    const std::string text = Describe(problem, audience, subject, cause, SettingsFile());
    said.push_back({problem, subject, text});
    std::fprintf(stderr, "qopra2: %s\n", text.c_str());
    std::fflush(stderr);
    EventLog::Write("[ERROR] %s", text.c_str());
    notices.CannotServe(Notice(problem, subject, cause));
    return true;
}

void ServiceProblems::Resolved(Problem problem) {
    std::erase_if(said, [problem](const Said& each) { return each.problem == problem; });
}

void ServiceProblems::Resolved(Problem problem, const std::string& subject) {
    std::erase_if(said, [&](const Said& each) { return each.problem == problem && each.subject == subject; });
}

std::vector<std::string> ServiceProblems::Subjects(Problem problem) const {
    std::vector<std::string> subjects;
    for (const Said& each : said) {
        if (each.problem == problem) {
            subjects.push_back(each.subject);
        }
    }
    return subjects;
}

bool ServiceProblems::Known(Problem problem) const {
    return std::any_of(said.begin(), said.end(),
                       [problem](const Said& each) { return each.problem == problem; });
}

std::vector<std::string> ServiceProblems::Current() const {
    std::vector<std::string> texts;
    for (const Said& each : said) {
        texts.push_back(each.text);
    }
    return texts;
}
