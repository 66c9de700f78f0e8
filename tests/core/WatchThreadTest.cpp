#include <gtest/gtest.h>

#include <atomic>

#include "print/WatchThread.h"

using namespace std::chrono_literals;
using Poll = WatchThread::Poll;

TEST(WatchThread, EndsWhenItsPollIsDoneOrWhenStoppedAndNeverSpins) {
    auto polls = std::make_shared<std::atomic<int>>(0);
    {
        WatchThread watch([polls] { return ++*polls == 3 ? Poll::Done : Poll::Waiting; }, {});
        EXPECT_TRUE(watch.WaitFinished(60s));
        EXPECT_TRUE(watch.StopAndJoin(60s));
        EXPECT_EQ(*polls, 3);
    }

    // A watch that finds nothing is stopped by its starter; its polls are spaced, not spun.
    *polls = 0;
    {
        WatchThread watch(
            [polls] {
                ++*polls;
                return Poll::Waiting;
            },
            {});
        EXPECT_FALSE(watch.WaitFinished(WatchThread::kPollInterval * 2));
        EXPECT_TRUE(watch.StopAndJoin(60s));
        EXPECT_LE(*polls, 20);
        EXPECT_GE(*polls, 1);
    }

    // The service's stop ends a watch at once, and an owner going away joins one still running.
    std::stop_source service;
    auto held = std::make_shared<std::atomic<int>>(0);
    {
        WatchThread watch([held] { return ++*held, Poll::Waiting; }, service.get_token());
        service.request_stop();
        EXPECT_TRUE(watch.WaitFinished(60s));
    }
    EXPECT_EQ(held.use_count(), 1) << "the thread has ended and released its poll";
}
