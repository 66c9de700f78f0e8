#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "app/InstallationPaths.h"

class IElevation;
class IMessageBox;

// Installation housekeeping: retires the old installation at start-up (the one step that needs
// administrator rights: a standard user runs only that step elevated, through `kRetireOption`, and
// goes on with its own start), manages the program's automatic start through the user's own
// autostart entry, and tells whether this process has administrator rights. Runs on the GUI thread.
class Housekeeping {
public:
    static constexpr const char* kOldProcessName = "qopra";
    static constexpr const char* kOldEntryName = "qopra.desktop";
    static constexpr const char* kNewEntryName = "qopra2.desktop";
    // The option that makes the program only retire the old installation, as administrator, and end:
    // 0 when nothing of it is left, 1 otherwise.
    static constexpr const char* kRetireOption = "-retire";
    // How long ended old processes are given to go away before their file is deleted.
    static constexpr std::chrono::milliseconds kTerminationWait{500};

    Housekeeping(InstallationPaths paths, IElevation& elevation, IMessageBox& messages);

    // The start-up step. An administrator retires the old installation here; a standard user runs the
    // retiring step elevated and waits for it. Either way this process goes on with its start, and
    // what could not be removed is shown.
    void RetireOldInstallation();
    // Whether anything of the old installation is left (its program or its autostart entry).
    bool OldInstallationLeft() const;

    // Effective user 0; logs the system's version lines.
    bool IsUserAdmin();
    // Logs "OS Version: major.minor" of the kernel and "OS: Linux"; false when the release is unreadable.
    bool LogOsVersion();
    // Whether a process of the old program runs (its name compared without regard to case).
    bool FindOldProcess();
    // Ends every process of the old program.
    void TerminateOldProcesses();
    // Runs the retiring step (the relaunch file with kRetireOption) with administrator rights and
    // waits for it; false when it could not be run or the person refused.
    bool RetireElevated();

    // The old installation's machine-wide autostart entry.
    bool CheckAutoStartup();
    bool RemoveAutoStartup();
    // This program's automatic start at log-on: the user's own entry, written and removed without
    // administrator rights. A machine-wide entry of the same name starts the program too, unless the
    // user's entry hides it.
    bool CheckNewAutoStartup();
    bool SetNewAutoStartup();
    bool RemoveNewAutoStartup();

    const InstallationPaths& Paths() const { return paths; }

private:
    bool OldProcessRuns() const;
    bool RetireAsAdministrator();
    bool MakeUserFolder(const char* failureText) const;
    bool WriteUserEntry(bool hidden);
    bool DeleteOldProgram() const;

    InstallationPaths paths;
    IElevation& elevation;
    IMessageBox& messages;
};
