#include "model/DirectoryWatcher.h"

#include "model/VeskFileManager.h"
#include "platform/foundation/Dispatch.h"

namespace vesk {

using namespace platform;

DirectoryWatcher::DirectoryWatcher()
    : m_fm(VeskFileManager::defaultManager())
{
}

void DirectoryWatcher::stop()
{
    if (m_file)
        m_previousContent = m_fm.getFilePaths(m_file->path());
    PollingWatcher::stop();
}

void DirectoryWatcher::checkDir()
{
    if (!m_file)
        return;
    auto self = shared_from_this();
    auto content = m_fm.getFilePaths(m_file->path());
    if (content != m_previousContent) {
        dispatch_async(dispatch_get_main_queue(), [self, file = m_file] {
            if (auto watcherDelegate = self->delegate())
                watcherDelegate->directoryDidChange(file);
        });
    }
    reportBookmarkChange(m_bookmarks.isInBookmarks(*m_file));
    m_previousContent = std::move(content);
    m_previousBookmarkState = m_bookmarks.isInBookmarks(*m_file);
    armNextCheck();
}

}
