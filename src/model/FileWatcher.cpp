#include "model/FileWatcher.h"

#include "platform/foundation/NSFileManager.h"

namespace vesk {

using namespace platform;

FileWatcher::FileWatcher()
    : m_fm(NSFileManager::defaultManager())
{
}

void FileWatcher::checkDir()
{
    if (!m_file)
        return;
    // A delegate may let go of this watcher while it is told.
    auto self = shared_from_this();
    if (!m_fm.fileExistsAtPath(m_file->path())) {
        m_bookmarks.remove(m_file);
        if (auto watcherDelegate = delegate()) {
            watcherDelegate->fileHasBeenDeleted(m_file);
            stop();
        }
    } else {
        armNextCheck();
    }

    bool bookmarked = m_bookmarks.isInBookmarks(*m_file);
    reportBookmarkChange(bookmarked);
    m_previousBookmarkState = bookmarked;
}

}
