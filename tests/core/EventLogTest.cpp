#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "app/EventLog.h"
#include "app/UTF16File.h"
#include "platform/Unicode.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

TEST(EventLogFormat, LineHoldsTickTimeAndMessage) {
    TempDir dir;
    EventLog log;
    log.SetFileName(dir / "qopra.log");
    log.WriteMessage("START service");
    const auto lines = SplitLines(ReadFileBytes(dir / "qopra.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(-?\d+ - \d\d:\d\d:\d\d START service)")))
        << lines[0];
}

TEST(EventLogFormat, LongMessageIsCutAndWideCharactersBecomeQuestionMarks) {
    TempDir dir;
    EventLog log;
    log.SetFileName(dir / "qopra.log");
    log.WriteMessage(std::string(20000, 'x'));
    log.WriteMessage("caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD end");
    const auto lines = SplitLines(ReadFileBytes(dir / "qopra.log"));
    ASSERT_EQ(lines.size(), 2u);
    const std::string first = lines[0].substr(lines[0].find(' ', lines[0].find(" - ") + 3) + 1);
    EXPECT_EQ(first, std::string(EventLog::kMessageLimit, 'x'));
    // The line is complete: Latin-1 characters as their byte, anything else as "?".
    EXPECT_NE(lines[1].find("caf\xE9 ? ? end"), std::string::npos) << lines[1];
}

// A printer, file or entry name from a device with line breaks in it must not write lines of its own
// into the log (the trace sinks use the same escaping; the end-to-end test sees both).
TEST(EventLogFormat, TextsFromOutsideStayOnTheirLine) {
    const std::string forged = "Job 1: a.pdf\n1234567 - 13:00:00 FORGED Job 99: payroll.pdf\r\x1b[2J";
    const std::string written = "Job 1: a.pdf\\n1234567 - 13:00:00 FORGED Job 99: payroll.pdf\\r\\x1b[2J";
    EXPECT_EQ(EscapeControlCharacters(forged), written);
    // C1 controls (NEL), separators, a NUL and bytes that are no UTF-8 are written out; tabs too;
    // ordinary text of any script is left alone.
    EXPECT_EQ(EscapeControlCharacters(std::string("a\tb\xC2\x85"
                                                  "c\xE2\x80\xA8"
                                                  "d\0e\xFF\x7F",
                                                  14)),
              "a\\tb\\x85c\\u2028d\\x00e\\xff\\x7f");
    EXPECT_EQ(EscapeControlCharacters("caf\xC3\xA9 \xE4\xB8\xAD \\n"), "caf\xC3\xA9 \xE4\xB8\xAD \\n");

    TempDir dir;
    EventLog log;
    log.SetFileName(dir / "qopra.log");
    log.WriteMessage(forged);
    log.WriteMessage("caf\xC3\xA9\xC2\x85");
    const auto lines = SplitLines(ReadFileBytes(dir / "qopra.log"));
    ASSERT_EQ(lines.size(), 2u) << ReadFileBytes(dir / "qopra.log");
    EXPECT_TRUE(lines[0].ends_with(" " + written)) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(" caf\xE9\\x85")) << lines[1];
    // Only its user may read what the log says of the documents.
    struct stat info {};
    ASSERT_EQ(::stat((dir / "qopra.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(EventLogFile, DeletedFileIsCreatedAgainAndEmptyNameWritesNothing) {
    TempDir dir;
    EventLog log;
    log.WriteMessage("before a name");
    log.SetFileName(dir / "qopra.log");
    log.WriteMessage("one");
    std::filesystem::remove(dir / "qopra.log");
    log.WriteMessage("two");
    const auto lines = SplitLines(ReadFileBytes(dir / "qopra.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("two"), std::string::npos);

    EventLog missingFolder;
    missingFolder.SetFileName(dir / "no-such-folder" / "qopra.log");
    missingFolder.WriteMessage("dropped");
    EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
}

TEST(EventLogThreads, LinesOfManyThreadsNeverInterleave) {
    TempDir dir;
    EventLog log;
    log.SetFileName(dir / "qopra.log");
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kLinesEach; ++i) {
                log.WriteMessage("thread " + std::to_string(t) + " line " + std::to_string(i) +
                                 std::string(300, 'a' + t));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto lines = SplitLines(ReadFileBytes(dir / "qopra.log"));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesEach));
    const std::regex whole(R"(-?\d+ - \d\d:\d\d:\d\d thread (\d) line \d+([a-d]{300}))");
    for (const auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
        EXPECT_EQ(match[2].str(), std::string(300, static_cast<char>('a' + std::stoi(match[1].str()))));
    }
}

TEST(UTF16FileTest, WritesByteOrderMarkAndLittleEndianUnits) {
    TempDir dir;
    const std::string path = (dir / "register.xml").string();
    UTF16File file;
    file.Open(path, true);
    file.WriteLine("abc");
    file.Close();
    EXPECT_EQ(ReadFileBytes(path), std::string("\xFF\xFE"
                                               "a\0b\0c\0\n\0",
                                               10));
    EXPECT_EQ(file.ReadAll(), "abc\n");
    EXPECT_EQ(file.GetPath(), path);
}

TEST(UTF16FileTest, ReadAllOfMissingEmptyOrOneByteFileIsEmpty) {
    TempDir dir;
    UTF16File file;
    file.Open((dir / "missing").string(), false);
    EXPECT_EQ(file.ReadAll(), "");
    WriteFileBytes(dir / "empty", "");
    file.Open((dir / "empty").string(), false);
    EXPECT_EQ(file.ReadAll(), "");
    WriteFileBytes(dir / "one", "\xFF");
    file.Open((dir / "one").string(), false);
    EXPECT_EQ(file.ReadAll(), "");
}

TEST(UTF16FileTest, WriteWithoutCreateWritesNothingAndNonLatinTextRoundTrips) {
    TempDir dir;
    const std::string path = (dir / "text").string();
    UTF16File file;
    file.Open(path, false);
    file.WriteLine("lost");
    EXPECT_FALSE(std::filesystem::exists(path));

    file.Open(path, true);
    file.Write("\xE4\xB8\xAD\xF0\x9F\x96\xA8");
    file.Close();
    EXPECT_EQ(file.ReadAll(), "\xE4\xB8\xAD\xF0\x9F\x96\xA8");
}
