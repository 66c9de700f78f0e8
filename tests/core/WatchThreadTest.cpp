#include <gtest/gtest.h>

#include <atomic>

#include "print/WatchThread.h"

using namespace std::chrono_literals;

TEST(WatchThread, PollThatFindsItsResultEndsTheWatchWithoutFurtherPolls) {
    auto polls = std::make_shared<std::atomic<int>>(0);
    WatchThread watch([polls] { return ++*polls == 3; });
    EXPECT_TRUE(watch.WaitFinished(60s));
    EXPECT_TRUE(watch.StopAndJoin(60s));
    EXPECT_EQ(*polls, 3);
}

TEST(WatchThread, WatchThatFindsNothingIsStoppedByItsStarter) {
    auto polls = std::make_shared<std::atomic<int>>(0);
    WatchThread watch([polls] {
        ++*polls;
        return false;
    });
    EXPECT_FALSE(watch.WaitFinished(WatchThread::kPollInterval * 2));
    EXPECT_TRUE(watch.StopAndJoin(60s));
    const int seen = *polls;
    // Polls are spaced by the interval, not spun.
    EXPECT_LE(seen, 10);
    EXPECT_GE(seen, 1);
}

TEST(WatchThread, OwnerGoingAwayStopsAndJoinsAWatchStillRunning) {
    auto polls = std::make_shared<std::atomic<int>>(0);
    {
        WatchThread watch([polls] {
            ++*polls;
            return false;
        });
    }
    // The thread has ended and released its poll, and with it its share of the counter.
    EXPECT_EQ(polls.use_count(), 1);
}
