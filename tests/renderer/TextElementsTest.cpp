// The elements a page's text becomes: runs of spaces one element, preformatted lines one word
// each on pages of much text, drawn as they were.

#include "renderer/engine/TextElements.h"
#include "renderer/engine/HTMLNesting.h"
#include "renderer/engine/WebPage.h"

#include "platform/graphics/UIImage.h"

#include <gtest/gtest.h>

using namespace vesk::platform;

namespace {

std::shared_ptr<UIImage> drawn(const std::string& markup, double width = 300)
{
    auto page = WebPage::create(boundedHTMLNesting(markup), NSURL::fileURLWithPath("/page.html"), [](const NSURL&) { return std::optional<std::string>(); });
    EXPECT_TRUE(page);
    page->layout(width);
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(width), 200);
    auto* cr = cairo_create(surface);
    page->draw(cr, CGRectMake(0, 0, width, 200));
    cairo_destroy(cr);
    auto image = std::make_shared<UIImage>(surface, 1);
    cairo_surface_destroy(surface);
    return image;
}

int darkPixels(const UIImage& image)
{
    int dark = 0;
    for (int y = 0; y < image.pixelHeight(); ++y) {
        for (int x = 0; x < image.pixelWidth(); ++x) {
            auto p = image.pixelAt(x, y);
            dark += p.red < 100 && p.green < 100 && p.blue < 100;
        }
    }
    return dark;
}

}

// Spaces in text nodes of their own (between comments) stay one element each: the pair shows
// a run drawn as the spaces one by one were.
TEST(TextElementsTest, ARunOfSpacesIsDrawnAsItsSpacesOneByOne)
{
    const char* spaces[] = { "normal", "pre", "pre-wrap", "nowrap", "pre-line", "normal;text-align:justify", "pre-wrap;text-align:center" };
    for (auto* whiteSpace : spaces) {
        SCOPED_TRACE(whiteSpace);
        std::string style = std::string("<body style='margin:0'><div style='width:150px;white-space:") + whiteSpace + "'>";
        auto run = drawn(style + "lead      indented words and      more words to wrap the line\n   next line</div>");
        auto oneByOne = drawn(style + "lead <!-- --> <!-- --> <!-- --> <!-- --> <!-- --> indented words and <!-- --> <!-- --> <!-- --> <!-- --> <!-- --> "
                                      "more words to wrap the line\n <!-- --> <!-- --> next line</div>");
        EXPECT_GT(darkPixels(*run), 100);
        EXPECT_TRUE(run->hasEqualPixels(*oneByOne));
    }
}

TEST(TextElementsTest, TextIsCountedAsTheEngineMakesItsElements)
{
    struct Case {
        const char* html;
        std::size_t elements;
    };
    const Case cases[] = {
        { "one two  three", 5 },
        { "<p class='a b c'>one</p>", 1 },
        { "a\n\n  b", 5 },
        { "<!-- a b c -->x<script>var a = b;</script><style>p { x: y }</style>", 1 },
        { "<pre>  indented\tline\n</pre>", 5 },
        { "<a title='x > y z'>link</a>", 1 },
    };
    for (auto& test : cases)
        EXPECT_EQ(htmlTextElements(test.html), test.elements) << test.html;
}

TEST(TextElementsTest, PreformattedLinesAreJoinedWithNoBreakSpacesAndDrawnAlike)
{
    struct Case {
        const char* html;
        const char* joined;
    };
    const Case cases[] = {
        { "a b<pre class='x y'>  c d\n e</pre>f g", "a b<pre class='x y'>\u00a0\u00a0c\u00a0d\n\u00a0e</pre>f g" },
        { "<PRE><b title='p q'>b c</b> d</PRE> e", "<PRE><b title='p q'>b\u00a0c</b>\u00a0d</PRE> e" },
        { "<pre>a <!-- b c --> d<script>x = 1 + 2</script></pre>", "<pre>a\u00a0<!-- b c -->\u00a0d<script>x = 1 + 2</script></pre>" },
        { "<listing>a b</listing><pre><pre>c d</pre>e f</pre>g h", "<listing>a\u00a0b</listing><pre><pre>c\u00a0d</pre>e\u00a0f</pre>g h" },
        { "</pre>a b", "</pre>a b" },
    };
    for (auto& test : cases)
        EXPECT_EQ(htmlWithPreformattedLinesJoined(test.html), test.joined) << test.html;

    const std::string page = "<body style='margin:0'><p>Apache License, Version 2.0</p><pre>"
                             "                                 Apache License\n"
                             "   TERMS AND CONDITIONS FOR USE, REPRODUCTION\n"
                             "      \"License\" shall mean the <b>terms and</b> conditions</pre>"
                             "<pre style='font-family: serif'>  a proportional  font</pre></body>";
    auto joined = drawn(htmlWithPreformattedLinesJoined(page), 400);
    EXPECT_GT(darkPixels(*joined), 300);
    EXPECT_TRUE(joined->hasEqualPixels(*drawn(page, 400)));
}
