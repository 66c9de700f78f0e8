#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/DesktopNotices.h"

// What keeps the server from serving the devices, said once where the person running it looks: on
// standard error, in the log as an "[ERROR] " line, and on the desktop as a notification. A problem
// that persists (a port retried every few seconds) is not said again until it has been resolved.
// The service's administrator is told to edit the settings file, the desktop's user to use the
// settings window. GUI thread.
class ServiceProblems {
public:
    enum class Problem {
        SettingsUnreadable,
        DataFolderNotWritable,
        SpoolerUnreachable,
        NoPrinterOffered,
        UnknownPrinter,
        PortTaken,
        PortUnavailable,
    };
    enum class Audience { Desktop, Service };

    ServiceProblems(Audience audience, DesktopNotices& notices) : audience(audience), notices(notices) {}

    void SetAudience(Audience who) { audience = who; }

    // Says `problem` about `subject` (the port, the printer, the file) for `cause` (the system's
    // words), unless it is already known since it was last resolved. True when it was said now.
    bool Report(Problem problem, const std::string& subject = {}, const std::string& cause = {});
    // The problem is over: when it comes back it is said again.
    void Resolved(Problem problem);
    void Resolved(Problem problem, const std::string& subject);
    bool Known(Problem problem) const;
    // The subjects `problem` is known for.
    std::vector<std::string> Subjects(Problem problem) const;
    // The texts of the problems known now, in the order they were said.
    std::vector<std::string> Current() const;

    // The English text of a problem for `audience`: what is wrong and what to do. `settingsFile` is
    // the file the service's administrator edits.
    static std::string Describe(Problem problem, Audience audience, const std::string& subject,
                                const std::string& cause, const std::string& settingsFile);
    // The same for the desktop's notification, in the interface language.
    static std::string Notice(Problem problem, const std::string& subject, const std::string& cause);

private:
    struct Said {
        Problem problem;
        std::string subject;
        std::string text;
    };

    Audience audience;
    DesktopNotices& notices;
    std::vector<Said> said;
};
