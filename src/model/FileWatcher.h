#pragma once

#include "model/PollingWatcher.h"

#include <memory>

namespace vesk::platform {
class NSFileManager;
}

namespace vesk {

// Every method is optional: the defaults answer false for "not implemented".
class FileWatcherDelegate {
public:
    virtual ~FileWatcherDelegate() = default;
    virtual bool fileHasBeenDeleted(const std::shared_ptr<VeskFile>&) { return false; }
    // `removed` is the state of the check before: true when the bookmark has gone.
    virtual bool changedBookmark(const std::shared_ptr<VeskFile>&, bool /*removed*/) { return false; }
};

// Polls one file or folder every half second: reports that it has gone (and drops its
// bookmark), which ends the watch, and that its bookmark state flipped.
class FileWatcher : public PollingWatcher<FileWatcher, FileWatcherDelegate> {
public:
    static constexpr double checkInterval = 0.5;

    FileWatcher();
    void checkDir() override;

private:
    platform::NSFileManager& m_fm;
};

}
