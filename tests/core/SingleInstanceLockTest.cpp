#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/SingleInstanceLock.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Somebody else on the computer.
constexpr uid_t kOtherUser = 65534;

// A folder every user may write into, as /tmp is.
fs::path SharedFolder(const TempDir& dir) {
    const fs::path shared = dir / "tmp";
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    return shared;
}

mode_t Mode(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A process named `name`, of `user` when given, that reports which of SIGUSR1 and SIGTERM reached it
// first in its exit code.
class Process {
public:
    static constexpr int kGotRestore = 10;
    static constexpr int kGotEnd = 20;

    explicit Process(const char* name, uid_t user = ::geteuid()) {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        sigset_t wanted;
        sigemptyset(&wanted);
        sigaddset(&wanted, SIGUSR1);
        sigaddset(&wanted, SIGTERM);
        sigset_t before;
        ::sigprocmask(SIG_BLOCK, &wanted, &before);
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_NAME, name);
            if (user != ::geteuid() && ::setresuid(user, user, user) != 0) {
                ::_exit(1);
            }
            [[maybe_unused]] const ssize_t told = ::write(ready[1], "x", 1);
            const timespec limit{30, 0};
            const int got = ::sigtimedwait(&wanted, nullptr, &limit);
            ::_exit(got == SIGUSR1 ? kGotRestore : got == SIGTERM ? kGotEnd : 2);
        }
        ::sigprocmask(SIG_SETMASK, &before, nullptr);
        char byte = 0;
        [[maybe_unused]] const ssize_t heard = ::read(ready[0], &byte, 1);
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~Process() { Result(); }

    // Ends the process and tells which signal it saw first.
    int Result() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
            result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid = -1;
        }
        return result;
    }

    pid_t pid = -1;
    int result = -1;
};

// The lock as a running instance holds it, with `pid` written in its file.
struct HeldLock {
    HeldLock(const fs::path& path, pid_t pid) : fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        ::flock(fd, LOCK_EX | LOCK_NB);
        const std::string text = std::to_string(pid) + "\n";
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, text.data(), text.size(), 0);
    }
    ~HeldLock() { ::close(fd); }
    int fd;
};

} // namespace

