#include "ModelTestSupport.h"

#include "model/Bookmarks.h"
#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "platform/foundation/PropertyList.h"

#include <gmock/gmock.h>

#include <functional>
#include <thread>

namespace vesk {
namespace {

    using platform::Array;
    using platform::Bytes;
    using platform::Dictionary;
    using platform::Uid;
    using platform::Value;

    class RecordingDelegate : public BookmarksDelegate {
    public:
        void didChangeBookmarks(const std::shared_ptr<VeskFile>& file, bool remove) override { calls.emplace_back(file->name(), remove); }
        std::vector<std::pair<std::string, bool>> calls;
    };

    class BookmarksTest : public test::TemporaryHome {
    protected:
        static std::shared_ptr<platform::NSUserDefaults> defaults() { return platform::NSUserDefaults::standardUserDefaults(); }
        static std::optional<Bytes> stored() { return defaults()->dataForKey(hashedDefaultsKey1V2()); }

        // The stored archive, read back as a property list.
        static Value storedArchive() { return stored() ? platform::propertyListFromData(*stored()).value_or(Value()) : Value(); }

        static std::vector<std::string> storedNames()
        {
            std::vector<std::string> names;
            for (auto const& file : Bookmarks().reloadBookmarks())
                names.push_back(file->name());
            return names;
        }

        std::shared_ptr<VeskFile> record(const std::string& name) { return VeskFile::initWithPath(makeFile(name)); }
    };

    using test::classEntry;
    using test::keyedArchive;

    Value emptyListArchive()
    {
        return keyedArchive({ Value("$null"), Value(Dictionary { { "NS.objects", Value(Array {}) }, { "$class", Value(Uid { 2 }) } }), classEntry("NSArray") });
    }

    // Runs the body on four threads at once, each with its index.
    void onFourThreads(const std::function<void(int)>& body)
    {
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t)
            workers.emplace_back(body, t);
        for (auto& worker : workers)
            worker.join();
    }

    TEST_F(BookmarksTest, StoresTheListInTheArchiverLayout)
    {
        Bookmarks store;
        store.setup();
        EXPECT_EQ(storedArchive(), emptyListArchive());

        auto first = record("first.txt");
        auto second = record("second file.txt");
        ASSERT_TRUE(store.save(first));
        ASSERT_TRUE(store.save(second));
        auto expected = keyedArchive({
            Value("$null"),
            Value(Dictionary { { "NS.objects", Value(Array { Value(Uid { 2 }), Value(Uid { 5 }) }) }, { "$class", Value(Uid { 7 }) } }),
            Value(Dictionary { { "pathURL", Value(Uid { 3 }) }, { "$class", Value(Uid { 4 }) } }),
            Value("file://" + scratch() + "/first.txt"),
            classEntry("VeskFile"),
            Value(Dictionary { { "pathURL", Value(Uid { 6 }) }, { "$class", Value(Uid { 4 }) } }),
            Value("file://" + scratch() + "/second%20file.txt"),
            classEntry("NSArray"),
        });
        EXPECT_EQ(storedArchive(), expected);
        // A binary property list, as the platform archiver writes.
        platform::PropertyListFormat format {};
        ASSERT_TRUE(platform::propertyListFromData(*stored(), &format));
        EXPECT_EQ(format, platform::PropertyListFormat::Binary);

        // Round trip: another store reads the same records back, in order.
        auto list = Bookmarks().reloadBookmarks();
        ASSERT_EQ(list.size(), 2u);
        EXPECT_TRUE(list[0]->isEqual(first.get()));
        EXPECT_TRUE(list[1]->isEqual(second.get()));
    }

    TEST_F(BookmarksTest, SaveAndRemoveOncePerPathSharedOnlyThroughTheStoredEntry)
    {
        Bookmarks store;
        store.setup();
        Bookmarks other; // made before the saves
        auto a = record("a");
        auto b = record("b");
        EXPECT_TRUE(store.save(a));
        EXPECT_FALSE(store.save(VeskFile::initWithPath(a->path()))); // the same path once only
        EXPECT_TRUE(store.save(b));
        EXPECT_TRUE(store.save(record("c")));
        // A later setup leaves the stored list alone.
        auto before = stored();
        other.setup();
        EXPECT_EQ(stored(), before);
        EXPECT_EQ(other.count(), 3);
        EXPECT_TRUE(other.remove(VeskFile::initWithPath(b->path())));
        EXPECT_THAT(storedNames(), ::testing::ElementsAre("a", "c"));
        EXPECT_FALSE(store.isInBookmarks(*b));
        // Removing what is not there writes nothing.
        before = stored();
        EXPECT_FALSE(store.remove(b));
        EXPECT_EQ(stored(), before);
    }

