#include "platform/foundation/NSNotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace vesk::platform;

namespace {

TEST(NotificationCenterTest, PostReachesTheObserversOfItsNameInOrderUntilRemoved)
{
    NSNotificationCenter center;
    int ownerA = 0, ownerB = 0;
    std::vector<std::string> calls;
    center.addObserver(&ownerA, "tap", [&](const NSNotification& n) { calls.push_back("A:" + std::any_cast<std::string>(n.object)); });
    center.addObserver(&ownerB, "tap", [&](const NSNotification& n) { calls.push_back("B:" + std::any_cast<std::string>(n.object)); });
    center.addObserver(&ownerB, "other", [&](const NSNotification&) { calls.push_back("B:other"); });
    center.postNotificationName("tap", std::string("1"));
    center.removeObserver(&ownerB, "tap");
    center.postNotificationName("tap", std::string("2"));
    center.postNotificationName("other");
    EXPECT_EQ(calls, (std::vector<std::string> { "A:1", "B:1", "A:2", "B:other" }));
}

TEST(NotificationCenterTest, AnObserverRemovedDuringAPostIsNotCalled)
{
    NSNotificationCenter center;
    int first = 0, second = 0;
    int firstCalls = 0, secondCalls = 0;
    center.addObserver(&first, "n", [&](const NSNotification&) {
        ++firstCalls;
        center.removeObserver(&second);
        // Adding from inside a delivery must not deadlock; the new one waits for the next post.
        center.addObserver(&first, "n", [&](const NSNotification&) {});
    });
    center.addObserver(&second, "n", [&](const NSNotification&) { ++secondCalls; });
    center.postNotificationName("n");
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 0);
}

TEST(NotificationCenterTest, ConcurrentPostsAndChanges)
{
    NSNotificationCenter center;
    std::atomic<int> delivered { 0 };
    int stable = 0;
    center.addObserver(&stable, "n", [&](const NSNotification&) { ++delivered; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            int owner = t;
            for (int i = 0; i < 200; ++i) {
                center.addObserver(&owner, "n", [](const NSNotification&) {});
                center.postNotificationName("n");
                center.removeObserver(&owner);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(delivered.load(), 800);
    EXPECT_EQ(center.observerCount("n"), 1u);
}

}
