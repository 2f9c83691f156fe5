#include "renderer/engine/HTMLEncoding.h"

#include <gtest/gtest.h>

using namespace vesk::platform;

namespace {

struct Case {
    const char* name;
    std::string bytes;
    std::optional<std::string> httpCharset;
    std::string encoding;
    std::string text;
};

std::string utf16(std::string_view ascii, bool bigEndian)
{
    std::string out;
    for (char c : ascii) {
        out += bigEndian ? '\0' : c;
        out += bigEndian ? c : '\0';
    }
    return out;
}

}

TEST(HTMLEncodingTest, TheEncodingIsFoundInTheHTMLStandardsOrderAndTheTextConverted)
{
    const std::string cafe = "<p>Caf\xe9 cr\xe8me</p>";
    const std::string cafeUTF8 = "<p>Caf\xc3\xa9 cr\xc3\xa8me</p>";
    const Case cases[] = {
        { "plain UTF-8", cafeUTF8, std::nullopt, "UTF-8", cafeUTF8 },
        { "UTF-8 byte-order mark, taken off", "\xEF\xBB\xBF" + cafeUTF8, "iso-8859-1", "UTF-8", cafeUTF8 },
        { "UTF-16LE byte-order mark", "\xFF\xFE" + utf16("<p>hi</p>", false), std::nullopt, "UTF-16LE", "<p>hi</p>" },
        { "UTF-16BE byte-order mark", "\xFE\xFF" + utf16("<p>hi</p>", true), "utf-8", "UTF-16BE", "<p>hi</p>" },
        { "meta charset", "<meta charset=\"iso-8859-1\">" + cafe, std::nullopt, "WINDOWS-1252", "<meta charset=\"iso-8859-1\">" + cafeUTF8 },
        { "meta http-equiv", "<META HTTP-EQUIV='Content-Type' CONTENT='text/html; charset=ISO-8859-1'>" + cafe, std::nullopt, "WINDOWS-1252",
            "<META HTTP-EQUIV='Content-Type' CONTENT='text/html; charset=ISO-8859-1'>" + cafeUTF8 },
        { "meta content without http-equiv counts for nothing", "<meta content='text/html; charset=koi8-r'>" + cafeUTF8, std::nullopt, "UTF-8",
            "<meta content='text/html; charset=koi8-r'>" + cafeUTF8 },
        { "the HTTP charset before the meta", "<meta charset=utf-8>" + cafe, "latin1", "WINDOWS-1252", "<meta charset=utf-8>" + cafeUTF8 },
        { "an unknown HTTP charset is passed over", "<meta charset=iso-8859-1>" + cafe, "no-such-set", "WINDOWS-1252", "<meta charset=iso-8859-1>" + cafeUTF8 },
        { "meta in a comment is passed over", "<!-- <meta charset=iso-8859-1> -->" + cafeUTF8, std::nullopt, "UTF-8", "<!-- <meta charset=iso-8859-1> -->" + cafeUTF8 },
        { "meta inside another tag's attribute is passed over", "<div title='<meta charset=koi8-r>'>" + cafeUTF8, std::nullopt, "UTF-8",
            "<div title='<meta charset=koi8-r>'>" + cafeUTF8 },
        { "meta past the first 1,024 bytes is not seen", std::string(1100, ' ') + "<meta charset=koi8-r>x", std::nullopt, "UTF-8",
            std::string(1100, ' ') + "<meta charset=koi8-r>x" },
        { "a meta that says UTF-16 means UTF-8", "<meta charset=utf-16>" + cafeUTF8, std::nullopt, "UTF-8", "<meta charset=utf-16>" + cafeUTF8 },
        { "meta KOI8-R", "<meta charset=koi8-r><p>\xf0\xd2\xc9\xd7\xc5\xd4</p>", std::nullopt, "KOI8-R",
            "<meta charset=koi8-r><p>\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82</p>" },
        { "invalid UTF-8 in a UTF-8 page becomes U+FFFD", "<meta charset=utf-8>a\xff"
                                                          "b\xe2\x82",
            std::nullopt, "UTF-8",
            "<meta charset=utf-8>a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD" },
        { "a cut-off UTF-16 page ends in U+FFFD", "\xFF\xFE" + utf16("ab", false) + "c", std::nullopt, "UTF-16LE", "ab\xEF\xBF\xBD" },
        { "nothing declared and not UTF-8: guessed", "<p>" + std::string(40, ' ') + "Le caf\xe9 est tr\xe8s chaud et la cr\xe8me br\xfbl\xe9"
                                                                                    "e est d\xe9licieuse.</p>",
            std::nullopt, "", "<p>" + std::string(40, ' ') + "Le caf\xc3\xa9 est tr\xc3\xa8s chaud et la cr\xc3\xa8me br\xc3\xbbl\xc3\xa9"
                                                             "e est d\xc3\xa9licieuse.</p>" },
        { "empty", "", std::nullopt, "UTF-8", "" },
    };
    for (auto& test : cases) {
        auto decoded = decodedHTML(test.bytes, test.httpCharset ? std::optional<std::string_view>(*test.httpCharset) : std::nullopt);
        if (!test.encoding.empty()) {
            EXPECT_EQ(decoded.encoding, test.encoding) << test.name;
        }
        EXPECT_EQ(decoded.text, test.text) << test.name;
    }
}

TEST(HTMLEncodingTest, TheCharsetOfAContentType)
{
    EXPECT_EQ(charsetOfContentType("text/html; charset=ISO-8859-1"), "ISO-8859-1");
    EXPECT_EQ(charsetOfContentType("text/html;charset=\"utf-8\""), "utf-8");
    EXPECT_EQ(charsetOfContentType("text/html; q=1; charset = koi8-r ; x=y"), "koi8-r");
    EXPECT_EQ(charsetOfContentType("text/html"), std::nullopt);
    EXPECT_EQ(charsetOfContentType("text/html; charset="), std::nullopt);
}
