#include "app/SingleInstanceLock.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

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
    const int candidate = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (candidate < 0) {
        // Without a lock file there is nothing to share with another instance.
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
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return 0;
    }
    char text[32] = {};
    const ssize_t count = ::read(file, text, sizeof text - 1);
    ::close(file);
    if (count <= 0) {
        return 0;
    }
    const long pid = std::strtol(text, nullptr, 10);
    return pid > 0 ? static_cast<pid_t>(pid) : 0;
}

std::filesystem::path SingleInstanceLock::DefaultPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::filesystem::path folder = (runtime != nullptr && runtime[0] == '/') ? runtime : "/tmp";
    return folder / kLockName;
}
