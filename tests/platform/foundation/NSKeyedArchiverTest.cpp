#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/PropertyList.h"

#include "platform/foundation/FoundationTestSupport.h"

#include <gtest/gtest.h>

using namespace vesk::platform;
using vesk::testing::classEntry;
using vesk::testing::keyedArchive;

namespace vesk::platform {
void PrintTo(const Value& value, std::ostream* out)
{
    *out << value.description();
}
}

namespace {

// A record archived the way the file record is: one string under "pathURL".
class Record final : public NSCoding {
public:
    explicit Record(std::string url)
        : m_url(std::move(url))
    {
    }
    std::string classNameForKeyedArchiver() const override { return "VeskFile"; }
    void encodeWithCoder(NSKeyedArchiver& coder) const override { coder.encodeObject(m_url, "pathURL"); }
    const std::string& url() const { return m_url; }

private:
    std::string m_url;
};

const NSKeyedUnarchiver::Decoders decoders {
    { "VeskFile", [](NSKeyedUnarchiver& coder) -> std::shared_ptr<const NSCoding> {
         auto url = coder.decodeStringForKey("pathURL");
         if (!url)
             return nullptr;
         return std::make_shared<Record>(*url);
     } },
};

ArchiveObject recordList(std::initializer_list<const char*> urls)
{
    std::vector<ArchiveObject> items;
    for (auto const* url : urls)
        items.emplace_back(std::make_shared<Record>(url));
    return ArchiveObject::makeArray(std::move(items));
}

std::vector<std::string> urlsOf(const ArchiveObject& object)
{
    std::vector<std::string> urls;
    if (auto const* items = object.array()) {
        for (auto const& item : *items) {
            if (auto record = item.objectAs<Record>())
                urls.push_back(record->url());
        }
    }
    return urls;
}

Value record(std::uint64_t urlUid, std::uint64_t classUid)
{
    return Value(Dictionary { { "pathURL", Uid { urlUid } }, { "$class", Uid { classUid } } });
}

Value arrayObject(Array references, std::uint64_t classUid)
{
    return Value(Dictionary { { "NS.objects", std::move(references) }, { "$class", Uid { classUid } } });
}

Bytes binary(const Value& value)
{
    return *dataFromPropertyList(value, PropertyListFormat::Binary);
}

}

TEST(NSKeyedArchiverTest, TheSameObjectIsStoredOnce)
{
    auto shared = std::make_shared<Record>("file:///same");
    auto value = NSKeyedArchiver::archiveValueWithRootObject(ArchiveObject::makeArray({ ArchiveObject(shared), ArchiveObject(shared) }));
    EXPECT_EQ(value["$objects"][1]["NS.objects"], Value(Array { Uid { 2 }, Uid { 2 } }));
    EXPECT_EQ(urlsOf(*NSKeyedUnarchiver::unarchiveObjectWithValue(value, decoders)), (std::vector<std::string> { "file:///same", "file:///same" }));
}

TEST(NSKeyedArchiverTest, UnreadableElementsOfAMutableArrayAreSkipped)
{
    auto value = keyedArchive({
        "$null",
        // Uid 1 points back at the list itself, which must not loop.
        arrayObject({ Uid { 2 }, Uid { 1 }, Uid { 5 }, Uid { 6 }, Uid { 99 }, Uid { 8 }, "not a reference", Uid { 0 }, Uid { 9 }, Uid { 10 } }, 11),
        record(3, 4),
        "file:///good",
        classEntry("VeskFile"),
        Dictionary { { "$class", Uid { 4 } } }, // no "pathURL"
        Dictionary { { "pathURL", Uid { 7 } }, { "$class", Uid { 12 } } }, // unknown class
        "file:///unknown",
        Dictionary { { "pathURL", Uid { 1 } }, { "$class", Uid { 4 } } }, // "pathURL" is the list itself
        Dictionary { { "pathURL", Uid { 3 } }, { "$class", Uid { 99 } } }, // class out of range
        record(13, 4),
        Dictionary { { "$classname", "NSMutableArray" }, { "$classes", Array { "NSMutableArray", "NSArray", "NSObject" } } },
        classEntry("SomethingElse"),
        "file:///last",
    });
    auto back = NSKeyedUnarchiver::unarchiveObjectWithData(binary(value), decoders);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isMutableArray());
    EXPECT_EQ(urlsOf(*back), (std::vector<std::string> { "file:///good", "file:///last" }));
}

TEST(NSKeyedArchiverTest, MalformedArchivesReadAsAbsent)
{
    auto good = NSKeyedArchiver::archiveValueWithRootObject(recordList({ "file:///x" }));
    auto without = [&](const char* key) {
        Value copy = good;
        copy.mutableDictionary()->erase(key);
        return copy;
    };
    auto with = [&](const char* key, Value replacement) {
        Value copy = good;
        copy.mutableDictionary()->set(key, std::move(replacement));
        return copy;
    };
    const Value cases[] = {
        without("$archiver"),
        without("$top"),
        without("$objects"),
        with("$archiver", "SomethingElse"),
        with("$top", Dictionary { { "root", 1 } }),
        with("$top", Dictionary { { "root", Uid { 42 } } }),
        with("$objects", "not a list"),
        with("$objects", Array {}),
        Value(Array { 1, 2 }),
        keyedArchive({ "$null", Dictionary { { "$class", Uid { 0 } } } }),
        keyedArchive({ "$null", Dictionary { { "NS.objects", Array {} } } }),
        keyedArchive({ "$null", Array { 1 } }),
    };
    for (auto const& value : cases)
        EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithValue(value, decoders)) << value.description();

    for (auto const* text : { "", "garbage", "bplist00" })
        EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithData(Bytes(text, text + std::char_traits<char>::length(text)), decoders)) << text;

    auto data = NSKeyedArchiver::archivedDataWithRootObject(recordList({ "file:///x" }));
    for (std::size_t length = 0; length < data.size(); ++length) {
        Bytes prefix(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(NSKeyedUnarchiver::unarchiveObjectWithData(prefix, decoders)) << length;
    }
}

TEST(NSKeyedArchiverTest, DeepNestingIsCutInsteadOfOverflowingTheStack)
{
    Array objects { "$null" };
    constexpr std::uint64_t depth = 5000;
    for (std::uint64_t i = 1; i <= depth; ++i)
        objects.push_back(arrayObject({ Uid { i + 1 } }, depth + 2));
    objects.push_back("file:///leaf");
    objects.push_back(classEntry("NSArray"));
    auto back = NSKeyedUnarchiver::unarchiveObjectWithValue(keyedArchive(std::move(objects)), decoders);
    // The chain is cut where it gets too deep: the outer arrays stand, empty at the bottom.
    ASSERT_TRUE(back);
    EXPECT_NE(back->array(), nullptr);
}
