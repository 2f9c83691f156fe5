#include "platform/foundation/Value.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/PropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vesk::platform;

namespace vesk::platform {
void PrintTo(const Value& value, std::ostream* out)
{
    *out << value.description();
}
}

namespace {

Value sample()
{
    Dictionary inner { { "zeta", 1 }, { "alpha", "two" } };
    Dictionary dict;
    dict.set("bool", true);
    dict.set("negative", -42);
    dict.set("big", 9007199254740993LL);
    dict.set("real", 1.5);
    dict.set("text", "Grüße <&> \"quoted\"");
    dict.set("empty", "");
    dict.set("data", Bytes { 0, 1, 2, 255 });
    dict.set("date", Date { 1700000000 });
    dict.set("list", Array { 1, "two", Array {}, Dictionary {}, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max() });
    dict.set("inner", inner);
    return dict;
}

}

TEST(ValueTest, DictionaryKeepsInsertionOrderAndReplacesInPlace)
{
    Dictionary dict { { "b", 1 }, { "a", 2 }, { "c", 3 } };
    dict.set("a", 20);
    EXPECT_TRUE(dict.erase("b"));
    EXPECT_FALSE(dict.erase("b"));
    EXPECT_EQ(dict.keys(), (std::vector<std::string> { "a", "c" }));
    EXPECT_EQ(*dict.find("a"), Value(20));
}

