#include "model/DirectoryWatcher.h"

#include "model/VeskFileManager.h"
#include "platform/foundation/Dispatch.h"

namespace vesk {

using namespace platform;

DirectoryWatcher::DirectoryWatcher()
    : m_fm(VeskFileManager::defaultManager())
{
}

// A watcher that has not listed yet takes its snapshot here, on the spot: one taken later on
// a worker could already hold a change made after the stop.
void DirectoryWatcher::stop()
{
    PollingWatcher::stop();
    if (m_file && !m_listed) {
        m_previousContent = std::make_shared<const Listing>(listingOf(m_fm, m_file->path()));
        m_listed = true;
    }
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
    requestListing();
    bool bookmarked = m_bookmarks.isInBookmarks(*m_file);
    reportBookmarkChange(bookmarked);
    m_previousBookmarkState = bookmarked;
    armNextCheck();
}

// On any thread.
DirectoryWatcher::Listing DirectoryWatcher::listingOf(const VeskFileManager& fm, const std::string& folder)
{
    Listing listing;
    for (auto& path : fm.getFilePaths(folder)) {
        auto state = ListedState::of(path).value_or(ListedState {});
        listing.push_back({ std::move(path), state });
    }
    return listing;
}

// One listing at a time; a check asked for meanwhile runs after it, once.
void DirectoryWatcher::requestListing()
{
    if (m_listingUnderWay) {
        m_listAgain = true;
        return;
    }
    m_listingUnderWay = true;
    // The worker holds the watcher weakly, so that it is only ever let go on the main thread.
    std::weak_ptr<DirectoryWatcher> weak = shared_from_this();
    DispatchQueue::global(QualityOfService::Utility).async([weak, &fm = m_fm, folder = m_file->path(), previous = m_previousContent] {
        auto listing = std::make_shared<const Listing>(listingOf(fm, folder));
        bool changed = *listing != *previous;
        DispatchQueue::main().async([weak, listing = std::move(listing), previous = std::move(previous), changed]() mutable {
            if (auto watcher = weak.lock())
                watcher->takeListing(listing, previous, changed);
            // Letting go of listings of many entries takes a while: a worker does it.
            DispatchQueue::global(QualityOfService::Background).async([held = std::move(listing), old = std::move(previous)] {});
        });
    });
}

// Main thread. A check that ends after the watcher was stopped is dropped: what it saw has
// not been told, so the check after the next start() compares with the one before. The
// listing kept before is handed back in `listing`, to be let go elsewhere.
void DirectoryWatcher::takeListing(std::shared_ptr<const Listing>& listing, const std::shared_ptr<const Listing>& comparedWith, bool changed)
{
    m_listingUnderWay = false;
    if (!m_file)
        return;
    if (std::exchange(m_listAgain, false))
        requestListing();
    if (!m_timer->isValid())
        return;
    // A snapshot taken at a stop meanwhile is what this listing must be told against.
    if (comparedWith != m_previousContent)
        changed = *listing != *m_previousContent;
    std::swap(m_previousContent, listing);
    m_listed = true;
    if (changed) {
        if (auto watcherDelegate = delegate())
            watcherDelegate->directoryDidChange(m_file);
    }
}

}