// Without a runtime folder of its own (under sudo, su or cron) the lock goes to the shared temporary
// folder, where other users can prepare the names it uses.
TEST(SingleInstanceLock, LivesInAFolderOfTheUsersOwnAndNeverWritesAFileThatIsNotItsOwn) {
    TempDir dir;
    const fs::path shared = SharedFolder(dir);
    const fs::path runtime = dir / "runtime";
    fs::create_directory(runtime);
    ::chmod(runtime.c_str(), 0700);
    EXPECT_EQ(SingleInstanceLock::ChoosePath(runtime, shared), runtime / SingleInstanceLock::kLockName);

    // No runtime folder: a folder of the user's own in the shared one, made private.
    const fs::path own = shared / ("qopra2-" + std::to_string(::geteuid()));
    EXPECT_EQ(SingleInstanceLock::ChoosePath({}, shared), own / SingleInstanceLock::kLockName);
    EXPECT_EQ(Mode(own), 0700u);
    ::chmod(own.c_str(), 0777);
    EXPECT_EQ(SingleInstanceLock::ChoosePath("relative", shared), own / SingleInstanceLock::kLockName);
    EXPECT_EQ(Mode(own), 0700u) << "a folder of the user's own that others could enter is closed";

    // Inside it, a link to a file of the user's is refused: the file is neither emptied nor written.
    WriteFileBytes(dir / "victim", "precious");
    fs::create_symlink(dir / "victim", own / SingleInstanceLock::kLockName);
    SingleInstanceLock linked(own / SingleInstanceLock::kLockName);
    EXPECT_TRUE(linked.Acquire()) << "the program still runs";
    EXPECT_FALSE(linked.Held());
    EXPECT_EQ(linked.HolderProcessId(), 0);
    EXPECT_EQ(ReadFileBytes(dir / "victim"), "precious");
    fs::remove(own / SingleInstanceLock::kLockName);

    // An ordinary start takes the lock and tells its number; a second one is refused.
    {
        SingleInstanceLock first(own / SingleInstanceLock::kLockName);
        ASSERT_TRUE(first.Acquire());
        EXPECT_TRUE(first.Held());
        EXPECT_EQ(Mode(own / SingleInstanceLock::kLockName), 0600u);
        SingleInstanceLock second(own / SingleInstanceLock::kLockName);
        EXPECT_FALSE(second.Acquire());
        EXPECT_EQ(second.HolderProcessId(), ::getpid());
    }

    if (::geteuid() != 0) {
        GTEST_SKIP() << "the files and folders of another user need root to be made";
    }
    // A runtime folder of another user (su keeps the caller's) is not used.
    ASSERT_EQ(::chown(runtime.c_str(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(SingleInstanceLock::ChoosePath(runtime, shared), own / SingleInstanceLock::kLockName);
    // A file of another user in place of the lock file: neither emptied, nor locked, nor read.
    const fs::path lockFile = own / SingleInstanceLock::kLockName;
    WriteFileBytes(lockFile, "1\n");
    ASSERT_EQ(::chown(lockFile.c_str(), kOtherUser, kOtherUser), 0);
    SingleInstanceLock foreign(lockFile);
    EXPECT_TRUE(foreign.Acquire());
    EXPECT_FALSE(foreign.Held());
    EXPECT_EQ(foreign.HolderProcessId(), 0);
    EXPECT_EQ(ReadFileBytes(lockFile), "1\n");
    // The name of the user's folder taken first by another user, as a folder or as a link to one of
    // the user's folders: no lock at all rather than one in their hands.
    fs::remove_all(own);
    fs::create_directory(own);
    ASSERT_EQ(::chown(own.c_str(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(SingleInstanceLock::ChoosePath({}, shared), fs::path());
    fs::remove(own);
    fs::create_directory_symlink(runtime.parent_path(), own);
    EXPECT_EQ(SingleInstanceLock::ChoosePath({}, shared), fs::path());
    SingleInstanceLock none{fs::path()};
    EXPECT_TRUE(none.Acquire());
    EXPECT_FALSE(none.Held());
}

// A second desktop start asks the running instance for its window with SIGUSR1, found by the number in
// the lock file: whatever number is there, only the user's own qopra2 is signalled.
TEST(SingleInstanceLock, ASecondStartSignalsOnlyTheUsersOwnInstance) {
    TempDir dir;
    const fs::path lockFile = dir / SingleInstanceLock::kLockName;
    SingleInstanceLock second(lockFile);

    Process instance(SingleInstanceLock::kProgramName);
    {
        HeldLock running(lockFile, instance.pid);
        ASSERT_FALSE(second.Acquire());
        EXPECT_TRUE(second.SignalHolder(SIGUSR1));
    }
    EXPECT_EQ(instance.Result(), Process::kGotRestore);

    // Another program of the user's, and the second start itself.
    Process other("sleep");
    {
        HeldLock running(lockFile, other.pid);
        EXPECT_FALSE(second.SignalHolder(SIGUSR1));
    }
    EXPECT_EQ(other.Result(), Process::kGotEnd);
    {
        HeldLock running(lockFile, ::getpid());
        EXPECT_FALSE(second.SignalHolder(SIGUSR1));
    }

    if (::geteuid() != 0) {
        GTEST_SKIP() << "a process of another user needs root to be made";
    }
    // A qopra2 of another user (a number written by them, or the instance of another person).
    Process foreign(SingleInstanceLock::kProgramName, kOtherUser);
    {
        HeldLock running(lockFile, foreign.pid);
        EXPECT_FALSE(second.SignalHolder(SIGUSR1));
    }
    EXPECT_EQ(foreign.Result(), Process::kGotEnd);
}