TEST(ValueTest, KindsAnswerOnlyForThemselvesAndCompareByContent)
{
    EXPECT_EQ(Value("x").integerValue(), std::nullopt);
    EXPECT_EQ(Value(2.9).integerValue(), 2);
    EXPECT_EQ(Value(1e300).integerValue(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(Value(std::nan("")).integerValue(), 0);
    EXPECT_TRUE(Value(std::numeric_limits<std::uint64_t>::max()).isReal());
    EXPECT_FALSE(Value(true).isNumber());
    EXPECT_TRUE(sample()["list"][99].isNull());

    EXPECT_EQ(Value(Dictionary { { "a", 1 }, { "b", 2 } }), Value(Dictionary { { "b", 2 }, { "a", 1 } }));
    EXPECT_NE(Value(1), Value(1.0));
    EXPECT_NE(Value(true), Value(1));

    Value original(Array { 1, 2 });
    Value copy = original;
    copy.mutableArray()->push_back(3);
    EXPECT_EQ(original.array()->size(), 2u);
}

TEST(ValueTest, DescriptionReadsLikeThePlatform)
{
    EXPECT_EQ(Value("text").description(), "text");
    EXPECT_EQ(Value(12).description(), "12");
    EXPECT_EQ(Value(1.5).description(), "1.5");
    EXPECT_EQ(Value(0.1).description(), "0.1");
    EXPECT_EQ(Value(true).description(), "1");
    EXPECT_EQ(Value(Array { 1, "a" }).description(), "(\n    1,\n    a\n)");
    EXPECT_EQ(Value(Bytes { 0xde, 0xad, 0xbe, 0xef, 1 }).description(), "<deadbeef 01>");
}

class PropertyListRoundTrip : public testing::TestWithParam<PropertyListFormat> { };

TEST_P(PropertyListRoundTrip, KeepsEveryKindAndKeyOrder)
{
    auto data = dataFromPropertyList(sample(), GetParam());
    ASSERT_TRUE(data);
    PropertyListFormat detected {};
    auto back = propertyListFromData(*data, &detected);
    ASSERT_TRUE(back);
    EXPECT_EQ(detected, GetParam());
    EXPECT_EQ(*back, sample());
    EXPECT_EQ(back->dictionary()->keys(), sample().dictionary()->keys());
    EXPECT_EQ(back->dictionary()->find("inner")->dictionary()->keys(), (std::vector<std::string> { "zeta", "alpha" }));
}

TEST_P(PropertyListRoundTrip, RefusesNull)
{
    EXPECT_FALSE(dataFromPropertyList(Value(), GetParam()));
    EXPECT_FALSE(dataFromPropertyList(Value(Array { 1, Value() }), GetParam()));
    EXPECT_FALSE(propertyListIsValid(Value(Dictionary { { "k", Value() } })));
    // Text that a property list would alter is refused rather than stored changed.
    EXPECT_FALSE(dataFromPropertyList(Value(Array { std::string("bad \xff") }), GetParam()));
    EXPECT_FALSE(dataFromPropertyList(Value(Array { std::string("nul\0cut", 7) }), GetParam()));
    EXPECT_FALSE(dataFromPropertyList(Value(Dictionary { { std::string("key \xfe"), 1 } }), GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Formats, PropertyListRoundTrip, testing::Values(PropertyListFormat::XML, PropertyListFormat::Binary));

TEST(PropertyListTest, DatesKeepWholeSecondsInXMLAndMicrosecondsInBinary)
{
    Value date(Array { Date { 1700000000.25 }, Date { -86400.5 } });
    auto binary = propertyListFromData(*dataFromPropertyList(date, PropertyListFormat::Binary));
    ASSERT_TRUE(binary);
    EXPECT_DOUBLE_EQ((*binary)[0].dateValue()->timeIntervalSince1970, 1700000000.25);
    EXPECT_DOUBLE_EQ((*binary)[1].dateValue()->timeIntervalSince1970, -86400.5);
    auto xml = xmlPropertyListString(date);
    EXPECT_NE(xml->find("<date>2023-11-14T22:13:20Z</date>"), std::string::npos) << *xml;
}

TEST(PropertyListTest, MalformedInputReadsAsAbsent)
{
    using namespace std::string_literals;
    const std::string cases[] = { ""s, "not a plist"s, "<?xml version=\"1.0\"?><plist><dict><key>a</key>"s,
        "<plist><dict><key>a</key><string>b</dict></plist>"s, "<plist><dict><string>no key</string></dict></plist>"s, "bplist00"s,
        "bplist00\xd1\x01\x02"s, "bplist00"s + std::string(32, '\0') };
    for (auto const& bytes : cases)
        EXPECT_FALSE(propertyListFromData(Bytes(bytes.begin(), bytes.end()))) << bytes;
}

TEST(PropertyListTest, TruncatedBinaryNeverReads)
{
    auto data = *dataFromPropertyList(sample(), PropertyListFormat::Binary);
    for (std::size_t length = 0; length < data.size(); ++length) {
        Bytes prefix(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(propertyListFromData(prefix)) << length;
    }
}

namespace {

void appendBigEndian(Bytes& out, std::uint64_t value, unsigned size)
{
    for (unsigned i = size; i-- > 0;)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The closing 32 bytes of a binary property list whose root is object 0.
void appendTrailer(Bytes& out, std::uint8_t size, std::uint64_t count, std::uint64_t table)
{
    out.insert(out.end(), { 0, 0, 0, 0, 0, 0, size, size });
    appendBigEndian(out, count, 8);
    appendBigEndian(out, 0, 8);
    appendBigEndian(out, table, 8);
}

// A binary property list of `count` arrays, where array i holds `fanOut`
// references to array i + 1 and the last one is empty.
Bytes chainedArrays(std::uint64_t count, unsigned fanOut)
{
    Bytes out { 'b', 'p', 'l', 'i', 's', 't', '0', '0' };
    std::vector<std::uint64_t> offsets;
    for (std::uint64_t i = 0; i < count; ++i) {
        offsets.push_back(out.size());
        if (i + 1 == count) {
            out.push_back(0xA0);
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(0xA0 | fanOut));
        for (unsigned j = 0; j < fanOut; ++j)
            appendBigEndian(out, i + 1, 4);
    }
    auto table = out.size();
    for (auto offset : offsets)
        appendBigEndian(out, offset, 4);
    appendTrailer(out, 4, count, table);
    return out;
}

}

TEST(PropertyListTest, DeepOrExplodingInputIsRefusedNotCrashing)
{
    // Shallow lists built the same way still read.
    auto shallow = propertyListFromData(chainedArrays(10, 1));
    ASSERT_TRUE(shallow);
    EXPECT_EQ((*shallow)[0][0][0][0][0][0][0][0][0], Value(Array {}));
    EXPECT_TRUE(propertyListFromData(chainedArrays(10, 2)));

    EXPECT_FALSE(propertyListFromData(chainedArrays(200000, 1)));
    // 2^60 nodes once shared children are copied.
    EXPECT_FALSE(propertyListFromData(chainedArrays(60, 2)));

    std::string xml = "<plist version=\"1.0\">";
    for (int i = 0; i < 1000000; ++i)
        xml += "<array>";
    for (int i = 0; i < 1000000; ++i)
        xml += "</array>";
    xml += "</plist>";
    EXPECT_FALSE(propertyListFromData(Bytes(xml.begin(), xml.end())));

    std::string fine = "<plist version=\"1.0\"><!-- <array> --><array><array/><dict><key>k</key><array/></dict></array></plist>";
    auto read = propertyListFromData(Bytes(fine.begin(), fine.end()));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->array()->size(), 2u);
}

TEST(PropertyListTest, AStringWithANulInsideNeverAborts)
{
    // An array holding the UTF-16 string "a\0b"; the library's copying getter asserts on it.
    Bytes data { 'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xA1, 1, 0x63, 0, 'a', 0, 0, 0, 'b', 8, 10 };
    appendTrailer(data, 1, 2, 17);
    auto value = propertyListFromData(data);
    ASSERT_TRUE(value);
    ASSERT_NE((*value)[0].string(), nullptr);
    EXPECT_EQ(*(*value)[0].string(), std::string("a\0b", 3));
}

TEST(PropertyListTest, ADictionaryKeyWithANulInsideIsRefusedNotAborting)
{
    // A dictionary { "a\0": true }; the library asserts on such a key.
    Bytes data { 'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xD1, 1, 2, 0x52, 'a', 0, 0x09, 8, 11, 14 };
    appendTrailer(data, 1, 3, 15);
    EXPECT_FALSE(propertyListFromData(data));
    // The same list with the key "ab" reads.
    data[13] = 'b';
    auto value = propertyListFromData(data);
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)["ab"], Value(true));
}

TEST(JSONTest, RoundTripKeepsKeyOrderAndKinds)
{
    Value value(Dictionary {
        { "z", 1 },
        { "a", Array { true, false, Value(), 2.5, "x" } },
        { "m", Dictionary { { "nested", -7 } } },
    });
    auto text = dataWithJSONObject(value);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, R"({"z":1,"a":[true,false,null,2.5,"x"],"m":{"nested":-7}})");
    auto back = JSONObjectWithData(*text);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, value);
    EXPECT_EQ(back->dictionary()->keys(), (std::vector<std::string> { "z", "a", "m" }));
}

TEST(JSONTest, PrettyPrintsLikeThePlatform)
{
    Value value(Dictionary { { "response", Dictionary { { "statuscode", 200 }, { "info", Array { "a/b", 1 } }, { "none", Dictionary {} } } } });
    JSONWritingOptions options;
    options.prettyPrinted = true;
    EXPECT_EQ(*dataWithJSONObject(value, options),
        "{\n"
        "  \"response\" : {\n"
        "    \"statuscode\" : 200,\n"
        "    \"info\" : [\n"
        "      \"a\\/b\",\n"
        "      1\n"
        "    ],\n"
        "    \"none\" : {}\n"
        "  }\n"
        "}");
}

TEST(JSONTest, EscapesStringsAndSlashes)
{
    Value value(Array { "tab\there", "quote\"back\\slash", "ctrl\x01", "path/to", "ünï" });
    EXPECT_EQ(*dataWithJSONObject(value), R"(["tab\there","quote\"back\\slash","ctrl\u0001","path\/to","ünï"])");
    JSONWritingOptions plain;
    plain.escapeSlashes = false;
    EXPECT_EQ(*dataWithJSONObject(Value(Array { "a/b" }), plain), R"(["a/b"])");
}

TEST(JSONTest, InvalidUTF8IsReplacedNotThrown)
{
    Value value(Array { std::string("bad\xff\xfe end"), std::string("cut \xe2\x82") });
    auto text = dataWithJSONObject(value);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "[\"bad\xef\xbf\xbd\xef\xbf\xbd end\",\"cut \xef\xbf\xbd\"]");
    EXPECT_TRUE(JSONObjectWithData(*text));
}

TEST(JSONTest, RefusesWhatJSONCannotHold)
{
    EXPECT_FALSE(dataWithJSONObject(Value("top-level string")));
    EXPECT_FALSE(dataWithJSONObject(Value(Array { Date { 0 } })));
    EXPECT_FALSE(dataWithJSONObject(Value(Array { Bytes { 1 } })));
    EXPECT_FALSE(dataWithJSONObject(Value(Array { std::numeric_limits<double>::infinity() })));
    EXPECT_FALSE(dataWithJSONObject(Value(Array { std::nan("") })));
    JSONWritingOptions fragments;
    fragments.fragmentsAllowed = true;
    EXPECT_EQ(*dataWithJSONObject(Value("top"), fragments), "\"top\"");
    EXPECT_EQ(*dataWithJSONObject(Value(2.0), fragments), "2");
    EXPECT_EQ(*dataWithJSONObject(Value(0.1), fragments), "0.1");
}

TEST(JSONTest, NumbersKeepTheirKind)
{
    auto value = JSONObjectWithData(R"([1, -2, 1.5, 1e3, 18446744073709551615, 9223372036854775807])");
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)[1].integerValue(), -2);
    EXPECT_TRUE((*value)[3].isReal());
    EXPECT_TRUE((*value)[4].isReal());
    EXPECT_EQ((*value)[5].integerValue(), std::numeric_limits<std::int64_t>::max());
}

TEST(JSONTest, MalformedInputReadsAsAbsent)
{
    const char* cases[] = { "", "{", "}", "[1,]", "{\"a\" 1}", "{\"a\":}", "[\"unterminated]", "tru", "nul", "01", "1.",
        "[1] trailing", "{'single':1}", "\"\\uD800\"", "\"bad \xff utf8\"", "\"\\x41\"", "[NaN]" };
    for (auto const* text : cases)
        EXPECT_FALSE(JSONObjectWithData(text)) << text;
}

TEST(JSONTest, DeepNestingIsRefusedNotCrashing)
{
    std::string deep(100000, '[');
    EXPECT_FALSE(JSONObjectWithData(deep));
    deep += std::string(100000, ']');
    EXPECT_FALSE(JSONObjectWithData(deep));
    std::string fine = std::string(100, '[') + std::string(100, ']');
    EXPECT_TRUE(JSONObjectWithData(fine));
    // Brackets inside strings do not count.
    EXPECT_TRUE(JSONObjectWithData("[\"" + std::string(2000, '[') + "\"]"));
}
