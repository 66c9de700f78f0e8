#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <thread>

#include "app/DesktopEntry.h"
#include "app/EventLog.h"
#include "app/Housekeeping.h"
#include "app/PkexecElevation.h"
#include "platform/ProcessList.h"
#include "support/ChildProcess.h"
#include "support/FakeElevation.h"
#include "support/FileBytes.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

constexpr int kKilled = 128 + SIGKILL;

std::string OsVersionLine() {
    utsname system{};
    int major = 0;
    int minor = 0;
    uname(&system);
    std::sscanf(system.release, "%d.%d", &major, &minor);
    return "OS Version: " + std::to_string(major) + "." + std::to_string(minor);
}

void MakeExecutable(const std::filesystem::path& path, const std::string& script) {
    WriteFileBytes(path, script);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
}

class HousekeepingTest : public testing::Test {
protected:
    void SetUp() override {
        paths.root = dir / "root";
        paths.configHome = dir / "config";
        paths.programFile = dir / "bin" / "qopra2";
        paths.relaunchFile = dir / "bin" / "qopra2";
        EventLog::Global().SetFileName(dir / "qopra.log");
    }
    void TearDown() override { EventLog::Global().SetFileName({}); }

    Housekeeping Make() { return Housekeeping(paths, elevation, messages); }
    std::vector<std::string> Log() const { return LogMessages(dir / "qopra.log"); }
    // The machine-wide entries (the old installation's) and the user's own.
    std::filesystem::path Entry(const char* name) const { return paths.AutostartFolder() / name; }
    std::filesystem::path UserEntry() const {
        return paths.UserAutostartFolder() / Housekeeping::kNewEntryName;
    }

    // The old program is a copy of sleep; started through a link named `processName`, the kernel
    // calls the process by that name.
    std::unique_ptr<ChildProcess> StartOldProgram(const std::string& processName) {
        if (!std::filesystem::exists(paths.OldProgram())) {
            std::filesystem::create_directories(paths.OldProgram().parent_path());
            std::filesystem::copy_file("/usr/bin/sleep", paths.OldProgram());
        }
        const std::filesystem::path link = dir / processName;
        std::filesystem::create_symlink(paths.OldProgram(), link);
        auto child = std::make_unique<ChildProcess>(link, std::vector<std::string>{"600"});
        for (int i = 0; i < 200 && ProcessName(child->Pid()) != processName; ++i) {
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(ProcessName(child->Pid()), processName);
        return child;
    }

    void PlaceOldProgram() {
        std::filesystem::create_directories(paths.OldProgram().parent_path());
        WriteFileBytes(paths.OldProgram(), "old program");
    }

    TempDir dir;
    InstallationPaths paths;
    FakeElevation elevation{0};
    RecordedMessages messages;
};

} // namespace

TEST_F(HousekeepingTest, WithoutTheOldProgramNothingIsDoneOrLogged) {
    std::filesystem::create_directories(paths.AutostartFolder());
    WriteFileBytes(Entry(Housekeeping::kOldEntryName), "[Desktop Entry]\n");
    Make().RetireOldInstallation();
    elevation.userId = 1000;
    Make().RetireOldInstallation();

    EXPECT_TRUE(Log().empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "qopra.log"));
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_TRUE(elevation.launches.empty());
    EXPECT_TRUE(std::filesystem::exists(Entry(Housekeeping::kOldEntryName)));
}

