#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSThread.h"
#include "platform/foundation/NSTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace vesk::platform;
using namespace std::chrono_literals;

namespace {

class RunLoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        loop.drain();
        clock = loop.useFakeClock();
    }

    void TearDown() override
    {
        loop.drain();
        loop.useSystemClock();
    }

    RunLoop& loop = RunLoop::main();
    std::shared_ptr<FakeClock> clock;
};

TEST_F(RunLoopTest, TimersFireInDeadlineOrderWithTiesInArmOrder)
{
    std::vector<std::string> fired;
    auto record = [&](std::string name) { return [&fired, name](NSTimer&) { fired.push_back(name); }; };
    auto t3 = NSTimer::scheduledTimerWithTimeInterval(3.0, false, record("3s"));
    auto t1a = NSTimer::scheduledTimerWithTimeInterval(1.0, false, record("1s-a"));
    auto t2 = NSTimer::scheduledTimerWithTimeInterval(2.0, false, record("2s"));
    auto t1b = NSTimer::scheduledTimerWithTimeInterval(1.0, false, record("1s-b"));
    auto t1c = NSTimer::scheduledTimerWithTimeInterval(1.0, false, record("1s-c"));
    loop.advanceSeconds(0.999);
    EXPECT_TRUE(fired.empty());
    loop.advanceSeconds(0.001);
    EXPECT_EQ(fired, (std::vector<std::string> { "1s-a", "1s-b", "1s-c" }));
    loop.advanceSeconds(5);
    EXPECT_EQ(fired, (std::vector<std::string> { "1s-a", "1s-b", "1s-c", "2s", "3s" }));
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(RunLoopTest, EachTimerFiresAtItsOwnDeadlineWhenTheClockJumps)
{
    // A check that arms the next one, like a polling watcher: a jump of 2 s gives four checks.
    std::vector<Clock::time_point> seen;
    std::function<void()> arm;
    std::shared_ptr<NSTimer> timer;
    arm = [&] {
        timer = NSTimer::scheduledTimerWithTimeInterval(0.5, false, [&](NSTimer&) {
            seen.push_back(clock->now());
            arm();
        });
    };
    auto start = clock->now();
    arm();
    loop.advanceSeconds(2.0);
    ASSERT_EQ(seen.size(), 4u);
    for (std::size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i] - start, secondsToDuration(0.5 * static_cast<double>(i + 1)));
    timer->invalidate();
}

TEST_F(RunLoopTest, FireRunsAtOnceAndSpendsAOneShotTimer)
{
    int count = 0;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(1.0, false, [&](NSTimer&) { ++count; });
    timer->fire();
    EXPECT_FALSE(timer->isValid());
    loop.advanceSeconds(2);
    EXPECT_EQ(count, 1);
}

TEST_F(RunLoopTest, InvalidatedTimerNeverFiresAndLetsGoOfItsBlock)
{
    auto owner = std::make_shared<int>(7);
    std::weak_ptr<int> watch = owner;
    bool fired = false;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(1.0, false, [owner, &fired](NSTimer&) { fired = true; });
    owner.reset();
    timer->invalidate();
    EXPECT_TRUE(watch.expired());
    loop.advanceSeconds(2);
    EXPECT_FALSE(fired);
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(RunLoopTest, ATimerMayDropTheLastReferenceToItselfWhileFiring)
{
    auto holder = std::make_shared<std::shared_ptr<NSTimer>>();
    int count = 0;
    *holder = NSTimer::scheduledTimerWithTimeInterval(0.5, false, [holder, &count](NSTimer&) {
        ++count;
        holder->reset();
    });
    (*holder)->fire();
    EXPECT_EQ(count, 1);
    EXPECT_EQ(*holder, nullptr);
}

TEST_F(RunLoopTest, OnTheSystemClockTimersFireInRealTime)
{
    loop.useSystemClock();
    bool fired = false;
    NSTimer::scheduledTimerWithTimeInterval(0.02, false, [&](NSTimer&) { fired = true; });
    EXPECT_TRUE(loop.runUntil([&] { return fired; }, 5s));
}

TEST_F(RunLoopTest, MainQueueKeepsEachPostersOrder)
{
    constexpr int perThread = 200;
    std::vector<std::vector<int>> seen(4);
    std::atomic<int> offMain { 0 };
    std::vector<std::thread> posters;
    for (std::size_t t = 0; t < seen.size(); ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                dispatch_async(dispatch_get_main_queue(), [&, t, i] {
                    offMain += !NSThread::isMainThread();
                    seen[t].push_back(i);
                });
            }
        });
    }
    for (auto& thread : posters)
        thread.join();
    EXPECT_TRUE(loop.drain());
    std::vector<int> expected(perThread);
    std::iota(expected.begin(), expected.end(), 0);
    for (auto& s : seen)
        EXPECT_EQ(s, expected);
    EXPECT_EQ(offMain.load(), 0);
}

TEST_F(RunLoopTest, BlocksPostedWhileRunningWaitForTheNextIteration)
{
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        loop.post([&] { order.push_back(3); });
    });
    loop.post([&] { order.push_back(2); });
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(order, (std::vector<int> { 1, 2 }));
    EXPECT_EQ(loop.pendingBlockCount(), 1u);
    EXPECT_EQ(loop.runUntilIdle(), 1u);
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 3 }));
    EXPECT_FALSE(loop.runOnce());
}

TEST_F(RunLoopTest, BlockedWorkersDoNotStarveOtherBlocks)
{
    // The first block waits for the second; a fixed pool of one worker would never finish.
    std::atomic<bool> released { false };
    std::atomic<int> done { 0 };
    auto& queue = dispatch_get_global_queue(QualityOfService::Background);
    dispatch_async(queue, [&] {
        while (!released)
            std::this_thread::sleep_for(1ms);
        ++done;
    });
    dispatch_async(queue, [&] {
        released = true;
        ++done;
    });
    EXPECT_TRUE(loop.runUntil([&] { return done == 2; }, 10s));
}

TEST_F(RunLoopTest, ThrowingBlocksDoNotStopTheQueues)
{
    bool after = false;
    loop.post([] { throw std::runtime_error("main"); });
    loop.post([&] { after = true; });
    std::atomic<bool> globalAfter { false };
    dispatch_async(dispatch_get_global_queue(QualityOfService::Utility), [] { throw 42; });
    dispatch_async(dispatch_get_global_queue(QualityOfService::Utility), [&] { globalAfter = true; });
    auto timer = NSTimer::scheduledTimerWithTimeInterval(0.1, false, [](NSTimer&) { throw std::runtime_error("timer"); });
    loop.advanceSeconds(1);
    EXPECT_TRUE(loop.drain());
    EXPECT_TRUE(after);
    EXPECT_TRUE(globalAfter);
    EXPECT_FALSE(timer->isValid());
}

}
