#include "model/DirectoryWatcher.h"
#include "model/FileWatcher.h"

#include "ModelTestSupport.h"
#include "model/Bookmarks.h"
#include "model/VeskFile.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sys/stat.h>

namespace vesk {
namespace {

    using namespace platform;
    using Events = std::vector<std::string>;

    class Recorder : public FileWatcherDelegate, public DirectoryWatcherDelegate {
    public:
        bool fileHasBeenDeleted(const std::shared_ptr<VeskFile>& file) override
        {
            events.push_back("deleted " + file->name());
            return true;
        }
        bool directoryDidChange(const std::shared_ptr<VeskFile>& file) override
        {
            events.push_back("changed " + file->name());
            return true;
        }
        bool changedBookmark(const std::shared_ptr<VeskFile>& file, bool removed) override
        {
            events.push_back((removed ? "unbookmarked " : "bookmarked ") + file->name());
            return true;
        }

        // Hands the events over and forgets them.
        Events take() { return std::exchange(events, {}); }

        Events events;
    };

    // Answers nothing it is asked: every method "not implemented".
    class SilentDelegate : public FileWatcherDelegate, public DirectoryWatcherDelegate { };

    class WatchersTest : public test::TemporaryHome {
    protected:
        void SetUp() override
        {
            TemporaryHome::SetUp();
            RunLoop::main().useFakeClock();
            recorder = std::make_shared<Recorder>();
        }

        void TearDown() override
        {
            for (auto& stop : stops)
                stop();
            RunLoop::main().drain();
            RunLoop::main().useSystemClock();
            TemporaryHome::TearDown();
        }

        template<class Watcher = FileWatcher>
        std::shared_ptr<Watcher> watch(const std::string& path, bool withRecorder = true)
        {
            auto watcher = std::make_shared<Watcher>();
            if (withRecorder)
                watcher->setDelegate(recorder);
            watcher->setup(VeskFile::initWithPath(path));
            stops.push_back([watcher] { watcher->stop(); });
            return watcher;
        }

        // Folders are listed in the background: their reports come once the listings are in.
        static void advance(double seconds)
        {
            RunLoop::main().advanceSeconds(seconds);
            RunLoop::main().drain();
        }
        static std::size_t pendingChecks() { return RunLoop::main().timerCount(); }

        static void bookmark(const std::string& path)
        {
            Bookmarks store;
            store.setup();
            ASSERT_TRUE(store.save(VeskFile::initWithPath(path)));
        }
        static void unbookmark(const std::string& path)
        {
            Bookmarks store;
            ASSERT_TRUE(store.remove(VeskFile::initWithPath(path)));
        }

        std::shared_ptr<Recorder> recorder;
        std::vector<std::function<void()>> stops;
    };

    TEST_F(WatchersTest, DeletingABookmarkedFileIsReportedWithinHalfASecondAndEndsTheWatch)
    {
        auto path = makeFile("a.txt");
        bookmark(path);
        watch(path);
        // An unchanged file: nothing to report, and always one check pending.
        advance(5);
        ASSERT_EQ(pendingChecks(), 1u);
        ASSERT_TRUE(recorder->take().empty());

        std::remove(path.c_str());
        advance(0.4);
        EXPECT_TRUE(recorder->events.empty()) << "not before the period is over";
        advance(0.1);
        EXPECT_EQ(recorder->take(), (Events { "deleted a.txt", "unbookmarked a.txt" }));
        EXPECT_FALSE(Bookmarks().isInBookmarks(*VeskFile::initWithPath(path)));
        EXPECT_EQ(pendingChecks(), 0u);
    }

    TEST_F(WatchersTest, StartChecksAtOnceKeepsOnePendingCheckAndFollowsBookmarksOfAnyStore)
    {
        auto path = makeFile("a.txt");
        auto watcher = watch(path);
        bookmark(path);
        watcher->start();
        EXPECT_EQ(recorder->take(), (Events { "bookmarked a.txt" }));
        watcher->start();
        EXPECT_EQ(pendingChecks(), 1u);
        unbookmark(path);
        advance(0.5);
        EXPECT_EQ(recorder->take(), (Events { "unbookmarked a.txt" }));

        watcher->stop();
        EXPECT_EQ(pendingChecks(), 0u);
        std::remove(path.c_str());
        advance(5);
        EXPECT_TRUE(recorder->events.empty()) << "a stopped watcher checks nothing";
        watcher->start();
        EXPECT_EQ(recorder->take(), (Events { "deleted a.txt" }));
    }

