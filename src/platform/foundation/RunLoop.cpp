#include "platform/foundation/RunLoop.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/GuardedBlock.h"
#include "platform/foundation/NSTimer.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace vesk::platform {

namespace {

    // Repeating timers never re-arm closer than this, so one can't spin the loop.
    constexpr Clock::duration minimumRepeat = std::chrono::microseconds(100);

    constexpr std::size_t idleIterationLimit = 100000;

    constexpr std::chrono::milliseconds conditionPollInterval { 5 };

}

bool RunLoop::Later::operator()(const TimerEntry& a, const TimerEntry& b) const
{
    // std::push_heap keeps the greatest on top; the earliest (deadline, sequence) must be there.
    if (a.deadline != b.deadline)
        return a.deadline > b.deadline;
    return a.sequence > b.sequence;
}

RunLoop::RunLoop()
    : m_clock(std::make_shared<SystemClock>())
{
}

RunLoop& RunLoop::main()
{
    static RunLoop* loop = new RunLoop; // never destroyed: worker threads may post until exit
    return *loop;
}

RunLoop& RunLoop::current()
{
    return main();
}

Clock& RunLoop::clock() const
{
    std::lock_guard lock(m_mutex);
    return *m_clock;
}

std::shared_ptr<Clock> RunLoop::clockPointer() const
{
    std::lock_guard lock(m_mutex);
    return m_clock;
}

void RunLoop::setClock(std::shared_ptr<Clock> clock)
{
    if (!clock)
        clock = std::make_shared<SystemClock>();
    std::lock_guard lock(m_mutex);
    // Armed timers keep their remaining time on the new clock.
    auto oldNow = m_clock->now();
    auto newNow = clock->now();
    for (auto& entry : m_timers) {
        auto remaining = std::max(entry.deadline - oldNow, Clock::duration::zero());
        entry.deadline = newNow + remaining;
        std::lock_guard timerLock(entry.timer->m_mutex);
        if (entry.timer->m_armSequence == entry.sequence)
            entry.timer->m_fireDate = entry.deadline;
    }
    std::make_heap(m_timers.begin(), m_timers.end(), Later {});
    m_clock = std::move(clock);
    m_woken = true;
    m_wake.notify_all();
}

std::shared_ptr<FakeClock> RunLoop::useFakeClock()
{
    auto fake = std::make_shared<FakeClock>();
    setClock(fake);
    return fake;
}

void RunLoop::useSystemClock()
{
    setClock(std::make_shared<SystemClock>());
}

void RunLoop::post(Block block)
{
    if (!block)
        return;
    std::lock_guard lock(m_mutex);
    m_queue.push_back(std::move(block));
    m_woken = true;
    m_wake.notify_all();
}

void RunLoop::wake()
{
    std::lock_guard lock(m_mutex);
    m_woken = true;
    m_wake.notify_all();
}

void RunLoop::addTimer(const std::shared_ptr<NSTimer>& timer)
{
    if (!timer)
        return;
    std::lock_guard lock(m_mutex);
    std::lock_guard timerLock(timer->m_mutex);
    if (!timer->m_valid)
        return;
    TimerEntry entry { m_clock->now() + secondsToDuration(timer->m_interval), m_nextSequence++, timer };
    timer->m_scheduled = true;
    timer->m_armSequence = entry.sequence;
    timer->m_fireDate = entry.deadline;
    m_timers.push_back(std::move(entry));
    std::push_heap(m_timers.begin(), m_timers.end(), Later {});
    m_woken = true;
    m_wake.notify_all();
}

void RunLoop::removeTimer(const NSTimer& timer)
{
    std::vector<TimerEntry> removed; // released outside the lock
    std::lock_guard lock(m_mutex);
    auto split = std::partition(m_timers.begin(), m_timers.end(),
        [&](const TimerEntry& entry) { return entry.timer.get() != &timer; });
    if (split == m_timers.end())
        return;
    std::move(split, m_timers.end(), std::back_inserter(removed));
    m_timers.erase(split, m_timers.end());
    std::make_heap(m_timers.begin(), m_timers.end(), Later {});
}

std::size_t RunLoop::timerCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(m_timers.begin(), m_timers.end(),
        [](const TimerEntry& entry) { return entry.timer->isValid(); }));
}

std::size_t RunLoop::pendingBlockCount() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

std::optional<Clock::time_point> RunLoop::nextDeadline()
{
    std::lock_guard lock(m_mutex);
    if (m_timers.empty())
        return std::nullopt;
    return m_timers.front().deadline;
}

