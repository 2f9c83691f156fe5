#include "platform/foundation/Digest.h"
#include "platform/foundation/MimeType.h"
#include "platform/foundation/NSByteCountFormatter.h"

#include <gtest/gtest.h>

using namespace vesk::platform;

TEST(DigestTest, Base64WithPaddingAndNoLineBreaks)
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
    EXPECT_EQ(base64Decode(encoded), big);
    EXPECT_EQ(base64Encode(Bytes { 0xfb, 0xff }), "+/8=");
}

TEST(DigestTest, Base64DecodeRefusesMalformedText)
{
    for (auto const* bad : { "Zg", "Zg=", "Z===", "=Zg=", "Zg==Zg==", "Zm9v\n", "Zm 9v", "Zm9-", "Zm9_", "Zg=a" })
        EXPECT_FALSE(base64Decode(bad)) << bad;
    EXPECT_EQ(base64Decode("Zm9v\r\nYmFy", true), (Bytes { 'f', 'o', 'o', 'b', 'a', 'r' }));
    EXPECT_FALSE(base64Decode("Zg=\n=x", true));
}

TEST(MimeTypeTest, KnownExtensionsInAnyCaseAndNothingElse)
{
    EXPECT_EQ(mimeTypeForExtension("txt"), "text/plain");
    EXPECT_EQ(mimeTypeForExtension("JPG"), "image/jpeg");
    EXPECT_EQ(mimeTypeForExtension("svg"), "image/svg+xml");
    for (auto const* unknown : { "", "no-such-extension-here", "text/plain" })
        EXPECT_EQ(mimeTypeForExtension(unknown), std::nullopt) << unknown;
}

TEST(ByteCountTest, FileStyleUsesDecimalUnitsMemoryStyleBinaryOnes)
{
    using Style = NSByteCountFormatter::CountStyle;
    struct Case {
        std::int64_t bytes;
        const char* text;
        Style style = Style::File;
    };
    for (auto const& c : { Case { 0, "Zero KB" }, Case { 1, "1 byte" }, Case { 2, "2 bytes" }, Case { 999, "999 bytes" },
             Case { 1000, "1 KB" }, Case { 1499, "1 KB" }, Case { 1500, "2 KB" }, Case { 999499, "999 KB" }, Case { 999500, "1 MB" },
             Case { 1500000, "1.5 MB" }, Case { 12345678, "12.3 MB" }, Case { 1234567890, "1.23 GB" }, Case { 1000000000000, "1 TB" },
             Case { -1, "-1 byte" }, Case { -1500000, "-1.5 MB" }, Case { INT64_MAX, "9.22 EB" }, Case { INT64_MIN, "-9.22 EB" },
             Case { 1000, "1 KB", Style::Memory }, Case { 1536 * 1024, "1.5 MB", Style::Binary }, Case { 1500, "2 KB", Style::Decimal } })
        EXPECT_EQ(NSByteCountFormatter::stringFromByteCount(c.bytes, c.style), c.text) << c.bytes;
}
