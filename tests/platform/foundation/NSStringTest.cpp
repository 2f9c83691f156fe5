#include "platform/foundation/NSString.h"

#include "platform/foundation/FoundationTestSupport.h"

#include <gtest/gtest.h>

using namespace vesk::platform;

struct PathCase {
    const char* path;
    const char* last;
    const char* deletingLast;
    const char* extension;
    const char* deletingExtension;
};

class PathHelpers : public testing::TestWithParam<PathCase> { };

TEST_P(PathHelpers, FollowThePlatform)
{
    auto const& c = GetParam();
    EXPECT_EQ(lastPathComponent(c.path), c.last);
    EXPECT_EQ(stringByDeletingLastPathComponent(c.path), c.deletingLast);
    EXPECT_EQ(pathExtension(c.path), c.extension);
    EXPECT_EQ(stringByDeletingPathExtension(c.path), c.deletingExtension);
}

INSTANTIATE_TEST_SUITE_P(Table, PathHelpers,
    testing::Values(
        PathCase { "/tmp/scratch.tiff", "scratch.tiff", "/tmp", "tiff", "/tmp/scratch" },
        PathCase { "/tmp/", "tmp", "/", "", "/tmp" },
        PathCase { "/tmp/lock/", "lock", "/tmp", "", "/tmp/lock" },
        PathCase { "scratch///", "scratch", "", "", "scratch" },
        PathCase { "/", "/", "/", "", "/" },
        PathCase { "", "", "", "", "" },
        PathCase { ".scratch.tiff", ".scratch.tiff", "", "tiff", ".scratch" },
        PathCase { "/tmp/scratch..tiff", "scratch..tiff", "/tmp", "tiff", "/tmp/scratch." },
        PathCase { "/home/.profile", ".profile", "/home", "", "/home/.profile" },
        PathCase { "a.tar.gz", "a.tar.gz", "", "gz", "a.tar" },
        PathCase { "/dl/file.veskDL/", "file.veskDL", "/dl", "veskDL", "/dl/file" },
        PathCase { "/dir.d/file", "file", "/dir.d", "", "/dir.d/file" },
        PathCase { "name.", "name.", "", "", "name." },
        PathCase { "//double//slash", "slash", "/double", "", "/double/slash" }));

TEST(PathHelpersTest, AppendingPutsExactlyOneSlash)
{
    EXPECT_EQ(stringByAppendingPathComponent("/tmp", "scratch.tiff"), "/tmp/scratch.tiff");
    EXPECT_EQ(stringByAppendingPathComponent("/tmp/", "scratch.tiff"), "/tmp/scratch.tiff");
    EXPECT_EQ(stringByAppendingPathComponent("", "scratch.tiff"), "scratch.tiff");
    EXPECT_EQ(stringByAppendingPathComponent("/tmp", ""), "/tmp");
    EXPECT_EQ(stringByAppendingPathComponent("/tmp", "/a/"), "/tmp/a");
}

TEST(PathHelpersTest, TildeExpansion)
{
    vesk::testing::ScopedEnv home("HOME", "/home/tester");
    EXPECT_EQ(expandingTildeInPath("~"), "/home/tester");
    EXPECT_EQ(expandingTildeInPath("~/Documents"), "/home/tester/Documents");
    EXPECT_EQ(expandingTildeInPath("~/"), "/home/tester");
    EXPECT_EQ(expandingTildeInPath("/abs/~/x"), "/abs/~/x");
    EXPECT_EQ(expandingTildeInPath("~root/x"), "/root/x");
    EXPECT_EQ(expandingTildeInPath("~no-such-user-here/x"), "~no-such-user-here/x");
}

