#include "model/FileWatcher.h"

#include "model/VeskFile.h"
#include "model/WatcherTimer.h"
#include "platform/foundation/NSFileManager.h"

namespace vesk {

using namespace platform;

FileWatcher::FileWatcher()
    : m_timer(std::make_shared<NSTimer>())
    , m_fm(NSFileManager::defaultManager())
{
}

FileWatcher::~FileWatcher() = default;

std::shared_ptr<FileWatcherDelegate> FileWatcher::delegate() const
{
    return m_delegate.lock();
}

void FileWatcher::setDelegate(std::weak_ptr<FileWatcherDelegate> delegate)
{
    m_delegate = std::move(delegate);
}

void FileWatcher::armNextCheck()
{
    armWatcherCheck(m_timer, checkInterval, shared_from_this());
}

void FileWatcher::setup(std::shared_ptr<VeskFile> file)
{
    if (!file)
        return;
    m_bookmarks.setup();
    m_previousBookmarkState = m_bookmarks.isInBookmarks(*file);
    m_file = std::move(file);
    armNextCheck();
}

void FileWatcher::start()
{
    if (!m_file)
        return;
    fireWatcherCheck(m_timer, checkInterval, shared_from_this());
}

void FileWatcher::stop()
{
    m_timer->invalidate();
}

void FileWatcher::checkDir()
{
    if (!m_file)
        return;
    // A delegate may let go of this watcher while it is told.
    auto self = shared_from_this();
    auto file = m_file;
    if (!m_fm.fileExistsAtPath(file->path())) {
        m_bookmarks.remove(file);
        if (auto watcherDelegate = delegate()) {
            watcherDelegate->fileHasBeenDeleted(file);
            stop();
        }
    } else {
        armNextCheck();
    }

    bool bookmarked = m_bookmarks.isInBookmarks(*file);
    if (bookmarked != m_previousBookmarkState) {
        if (auto watcherDelegate = delegate())
            watcherDelegate->changedBookmark(file, m_previousBookmarkState);
    }
    m_previousBookmarkState = bookmarked;
}

}