bool RunLoop::fireDueTimers(Clock::time_point now)
{
    std::uint64_t armedBefore;
    {
        std::lock_guard lock(m_mutex);
        armedBefore = m_nextSequence;
    }
    bool fired = false;
    for (;;) {
        TimerEntry entry;
        {
            std::lock_guard lock(m_mutex);
            // Timers armed during this pass wait for the next one.
            if (m_timers.empty() || m_timers.front().deadline > now || m_timers.front().sequence >= armedBefore)
                break;
            std::pop_heap(m_timers.begin(), m_timers.end(), Later {});
            entry = std::move(m_timers.back());
            m_timers.pop_back();
        }
        {
            std::lock_guard timerLock(entry.timer->m_mutex);
            if (!entry.timer->m_valid || entry.timer->m_armSequence != entry.sequence)
                continue;
        }
        fired = true;
        bool again = false;
        runGuarded([&] { again = entry.timer->fireFromRunLoop(); }, "a timer");
        if (!again)
            continue;
        std::lock_guard lock(m_mutex);
        std::lock_guard timerLock(entry.timer->m_mutex);
        if (!entry.timer->m_valid || entry.timer->m_armSequence != entry.sequence)
            continue;
        auto interval = std::max(secondsToDuration(entry.timer->m_interval), minimumRepeat);
        auto next = entry.deadline + interval;
        auto current = m_clock->now();
        if (next <= current) // missed fires are skipped, not made up
            next += ((current - next) / interval + 1) * interval;
        entry.deadline = next;
        entry.sequence = m_nextSequence++;
        entry.timer->m_armSequence = entry.sequence;
        entry.timer->m_fireDate = next;
        m_timers.push_back(std::move(entry));
        std::push_heap(m_timers.begin(), m_timers.end(), Later {});
    }
    return fired;
}

std::size_t RunLoop::runQueuedBlocks()
{
    std::size_t count;
    {
        std::lock_guard lock(m_mutex);
        count = m_queue.size();
    }
    std::size_t ran = 0;
    for (; ran < count; ++ran) {
        Block block;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty())
                break;
            block = std::move(m_queue.front());
            m_queue.pop_front();
        }
        runGuarded(block, "a main-queue block");
    }
    return ran;
}

bool RunLoop::runOnce()
{
    auto now = clockPointer()->now();
    bool fired = fireDueTimers(now);
    bool ran = runQueuedBlocks() > 0;
    return fired || ran;
}

std::size_t RunLoop::runUntilIdle()
{
    std::size_t iterations = 0;
    while (iterations < idleIterationLimit && runOnce())
        ++iterations;
    return iterations;
}

void RunLoop::waitForWork(std::chrono::steady_clock::time_point realLimit)
{
    std::unique_lock lock(m_mutex);
    auto until = realLimit;
    // Only the system clock moves by itself; a fake clock's timers wait for advance().
    if (dynamic_cast<SystemClock*>(m_clock.get()) && !m_timers.empty())
        until = std::min(until, m_timers.front().deadline);
    m_wake.wait_until(lock, until, [&] { return m_woken || !m_queue.empty() || m_stopRequested; });
    m_woken = false;
}

bool RunLoop::runUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound)
{
    auto limit = std::chrono::steady_clock::now() + bound;
    for (;;) {
        runUntilIdle();
        if (condition())
            return true;
        auto now = std::chrono::steady_clock::now();
        if (now >= limit)
            return false;
        // The condition may hang on threads that never post; look again now and then.
        waitForWork(std::min(limit, now + conditionPollInterval));
    }
}

bool RunLoop::drain(std::chrono::milliseconds bound)
{
    return runUntil([this] {
        auto now = clockPointer()->now();
        auto next = nextDeadline();
        // Workers first: one that ends between the two looks has queued its main block by then.
        bool workersDone = DispatchQueue::pendingGlobalBlocks() == 0;
        return workersDone && pendingBlockCount() == 0 && (!next || *next > now);
    },
        bound);
}

void RunLoop::advance(Clock::duration by)
{
    auto fake = std::dynamic_pointer_cast<FakeClock>(clockPointer());
    if (!fake)
        throw std::logic_error("RunLoop::advance needs a FakeClock");
    auto target = fake->now() + std::max(by, Clock::duration::zero());
    for (;;) {
        runUntilIdle();
        auto next = nextDeadline();
        if (!next || *next > target)
            break;
        fake->setNow(*next);
    }
    fake->setNow(target);
    runUntilIdle();
}

void RunLoop::advanceSeconds(double seconds)
{
    advance(secondsToDuration(seconds));
}

void RunLoop::run()
{
    {
        std::lock_guard lock(m_mutex);
        m_running = true;
    }
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopRequested)
                break;
        }
        runOnce();
        {
            std::lock_guard lock(m_mutex);
            if (m_stopRequested)
                break;
            if (!m_queue.empty())
                continue;
        }
        waitForWork(std::chrono::steady_clock::now() + std::chrono::hours(24));
    }
    std::lock_guard lock(m_mutex);
    m_running = false;
    m_stopRequested = false;
}

void RunLoop::stop()
{
    std::lock_guard lock(m_mutex);
    m_stopRequested = true;
    m_wake.notify_all();
}

bool RunLoop::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

}
