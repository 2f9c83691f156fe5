#include "platform/foundation/NSTimer.h"

#include "platform/foundation/RunLoop.h"

namespace vesk::platform {

NSTimer::NSTimer() = default;

NSTimer::NSTimer(double interval, bool repeats, Block block)
    : m_interval(interval)
    , m_repeats(repeats)
    , m_block(std::move(block))
    , m_valid(true)
{
}

NSTimer::~NSTimer() = default;

std::shared_ptr<NSTimer> NSTimer::scheduledTimerWithTimeInterval(double interval, bool repeats, Block block)
{
    auto timer = timerWithTimeInterval(interval, repeats, std::move(block));
    RunLoop::current().addTimer(timer);
    return timer;
}

std::shared_ptr<NSTimer> NSTimer::timerWithTimeInterval(double interval, bool repeats, Block block)
{
    return std::make_shared<NSTimer>(interval, repeats, std::move(block));
}

NSTimer::Block NSTimer::takeBlockForFiring(bool* wasScheduled)
{
    std::lock_guard lock(m_mutex);
    if (!m_valid)
        return nullptr;
    if (wasScheduled)
        *wasScheduled = m_scheduled;
    if (m_repeats)
        return m_block;
    // A one-shot timer is spent by firing; its block goes with it.
    m_valid = false;
    Block block = std::move(m_block);
    m_block = nullptr;
    return block;
}

void NSTimer::fire()
{
    // The block may drop the last outside reference to this timer.
    auto self = weak_from_this().lock();
    bool wasScheduled = false;
    Block block = takeBlockForFiring(&wasScheduled);
    if (!m_repeats && wasScheduled)
        RunLoop::main().removeTimer(*this);
    if (block)
        block(*this);
}

bool NSTimer::fireFromRunLoop()
{
    if (Block block = takeBlockForFiring(nullptr))
        block(*this);
    return isValid();
}

void NSTimer::invalidate()
{
    Block released;
    bool wasScheduled = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_valid)
            return;
        m_valid = false;
        released = std::move(m_block);
        m_block = nullptr;
        wasScheduled = m_scheduled;
    }
    if (wasScheduled)
        RunLoop::main().removeTimer(*this);
}

bool NSTimer::isValid() const
{
    std::lock_guard lock(m_mutex);
    return m_valid;
}

Clock::time_point NSTimer::fireDate() const
{
    std::lock_guard lock(m_mutex);
    return m_fireDate;
}

}