    TEST_F(WatchersTest, DeletionWithoutADelegateOrWithOneThatImplementsNothingStillEndsTheWatch)
    {
        auto silent = std::make_shared<SilentDelegate>();
        auto path = makeFile("a.txt");
        watch(path, false)->setDelegate(silent);
        bookmark(path);
        advance(0.5);
        std::remove(path.c_str());
        advance(0.5);
        EXPECT_EQ(pendingChecks(), 0u);
        EXPECT_TRUE(Bookmarks().reloadBookmarks().empty()) << "the bookmark is dropped";

        // The delegate is held weakly: once its owner lets go, nobody is told.
        auto other = makeFile("b.txt");
        auto second = watch(other);
        recorder.reset();
        EXPECT_EQ(second->delegate(), nullptr);
        std::remove(other.c_str());
        advance(0.5);
        EXPECT_EQ(pendingChecks(), 0u);
    }

    TEST_F(WatchersTest, WatchersBeforeSetupDoNothing)
    {
        auto file = std::make_shared<FileWatcher>();
        auto folder = std::make_shared<DirectoryWatcher>();
        file->start();
        file->checkDir();
        folder->start();
        folder->checkDir();
        EXPECT_EQ(pendingChecks(), 0u);
    }

    TEST_F(WatchersTest, DirectoryWatcherReportsTheFirstListingOfAFullFolder)
    {
        auto full = makeFolder("full");
        makeFile("full/a.txt");
        auto empty = makeFolder("empty");
        watch<DirectoryWatcher>(empty)->start();
        auto watcher = watch<DirectoryWatcher>(full);
        watcher->start();
        EXPECT_TRUE(recorder->events.empty()) << "the report goes through the main queue";
        RunLoop::main().drain();
        EXPECT_EQ(recorder->take(), (Events { "changed full" }));
        EXPECT_EQ(pendingChecks(), 2u);
    }

    TEST_F(WatchersTest, DirectoryWatcherReportsARenameOnceWithinASecond)
    {
        auto folder = makeFolder("docs");
        auto old = makeFile("docs/a.txt");
        watch<DirectoryWatcher>(folder)->start();
        RunLoop::main().drain();
        recorder->take();

        std::rename(old.c_str(), at("docs/b.txt").c_str());
        advance(0.9);
        EXPECT_TRUE(recorder->events.empty());
        advance(0.1);
        EXPECT_EQ(recorder->take(), (Events { "changed docs" }));
        // Same names, other permissions: the rows' actions depend on them.
        ::chmod(at("docs/b.txt").c_str(), 0);
        advance(1);
        EXPECT_EQ(recorder->take(), (Events { "changed docs" }));
        makeFile("docs/.hidden");
        advance(1);
        EXPECT_TRUE(recorder->events.empty()) << "hidden entries are not listed while the switch is off";
    }

    TEST_F(WatchersTest, DirectoryWatcherAfterStopReportsOnlyLaterChanges)
    {
        auto folder = makeFolder("docs");
        makeFile("docs/a.txt");
        auto watcher = watch<DirectoryWatcher>(folder);
        watcher->stop();
        EXPECT_EQ(pendingChecks(), 0u);
        watcher->start();
        RunLoop::main().drain();
        EXPECT_TRUE(recorder->events.empty()) << "the snapshot taken at stop holds a.txt";

        watcher->stop();
        makeFile("docs/b.txt");
        advance(3);
        EXPECT_TRUE(recorder->events.empty());
        watcher->start();
        RunLoop::main().drain();
        EXPECT_EQ(recorder->take(), (Events { "changed docs" }));
        // A change after the last check but before the stop has not been told either.
        makeFile("docs/c.txt");
        watcher->stop();
        watcher->start();
        RunLoop::main().drain();
        EXPECT_EQ(recorder->take(), (Events { "changed docs" }));
    }

    TEST_F(WatchersTest, DirectoryWatcherReportsBookmarkFlipsInsideTheCheck)
    {
        auto folder = makeFolder("docs");
        auto watcher = watch<DirectoryWatcher>(folder);
        bookmark(folder);
        watcher->start();
        EXPECT_EQ(recorder->take(), (Events { "bookmarked docs" }));
        unbookmark(folder);
        advance(1);
        EXPECT_EQ(recorder->take(), (Events { "unbookmarked docs" }));
    }

    TEST_F(WatchersTest, DirectoryWatcherOfAVanishedFolderReportsOnceAndKeepsPolling)
    {
        auto folder = makeFolder("docs");
        makeFile("docs/a.txt");
        auto watcher = watch<DirectoryWatcher>(folder);
        watcher->start();
        RunLoop::main().drain();
        recorder->take();

        NSFileManager::defaultManager().removeItemAtPath(folder);
        advance(1);
        EXPECT_EQ(recorder->take(), (Events { "changed docs" }));
        advance(2);
        EXPECT_TRUE(recorder->events.empty());
        EXPECT_EQ(pendingChecks(), 1u);
    }

}
}
