#pragma once

#include "platform/foundation/NSTimer.h"

#include <memory>

namespace vesk {

// The one-shot check timer both watchers poll with. The timer holds the watcher until it fires
// or is invalidated; a check still pending is cancelled, so a watcher never has two.
template<class Watcher>
void armWatcherCheck(std::shared_ptr<platform::NSTimer>& timer, double interval, const std::shared_ptr<Watcher>& watcher)
{
    auto previous = std::move(timer);
    if (previous)
        previous->invalidate();
    timer = platform::NSTimer::scheduledTimerWithTimeInterval(interval, false,
        [watcher](platform::NSTimer&) { watcher->checkDir(); });
}

// Runs the check at once through the pending timer, arming one first when none is pending.
template<class Watcher>
void fireWatcherCheck(std::shared_ptr<platform::NSTimer>& timer, double interval, const std::shared_ptr<Watcher>& watcher)
{
    if (!timer || !timer->isValid())
        armWatcherCheck(timer, interval, watcher);
    // The check replaces `timer`; the fired one is spent.
    auto firing = timer;
    firing->fire();
}

}
