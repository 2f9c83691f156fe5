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
    PollingWatcher::stop();
    if (m_file && !m_listed)
        requestListing(Purpose::snapshot);
}

void DirectoryWatcher::cancel()
{
    PollingWatcher::stop();
    m_file.reset();
}

void DirectoryWatcher::checkDir()
{
    if (!m_file)
        return;
    auto self = shared_from_this();
    requestListing(Purpose::check);
    bool bookmarked = m_bookmarks.isInBookmarks(*m_file);
    reportBookmarkChange(bookmarked);
    m_previousBookmarkState = bookmarked;
    armNextCheck();
}

void DirectoryWatcher::requestListing(Purpose purpose)
{
    if (m_listings.size() > 1 && m_listings.back() == purpose)
        return;
    m_listings.push_back(purpose);
    if (m_listings.size() == 1)
        startListing();
}

// The worker holds the watcher weakly, so that it is only ever let go on the main thread.
void DirectoryWatcher::startListing()
{
    std::weak_ptr<DirectoryWatcher> weak = shared_from_this();
    DispatchQueue::global(QualityOfService::Utility).async([weak, &fm = m_fm, folder = m_file->path(), purpose = m_listings.front()] {
        Listing listing;
        for (auto& path : fm.getFilePaths(folder)) {
            auto state = ListedState::of(path).value_or(ListedState {});
            listing.push_back({ std::move(path), state });
        }
        DispatchQueue::main().async([weak, listing = std::move(listing), purpose]() mutable {
            if (auto watcher = weak.lock())
                watcher->takeListing(std::move(listing), purpose);
        });
    });
}

// Main thread. A check that ends after the watcher was stopped is dropped: what it saw has
// not been told, so the check after the next start() compares with the one before.
void DirectoryWatcher::takeListing(Listing listing, Purpose purpose)
{
    m_listings.pop_front();
    if (!m_file)
        return;
    if (!m_listings.empty())
        startListing();
    bool stopped = !m_timer->isValid();
    if (purpose == Purpose::check && stopped)
        return;
    bool changed = listing != m_previousContent;
    std::swap(m_previousContent, listing);
    // Letting go of a listing of many entries takes a while: a worker does it.
    DispatchQueue::global(QualityOfService::Background).async([old = std::make_shared<Listing>(std::move(listing))] {});
    m_listed = true;
    if (purpose == Purpose::check && changed) {
        if (auto watcherDelegate = delegate())
            watcherDelegate->directoryDidChange(m_file);
    }
}

}
