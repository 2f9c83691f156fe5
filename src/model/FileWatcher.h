#pragma once

#include "model/Bookmarks.h"

#include <memory>
#include <mutex>

namespace vesk::platform {
class NSFileManager;
class NSTimer;
}

namespace vesk {

class VeskFile;

// Every method is optional: the defaults answer false for "not implemented".
class FileWatcherDelegate {
public:
    virtual ~FileWatcherDelegate() = default;
    virtual bool fileHasBeenDeleted(const std::shared_ptr<VeskFile>&) { return false; }
    // `removed` is the state of the check before: true when the bookmark has gone.
    virtual bool changedBookmark(const std::shared_ptr<VeskFile>&, bool /*removed*/) { return false; }
};

// Polls one file or folder on the main run loop every half second: reports that it has gone
// (and drops its bookmark) and that its bookmark state flipped. Lives in a std::shared_ptr;
// the pending timer keeps it alive until the check has run or stop() is called.
class FileWatcher : public std::enable_shared_from_this<FileWatcher> {
public:
    static constexpr double checkInterval = 0.5;

    FileWatcher();
    virtual ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // Held weakly: the delegate usually owns the watcher.
    virtual std::shared_ptr<FileWatcherDelegate> delegate() const;
    virtual void setDelegate(std::weak_ptr<FileWatcherDelegate> delegate);

    // Takes the item's bookmark state and schedules the first check.
    virtual void setup(std::shared_ptr<VeskFile> file);
    // One check; the timer's action. Does nothing before setup().
    virtual void checkDir();
    // Checks at once and keeps polling.
    virtual void start();
    // Cancels the pending check.
    virtual void stop();

private:
    void armNextCheck();

    std::shared_ptr<VeskFile> m_file;
    std::shared_ptr<platform::NSTimer> m_timer;
    platform::NSFileManager& m_fm;
    bool m_previousBookmarkState = false;
    Bookmarks m_bookmarks;
    std::weak_ptr<FileWatcherDelegate> m_delegate;
};

}
