#include <gtest/gtest.h>

#include <csignal>
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

// A process named `name`, of `user`, waiting for a signal; Signal() tells which one ended it.
class Process {
public:
    explicit Process(const char* name, uid_t user = ::geteuid()) {
        int ready[2];
        if (::pipe(ready) != 0 || (pid = ::fork()) != 0) {
            // Known by its name and user once the child says so.
            char byte = 0;
            [[maybe_unused]] const ssize_t heard = pid > 0 ? ::read(ready[0], &byte, 1) : 0;
            return;
        }
        ::prctl(PR_SET_NAME, name);
        if (::setresuid(user, user, user) == 0 && ::write(ready[1], "x", 1) == 1) {
            ::pause();
        }
        ::_exit(1);
    }
    ~Process() { Signal(); }

    int Signal() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
            ended = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            pid = -1;
        }
        return ended;
    }

    pid_t pid = -1;
    int ended = 0;
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
    EXPECT_EQ(Mode(own), 0700u) << "a folder of the user's own that others could write into is closed";

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
}

// A second desktop start asks the running instance for its window with SIGUSR1, found by the number in
// the lock file: whatever number is there, only the user's own qopra2 is signalled.
TEST(SingleInstanceLock, ASecondStartSignalsOnlyTheUsersOwnInstance) {
    TempDir dir;
    const fs::path lockFile = dir / SingleInstanceLock::kLockName;
    SingleInstanceLock running(lockFile);
    ASSERT_TRUE(running.Acquire());
    SingleInstanceLock second(lockFile);
    ASSERT_FALSE(second.Acquire());
    EXPECT_FALSE(second.SignalHolder(SIGUSR1)) << "the second start itself";

    const auto signalled = [&](Process& holder) {
        WriteFileBytes(lockFile, std::to_string(holder.pid) + "\n");
        const bool sent = second.SignalHolder(SIGUSR1);
        EXPECT_EQ(holder.Signal() == SIGUSR1, sent);
        return sent;
    };
    Process instance(SingleInstanceLock::kProgramName);
    EXPECT_TRUE(signalled(instance));
    Process other("sleep");
    EXPECT_FALSE(signalled(other)) << "another program of the user's";
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a process of another user needs root to be made";
    }
    Process foreign(SingleInstanceLock::kProgramName, kOtherUser);
    EXPECT_FALSE(signalled(foreign)) << "a qopra2 of another user";
}
