#pragma once

#include <filesystem>
#include <sys/types.h>

// The lock that keeps a second instance from starting: an flock on a file in a folder of the user's
// own, held for the life of the process. Other users of the computer share /tmp: nothing they put
// there (a link, a file of theirs, a process number) makes the program write a file it does not own
// or signal a process that is not its own instance.
class SingleInstanceLock {
public:
    static constexpr const char* kLockName = "6A94735D-82D3-4f13-B811-53C45D99313B.lock";
    static constexpr const char* kProgramName = "qopra2";

    // `lockFile` empty: no lock can be had (Acquire lets the program run alone).
    explicit SingleInstanceLock(const std::filesystem::path& lockFile = DefaultPath());
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // False when another process holds the lock. The holder writes its process id into the file. A
    // lock file that is a link or not the user's own is never written.
    bool Acquire();
    // The process id of the instance that holds the lock, read from the file; 0 when none is known.
    pid_t HolderProcessId() const;
    // Sends `signal` to the holder when it is this program run by this user; true when it was sent.
    bool SignalHolder(int signal) const;
    bool Held() const { return fd >= 0; }
    const std::filesystem::path& Path() const { return path; }

    // The lock file in $XDG_RUNTIME_DIR when that is the user's own folder, else in a folder of the
    // user's own below /tmp; empty when neither can be had.
    static std::filesystem::path DefaultPath();
    // The same choice with the places given: the runtime folder (may be empty) and the folder shared
    // by every user in which the user's own folder is made.
    static std::filesystem::path ChoosePath(const std::filesystem::path& runtimeFolder,
                                            const std::filesystem::path& sharedFolder);

private:
    std::filesystem::path path;
    int fd = -1;
};
