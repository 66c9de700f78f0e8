#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "app/InstallationPaths.h"

class IElevation;
class IMessageBox;

// Installation housekeeping: retires the old installation at start-up, manages the program's
// automatic start through the system-wide autostart entries, tells whether this process has
// administrator rights and relaunches it with them. Runs on the GUI thread.
class Housekeeping {
public:
    static constexpr const char* kOldProcessName = "qopra";
    static constexpr const char* kOldEntryName = "qopra.desktop";
    static constexpr const char* kNewEntryName = "qopra2.desktop";
    // How long ended old processes are given to go away before their file is deleted.
    static constexpr std::chrono::milliseconds kTerminationWait{500};

    Housekeeping(InstallationPaths paths, IElevation& elevation, IMessageBox& messages);

    // The start-up step. True when this process has started an elevated copy of itself, which does
    // the retirement: the caller then ends this process.
    bool RetireOldInstallation();

    // Effective user 0; logs the system's version lines.
    bool IsUserAdmin();
    // Logs "OS Version: major.minor" of the kernel and "OS: Linux"; false when the release is unreadable.
    bool LogOsVersion();
    // Whether a process of the old program runs (its name compared without regard to case).
    bool FindOldProcess();
    // Ends every process of the old program.
    void TerminateOldProcesses();
    // Starts the relaunch file with administrator rights and the blank-separated `parameters`.
    bool RelaunchAsAdmin(const std::string& parameters);

    // The old installation's autostart entry.
    bool CheckAutoStartup();
    bool RemoveAutoStartup();
    // This program's autostart entry.
    bool CheckNewAutoStartup();
    bool SetNewAutoStartup();
    bool RemoveNewAutoStartup();

    const InstallationPaths& Paths() const { return paths; }

private:
    bool OldProcessRuns() const;
    bool EntryExists(const char* entryName, const char* failureText) const;
    bool RemoveEntry(const char* entryName, const char* failureText) const;
    bool DeleteOldProgram() const;

    InstallationPaths paths;
    IElevation& elevation;
    IMessageBox& messages;
};
