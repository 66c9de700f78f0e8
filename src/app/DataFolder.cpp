#include "app/DataFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "app/ProblemReport.h"
#include <mutex>
#include <system_error>

namespace {

std::mutex folderLock;
std::filesystem::path folderPath;

// Permissions of group and others: the documents devices sent and the log are no business of theirs.
constexpr mode_t kSharedBits = 077;

// Takes group and other permissions from `path` (never through a link); true when it had some.
bool Restrict(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode) || (info.st_mode & kSharedBits) == 0) {
        return false;
    }
    return ::chmod(path.c_str(), info.st_mode & 07777 & ~kSharedBits) == 0;
}

std::size_t RestrictBelow(const std::filesystem::path& folder) {
    std::size_t changed = 0;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        changed += Restrict(it->path()) ? 1 : 0;
    }
    return changed;
}

} // namespace

std::filesystem::path DataFolder::Path() {
    std::lock_guard guard(folderLock);
    return folderPath;
}

void DataFolder::SetPath(const std::filesystem::path& path) {
    std::lock_guard guard(folderLock);
    folderPath = path;
}

std::filesystem::path DataFolder::Locate() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        return std::filesystem::path(dataHome) / "Qopra";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        return {};
    }
    return std::filesystem::path(home) / ".local" / "share" / "Qopra";
}

bool DataFolder::Provision(const std::filesystem::path& folder, const std::filesystem::path& defaults) {
    std::error_code error;
    if (folder.empty()) {
        return false;
    }
    if (std::filesystem::is_directory(folder, error)) {
        return true;
    }
    if (!std::filesystem::create_directories(folder, error)) {
        return std::filesystem::is_directory(folder, error);
    }
    // Settings and the waiting page come from the installation; a missing default is no reason to
    // run without a data folder. The copies keep the installation's modes, which let everybody read.
    std::filesystem::copy(
        defaults, folder,
        std::filesystem::copy_options::recursive | std::filesystem::copy_options::skip_existing, error);
    Restrict(folder);
    RestrictBelow(folder);
    return true;
}

std::size_t DataFolder::MakePrivate(const std::filesystem::path& folder) {
    // A data folder that is a link to a folder elsewhere is made private where it really is.
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(folder, error);
    if (error || !Restrict(real)) {
        return 0;
    }
    return 1 + RestrictBelow(real);
}

std::filesystem::path DataFolder::ExecutableFolder() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : executable.parent_path();
}

std::filesystem::path DataFolder::InstalledDefaults() {
    return ExecutableFolder().parent_path() / "share" / "qopra";
}

std::optional<std::string> DataFolder::WriteProblem(const std::filesystem::path& folder) {
    if (folder.empty()) {
        return std::string("neither XDG_DATA_HOME nor HOME names a folder");
    }
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        std::filesystem::create_directories(folder, error);
        if (error) {
            return error.message();
        }
    }
    std::string probe = (folder / ".qopra-write-check-XXXXXX").string();
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        return std::string(std::strerror(errno));
    }
    ::close(fd);
    ::unlink(probe.c_str());
    struct statvfs disk {};
    if (::statvfs(folder.c_str(), &disk) == 0 && disk.f_bavail == 0) {
        return std::string(std::strerror(ENOSPC));
    }
    return std::nullopt;
}

bool DataFolder::ReportWriteProblem() {
    const std::filesystem::path inUse = Path();
    const std::filesystem::path folder = inUse.empty() ? Locate() : inUse;
    const std::optional<std::string> problem = WriteProblem(folder);
    if (problem) {
        ProblemReport::Say("Cannot write the data folder %s: %s", folder.c_str(), problem->c_str());
    }
    return problem.has_value();
}

std::filesystem::path DataFolder::WaitingPage() {
    return Path() / "Htm" / "waiting.htm";
}
