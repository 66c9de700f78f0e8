#include "app/DataFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/statvfs.h>
#include <unistd.h>

#include "app/ProblemReport.h"
#include <mutex>
#include <system_error>

namespace {

std::mutex folderLock;
std::filesystem::path folderPath;

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
    // run without a data folder.
    std::filesystem::copy(
        defaults, folder,
        std::filesystem::copy_options::recursive | std::filesystem::copy_options::skip_existing, error);
    return true;
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
