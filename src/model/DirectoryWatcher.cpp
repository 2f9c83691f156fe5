#include "model/DirectoryWatcher.h"

#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "model/WatcherTimer.h"
#include "platform/foundation/Dispatch.h"

namespace vesk {

using namespace platform;

DirectoryWatcher::DirectoryWatcher()
    : m_timer(std::make_shared<NSTimer>())
    , m_fm(VeskFileManager::defaultManager())
{
}

DirectoryWatcher::~DirectoryWatcher() = default;

std::shared_ptr<DirectoryWatcherDelegate> DirectoryWatcher::delegate() const
{
    return m_delegate.lock();
}

void DirectoryWatcher::setDelegate(std::weak_ptr<DirectoryWatcherDelegate> delegate)
{
    m_delegate = std::move(delegate);
}

void DirectoryWatcher::armNextCheck()
{
    armWatcherCheck(m_timer, checkInterval, shared_from_this());
}

void DirectoryWatcher::setup(std::shared_ptr<VeskFile> file)
{
    if (!file)
        return;
    m_bookmarks.setup();
    m_previousBookmarkState = m_bookmarks.isInBookmarks(*file);
    m_file = std::move(file);
    armNextCheck();
}

void DirectoryWatcher::start()
{
    if (!m_file)
        return;
    fireWatcherCheck(m_timer, checkInterval, shared_from_this());
}

void DirectoryWatcher::stop()
{
    if (m_file)
        m_previousContent = m_fm.getFilePaths(m_file->path());
    m_timer->invalidate();
}

void DirectoryWatcher::checkDir()
{
    if (!m_file)
        return;
    auto self = shared_from_this();
    auto file = m_file;
    auto content = m_fm.getFilePaths(file->path());
    if (content != m_previousContent) {
        dispatch_async(dispatch_get_main_queue(), [self, file] {
            if (auto watcherDelegate = self->delegate())
                watcherDelegate->directoryDidChange(file);
        });
    }

    if (m_bookmarks.isInBookmarks(*file) != m_previousBookmarkState) {
        if (auto watcherDelegate = delegate())
            watcherDelegate->changedBookmark(file, m_previousBookmarkState);
    }
    m_previousContent = std::move(content);
    m_previousBookmarkState = m_bookmarks.isInBookmarks(*file);
    armNextCheck();
}

}