// One test for every case with old-program processes: the termination ends every process of that
// name on the machine, so these cases must not run beside each other.
TEST_F(HousekeepingTest, AdministratorEndsEveryRunningOldProgramThenDeletesItAndItsAutostart) {
    Housekeeping housekeeping = Make();
    EXPECT_FALSE(housekeeping.FindOldProcess());
    const auto similar = StartOldProgram("qopra2");
    EXPECT_FALSE(housekeeping.FindOldProcess());
    EXPECT_TRUE(Log().empty());
    const auto capitals = StartOldProgram("QOPRA");
    const auto mixed = StartOldProgram("Qopra");
    EXPECT_TRUE(housekeeping.FindOldProcess());
    std::filesystem::remove(dir / "qopra.log");

    std::filesystem::create_directories(paths.AutostartFolder());
    WriteFileBytes(Entry(Housekeeping::kOldEntryName), "[Desktop Entry]\n");
    WriteFileBytes(Entry(Housekeeping::kNewEntryName), "[Desktop Entry]\n");
    housekeeping.RetireOldInstallation();

    // Ended, though not yet reaped by their parent (this test): no longer running.
    EXPECT_FALSE(housekeeping.FindOldProcess());
    EXPECT_EQ(capitals->Wait(5s), kKilled);
    EXPECT_EQ(mixed->Wait(5s), kKilled);
    EXPECT_TRUE(similar->Running());
    similar->Signal(SIGKILL);
    EXPECT_FALSE(std::filesystem::exists(paths.OldProgram()));
    EXPECT_FALSE(std::filesystem::exists(Entry(Housekeeping::kOldEntryName)));
    EXPECT_TRUE(std::filesystem::exists(Entry(Housekeeping::kNewEntryName)));
    EXPECT_EQ(Log(), (std::vector<std::string>{OsVersionLine(), "OS: Linux", "User is an ADMINISTRATOR",
                                               "Found qopra running instance", "Found process Qopra.exe...",
                                               "...terminated", "Try to delete old EXE...", "... -> SUCCESS",
                                               "Old Qopra autorun is enabled --> to remove...",
                                               "--> Success. Old Qopra autorun REMOVED "}));
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_TRUE(elevation.launches.empty());
}

TEST_F(HousekeepingTest, AdministratorIsToldWhatCouldNotBeRemovedAndStartUpGoesOn) {
    // Folders with content stand in for files that cannot be deleted, also for root.
    std::filesystem::create_directories(paths.OldProgram() / "busy");
    std::filesystem::create_directories(Entry(Housekeeping::kOldEntryName) / "busy");

    Make().RetireOldInstallation();

    const std::string cannotDelete = "Can't delete file " + paths.OldProgram().string();
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         OsVersionLine(), "OS: Linux", "User is an ADMINISTRATOR", "Try to delete old EXE...",
                         "... -> FAILED", cannotDelete, "Old Qopra autorun is enabled --> to remove...",
                         "Failed to RemoveAutoStartup.", "--> Failure. Old Qopra autorun NOT removed "}));
    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{cannotDelete, "Failed to remove old Qopra.exe autorun"}));
}

