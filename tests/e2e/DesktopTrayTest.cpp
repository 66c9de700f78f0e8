#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <optional>
#include <regex>
#include <thread>

#include "e2e/DesktopShell.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

// The desktop program as a person meets it: started on a display with a tray host (trayer), reached
// through its tray icon, ended from its menu. Clicks go through xdotool.
namespace {

using namespace std::chrono_literals;
using desktopshell::Shell;
using desktopshell::WaitUntil;

bool Available() {
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && display[0] != '\0' &&
           std::system("command -v trayer >/dev/null && command -v xdotool >/dev/null && "
                       "command -v xwininfo >/dev/null") == 0;
}

// Where the tray host put the program's icon, when it is docked.
std::optional<std::pair<int, int>> IconPosition() {
    const std::string tree = Shell("xwininfo -root -tree");
    std::smatch match;
    if (std::regex_search(
            tree, match,
            std::regex(R"re("Qopra": \("qopra2" "qopra2"\)\s+(\d+)x(\d+)\S*\s+\+(-?\d+)\+(-?\d+))re"))) {
        return std::pair{std::stoi(match[3]) + std::stoi(match[1]) / 2,
                         std::stoi(match[4]) + std::stoi(match[2]) / 2};
    }
    return std::nullopt;
}

// Windows of other tests share the display: only the given program's window with exactly that title
// (and the program's name after it, as every window of it has) counts.
bool MainWindowShown(const ChildProcess& program, const std::string& title) {
    return !Shell("xdotool search --all --onlyvisible --pid " + std::to_string(program.Pid()) + " --name '^" +
                  title + "( |$)' 2>/dev/null")
                .empty();
}

void Click(const std::pair<int, int>& at, int button, int count = 1) {
    Shell("xdotool mousemove " + std::to_string(at.first) + " " + std::to_string(at.second) +
          " click --repeat " + std::to_string(count) + " --delay 80 " + std::to_string(button));
}

class DesktopTrayTest : public testing::Test {
protected:
    void SetUp() override {
        if (!Available()) {
            GTEST_SKIP() << "no X server with trayer, xdotool and xwininfo";
        }
        std::filesystem::create_directories(home / "Qopra");
        environment = {{"XDG_DATA_HOME", home.Path().string()},
                       {"XDG_RUNTIME_DIR", home.Path().string()},
                       {"XDG_CONFIG_HOME", (home / "config").string()}};
        tray.emplace("/usr/bin/trayer",
                     std::vector<std::string>{"--edge", "top", "--align", "right", "--widthtype", "pixel",
                                              "--width", "160", "--height", "32", "--expand", "false"});
        std::this_thread::sleep_for(500ms);
    }
    void Settings(const std::string& lang) {
        WriteFileBytes(
            home / "Qopra" / "qopra.xml",
            "<?xml version=\"1.0\"?>\n<settings><local_port>0</local_port><pad_port>2000</pad_port>"
            "<lang>" +
                lang + "</lang></settings>\n");
    }

    TempDir home;
    std::map<std::string, std::string> environment;
    std::optional<ChildProcess> tray;
};

} // namespace

TEST_F(DesktopTrayTest, TheIconOpensTheWindowComesBackWithItsHostAndCloseEndsTheProgram) {
    Settings("it-IT");
    ChildProcess qopra(ChildProcess::Executable("qopra2"), {}, environment);
    ASSERT_TRUE(WaitUntil([] { return IconPosition().has_value(); })) << qopra.Output();
    EXPECT_FALSE(MainWindowShown(qopra, "Servizio di stampa Wi-Fi"))
        << "with a tray host the window stays hidden at the start";

    // A single click is OPEN, as many tray hosts report only single clicks.
    Click(*IconPosition(), 1, 1);
    EXPECT_TRUE(WaitUntil([&] { return MainWindowShown(qopra, "Servizio di stampa Wi-Fi"); }));

    // The tray host goes and comes back: so does the icon.
    tray.reset();
    ASSERT_TRUE(WaitUntil([] { return !IconPosition().has_value(); }));
    tray.emplace("/usr/bin/trayer",
                 std::vector<std::string>{"--edge", "top", "--align", "right", "--widthtype", "pixel",
                                          "--width", "160", "--height", "32", "--expand", "false"});
    ASSERT_TRUE(WaitUntil([] { return IconPosition().has_value(); }));

    // The menu, chosen by the keyboard as a person may: its last entry, Chiudi (CLOSE), ends it.
    Click(*IconPosition(), 3);
    std::this_thread::sleep_for(700ms);
    Shell("xdotool key Up Return");
    EXPECT_EQ(qopra.Wait(20s), 0) << qopra.Output();
}

TEST_F(DesktopTrayTest, ASecondStartShowsTheRunningWindowAndSigtermEndsItWhileShown) {
    Settings("en-GB");
    ChildProcess qopra(ChildProcess::Executable("qopra2"), {}, environment);
    ASSERT_TRUE(WaitUntil([] { return IconPosition().has_value(); })) << qopra.Output();
    EXPECT_FALSE(MainWindowShown(qopra, "Wi-Fi print service"));
    ChildProcess second(ChildProcess::Executable("qopra2"), {}, environment);
    EXPECT_EQ(second.Wait(20s), 0);
    EXPECT_TRUE(WaitUntil([&] { return MainWindowShown(qopra, "Wi-Fi print service"); }));
    qopra.Signal(SIGTERM);
    EXPECT_EQ(qopra.Wait(20s), 0) << qopra.Output();
    EXPECT_NE(ReadFileBytes(home / "Qopra" / "qopra.log")
                  .find("-->CQopraDlg::WindowProc, received message WM_END_APPLICATION"),
              std::string::npos);
}
