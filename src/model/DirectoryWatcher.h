#pragma once

#include "model/PollingWatcher.h"

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

// Polls one folder every second: reports, through the main queue, that its listing differs
// from the last snapshot (empty at first), and at once that its bookmark state flipped.
class DirectoryWatcher : public PollingWatcher<DirectoryWatcher, DirectoryWatcherDelegate> {
public:
    static constexpr double checkInterval = 1.0;

    DirectoryWatcher();
    void checkDir() override;
    // Also takes a snapshot of the listing, so that a later start() reports only what changed since.
    void stop() override;

private:
    VeskFileManager& m_fm;
    std::vector<std::string> m_previousContent;
};

}
