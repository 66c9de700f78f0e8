#include "app/StdoutTraceSink.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>

TEST(StdoutTraceSink, AReaderThatIsStuckOrGoneNeverHoldsTheTracingThread) {
    std::signal(SIGPIPE, SIG_IGN);
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    const std::string line(100, 'x');
    {
        // Nobody reads: the pipe fills, the writer blocks, and the lines beyond the queue are dropped
        // and counted instead of blocking the caller; the end gives up on the reader after a moment.
        StdoutTraceSink sink(pipeFds[1]);
        const auto started = std::chrono::steady_clock::now();
        for (int i = 0; i < 100000; ++i) {
            sink.TraceLine(line);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_GT(sink.Dropped(), 0u);
    }

    // The reader reads again: every line that comes out is whole, a kept line or the count of the
    // dropped ones.
    char chunk[65536];
    std::string out;
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    for (ssize_t count = 0; (count = read(pipeFds[0], chunk, sizeof chunk)) > 0;) {
        out.append(chunk, static_cast<std::size_t>(count));
    }
    ASSERT_FALSE(out.empty());
    const std::regex dropped(R"(\.\.\. \d+ trace lines dropped, the output was full)");
    for (std::size_t start = 0, end = 0; (end = out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string written = out.substr(start, end - start);
        EXPECT_TRUE(written == line || std::regex_match(written, dropped)) << written;
    }
    close(pipeFds[0]); // the writer left behind ends on the closed pipe

    // A reader that is gone: writing ends quietly and later lines are only counted.
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    close(pipeFds[0]);
    {
        StdoutTraceSink sink(pipeFds[1]);
        sink.TraceLine("first");
        for (int i = 0; i < 1000 && sink.Dropped() == 0; ++i) {
            sink.TraceLine("later");
            usleep(1000);
        }
        EXPECT_GT(sink.Dropped(), 0u);
    }
    close(pipeFds[1]);
}
