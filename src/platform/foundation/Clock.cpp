#include "platform/foundation/Clock.h"

namespace vesk::platform {

FakeClock::FakeClock()
    : m_now(std::chrono::hours(1000))
{
}

Clock::time_point FakeClock::now() const
{
    std::lock_guard lock(m_mutex);
    return m_now;
}

void FakeClock::advance(duration by)
{
    std::lock_guard lock(m_mutex);
    if (by > duration::zero())
        m_now += by;
}

void FakeClock::advanceSeconds(double seconds)
{
    advance(secondsToDuration(seconds));
}

void FakeClock::setNow(time_point to)
{
    std::lock_guard lock(m_mutex);
    if (to > m_now)
        m_now = to;
}

Clock::duration secondsToDuration(double seconds)
{
    if (!(seconds > 0)) // also NaN
        return Clock::duration::zero();
    // Far beyond any deadline the program sets; keeps the conversion from overflowing.
    constexpr double limit = 100.0 * 365 * 24 * 3600;
    if (seconds > limit)
        seconds = limit;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

}
