#pragma once

#include <filesystem>
#include <sys/types.h>

// The lock that keeps a second instance from starting: an flock on a file in the runtime folder,
// held for the life of the process.
class SingleInstanceLock {
public:
    static constexpr const char* kLockName = "6A94735D-82D3-4f13-B811-53C45D99313B.lock";

    explicit SingleInstanceLock(const std::filesystem::path& lockFile = DefaultPath());
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // False when another process holds the lock. The holder writes its process id into the file.
    bool Acquire();
    // The process id of the instance that holds the lock, read from the file; 0 when none is known.
    pid_t HolderProcessId() const;
    bool Held() const { return fd >= 0; }

    // $XDG_RUNTIME_DIR, else /tmp, joined with kLockName.
    static std::filesystem::path DefaultPath();

private:
    std::filesystem::path path;
    int fd = -1;
};
