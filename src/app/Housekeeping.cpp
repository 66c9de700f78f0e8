#include "app/Housekeeping.h"

#include <cstdio>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/DesktopEntry.h"
#include "app/EventLog.h"
#include "app/IElevation.h"
#include "app/IMessageBox.h"
#include "platform/AtomicFile.h"
#include "platform/ProcessList.h"
#include "platform/Unicode.h"

namespace {

constexpr std::chrono::milliseconds kTerminationPoll{10};
constexpr std::filesystem::perms kNormalPermissions =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
    std::filesystem::perms::group_read | std::filesystem::perms::others_read;

// The autostart entry serves the session of every user of the computer: it and the folders made for
// it are readable by all, whatever the program's own umask.
constexpr mode_t kPublicFileMode = 0644;
constexpr mode_t kPublicFolderMode = 0755;

void MakePublicFolders(const std::filesystem::path& folder) {
    std::error_code error;
    if (folder.empty() || std::filesystem::is_directory(folder, error)) {
        return;
    }
    MakePublicFolders(folder.parent_path());
    if (::mkdir(folder.c_str(), kPublicFolderMode) == 0) {
        ::chmod(folder.c_str(), kPublicFolderMode);
    }
}

bool Exists(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// Processes of the old program, this one never among them.
std::vector<pid_t> OldProcesses(bool firstOnly) {
    const std::string wanted = AsciiLower(Housekeeping::kOldProcessName);
    std::vector<pid_t> found;
    for (const RunningProcess& process : ListRunningProcesses()) {
        if (process.pid != ::getpid() && AsciiLower(process.name) == wanted) {
            found.push_back(process.pid);
            if (firstOnly) {
                break;
            }
        }
    }
    return found;
}

} // namespace

Housekeeping::Housekeeping(InstallationPaths paths, IElevation& elevation, IMessageBox& messages)
    : paths(std::move(paths)), elevation(elevation), messages(messages) {}

bool Housekeeping::RetireOldInstallation() {
    const std::filesystem::path oldProgram = paths.OldProgram();
    if (!Exists(oldProgram)) {
        return false;
    }
    if (!IsUserAdmin()) {
        EventLog::Write("User is a STANDARD USER");
        return RelaunchAsAdmin("-forceAdmin");
    }

    EventLog::Write("User is an ADMINISTRATOR");
    if (FindOldProcess()) {
        EventLog::Write("Found process Qopra.exe...");
        TerminateOldProcesses();
        EventLog::Write("...terminated");
        // The ended processes go away in a moment; the file is deleted once they have.
        const auto deadline = std::chrono::steady_clock::now() + kTerminationWait;
        while (OldProcessRuns() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kTerminationPoll);
        }
    }

    EventLog::Write("Try to delete old EXE...");
    if (DeleteOldProgram()) {
        EventLog::Write("... -> SUCCESS");
    } else {
        EventLog::Write("... -> FAILED");
        EventLog::Write("Can't delete file %s", oldProgram.c_str());
        messages.Show("Can't delete file " + oldProgram.string());
    }

    if (CheckAutoStartup()) {
        EventLog::Write("Old Qopra autorun is enabled --> to remove...");
        if (RemoveAutoStartup()) {
            EventLog::Write("--> Success. Old Qopra autorun REMOVED ");
        } else {
            EventLog::Write("--> Failure. Old Qopra autorun NOT removed ");
            messages.Show("Failed to remove old Qopra.exe autorun");
        }
    }
    return false;
}

bool Housekeeping::DeleteOldProgram() const {
    const std::filesystem::path oldProgram = paths.OldProgram();
    std::error_code error;
    std::filesystem::remove(oldProgram, error);
    if (Exists(oldProgram)) {
        // A file without write permission may still be removable once it has ordinary permissions.
        std::filesystem::permissions(oldProgram, kNormalPermissions, error);
        std::filesystem::remove(oldProgram, error);
    }
    return !Exists(oldProgram);
}

bool Housekeeping::IsUserAdmin() {
    LogOsVersion();
    return elevation.EffectiveUserId() == 0;
}

bool Housekeeping::LogOsVersion() {
    int major = 0;
    int minor = 0;
    utsname system{};
    const bool known = ::uname(&system) == 0 && std::sscanf(system.release, "%d.%d", &major, &minor) == 2;
    EventLog::Write("OS Version: %d.%d", major, minor);
    EventLog::Write("OS: Linux");
    return known;
}

bool Housekeeping::FindOldProcess() {
    if (OldProcesses(true).empty()) {
        return false;
    }
    EventLog::Write("Found %s running instance", kOldProcessName);
    return true;
}

bool Housekeeping::OldProcessRuns() const {
    return !OldProcesses(true).empty();
}

void Housekeeping::TerminateOldProcesses() {
    for (const pid_t pid : OldProcesses(false)) {
        ::kill(pid, SIGKILL);
    }
}

bool Housekeeping::RelaunchAsAdmin(const std::string& parameters) {
    std::vector<std::string> arguments;
    std::istringstream words(parameters);
    for (std::string word; words >> word;) {
        arguments.push_back(word);
    }
    const std::string file = paths.relaunchFile.string();
    if (elevation.StartElevated(paths.relaunchFile, arguments)) {
        EventLog::Write("Launch of %s --> SUCCESS", file.c_str());
        return true;
    }
    EventLog::Write("Failed launch of %s", file.c_str());
    return false;
}

bool Housekeeping::EntryExists(const char* entryName, const char* failureText) const {
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::symlink_status(paths.AutostartFolder() / entryName, error);
    // A missing entry or folder is an answer; anything else the folder could not be read.
    if (status.type() == std::filesystem::file_type::none) {
        EventLog::Write("%s", failureText);
        return false;
    }
    return std::filesystem::exists(status);
}

bool Housekeeping::RemoveEntry(const char* entryName, const char* failureText) const {
    std::error_code error;
    std::filesystem::remove(paths.AutostartFolder() / entryName, error);
    if (error) {
        EventLog::Write("%s", failureText);
        return false;
    }
    return true;
}

bool Housekeeping::CheckAutoStartup() {
    return EntryExists(kOldEntryName, "Failed to CheckAutoStartup.");
}

bool Housekeeping::RemoveAutoStartup() {
    return RemoveEntry(kOldEntryName, "Failed to RemoveAutoStartup.");
}

bool Housekeeping::CheckNewAutoStartup() {
    return EntryExists(kNewEntryName, "Failed to CheckNewAutoStartup.");
}

bool Housekeeping::RemoveNewAutoStartup() {
    return RemoveEntry(kNewEntryName, "Failed to RemoveNewAutoStartup.");
}

bool Housekeeping::SetNewAutoStartup() {
    std::error_code error;
    const std::filesystem::path folder = paths.AutostartFolder();
    MakePublicFolders(folder);
    if (!std::filesystem::is_directory(folder, error)) {
        EventLog::Write("Failed to SetNewAutoStartup.");
        return false;
    }
    const std::string program = paths.programFile.string();
    EventLog::Write("Set value of key Qopra2: %s", program.c_str());
    const std::optional<std::string> entry = DesktopEntry::AutostartText(paths.programFile);
    if (!entry || !WriteFileAtomically(folder / kNewEntryName, *entry, kPublicFileMode)) {
        messages.Show("Failed to set autorun");
        return false;
    }
    return true;
}
