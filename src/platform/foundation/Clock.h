#pragma once

#include <chrono>
#include <mutex>

namespace vesk::platform {

// Where the run loop reads the time; tests put a FakeClock in its place.
class Clock {
public:
    using duration = std::chrono::steady_clock::duration;
    using time_point = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    virtual time_point now() const = 0;
};

class SystemClock final : public Clock {
public:
    time_point now() const override { return std::chrono::steady_clock::now(); }
};

// Time that moves only when told to.
class FakeClock final : public Clock {
public:
    FakeClock();
    time_point now() const override;
    void advance(duration by);
    void advanceSeconds(double seconds);
    // Never moves backwards: an earlier time leaves the clock as it is.
    void setNow(time_point to);

private:
    mutable std::mutex m_mutex;
    time_point m_now;
};

Clock::duration secondsToDuration(double seconds);

}
