#include "platform/foundation/Digest.h"
#include "platform/foundation/MimeType.h"
#include "platform/foundation/NSByteCountFormatter.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace vesk::platform;

TEST(DigestTest, SHA1MatchesTheStandardVectors)
{
    EXPECT_EQ(sha1HexString(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(sha1HexString("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1HexString("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(sha1HexString(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    // UTF-8 bytes go in as they are.
    auto raw = sha1("abc");
    EXPECT_EQ(hexString(raw.data(), raw.size()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(DigestTest, Base64EncodesWithPaddingAndNoLineBreaks)
{
    struct Case {
        const char* plain;
        const char* encoded;
    };
    for (auto const& c : { Case { "", "" }, Case { "f", "Zg==" }, Case { "fo", "Zm8=" }, Case { "foo", "Zm9v" },
             Case { "foob", "Zm9vYg==" }, Case { "fooba", "Zm9vYmE=" }, Case { "foobar", "Zm9vYmFy" } }) {
        std::string plain(c.plain);
        Bytes bytes(plain.begin(), plain.end());
        EXPECT_EQ(base64Encode(bytes), c.encoded);
        EXPECT_EQ(base64Decode(c.encoded), bytes) << c.encoded;
    }
    Bytes big(10000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    auto encoded = base64Encode(big);
    EXPECT_EQ(encoded.find('\n'), std::string::npos);
    EXPECT_EQ(encoded.size(), 4 * ((big.size() + 2) / 3));
    EXPECT_EQ(base64Decode(encoded), big);
    EXPECT_EQ(base64Encode(Bytes { 0xfb, 0xff }), "+/8=");
}

TEST(DigestTest, Base64DecodeRefusesMalformedText)
{
    for (auto const* bad : { "Zg", "Zg=", "Z===", "=Zg=", "Zg==Zg==", "Zm9v\n", "Zm 9v", "Zm9-", "Zm9_", "Zg=a" })
        EXPECT_FALSE(base64Decode(bad)) << bad;
    EXPECT_EQ(base64Decode("Zm9v\r\nYmFy", true), (Bytes { 'f', 'o', 'o', 'b', 'a', 'r' }));
    EXPECT_EQ(base64Decode(" Zg== ", true), (Bytes { 'f' }));
    EXPECT_FALSE(base64Decode("Zg=\n=x", true));
}

TEST(DigestTest, RandomBytesDiffer)
{
    EXPECT_TRUE(randomBytes(0).empty());
    std::set<Bytes> seen;
    for (int i = 0; i < 8; ++i) {
        auto bytes = randomBytes(16);
        EXPECT_EQ(bytes.size(), 16u);
        seen.insert(bytes);
    }
    EXPECT_EQ(seen.size(), 8u);
}

TEST(MimeTypeTest, KnownExtensionsInAnyCaseAndNothingElse)
{
    EXPECT_EQ(mimeTypeForExtension("txt"), "text/plain");
    EXPECT_EQ(mimeTypeForExtension("JPG"), "image/jpeg");
    EXPECT_EQ(mimeTypeForExtension("Png"), "image/png");
    EXPECT_EQ(mimeTypeForExtension("svg"), "image/svg+xml");
    for (auto const* unknown : { "", "no-such-extension-here", "text/plain" })
        EXPECT_EQ(mimeTypeForExtension(unknown), std::nullopt) << unknown;
}

TEST(MimeTypeTest, FirstUseFromManyThreads)
{
    std::vector<std::thread> threads;
    std::vector<std::optional<std::string>> answers(4);
    for (std::size_t i = 0; i < answers.size(); ++i)
        threads.emplace_back([&answers, i] { answers[i] = mimeTypeForExtension("gif"); });
    for (auto& thread : threads)
        thread.join();
    for (auto const& answer : answers)
        EXPECT_EQ(answer, "image/gif");
}

TEST(ByteCountTest, FileStyleUsesDecimalUnits)
{
    struct Case {
        std::int64_t bytes;
        const char* text;
    };
    for (auto const& c : { Case { 0, "Zero KB" }, Case { 1, "1 byte" }, Case { 2, "2 bytes" }, Case { 999, "999 bytes" },
             Case { 1000, "1 KB" }, Case { 1499, "1 KB" }, Case { 1500, "2 KB" }, Case { 999499, "999 KB" }, Case { 999500, "1 MB" },
             Case { 1500000, "1.5 MB" }, Case { 12000000, "12 MB" }, Case { 12345678, "12.3 MB" }, Case { 1000000000, "1 GB" },
             Case { 1234567890, "1.23 GB" }, Case { 1000000000000, "1 TB" }, Case { -1, "-1 byte" }, Case { -1500000, "-1.5 MB" },
             Case { INT64_MAX, "9.22 EB" }, Case { INT64_MIN, "-9.22 EB" } })
        EXPECT_EQ(NSByteCountFormatter::stringFromByteCount(c.bytes), c.text) << c.bytes;
}

TEST(ByteCountTest, MemoryStyleUsesBinaryUnits)
{
    using Style = NSByteCountFormatter::CountStyle;
    EXPECT_EQ(NSByteCountFormatter::stringFromByteCount(1024, Style::Memory), "1 KB");
    EXPECT_EQ(NSByteCountFormatter::stringFromByteCount(1000, Style::Memory), "1 KB");
    EXPECT_EQ(NSByteCountFormatter::stringFromByteCount(1536 * 1024, Style::Binary), "1.5 MB");
    EXPECT_EQ(NSByteCountFormatter::stringFromByteCount(1500, Style::Decimal), "2 KB");
}
