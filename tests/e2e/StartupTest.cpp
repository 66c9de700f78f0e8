#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <sstream>
#include <thread>

#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

bool WaitForFile(const std::filesystem::path& path, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

} // namespace

TEST(HeadlessStartup, FirstStartProvisionsSecondEndsSilentlySigtermEndsInOrder) {
    TempDir home;
    const std::map<std::string, std::string> environment{{"XDG_DATA_HOME", home.Path().string()},
                                                         {"XDG_RUNTIME_DIR", home.Path().string()}};
    const auto qopra = ChildProcess::Executable("qopra2");
    const auto data = home / "Qopra";

    ChildProcess first(qopra, {"-headless", "-autostartcheck", "-checkstate=1"}, environment);
    ASSERT_TRUE(WaitForFile(data / "qopra.log", 20s)) << first.Output();
    EXPECT_TRUE(std::filesystem::exists(data / "qopra.xml"));
    EXPECT_TRUE(std::filesystem::exists(data / "Htm" / "waiting.htm"));
    ASSERT_TRUE(WaitForFile(data / "qopra.log", 1s));
    std::this_thread::sleep_for(300ms);
    const std::string logBefore = ReadFileBytes(data / "qopra.log");
    const auto lines = SplitLines(logBefore);
    ASSERT_GE(lines.size(), 2u) << logBefore;
    const std::regex format(R"(-?\d+ - \d\d:\d\d:\d\d .*)");
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, format)) << line;
    }
    EXPECT_NE(logBefore.find(" autostartcheck = 1\n"), std::string::npos);
    EXPECT_NE(logBefore.find(" checkstate = 1\n"), std::string::npos);

    ChildProcess second(qopra, {"-headless", "-checkstate=7"}, environment);
    ASSERT_EQ(second.Wait(20s), 0);
    EXPECT_EQ(second.Output(), "");
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(ReadFileBytes(data / "qopra.log"), logBefore);

    first.Signal(SIGTERM);
    ASSERT_EQ(first.Wait(20s), 0) << first.Output();
    const auto after = SplitLines(ReadFileBytes(data / "qopra.log"));
    ASSERT_FALSE(after.empty());
    EXPECT_NE(after.back().find(" -->CQopraDlg::WindowProc, received message WM_END_APPLICATION"),
              std::string::npos);
}

TEST(HeadlessStartup, ForceAdminSkipsTheSingleInstanceCheck) {
    TempDir home;
    const std::map<std::string, std::string> environment{{"XDG_DATA_HOME", home.Path().string()},
                                                         {"XDG_RUNTIME_DIR", home.Path().string()}};
    const auto qopra = ChildProcess::Executable("qopra2");
    ChildProcess first(qopra, {"-headless"}, environment);
    ASSERT_TRUE(WaitForFile(home / "Qopra" / "qopra.xml", 20s));
    ChildProcess second(qopra, {"-headless", "/FORCEADMIN"}, environment);
    EXPECT_FALSE(second.Wait(1500ms).has_value());
    second.Signal(SIGINT);
    EXPECT_EQ(second.Wait(20s), 0);
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(20s), 0);
}

TEST(HeadlessStartup, RunsWithoutADataFolder) {
    TempDir home;
    // A file where the data folder should be: the program runs on without log or settings.
    WriteFileBytes(home / "Qopra", "not a folder");
    ChildProcess qopra(ChildProcess::Executable("qopra2"), {"-headless"},
                       {{"XDG_DATA_HOME", home.Path().string()}, {"XDG_RUNTIME_DIR", home.Path().string()}});
    EXPECT_FALSE(qopra.Wait(1500ms).has_value()) << qopra.Output();
    qopra.Signal(SIGTERM);
    EXPECT_EQ(qopra.Wait(20s), 0);
    EXPECT_EQ(ReadFileBytes(home / "Qopra"), "not a folder");
}

TEST(HeadlessStartup, HelpAndVersionLeaveARunningInstanceAloneUnknownOptionsAreReported) {
    TempDir home;
    const std::map<std::string, std::string> environment{{"XDG_DATA_HOME", home.Path().string()},
                                                         {"XDG_RUNTIME_DIR", home.Path().string()}};
    const auto qopra = ChildProcess::Executable("qopra2");
    const auto data = home / "Qopra";

    // Unknown options are named on standard error; the program starts all the same.
    ChildProcess first(qopra, {"-headless", "-bogus", "--forceAdmin", "-autostartcheck"}, environment);
    ASSERT_TRUE(WaitForFile(data / "qopra.log", 20s)) << first.Output();
    ASSERT_TRUE(first.WaitForOutput("unknown option --forceAdmin ignored", 20s)) << first.Output();
    EXPECT_NE(first.Output().find("qopra2: unknown option -bogus ignored"), std::string::npos);
    ASSERT_TRUE(first.WaitForOutput(" is running on port ", 20s)) << first.Output();
    const std::string logBefore = ReadFileBytes(data / "qopra.log");

    for (const char* option : {"--help", "-h"}) {
        ChildProcess help(qopra, {option}, environment);
        ASSERT_EQ(help.Wait(20s), 0) << option;
        EXPECT_TRUE(help.Output().starts_with("Usage: qopra2 [-headless]")) << help.Output();
        EXPECT_NE(help.Output().find("  " + data.string() + "\n"), std::string::npos) << help.Output();
    }
    ChildProcess version(qopra, {"--version"}, environment);
    ASSERT_EQ(version.Wait(20s), 0);
    EXPECT_TRUE(std::regex_match(version.Output(), std::regex(R"(qopra2 \d+\.\d+\.\d+\n)")))
        << version.Output();

    EXPECT_TRUE(first.Running());
    EXPECT_EQ(ReadFileBytes(data / "qopra.log"), logBefore);
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(20s), 0);
}
