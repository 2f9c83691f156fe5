#pragma once

#include "model/PollingWatcher.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vesk {

class VeskFileManager;

// Every method is optional: the defaults answer false for "not implemented".
class DirectoryWatcherDelegate {
public:
    virtual ~DirectoryWatcherDelegate() = default;
    virtual bool directoryDidChange(const std::shared_ptr<VeskFile>&) { return false; }
    // `removed` is the state of the check before: true when the bookmark has gone.
    virtual bool changedBookmark(const std::shared_ptr<VeskFile>&, bool /*removed*/) { return false; }
};

// One entry of a folder's listing as the watcher compares it.
struct ListedEntry {
    std::string path;
    ListedState state;
    bool operator==(const ListedEntry&) const = default;
};

// Polls one folder every second: reports, through the main queue, that its listing differs
// from the last snapshot (empty at first), and at once that its bookmark state flipped. The
// checks list the folder and compare the listing with the snapshot on a background queue, one
// listing at a time; the main run loop only keeps the result.
class DirectoryWatcher : public PollingWatcher<DirectoryWatcher, DirectoryWatcherDelegate> {
public:
    static constexpr double checkInterval = 1.0;
    using Listing = std::vector<ListedEntry>;

    DirectoryWatcher();
    void checkDir() override;
    // A later start() reports what changed since the last check, which the delegate has not
    // been told of yet; a watcher that has not listed yet takes a snapshot now.
    void stop() override;
    // Ends the polling for good: no snapshot, no listing under way is told.
    void cancel();

private:
    static Listing listingOf(const VeskFileManager& fm, const std::string& folder);
    void requestListing();
    void takeListing(std::shared_ptr<const Listing>& listing, const std::shared_ptr<const Listing>& comparedWith, bool changed);

    VeskFileManager& m_fm;
    // Shared with the worker that compares against it; never changed in place.
    std::shared_ptr<const Listing> m_previousContent = std::make_shared<const Listing>();
    bool m_listed = false;
    bool m_listingUnderWay = false;
    bool m_listAgain = false;
};

}
