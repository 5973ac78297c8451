#include "base/RunLoop.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/LogLines.h"

using namespace vornik;

TEST(RunLoop, DelayedWorkRunsByDueTimeThenBySchedulingOrder) {
    ManualClock clock;
    RunLoop loop(clock);
    std::vector<std::string> ran;
    loop.after(0.010, [&] { ran.push_back("load A"); });
    loop.after(0.003, [&] { ran.push_back("early"); });
    loop.after(0.010, [&] { ran.push_back("load B"); });  // same due time: after A
    clock.advance(0.005);
    loop.after(0.005, [&] { ran.push_back("load C"); });  // due at 0.010 too, scheduled last

    EXPECT_EQ(loop.runDue(), 1u);
    EXPECT_EQ(ran, (std::vector<std::string>{"early"}));
    clock.set(0.0099);
    EXPECT_EQ(loop.runDue(), 0u);  // nothing is early
    clock.set(0.010);
    loop.runDue();
    EXPECT_EQ(ran, (std::vector<std::string>{"early", "load A", "load B", "load C"}));
    EXPECT_EQ(loop.pendingCount(), 0u);
    EXPECT_FALSE(loop.nextDueTime().has_value());
}

TEST(RunLoop, WorkScheduledWhileRunningRunsWhenDue) {
    ManualClock clock;
    RunLoop loop(clock);
    std::vector<double> times;
    loop.after(0.1, [&] {
        times.push_back(clock.now());
        loop.after(0.0, [&] { times.push_back(clock.now()); });    // due now: runs in this pass
        loop.after(0.5, [&] { times.push_back(clock.now()); });    // later
    });
    loop.advance(clock, 1.0);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_DOUBLE_EQ(times[0], 0.1);  // advance stops the clock at each due time
    EXPECT_DOUBLE_EQ(times[1], 0.1);
    EXPECT_DOUBLE_EQ(times[2], 0.6);
    EXPECT_DOUBLE_EQ(clock.now(), 1.0);
}

TEST(RunLoop, TimersFireOnceAndCanBeInvalidated) {
    ManualClock clock;
    RunLoop loop(clock);
    int hint = 0, other = 0;
    auto hintTimer = loop.scheduleTimer(3.0, [&] { ++hint; });
    auto otherTimer = loop.scheduleTimer(3.0, [&] { ++other; });
    EXPECT_TRUE(hintTimer->isValid());
    loop.advance(clock, 2.0);
    hintTimer->invalidate();  // e.g. the mode changed before the hint was due
    loop.advance(clock, 5.0);
    EXPECT_EQ(hint, 0);
    EXPECT_EQ(other, 1);
    EXPECT_FALSE(otherTimer->isValid());  // a fired one-shot is spent
    otherTimer->invalidate();             // and invalidating it again is harmless
    loop.advance(clock, 5.0);
    EXPECT_EQ(other, 1);
}

TEST(RunLoop, PostedWorkFromOtherThreadsRunsOnTheLoop) {
    ManualClock clock;
    RunLoop loop(clock);
    int sum = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) loop.post([&] { ++sum; });
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(loop.nextDueTime().has_value());
    EXPECT_EQ(loop.runDue(), 400u);
    EXPECT_EQ(sum, 400);
}

TEST(Log, LinesAreCapturedWithTheirTextsAndFormatted) {
    test::LogLines log;
    logLine("Ran out of playheads!");
    logf("Error loading audio file into buffer: %ld", -17L);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Ran out of playheads!",
                                                   "Error loading audio file into buffer: -17"}));
}
