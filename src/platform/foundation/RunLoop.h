#pragma once

#include "platform/foundation/Clock.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vesk::platform {

class NSTimer;

// The main thread's loop: blocks posted to the main queue run in the order posted, timers
// fire in deadline order (ties in the order they were armed). Tests step it by hand and
// replace its clock.
class RunLoop {
public:
    using Block = std::function<void()>;

    static RunLoop& main();
    // The loop of the calling thread; there is only the main loop, so this is main().
    static RunLoop& current();

    Clock& clock() const;
    std::shared_ptr<Clock> clockPointer() const;
    void setClock(std::shared_ptr<Clock> clock);
    // Puts a fresh FakeClock in place and returns it.
    std::shared_ptr<FakeClock> useFakeClock();
    // Back to the system clock.
    void useSystemClock();

    // Thread-safe.
    void post(Block block);

    // One iteration: fires the timers that are due, then runs the blocks that were queued
    // when the iteration began. Answers whether anything ran. Never waits.
    bool runOnce();
    // Iterates until nothing is due and the main queue is empty. Returns the iterations that did work.
    std::size_t runUntilIdle();
    // Iterates, waiting for posts from other threads (and looking at the condition at least
    // every few milliseconds), until the condition holds or the real-time bound passes;
    // answers whether the condition held.
    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Iterates until the main queue is empty, no timer is due and no global-queue block is
    // pending or running, within a real-time bound; answers whether it got there.
    bool drain(std::chrono::milliseconds bound = std::chrono::seconds(10));
    // With a FakeClock: moves the clock forward step by step, firing each timer at its own
    // deadline and running the main queue after each, up to now + by.
    void advance(Clock::duration by);
    void advanceSeconds(double seconds);

    // Runs until stop(); a stop before run() makes the next run() return at once.
    void run();
    void stop(); // thread-safe, also from a signal-handling thread
    bool isRunning() const;

    // Timers; NSTimer calls these.
    void addTimer(const std::shared_ptr<NSTimer>& timer);
    void removeTimer(const NSTimer& timer);
    std::size_t timerCount() const; // armed, valid timers
    std::size_t pendingBlockCount() const;

    // Wakes a waiting loop; the worker pool calls it when it goes idle.
    void wake();

private:
    RunLoop();
    struct TimerEntry {
        Clock::time_point deadline;
        std::uint64_t sequence;
        std::shared_ptr<NSTimer> timer;
    };
    struct Later {
        bool operator()(const TimerEntry& a, const TimerEntry& b) const;
    };

    bool fireDueTimers(Clock::time_point now);
    std::size_t runQueuedBlocks();
    std::optional<Clock::time_point> nextDeadline();
    void waitForWork(std::chrono::steady_clock::time_point realLimit);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::shared_ptr<Clock> m_clock;
    std::deque<Block> m_queue;
    std::vector<TimerEntry> m_timers; // a heap by (deadline, sequence)
    std::uint64_t m_nextSequence = 0;
    bool m_stopRequested = false;
    bool m_running = false;
    bool m_woken = false;
};

}
