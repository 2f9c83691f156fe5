#pragma once

#include "model/Bookmarks.h"

#include <memory>
#include <string>
#include <vector>

namespace vesk::platform {
class NSTimer;
}

namespace vesk {

class VeskFile;
class VeskFileManager;

// Every method is optional: the defaults answer false for "not implemented".
class DirectoryWatcherDelegate {
public:
    virtual ~DirectoryWatcherDelegate() = default;
    virtual bool directoryDidChange(const std::shared_ptr<VeskFile>&) { return false; }
    // `removed` is the state of the check before: true when the bookmark has gone.
    virtual bool changedBookmark(const std::shared_ptr<VeskFile>&, bool /*removed*/) { return false; }
};

// Polls one folder on the main run loop every second: reports, through the main queue, that
// its listing differs from the last snapshot, and at once that its bookmark state flipped.
// Lives in a std::shared_ptr; the pending timer keeps it alive until stop().
class DirectoryWatcher : public std::enable_shared_from_this<DirectoryWatcher> {
public:
    static constexpr double checkInterval = 1.0;

    DirectoryWatcher();
    virtual ~DirectoryWatcher();
    DirectoryWatcher(const DirectoryWatcher&) = delete;
    DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

    // Held weakly: the delegate usually owns the watcher.
    virtual std::shared_ptr<DirectoryWatcherDelegate> delegate() const;
    virtual void setDelegate(std::weak_ptr<DirectoryWatcherDelegate> delegate);

    // Takes the folder's bookmark state and schedules the first check; the listing snapshot
    // starts empty.
    virtual void setup(std::shared_ptr<VeskFile> file);
    // One check; the timer's action. Does nothing before setup().
    virtual void checkDir();
    // Checks at once and keeps polling.
    virtual void start();
    // Takes a snapshot of the listing and cancels the pending check.
    virtual void stop();

private:
    void armNextCheck();

    std::shared_ptr<VeskFile> m_file;
    std::shared_ptr<platform::NSTimer> m_timer;
    VeskFileManager& m_fm;
    std::vector<std::string> m_previousContent;
    bool m_previousBookmarkState = false;
    Bookmarks m_bookmarks;
    std::weak_ptr<DirectoryWatcherDelegate> m_delegate;
};

}
