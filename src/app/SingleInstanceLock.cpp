#include "app/SingleInstanceLock.h"

#include <cstdlib>
#include <fcntl.h>
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
    return true;
}

std::filesystem::path SingleInstanceLock::DefaultPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::filesystem::path folder = (runtime != nullptr && runtime[0] == '/') ? runtime : "/tmp";
    return folder / kLockName;
}
