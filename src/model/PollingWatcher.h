#pragma once

#include "model/Bookmarks.h"
#include "model/VeskFile.h"
#include "platform/foundation/NSTimer.h"

#include <memory>

namespace vesk {

// What both watchers share: the watched item, its bookmark state, the delegate and the one-shot
// check timer on the main run loop, re-armed by each check every Derived::checkInterval seconds.
// The pending timer holds the watcher until it fires or is invalidated, so a watcher lives in a
// std::shared_ptr.
template<class Derived, class Delegate>
class PollingWatcher : public std::enable_shared_from_this<Derived> {
public:
    virtual ~PollingWatcher() = default;
    PollingWatcher(const PollingWatcher&) = delete;
    PollingWatcher& operator=(const PollingWatcher&) = delete;

    // Held weakly: the delegate usually owns the watcher.
    virtual std::shared_ptr<Delegate> delegate() const { return m_delegate.lock(); }
    virtual void setDelegate(std::weak_ptr<Delegate> delegate) { m_delegate = std::move(delegate); }

    // Takes the item's bookmark state and schedules the first check.
    virtual void setup(std::shared_ptr<VeskFile> file)
    {
        if (!file)
            return;
        m_bookmarks.setup();
        m_previousBookmarkState = m_bookmarks.isInBookmarks(*file);
        m_file = std::move(file);
        armNextCheck();
    }

    // One check; the timer's action. Does nothing before setup().
    virtual void checkDir() = 0;

    // Checks at once and keeps polling.
    virtual void start()
    {
        if (!m_file)
            return;
        if (!m_timer->isValid())
            armNextCheck();
        // The check arms the next timer; the fired one is spent.
        auto firing = m_timer;
        firing->fire();
    }

    // Cancels the pending check.
    virtual void stop() { m_timer->invalidate(); }

protected:
    PollingWatcher()
        : m_timer(std::make_shared<platform::NSTimer>())
    {
    }

    // A check still pending is cancelled, so a watcher never has two.
    void armNextCheck()
    {
        auto previous = std::move(m_timer);
        previous->invalidate();
        m_timer = platform::NSTimer::scheduledTimerWithTimeInterval(Derived::checkInterval, false,
            [watcher = this->shared_from_this()](platform::NSTimer&) { watcher->checkDir(); });
    }

    // Reports a flip of the bookmark state since the last check.
    void reportBookmarkChange(bool bookmarked)
    {
        if (bookmarked == m_previousBookmarkState)
            return;
        if (auto watcherDelegate = delegate())
            watcherDelegate->changedBookmark(m_file, m_previousBookmarkState);
    }

    std::shared_ptr<VeskFile> m_file;
    std::shared_ptr<platform::NSTimer> m_timer;
    bool m_previousBookmarkState = false;
    Bookmarks m_bookmarks;
    std::weak_ptr<Delegate> m_delegate;
};

}