    TEST_F(BookmarksTest, VanishedItemsArePrunedByTheNextRead)
    {
        Bookmarks store;
        store.setup();
        auto kept = record("kept");
        auto gone = record("gone");
        auto movedFolder = VeskFile::initWithPath(makeFolder("moved"));
        ASSERT_TRUE(store.save(kept));
        ASSERT_TRUE(store.save(gone));
        ASSERT_TRUE(store.save(movedFolder));
        ASSERT_TRUE(gone->deleteFile());
        ASSERT_EQ(::rename(movedFolder->path().c_str(), at("renamed").c_str()), 0);

        EXPECT_FALSE(Bookmarks().isInBookmarks(*gone));
        EXPECT_THAT(storedNames(), ::testing::ElementsAre("kept"));
    }

    TEST_F(BookmarksTest, DelegateHearsOfEverySaveAndRemoveAndClearRemovesOneAtATime)
    {
        Bookmarks store;
        store.setup();
        auto delegate = std::make_shared<RecordingDelegate>();
        store.setDelegate(delegate);
        auto a = record("a");
        store.save(a);
        store.save(a);
        store.remove(a);
        store.save(a);
        store.save(record("b"));
        store.clear();
        using Call = std::pair<std::string, bool>;
        EXPECT_THAT(delegate->calls, ::testing::ElementsAre(Call { "a", false }, Call { "a", false }, Call { "a", true }, Call { "a", false }, Call { "b", false }, Call { "a", true }, Call { "b", true }));
        // An archived empty list stays stored.
        EXPECT_EQ(storedArchive(), emptyListArchive());

        // Held weakly: a delegate that has gone is simply not told.
        delegate.reset();
        EXPECT_EQ(store.delegate(), nullptr);
        EXPECT_TRUE(store.save(a));
    }

    TEST_F(BookmarksTest, MissingOrBrokenEntriesReadAsEmpty)
    {
        auto file = record("f");
        // No setup: nothing stored yet.
        EXPECT_TRUE(Bookmarks().reloadBookmarks().empty());
        EXPECT_FALSE(Bookmarks().isInBookmarks(*file));
        EXPECT_FALSE(stored());

        for (Value broken : { Value(Bytes { 'j', 'u', 'n', 'k' }), Value("a string"), Value(Bytes {}),
                 Value(*platform::dataFromPropertyList(Value(Array { Value(1) }), platform::PropertyListFormat::Binary)) }) {
            defaults()->setObject(broken, hashedDefaultsKey1V2());
            Bookmarks store;
            EXPECT_TRUE(store.reloadBookmarks().empty());
            // Saving starts the list afresh.
            EXPECT_TRUE(store.save(file));
            EXPECT_THAT(storedNames(), ::testing::ElementsAre("f"));
        }
    }

    TEST_F(BookmarksTest, ConcurrentWritersLoseNoBookmark)
    {
        Bookmarks().setup();
        constexpr int perThread = 8;
        std::vector<std::shared_ptr<VeskFile>> files;
        for (int i = 0; i < 4 * perThread; ++i)
            files.push_back(record("file" + std::to_string(i)));
        onFourThreads([&](int t) {
            Bookmarks store;
            for (int i = 0; i < perThread; ++i) {
                EXPECT_TRUE(store.save(files[t * perThread + i]));
                // Readers on the way must never see a torn list.
                EXPECT_TRUE(Bookmarks().isInBookmarks(*files[t * perThread + i]));
            }
        });
        EXPECT_EQ(Bookmarks().reloadBookmarks().size(), files.size());

        // Concurrent removal of everything leaves an empty list.
        onFourThreads([&](int t) {
            Bookmarks store;
            for (int i = 0; i < perThread; ++i)
                EXPECT_TRUE(store.remove(files[t * perThread + i]));
        });
        EXPECT_TRUE(Bookmarks().reloadBookmarks().empty());
    }

}
}
