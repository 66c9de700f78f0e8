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
    const StartupFlags none = Parse({"-p", "file.txt", "--", ""});
    EXPECT_FALSE(none.forceAdmin || none.autostartCheck || none.headless);
    EXPECT_EQ(none.checkState, 0);
}
