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

// The autostart entry and the folders made for it are readable as desktops expect such files to be,
// whatever the program's own (private) umask.
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

void Housekeeping::RetireOldInstallation() {
    const std::filesystem::path oldProgram = paths.OldProgram();
    if (!Exists(oldProgram)) {
        return;
    }
    if (IsUserAdmin()) {
        RetireAsAdministrator();
        return;
    }
    EventLog::Write("User is a STANDARD USER");
    if (!RetireElevated()) {
        return; // refused: the old installation stays, the start goes on
    }
    // The elevated step has no screen of its own: what it could not remove is shown here.
    if (Exists(oldProgram)) {
        EventLog::Write("Can't delete file %s", oldProgram.c_str());
        messages.Show("Can't delete file " + oldProgram.string());
    }
    if (Exists(paths.AutostartFolder() / kOldEntryName)) {
        EventLog::Write("--> Failure. Old Qopra autorun NOT removed ");
        messages.Show("Failed to remove old Qopra.exe autorun");
    }
}

bool Housekeeping::OldInstallationLeft() const {
    return Exists(paths.OldProgram()) || Exists(paths.AutostartFolder() / kOldEntryName);
}

bool Housekeeping::RetireAsAdministrator() {
    const std::filesystem::path oldProgram = paths.OldProgram();
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
    bool retired = true;
    if (DeleteOldProgram()) {
        EventLog::Write("... -> SUCCESS");
    } else {
        retired = false;
        EventLog::Write("... -> FAILED");
        EventLog::Write("Can't delete file %s", oldProgram.c_str());
        messages.Show("Can't delete file " + oldProgram.string());
    }

    if (CheckAutoStartup()) {
        EventLog::Write("Old Qopra autorun is enabled --> to remove...");
        if (RemoveAutoStartup()) {
            EventLog::Write("--> Success. Old Qopra autorun REMOVED ");
        } else {
            retired = false;
            EventLog::Write("--> Failure. Old Qopra autorun NOT removed ");
            messages.Show("Failed to remove old Qopra.exe autorun");
        }
    }
    return retired;
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

bool Housekeeping::RetireElevated() {
    const std::string file = paths.relaunchFile.string();
    if (elevation.RunElevated(paths.relaunchFile, {kRetireOption})) {
        EventLog::Write("Launch of %s --> SUCCESS", file.c_str());
        return true;
    }
    EventLog::Write("Failed launch of %s", file.c_str());
    return false;
}

bool Housekeeping::CheckAutoStartup() {
    const std::filesystem::path entry = paths.AutostartFolder() / kOldEntryName;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(entry, error);
    // A missing entry or folder is an answer; anything else the folder could not be read.
    if (status.type() == std::filesystem::file_type::none) {
        EventLog::Write("Failed to CheckAutoStartup.");
        return false;
    }
    return std::filesystem::exists(status);
}

bool Housekeeping::RemoveAutoStartup() {
    std::error_code error;
    std::filesystem::remove(paths.AutostartFolder() / kOldEntryName, error);
    if (error) {
        EventLog::Write("Failed to RemoveAutoStartup.");
        return false;
    }
    return true;
}

bool Housekeeping::CheckNewAutoStartup() {
    const std::filesystem::path folder = paths.UserAutostartFolder();
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::symlink_status(folder / kNewEntryName, error);
    if (folder.empty() || status.type() == std::filesystem::file_type::none) {
        EventLog::Write("Failed to CheckNewAutoStartup.");
        return false;
    }
    if (std::filesystem::exists(status)) {
        return !DesktopEntry::IsHidden(folder / kNewEntryName);
    }
    // Without an entry of the user's, one for the whole machine starts the program.
    return Exists(paths.AutostartFolder() / kNewEntryName);
}

bool Housekeeping::SetNewAutoStartup() {
    if (!MakeUserFolder("Failed to SetNewAutoStartup.")) {
        return false;
    }
    const std::string program = paths.programFile.string();
    EventLog::Write("Set value of key Qopra2: %s", program.c_str());
    return WriteUserEntry(false);
}

bool Housekeeping::RemoveNewAutoStartup() {
    const char* failure = "Failed to RemoveNewAutoStartup.";
    // A machine-wide entry cannot be removed by the user: an entry of their own hides it.
    if (Exists(paths.AutostartFolder() / kNewEntryName)) {
        return MakeUserFolder(failure) && WriteUserEntry(true);
    }
    std::error_code error;
    const std::filesystem::path folder = paths.UserAutostartFolder();
    if (!folder.empty()) {
        std::filesystem::remove(folder / kNewEntryName, error);
    }
    if (folder.empty() || error) {
        EventLog::Write("%s", failure);
        return false;
    }
    return true;
}

bool Housekeeping::MakeUserFolder(const char* failureText) const {
    std::error_code error;
    const std::filesystem::path folder = paths.UserAutostartFolder();
    MakePublicFolders(folder);
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) {
        EventLog::Write("%s", failureText);
        return false;
    }
    return true;
}

bool Housekeeping::WriteUserEntry(bool hidden) {
    const std::optional<std::string> entry = DesktopEntry::AutostartText(paths.programFile, hidden);
    if (!entry ||
        !WriteFileAtomically(paths.UserAutostartFolder() / kNewEntryName, *entry, kPublicFileMode)) {
        messages.Show("Failed to set autorun");
        return false;
    }
    return true;
}
