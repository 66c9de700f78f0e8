#include "app/SingleInstanceLock.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/ProcessList.h"

namespace {

constexpr const char* kSharedFolder = "/tmp";
constexpr const char* kOwnFolderPrefix = "qopra2-";
constexpr mode_t kOwnFolderMode = 0700;
constexpr mode_t kOthersWrite = 022;

// A real folder (no link) of this user in which nobody else may make, replace or remove a file.
bool IsUsersOwnFolder(const std::filesystem::path& folder) {
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & kOthersWrite) == 0;
}

// Only a regular file of this user is the lock file; a link was refused when it was opened.
bool IsOwnFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
}

// Through the system calls themselves: the C library's declarations of these lack C linkage here.
int OpenProcess(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool SendSignal(int process, int signal) {
    return ::syscall(SYS_pidfd_send_signal, process, signal, nullptr, 0) == 0;
}

bool IsOwnInstance(pid_t pid) {
    const std::optional<uid_t> user = ProcessUser(pid);
    return user && *user == ::geteuid() && ProcessName(pid) == SingleInstanceLock::kProgramName;
}

} // namespace

SingleInstanceLock::SingleInstanceLock(const std::filesystem::path& lockFile) : path(lockFile) {}

SingleInstanceLock::~SingleInstanceLock() {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool SingleInstanceLock::Acquire() {
    if (fd >= 0) {
        return true;
    }
    if (path.empty()) {
        return true; // no folder of the user's own: nothing to share with another instance
    }
    // Not truncated on opening: the file is emptied only once it is known to be this user's own.
    const int candidate = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (candidate < 0) {
        // Without a lock file there is nothing to share with another instance.
        return true;
    }
    if (!IsOwnFile(candidate)) {
        ::close(candidate);
        return true;
    }
    if (::flock(candidate, LOCK_EX | LOCK_NB) != 0) {
        ::close(candidate);
        return false;
    }
    fd = candidate;
    // A second start asks this instance to show itself; it finds the process by this number.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        return true; // the lock holds all the same; only the second start's request is lost
    }
    return true;
}

pid_t SingleInstanceLock::HolderProcessId() const {
    if (path.empty()) {
        return 0;
    }
    const int file = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) {
        return 0;
    }
    char text[32] = {};
    const ssize_t count = IsOwnFile(file) ? ::read(file, text, sizeof text - 1) : 0;
    ::close(file);
    if (count <= 0) {
        return 0;
    }
    const long pid = std::strtol(text, nullptr, 10);
    return pid > 0 ? static_cast<pid_t>(pid) : 0;
}

bool SingleInstanceLock::SignalHolder(int signal) const {
    const pid_t pid = HolderProcessId();
    if (pid <= 0 || pid == ::getpid()) {
        return false;
    }
    // The process is held by a descriptor before it is looked at, so the signal reaches the process
    // that was checked, never another one that has taken its number since.
    const int process = OpenProcess(pid);
    if (process < 0) {
        return errno == ENOSYS && IsOwnInstance(pid) && ::kill(pid, signal) == 0;
    }
    const bool sent = IsOwnInstance(pid) && SendSignal(process, signal);
    ::close(process);
    return sent;
}

std::filesystem::path SingleInstanceLock::DefaultPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return ChoosePath(runtime != nullptr ? std::filesystem::path(runtime) : std::filesystem::path(),
                      kSharedFolder);
}

std::filesystem::path SingleInstanceLock::ChoosePath(const std::filesystem::path& runtimeFolder,
                                                     const std::filesystem::path& sharedFolder) {
    // Under su the runtime folder may still be the one of the user who called it.
    if (runtimeFolder.is_absolute() && IsUsersOwnFolder(runtimeFolder)) {
        return runtimeFolder / kLockName;
    }
    const std::filesystem::path own = sharedFolder / (kOwnFolderPrefix + std::to_string(::geteuid()));
    ::mkdir(own.c_str(), kOwnFolderMode);
    // A name another user took first (a folder or a link of theirs) is not used; a folder of the
    // user's own that others could write into is closed first (only the user can have opened it).
    struct stat info {};
    if (::lstat(own.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()) {
        ::chmod(own.c_str(), kOwnFolderMode);
    }
    return IsUsersOwnFolder(own) ? own / kLockName : std::filesystem::path();
}
