#include "ModelTestSupport.h"

#include "model/VeskFile.h"
#include "platform/foundation/NSKeyedArchiver.h"

#include <sys/stat.h>

namespace vesk {
namespace {

    using platform::Dictionary;
    using platform::NSURL;
    using platform::Uid;
    using platform::Value;

    class VeskFileTest : public test::TemporaryHome { };

    TEST_F(VeskFileTest, FlagsAreReadOnceWhenTheRecordIsMade)
    {
        std::string folder = makeFolder("folder");
        std::string file = makeFile("file.txt", "x");

        auto folderRecord = VeskFile::initWithPath(folder);
        EXPECT_TRUE(folderRecord->isDir());
        EXPECT_TRUE(folderRecord->isWritable());
        EXPECT_EQ(folderRecord->url().absoluteString(), "file://" + folder + "/");

        auto fileRecord = VeskFile::initWithPath(file);
        EXPECT_FALSE(fileRecord->isDir());
        EXPECT_EQ(fileRecord->posix(), "-rw-r--r--");

        // The record describes the item as it was; the permission text is read on each call.
        ASSERT_TRUE(folderRecord->deleteFile());
        ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
        EXPECT_TRUE(folderRecord->isDir());
        EXPECT_EQ(folderRecord->posix(), "");
        EXPECT_EQ(fileRecord->posix(), "-rw-------");
    }

    TEST_F(VeskFileTest, MissingItemsPlaceholdersAndSuffixesAsWritten)
    {
        auto missing = VeskFile::initWithPath(at("nothing.txt"));
        EXPECT_FALSE(missing->isDir());
        EXPECT_FALSE(missing->isReadable());
        EXPECT_EQ(missing->posix(), "");
        EXPECT_FALSE(missing->deleteFile());
        // The generic icon needs no item.
        EXPECT_NE(missing->icon(), nullptr);

        auto placeholder = VeskFile::initWithPath(makeFolder("movie.veskDL"));
        EXPECT_FALSE(placeholder->isDir());
        EXPECT_EQ(placeholder->suffix(), "veskDL");
        EXPECT_EQ(VeskFile::initWithPath("/")->name(), "/");
        for (auto const& [name, suffix] : { std::pair { "Photo.JPG", "JPG" }, { "README", "" }, { "naïve.café", "café" } })
            EXPECT_EQ(VeskFile::initWithPath(at(name))->suffix(), suffix) << name;
    }

    TEST_F(VeskFileTest, UnreadableAndReadOnlyItems)
    {
        std::string locked = makeFile("locked", "", 0000);
        std::string readOnly = makeFile("read-only", "", 0444);
        std::string openFile = makeFile("open", "", 0666);
        EXPECT_TRUE(asUnprivilegedUser([&] {
            auto lockedRecord = VeskFile::initWithPath(locked);
            auto readOnlyRecord = VeskFile::initWithPath(readOnly);
            auto openRecord = VeskFile::initWithPath(openFile);
            return !lockedRecord->isReadable() && !lockedRecord->isWritable() && readOnlyRecord->isReadable()
                && !readOnlyRecord->isWritable() && openRecord->isReadable() && openRecord->isWritable();
        }));
    }

    class Other : public platform::NSCoding {
    public:
        std::string classNameForKeyedArchiver() const override { return "Other"; }
        void encodeWithCoder(platform::NSKeyedArchiver&) const override { }
    };

    TEST_F(VeskFileTest, EqualityAndHash)
    {
        std::string folder = makeFolder("shared");
        auto first = VeskFile::initWithPath(folder);
        auto second = VeskFile::initWithPath(folder);
        EXPECT_TRUE(*first == *second);
        EXPECT_EQ(first->hash(), second->hash());

        EXPECT_TRUE(first->isEqual(VeskFile::initWithUrl(NSURL::fileURLWithPath(folder)).get()));
        EXPECT_FALSE(first->isEqual(VeskFile::initWithPath(at("elsewhere")).get()));
        Other other;
        EXPECT_FALSE(first->isEqual(&other));

        // A URL without the folder mark is another URL.
        auto unmarked = VeskFile::initWithUrl(NSURL::fileURLWithPath(folder, false));
        EXPECT_FALSE(first->isEqual(unmarked.get()));
    }

    TEST_F(VeskFileTest, ArchivesOnlyTheUrl)
    {
        std::string file = makeFile("with space €.txt");
        auto record = VeskFile::initWithPath(file);
        auto archive = platform::NSKeyedArchiver::archiveValueWithRootObject(platform::ArchiveObject(std::shared_ptr<const platform::NSCoding>(record)));
        auto url = "file://" + scratch() + "/with%20space%20%E2%82%AC.txt";
        EXPECT_EQ(archive, test::keyedArchive({ Value("$null"), Value(Dictionary { { "pathURL", Value(Uid { 2 }) }, { "$class", Value(Uid { 3 }) } }), Value(url), test::classEntry("VeskFile") }));

        // Decoding reads the flags anew.
        ::chmod(file.c_str(), 0000);
        auto decoded = platform::NSKeyedUnarchiver::unarchiveObjectWithValue(archive, VeskFile::archiveDecoders());
        ASSERT_TRUE(decoded);
        auto copy = decoded->objectAs<VeskFile>();
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->path(), file);
        EXPECT_TRUE(asUnprivilegedUser([&] {
            auto again = platform::NSKeyedUnarchiver::unarchiveObjectWithValue(archive, VeskFile::archiveDecoders());
            return again && !again->objectAs<VeskFile>()->isReadable();
        }));
    }

    TEST_F(VeskFileTest, DecodingWithoutAFileUrlMakesNoRecord)
    {
        auto archiveWith = [](std::optional<Value> pathURL) {
            platform::Array objects { Value("$null"), Value(Dictionary { { "$class", Value(Uid { 2 }) } }), test::classEntry("VeskFile") };
            if (pathURL) {
                objects.push_back(*pathURL);
                objects[1].mutableDictionary()->set("pathURL", Value(Uid { 3 }));
            }
            return test::keyedArchive(objects);
        };
        auto decode = [](const Value& archive) -> std::shared_ptr<const VeskFile> {
            auto decoded = platform::NSKeyedUnarchiver::unarchiveObjectWithValue(archive, VeskFile::archiveDecoders());
            return decoded ? decoded->objectAs<VeskFile>() : nullptr;
        };
        EXPECT_NE(decode(archiveWith(Value("file:///tmp/x"))), nullptr);
        EXPECT_EQ(decode(archiveWith(std::nullopt)), nullptr);
        EXPECT_EQ(decode(archiveWith(Value(42))), nullptr);
        EXPECT_EQ(decode(archiveWith(Value("not a url"))), nullptr);
        EXPECT_EQ(decode(archiveWith(Value("http://example.org/x"))), nullptr);
    }

}
}
