#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/RunLoop.h"

using namespace vornik;

TEST(RunLoop, WorkRunsByDueTimeThenBySchedulingOrderTimersCanBeInvalidatedOthersPost) {
    ManualClock clock;
    RunLoop loop(clock);
    std::vector<std::string> ran;
    loop.after(0.010, [&] { ran.push_back("load A"); });
    loop.after(0.003, [&] { ran.push_back("early"); });
    loop.after(0.010, [&] { ran.push_back("load B"); });  // same due time: after A
    clock.advance(0.005);
    loop.after(0.005, [&] { ran.push_back("load C"); });  // due at 0.010 too, scheduled last
    EXPECT_EQ(loop.runDue(), 1u);
    clock.set(0.0099);
    EXPECT_EQ(loop.runDue(), 0u);  // nothing is early
    clock.set(0.010);
    loop.runDue();
    EXPECT_EQ(ran, (std::vector<std::string>{"early", "load A", "load B", "load C"}));
    EXPECT_FALSE(loop.nextDueTime().has_value());
    // Work scheduled while running runs when due; advance stops the clock at each due time.
    std::vector<double> times;
    loop.after(0.1, [&] {
        times.push_back(clock.now());
        loop.after(0.0, [&] { times.push_back(clock.now()); });  // due now: runs in this pass
        loop.after(0.5, [&] { times.push_back(clock.now()); });
    });
    loop.advance(clock, 1.0);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_NEAR(times[0], 0.11, 1e-12);
    EXPECT_EQ(times[1], times[0]);
    EXPECT_NEAR(times[2], 0.61, 1e-12);
    // Timers fire once and can be invalidated.
    int hint = 0, other = 0;
    auto hintTimer = loop.scheduleTimer(3.0, [&] { ++hint; });
    auto otherTimer = loop.scheduleTimer(3.0, [&] { ++other; });
    loop.advance(clock, 2.0);
    hintTimer->invalidate();  // e.g. the mode changed before the hint was due
    loop.advance(clock, 5.0);
    EXPECT_EQ(hint, 0);
    EXPECT_EQ(other, 1);
    EXPECT_FALSE(otherTimer->isValid());  // a fired one-shot is spent
    otherTimer->invalidate();             // and invalidating it again is harmless
    loop.advance(clock, 5.0);
    EXPECT_EQ(other, 1);
    // Work posted from other threads runs on the loop.
    int sum = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) loop.post([&] { ++sum; });
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(loop.runDue(), 400u);
    EXPECT_EQ(sum, 400);
}
