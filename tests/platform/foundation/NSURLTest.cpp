#include "platform/foundation/NSURL.h"
#include "platform/foundation/NSURLConnection.h"

#include "platform/foundation/FoundationTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unordered_set>

using namespace vesk::platform;
namespace fs = std::filesystem;

class NSURLTest : public testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_folder / "a folder");
        std::ofstream(m_folder / "file.txt") << "x";
    }

    vesk::testing::TemporaryFolder m_scratch;
    const fs::path& m_folder = m_scratch.path();
};

struct EncodingCase {
    const char* path;
    const char* absolute;
};

class PathEncoding : public testing::TestWithParam<EncodingCase> { };

TEST_P(PathEncoding, AbsoluteStringEncodesLikeThePlatform)
{
    auto url = NSURL::fileURLWithPath(GetParam().path, false);
    EXPECT_EQ(url.absoluteString(), GetParam().absolute);
    auto parsed = NSURL::URLWithString(url.absoluteString());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, url);
    EXPECT_EQ(parsed->path(), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(Table, PathEncoding,
    testing::Values(
        EncodingCase { "/tmp/a b.txt", "file:///tmp/a%20b.txt" },
        EncodingCase { "/Grüße", "file:///Gr%C3%BC%C3%9Fe" },
        EncodingCase { "/100%", "file:///100%25" },
        EncodingCase { "/q?x#y", "file:///q%3Fx%23y" },
        EncodingCase { "/keep-._~!$&'()*+,;=:@", "file:///keep-._~!$&'()*+,;=:@" },
        EncodingCase { "/odd\"<>\\^`{|}[]", "file:///odd%22%3C%3E%5C%5E%60%7B%7C%7D%5B%5D" },
        EncodingCase { "/tab\there", "file:///tab%09here" },
        EncodingCase { "/", "file:///" }));

TEST_F(NSURLTest, ExistingFolderGetsATrailingSlash)
{
    auto folder = NSURL::fileURLWithPath((m_folder / "a folder").string());
    EXPECT_TRUE(folder.hasDirectoryPath());
    EXPECT_EQ(folder.absoluteString(), "file://" + m_folder.string() + "/a%20folder/");
    EXPECT_FALSE(NSURL::fileURLWithPath((m_folder / "file.txt").string()).hasDirectoryPath());
}

TEST_F(NSURLTest, EqualityAndHashFollowTheAbsoluteString)
{
    auto one = NSURL::fileURLWithPath((m_folder / "file.txt").string());
    auto two = *NSURL::URLWithString(one.absoluteString());
    EXPECT_EQ(std::unordered_set<NSURL>({ one, two }).size(), 1u);
    // The folder form and the plain form are different URLs, as on the platform.
    EXPECT_NE(NSURL::fileURLWithPath("/tmp", true), NSURL::fileURLWithPath("/tmp", false));
}

TEST(NSURLParsing, PartsOfAURL)
{
    auto url = NSURL::URLWithString("http://example.org:8080/a%20b/c.html?x=1&y=2#top");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme(), "http");
    EXPECT_EQ(url->host(), "example.org");
    EXPECT_EQ(url->path(), "/a b/c.html");
    EXPECT_EQ(url->query(), "x=1&y=2");
    EXPECT_EQ(url->fragment(), "top");

    // The host alone: no user, no port, no brackets.
    EXPECT_EQ(NSURL::URLWithString("http://me@[::1]:8080/")->host(), "::1");

    auto file = NSURL::URLWithString("file://localhost/tmp/x");
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->isFileURL());
    EXPECT_EQ(file->path(), "/tmp/x");
}

TEST(NSURLParsing, RefusesWhatAURLCannotHold)
{
    for (auto const* text : { "", "file:///a b", "file:///bad%2", "file:///bad%zz", "file:///\xc3\xbc", "file:///ctrl\n", "http://x/<y>", "file:///etc/passwd%00.txt" })
        EXPECT_FALSE(NSURL::URLWithString(text)) << text;
}

TEST(PercentCoding, DecodeRefusesBrokenEscapes)
{
    EXPECT_EQ(percentDecode("a%20b%2F"), "a b/");
    EXPECT_EQ(percentDecode("%"), std::nullopt);
    EXPECT_EQ(percentDecode("%g0"), std::nullopt);
    EXPECT_EQ(percentEncodePath("a b/ü"), "a%20b/%C3%BC");
}

TEST(NSURLParsing, ReferencesOfOnlyAFragmentOrQueryKeepTheBasePath)
{
    struct Case {
        const char* base;
        const char* reference;
        bool keepFragment;
        const char* resolved;
    };
    const Case cases[] = {
        { "file:///a/b/page.html", "#bottom", false, "file:///a/b/page.html" },
        { "file:///a/b/page.html", "#bottom", true, "file:///a/b/page.html#bottom" },
        { "file:///a/b/page.html#top", "#bottom", true, "file:///a/b/page.html#bottom" },
        { "http://h/a/page.html?x=1", "#bottom", true, "http://h/a/page.html?x=1#bottom" },
        { "http://h/a/page.html?x=1#f", "?y=2", false, "http://h/a/page.html?y=2" },
        { "http://h/a/page.html", "?y=2#s", true, "http://h/a/page.html?y=2#s" },
        { "file:///a/b/page.html", "other.html#s", false, "file:///a/b/other.html" },
        { "file:///a/b/page.html", "other.html#s", true, "file:///a/b/other.html#s" },
        { "file:///a/b/page.html", "../up.html", false, "file:///a/up.html" },
    };
    for (auto& test : cases) {
        auto url = URLByResolvingReference(test.reference, *NSURL::URLWithString(test.base), test.keepFragment);
        ASSERT_TRUE(url) << test.reference;
        EXPECT_EQ(url->absoluteString(), test.resolved) << test.base << " + " << test.reference;
    }
}
