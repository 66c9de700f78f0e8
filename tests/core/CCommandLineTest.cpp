#include <gtest/gtest.h>

#include "app/CCommandLine.h"

namespace {

StartupFlags Parse(std::vector<std::string> arguments) {
    StartupFlags flags;
    CCommandLine::Parse(arguments, flags);
    return flags;
}

} // namespace

TEST(CCommandLineOptions, ForceAdminMatchesAPrefixInAnyCase) {
    for (const char* argument : {"-forceAdmin", "-forceadmin", "/FORCEADMIN", "-forceAdminX"}) {
        EXPECT_TRUE(Parse({argument}).forceAdmin) << argument;
    }
    EXPECT_FALSE(Parse({"-forceAdmi"}).forceAdmin);
    EXPECT_FALSE(Parse({"forceAdmin"}).forceAdmin);
}

TEST(CCommandLineOptions, AutostartCheckMatchesExactly) {
    EXPECT_TRUE(Parse({"-autostartcheck"}).autostartCheck);
    EXPECT_TRUE(Parse({"/autostartcheckX"}).autostartCheck);
    EXPECT_FALSE(Parse({"-AutoStartCheck"}).autostartCheck);
}

TEST(CCommandLineOptions, CheckStateReadsTheNumberAfterTheAssignment) {
    EXPECT_EQ(Parse({"-checkstate=1"}).checkState, 1);
    EXPECT_EQ(Parse({"-checkstate= -7"}).checkState, -7);
    EXPECT_EQ(Parse({"-checkstate=abc"}).checkState, 0);
    EXPECT_EQ(Parse({"-checkstate"}).checkState, 0);
    EXPECT_EQ(Parse({"-checkstateX=7"}).checkState, 0);
    EXPECT_EQ(Parse({"-CheckState=1"}).checkState, 0);
}

TEST(CCommandLineOptions, SeveralOptionsAndUnknownParameters) {
    const StartupFlags flags =
        Parse({"-forceAdmin", "-autostartcheck", "-checkstate=1", "-p", "report.pdf", "-headless"});
    EXPECT_TRUE(flags.forceAdmin);
    EXPECT_TRUE(flags.autostartCheck);
    EXPECT_EQ(flags.checkState, 1);
    EXPECT_TRUE(flags.headless);
    EXPECT_EQ(flags.unknownOptions, std::vector<std::string>{"-p"});
    const StartupFlags none = Parse({"-p", "file.txt", "--", "", "/tmp/x.pdf", "-AutoStartCheck"});
    EXPECT_FALSE(none.forceAdmin || none.autostartCheck || none.headless || none.help || none.version);
    EXPECT_EQ(none.checkState, 0);
    EXPECT_EQ(none.unknownOptions, (std::vector<std::string>{"-p", "--", "/tmp/x.pdf", "-AutoStartCheck"}));
}

TEST(CCommandLineOptions, HelpAndVersionAreMatchedWhole) {
    for (const char* argument : {"-h", "--help", "-help", "/h"}) {
        const StartupFlags flags = Parse({argument});
        EXPECT_TRUE(flags.help) << argument;
        EXPECT_TRUE(flags.unknownOptions.empty()) << argument;
    }
    for (const char* argument : {"--version", "-version"}) {
        EXPECT_TRUE(Parse({argument}).version) << argument;
    }
    const StartupFlags near = Parse({"-hx", "--helpme", "--versions", "-H"});
    EXPECT_FALSE(near.help || near.version || near.headless);
    EXPECT_EQ(near.unknownOptions.size(), 4u);
    EXPECT_FALSE(Parse({"-headless"}).help);

    const std::string usage = CCommandLine::Usage("/home/ann/.local/share/Qopra", "/usr/share/qopra");
    for (const char* part :
         {"-headless", "-forceAdmin", "-autostartcheck", "-checkstate=N", "--version",
          "/home/ann/.local/share/Qopra\n", "qopra.xml", "qopra.log", "/usr/share/qopra\n"}) {
        EXPECT_NE(usage.find(part), std::string::npos) << part;
    }
    EXPECT_NE(CCommandLine::Usage("", "/usr/share/qopra").find("none"), std::string::npos);
}