TEST(StringDataTest, UTF8Validity)
{
    for (auto const* bad : { "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82", "\x80", "\xf8\x88\x80\x80\x80" })
        EXPECT_FALSE(isValidUTF8(bad)) << bad;
    for (auto const* good : { "", "ascii", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xf4\x8f\xbf\xbf" })
        EXPECT_TRUE(isValidUTF8(good)) << good;
}

struct FormatCase {
    const char* format;
    FormatArgs args;
    const char* expected;
};

class FormatEngine : public testing::TestWithParam<FormatCase> { };

TEST_P(FormatEngine, Formats)
{
    auto const& c = GetParam();
    EXPECT_EQ(stringWithFormat(c.format, c.args), c.expected) << c.format;
}

INSTANTIATE_TEST_SUITE_P(Conversions, FormatEngine,
    testing::Values(
        FormatCase { "Webserver: %@:8080", { "192.168.1.4" }, "Webserver: 192.168.1.4:8080" },
        FormatCase { "\"%@\" has been deleted", { "a.txt" }, "\"a.txt\" has been deleted" },
        FormatCase { "%i files have been deleted", { 3 }, "3 files have been deleted" },
        FormatCase { "%d|%u|%ld|%lu|%lld", { -1, 7u, -2L, 8UL, -3LL }, "-1|7|-2|8|-3" },
        FormatCase { "%02x%02x", { 255, 0 }, "ff00" },
        FormatCase { "%#x", { 255 }, "0xff" },
        FormatCase { "%s and %s", { "one", std::string("two") }, "one and two" },
        FormatCase { "100%%", {}, "100%" },
        FormatCase { "%.1f", { 2.25 }, "2.2" },
        FormatCase { "%4g|", { 0.5 }, " 0.5|" },
        FormatCase { "%5d|%-5d|%05d", { 42, 42, 42 }, "   42|42   |00042" },
        FormatCase { "%*d", { 4, 7 }, "   7" },
        FormatCase { "%.2s", { "abcdef" }, "ab" },
        FormatCase { "%2$@ %1$@", { "world", "hello" }, "hello world" },
        FormatCase { "%1$@ %1$@", { "echo" }, "echo echo" },
        FormatCase { "%@", { 12 }, "12" },
        FormatCase { "%@", { Value(true) }, "1" },
        FormatCase { "%i", { 1.9 }, "1" },
        FormatCase { "%d", { 4294967297LL }, "1" },
        FormatCase { "%ld", { 4294967297LL }, "4294967297" },
        FormatCase { "%hhd", { 300 }, "44" },
        FormatCase { "%u", { -1 }, "4294967295" },
        FormatCase { "%c%c %c%c%c%c%c%c%c", { 'd', 'r', 'w', 'x', 'r', '-', 'x', 'r', '-' }, "dr wxr-xr-" },
        FormatCase { "ends in %", {}, "ends in %" },
        FormatCase { "%y unknown", { 1 }, "%y unknown" },
        FormatCase { "%n writes nothing", { 1 }, "%n writes nothing" },
        FormatCase { "%C", { 0x20AC }, "\xe2\x82\xac" }));

INSTANTIATE_TEST_SUITE_P(MissingArguments, FormatEngine,
    testing::Values(
        FormatCase { "%@ and %@", { "one" }, "one and " },
        FormatCase { "%i items", {}, " items" },
        FormatCase { "%3$@", { "a", "b" }, "" },
        FormatCase { "%0$@|", { "a" }, "%0$@|" },
        FormatCase { "%*d", {}, "" },
        FormatCase { "%s", { 5 }, "" },
        FormatCase { "%d", { "text" }, "" },
        FormatCase { "%f", { "text" }, "" }));

TEST(FormatEngineTest, HostileWidthsStayBounded)
{
    EXPECT_EQ(stringWithFormat("%99999999999d", { 1 }), std::string(4095, ' ') + "1");
    EXPECT_EQ(stringWithFormat("%.99999999999f", { 1.0 }).size(), 4098u);
    EXPECT_EQ(stringWithFormat("%*d", { 1 << 30, 1 }).size(), 4096u);
}
