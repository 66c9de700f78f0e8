#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>

#include "e2e/DesktopShell.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/Ports.h"
#include "support/SessionBus.h"
#include "support/TempDir.h"

// The desktop program in a person's session: a session bus with a notification service, a display,
// the person's own folders. Keys go through xdotool.
namespace {

using namespace std::chrono_literals;
using desktopshell::Shell;
using desktopshell::WaitUntil;

constexpr const char* kTestUser = "qopra-desktop-test";

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// The visible window of `pid` whose title begins with `title`. The titles carry the program's name
// after a dash that xdotool's own name search does not read reliably: each name is asked for.
std::string WindowNamed(int pid, const std::string& title) {
    std::string found = Shell("for w in $(xdotool search --onlyvisible --pid " + std::to_string(pid) +
                              " '' 2>/dev/null); do case \"$(xdotool getwindowname $w)\" in '" + title +
                              "'|'" + title + " '*) echo $w; break;; esac; done");
    if (!found.empty() && found.back() == '\n') {
        found.pop_back();
    }
    return found;
}

// A display that answers (a server started a moment ago may not yet).
bool HaveDisplay() {
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && display[0] != '\0' && std::system("command -v xdotool >/dev/null") == 0 &&
           WaitUntil([] { return !Shell("xdotool getdisplaygeometry 2>/dev/null").empty(); }, 10s);
}

} // namespace

TEST(DesktopSession, ATakenPortAndAnUnknownPrinterAreEachToldOnceOnTheScreenAndInTheLog) {
    if (!HaveDisplay() || !SessionBus::Available()) {
        GTEST_SKIP() << "needs a display, xdotool and dbus-daemon";
    }
    TempDir home;
    SessionBus bus(home.Path());
    ASSERT_TRUE(bus.Ready());
    // "Another program" (this test) holds the discovery port.
    std::optional<ReservedUdpPort> held(std::in_place);
    const std::string port = held->Text();
    std::filesystem::create_directories(home / "Qopra");
    WriteFileBytes(home / "Qopra" / "qopra.xml",
                   "<?xml version=\"1.0\"?>\n<settings><local_port>" + port +
                       "</local_port><pad_port>2000</pad_port><printers><printer>qopra-null</printer>"
                       "<printer>no-such-queue</printer></printers><lang>en-GB</lang></settings>\n");
    ChildProcess qopra(ChildProcess::Executable("qopra2"), {},
                       {{"XDG_DATA_HOME", home.Path().string()},
                        {"XDG_RUNTIME_DIR", home.Path().string()},
                        {"XDG_CONFIG_HOME", (home / "config").string()},
                        {"DBUS_SESSION_BUS_ADDRESS", bus.Address()}});
    ASSERT_TRUE(bus.WaitForNotifications(2, 20s)) << qopra.Output();
    // The program tries the port again every 5 s: nothing more is said.
    std::this_thread::sleep_for(6500ms);
    const std::vector<std::string> told = bus.Notifications();
    ASSERT_EQ(told.size(), 2u);
    const std::string both = told[0] + "\n" + told[1];
    EXPECT_NE(
        both.find("2\tQopra cannot serve the devices\tThe offered printer no-such-queue is not a printer"),
        std::string::npos)
        << both;
    EXPECT_NE(both.find("the UDP port " + port + " is taken by another program"), std::string::npos) << both;
    const std::string log = ReadFileBytes(home / "Qopra" / "qopra.log");
    EXPECT_EQ(Count(log, "[ERROR] Unable to start UDP server on port " + port), 1u) << log;
    EXPECT_EQ(Count(log, "[ERROR] The offered printer no-such-queue is not a queue of the spooler"), 1u)
        << log;
    EXPECT_EQ(Count(qopra.Output(), "Unable to start UDP server"), 1u) << qopra.Output();

    // The port comes free: served again, and said in the log, not on the screen.
    held.reset();
    EXPECT_TRUE(WaitUntil([&] {
        return ReadFileBytes(home / "Qopra" / "qopra.log").find("is open again: devices are served") !=
               std::string::npos;
    }));
    EXPECT_EQ(bus.Notifications().size(), 2u);
    qopra.Signal(SIGTERM);
    EXPECT_EQ(qopra.Wait(20s), 0);
}

