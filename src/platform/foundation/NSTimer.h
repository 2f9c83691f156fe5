#pragma once

#include "platform/foundation/Clock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace vesk::platform {

// A one-shot or repeating timer on the main run loop. The block is let go when the timer
// is invalidated or a one-shot timer has fired, so a block that holds its owner forms no
// lasting cycle.
class NSTimer : public std::enable_shared_from_this<NSTimer> {
public:
    using Block = std::function<void(NSTimer&)>;

    // An invalid placeholder, never scheduled.
    NSTimer();
    NSTimer(double interval, bool repeats, Block block);
    ~NSTimer();

    // Makes a timer and arms it on the current (main) run loop, firing interval seconds from now.
    static std::shared_ptr<NSTimer> scheduledTimerWithTimeInterval(double interval, bool repeats, Block block);
    // Makes a valid timer that is not armed.
    static std::shared_ptr<NSTimer> timerWithTimeInterval(double interval, bool repeats, Block block);

    // Runs the block now; a one-shot timer is spent afterwards, a repeating one keeps its schedule.
    void fire();
    void invalidate();
    bool isValid() const;
    bool repeats() const { return m_repeats; }
    double timeInterval() const { return m_interval; }
    Clock::time_point fireDate() const;

private:
    friend class RunLoop;
    // The block to run now, or none when the timer is no longer valid.
    Block takeBlockForFiring(bool* wasScheduled);
    // Called by the run loop when the deadline passed; answers whether to re-arm.
    bool fireFromRunLoop();

    double m_interval = 0;
    bool m_repeats = false;
    mutable std::mutex m_mutex;
    Block m_block;
    bool m_valid = false;
    bool m_scheduled = false;
    Clock::time_point m_fireDate {};
    std::uint64_t m_armSequence = 0; // the run loop's entry that is current
};

}