TEST_F(HousekeepingTest, StandardUserRunsOnlyTheRetiringStepElevatedAndIsToldWhatIsLeft) {
    PlaceOldProgram();
    std::filesystem::create_directories(paths.AutostartFolder());
    WriteFileBytes(Entry(Housekeeping::kOldEntryName), "[Desktop Entry]\n");
    elevation.userId = 1000;
    // The elevated step retires everything.
    elevation.whileElevated = [&] {
        std::filesystem::remove(paths.OldProgram());
        std::filesystem::remove(Entry(Housekeeping::kOldEntryName));
    };
    Housekeeping housekeeping = Make();
    EXPECT_TRUE(housekeeping.OldInstallationLeft());
    housekeeping.RetireOldInstallation();
    ASSERT_EQ(elevation.launches.size(), 1u);
    EXPECT_EQ(elevation.launches[0].program, paths.relaunchFile);
    EXPECT_EQ(elevation.launches[0].arguments, (std::vector<std::string>{Housekeeping::kRetireOption}));
    const std::string launched = "Launch of " + paths.relaunchFile.string() + " --> SUCCESS";
    EXPECT_EQ(Log(),
              (std::vector<std::string>{OsVersionLine(), "OS: Linux", "User is a STANDARD USER", launched}));
    EXPECT_FALSE(housekeeping.OldInstallationLeft());
    EXPECT_TRUE(messages.texts.empty());

    // The step ran but could remove nothing: this process, which has the screen, says so.
    PlaceOldProgram();
    WriteFileBytes(Entry(Housekeeping::kOldEntryName), "[Desktop Entry]\n");
    elevation.whileElevated = nullptr;
    Make().RetireOldInstallation();
    EXPECT_EQ(messages.texts, (std::vector<std::string>{"Can't delete file " + paths.OldProgram().string(),
                                                        "Failed to remove old Qopra.exe autorun"}));

    // Refused: the start goes on without retiring anything, and nothing is shown.
    messages.texts.clear();
    elevation.agrees = false;
    Make().RetireOldInstallation();
    EXPECT_EQ(Log().back(), "Failed launch of " + paths.relaunchFile.string());
    EXPECT_TRUE(std::filesystem::exists(paths.OldProgram()));
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(HousekeepingTest, AutostartEntryIsTheUsersOwnValidAndHidesAMachineWideOne) {
    if (std::system("command -v desktop-file-validate >/dev/null") != 0) {
        GTEST_SKIP() << "desktop-file-validate is not installed (Debian package desktop-file-utils)";
    }
    elevation.userId = 1000;
    Housekeeping housekeeping = Make();
    EXPECT_FALSE(housekeeping.CheckNewAutoStartup());
    // The program keeps its own files private; the entry and its folders are readable as desktops expect.
    const mode_t umask = ::umask(077);
    EXPECT_TRUE(housekeeping.SetNewAutoStartup());
    ::umask(umask);
    EXPECT_TRUE(housekeeping.CheckNewAutoStartup());
    EXPECT_FALSE(housekeeping.CheckAutoStartup());

    const std::filesystem::path entry = UserEntry();
    EXPECT_EQ(ReadFileBytes(entry),
              "[Desktop Entry]\nType=Application\nName=Qopra\nComment=Wi-Fi print service\n"
              "Exec=" +
                  paths.programFile.string() + "\nIcon=qopra2\nTerminal=false\n");
    EXPECT_EQ(std::system(("desktop-file-validate '" + entry.string() + "'").c_str()), 0);
    struct stat mode {};
    ASSERT_EQ(stat(entry.c_str(), &mode), 0);
    EXPECT_EQ(mode.st_mode & 0777, 0644u);
    ASSERT_EQ(stat(paths.UserAutostartFolder().c_str(), &mode), 0);
    EXPECT_EQ(mode.st_mode & 0777, 0755u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(paths.UserAutostartFolder()),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_FALSE(std::filesystem::exists(paths.AutostartFolder())) << "nothing machine-wide, no elevation";
    EXPECT_TRUE(elevation.launches.empty());
    EXPECT_EQ(Log(), (std::vector<std::string>{"Set value of key Qopra2: " + paths.programFile.string()}));

    // Setting it again replaces it; removing it twice is no failure.
    EXPECT_TRUE(housekeeping.SetNewAutoStartup());
    EXPECT_TRUE(housekeeping.RemoveNewAutoStartup());
    EXPECT_FALSE(housekeeping.CheckNewAutoStartup());
    EXPECT_TRUE(housekeeping.RemoveNewAutoStartup());
    EXPECT_FALSE(std::filesystem::exists(entry));

    // A machine-wide entry of an earlier installation starts the program too; clearing the box hides
    // it with an entry of the user's, which ticking it again replaces.
    std::filesystem::create_directories(paths.AutostartFolder());
    WriteFileBytes(Entry(Housekeeping::kNewEntryName), *DesktopEntry::AutostartText(paths.programFile));
    EXPECT_TRUE(housekeeping.CheckNewAutoStartup());
    EXPECT_TRUE(housekeeping.RemoveNewAutoStartup());
    EXPECT_FALSE(housekeeping.CheckNewAutoStartup());
    EXPECT_NE(ReadFileBytes(entry).find("\nHidden=true\n"), std::string::npos);
    EXPECT_EQ(std::system(("desktop-file-validate '" + entry.string() + "'").c_str()), 0);
    EXPECT_TRUE(std::filesystem::exists(Entry(Housekeeping::kNewEntryName)));
    EXPECT_TRUE(housekeeping.SetNewAutoStartup());
    EXPECT_TRUE(housekeeping.CheckNewAutoStartup());
    std::filesystem::remove(Entry(Housekeeping::kNewEntryName));

    // A path with blanks, quotes, a dollar, a percent and a backslash still starts exactly that file.
    paths.programFile = dir / "My Apps" / "qo\"pra$2 100%\\x";
    EXPECT_TRUE(Make().SetNewAutoStartup());
    const std::string text = ReadFileBytes(entry);
    const std::string expected =
        "Exec=\"" + (dir / "My Apps").string() + "/qo\\\\\"pra\\\\$2 100%%\\\\\\\\x\"\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    EXPECT_EQ(std::system(("desktop-file-validate '" + entry.string() + "'").c_str()), 0);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(HousekeepingTest, AutostartFailuresAreLoggedAndShown) {
    // A file where the autostart folder should be.
    std::filesystem::create_directories(paths.UserAutostartFolder().parent_path());
    WriteFileBytes(paths.UserAutostartFolder(), "not a folder");
    EXPECT_FALSE(Make().SetNewAutoStartup());
    EXPECT_FALSE(Make().CheckNewAutoStartup());
    EXPECT_EQ(Log(), (std::vector<std::string>{"Failed to SetNewAutoStartup."}));
    EXPECT_TRUE(messages.texts.empty());

    // The entry cannot be replaced (a folder with content holds its name).
    std::filesystem::remove(paths.UserAutostartFolder());
    std::filesystem::create_directories(UserEntry() / "busy");
    EXPECT_FALSE(Make().SetNewAutoStartup());
    EXPECT_EQ(messages.texts, (std::vector<std::string>{"Failed to set autorun"}));
    EXPECT_FALSE(Make().RemoveNewAutoStartup());
    EXPECT_EQ(Log().back(), "Failed to RemoveNewAutoStartup.");

    // A program path an entry cannot hold.
    std::filesystem::remove_all(paths.UserAutostartFolder());
    paths.programFile = dir / "line\nbreak";
    EXPECT_FALSE(Make().SetNewAutoStartup());
    EXPECT_EQ(messages.texts.size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(UserEntry()));
    EXPECT_EQ(DesktopEntry::AutostartText("relative/qopra2"), std::nullopt);
    EXPECT_EQ(DesktopEntry::AutostartText(std::string("/opt/bad\xff") + "name"), std::nullopt);
}

TEST_F(HousekeepingTest, PkexecRunsTheStepWithTheDisplayAndTellsItsEndFromARefusal) {
    const std::filesystem::path argsFile = dir / "elevator-args";
    const std::filesystem::path seenFile = dir / "relaunched";
    const std::filesystem::path agreeing = dir / "agreeing-elevator";
    const std::filesystem::path refusing = dir / "refusing-elevator";
    const std::filesystem::path program = dir / "qopra2";
    // pkexec's part: record the command line, then become the program (as pkexec does once the
    // person agreed), or end with pkexec's code for a dismissed prompt.
    MakeExecutable(agreeing, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + argsFile.string() + "'\nexec \"$@\"\n");
    MakeExecutable(refusing, "#!/bin/sh\nexit 126\n");
    MakeExecutable(program, "#!/bin/sh\n{ printf '%s\\n' \"$@\"; echo \"DISPLAY=$DISPLAY\"; } > '" +
                                seenFile.string() + "'\nexit 1\n");

    std::map<std::string, std::optional<std::string>> saved;
    for (const char* name : PkexecElevation::kKeptVariables) {
        const char* value = std::getenv(name);
        saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    setenv("DISPLAY", ":77", 1);
    setenv("XAUTHORITY", "/tmp/test-xauthority", 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("XDG_RUNTIME_DIR", "/tmp/test-runtime", 1);

    // The step's own exit code comes back once it has ended.
    const std::vector<std::string> arguments{Housekeeping::kRetireOption};
    EXPECT_EQ(PkexecElevation(agreeing).RunElevated(program, arguments), std::optional<int>(1));
    EXPECT_EQ(SplitLines(ReadFileBytes(argsFile)),
              (std::vector<std::string>{"/usr/bin/env", "DISPLAY=:77", "XAUTHORITY=/tmp/test-xauthority",
                                        "XDG_RUNTIME_DIR=/tmp/test-runtime", program.string(), "-retire"}));
    EXPECT_EQ(SplitLines(ReadFileBytes(seenFile)), (std::vector<std::string>{"-retire", "DISPLAY=:77"}));

    EXPECT_EQ(PkexecElevation(refusing).RunElevated(program, arguments), std::nullopt);
    EXPECT_EQ(PkexecElevation(dir / "no-such-elevator").RunElevated(program, arguments), std::nullopt);

    for (const auto& [name, value] : saved) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
}