TEST(DesktopSession, AutostartAsAStandardUserIsTheirOwnEntryWithoutElevation) {
    if (!HaveDisplay()) {
        GTEST_SKIP() << "needs a display and xdotool";
    }
    if (std::filesystem::exists("/opt/Tavelko/Qopra")) {
        GTEST_SKIP() << "an old installation on this machine would be retired";
    }
    // The program runs as a standard user: one made for the test when the test runs as root.
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (uid == 0) {
        std::system((std::string("getent passwd ") + kTestUser +
                     " >/dev/null || useradd -r -M -s /usr/sbin/nologin " + kTestUser)
                        .c_str());
        const passwd* user = ::getpwnam(kTestUser);
        ASSERT_NE(user, nullptr);
        uid = user->pw_uid;
        gid = user->pw_gid;
    }
    TempDir root;
    std::filesystem::permissions(root.Path(), std::filesystem::perms::owner_all |
                                                  std::filesystem::perms::group_exec |
                                                  std::filesystem::perms::others_exec);
    const std::filesystem::path home = root / "home";
    const std::filesystem::path bin = root / "bin";
    const std::filesystem::path called = root / "pkexec-called";
    std::filesystem::create_directories(home / "Qopra");
    std::filesystem::create_directories(bin);
    // pkexec's stand-in records that it was run and refuses.
    WriteFileBytes(bin / "pkexec", "#!/bin/sh\necho \"$@\" >> '" + called.string() + "'\nexit 126\n");
    std::filesystem::permissions(bin / "pkexec", std::filesystem::perms::all);
    // A port that is free (the settings window takes ports from 1 on).
    const std::string port = ReservedUdpPort().Text();
    WriteFileBytes(
        home / "Qopra" / "qopra.xml",
        "<?xml version=\"1.0\"?>\n<settings><local_port>" + port +
            "</local_port><pad_port>2000</pad_port><printers><printer>qopra-null</printer></printers>"
            "<lang>en-GB</lang></settings>\n");
    std::system(
        ("chown -R " + std::to_string(uid) + ":" + std::to_string(gid) + " '" + home.string() + "'").c_str());
    std::filesystem::permissions(home, std::filesystem::perms::owner_all);

    const std::map<std::string, std::string> environment = {{"HOME", home.string()},
                                                            {"XDG_DATA_HOME", home.string()},
                                                            {"XDG_CONFIG_HOME", (home / "config").string()},
                                                            {"XDG_RUNTIME_DIR", home.string()},
                                                            {"PATH", bin.string() + ":/usr/bin:/bin"},
                                                            {"QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox"}};
    const std::vector<std::string> asUser = {"--reuid",        std::to_string(uid),
                                             "--regid",        std::to_string(gid),
                                             "--clear-groups", ChildProcess::Executable("qopra2").string()};
    const auto run = [&](std::vector<std::string> arguments) {
        std::vector<std::string> command = asUser;
        command.insert(command.end(), arguments.begin(), arguments.end());
        return std::make_unique<ChildProcess>("/usr/bin/setpriv", command, environment);
    };

    // The retiring step is refused to a standard user; an administrator finds nothing to retire here.
    EXPECT_EQ(run({"-retire"})->Wait(20s), 2);
    if (::geteuid() == 0) {
        ChildProcess retire(ChildProcess::Executable("qopra2"), {"-retire"}, environment);
        EXPECT_EQ(retire.Wait(20s), 0) << retire.Output();
    }

    // The display lets the user in (a moment after other tests' programs have let go of it).
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::vector<std::string> command(asUser.begin(), asUser.end() - 1);
            command.insert(command.end(), {"/usr/bin/xdotool", "getdisplaygeometry"});
            return ChildProcess("/usr/bin/setpriv", command, environment).Wait(5s) == 0;
        },
        15s));

    // The settings window opens with the box ticked (as a relaunch of old asked for); OK applies it.
    const auto qopra = run({"-autostartcheck", "-checkstate=1"});
    std::string window;
    ASSERT_TRUE(WaitUntil([&] {
        window = WindowNamed(qopra->Pid(), "Settings");
        return !window.empty();
    })) << qopra->Output();
    // A click on OK, at the lower right beside Cancel, once the window has settled.
    const std::filesystem::path entry = home / "config" / "autostart" / "qopra2.desktop";
    ASSERT_TRUE(WaitUntil([&] {
        std::this_thread::sleep_for(700ms);
        Shell("eval $(xdotool getwindowgeometry --shell " + window + "); xdotool mousemove --window " +
              window + " $((WIDTH - 130)) $((HEIGHT - 20)) click 1");
        return WaitUntil([&] { return std::filesystem::exists(entry); }, 2s);
    })) << qopra->Output();

    struct stat owner {};
    ASSERT_EQ(::stat(entry.c_str(), &owner), 0);
    EXPECT_EQ(owner.st_uid, uid);
    EXPECT_NE(ReadFileBytes(entry).find("\nExec=" + ChildProcess::Executable("qopra2").string() + "\n"),
              std::string::npos);
    if (std::system("command -v desktop-file-validate >/dev/null") == 0) {
        EXPECT_EQ(std::system(("desktop-file-validate '" + entry.string() + "'").c_str()), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(called)) << ReadFileBytes(called);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(qopra->Running()) << "the program goes on with the person's settings";
    EXPECT_NE(ReadFileBytes(home / "Qopra" / "qopra.xml").find("<printer>qopra-null</printer>"),
              std::string::npos);
    qopra->Signal(SIGTERM);
    EXPECT_EQ(qopra->Wait(20s), 0) << qopra->Output();
}
