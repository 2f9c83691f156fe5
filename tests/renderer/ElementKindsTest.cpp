// Sibling selectors (:nth-child and the like) as a page's colours show them.

#include "platform/graphics/UIImage.h"
#include "renderer/engine/HTMLNesting.h"
#include "renderer/engine/WebPage.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vesk::platform;

namespace {

constexpr int rowHeight = 4;

// Which rows of the page are red: each element of the body is a row of its own.
std::vector<bool> redRows(const std::string& style, const std::string& rows, int count)
{
    auto page = WebPage::create(boundedHTMLNesting("<style>body { margin: 0 } body > * { display: block; margin: 0; height: " + std::to_string(rowHeight)
                                    + "px; background: blue } " + style + "</style>" + rows),
        NSURL::fileURLWithPath("/pages/rows.html"), nullptr);
    EXPECT_TRUE(page);
    page->layout(20);
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 20, count * rowHeight);
    auto* cr = cairo_create(surface);
    page->draw(cr, CGRectMake(0, 0, 20, count * rowHeight));
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    UIImage image(surface, 1);
    cairo_surface_destroy(surface);
    std::vector<bool> red;
    for (int row = 0; row < count; ++row) {
        auto pixel = image.pixelAt(10, row * rowHeight + rowHeight / 2);
        red.push_back(pixel.red > 200 && pixel.blue < 50);
    }
    return red;
}

std::vector<bool> expected(int count, const std::function<bool(int)>& red)
{
    std::vector<bool> rows;
    for (int row = 0; row < count; ++row)
        rows.push_back(red(row));
    return rows;
}

}

TEST(ElementKindsTest, SiblingSelectorsMatchElementsByTheirPlace)
{
    // Paragraphs and divisions by turns, spaces between them that count as no sibling.
    constexpr int count = 30;
    std::string rows;
    for (int row = 0; row < count; ++row)
        rows += row % 2 ? "<div></div> \n " : "<p></p>\n";
    struct Case {
        const char* style;
        std::function<bool(int)> red;
    };
    std::vector<Case> cases {
        { "*:nth-child(3n+1) { background: red }", [](int row) { return row % 3 == 0; } },
        { "*:nth-child(odd) { background: red }", [](int row) { return row % 2 == 0; } },
        { "*:nth-child(5) { background: red }", [](int row) { return row == 4; } },
        { "*:nth-last-child(4n+1) { background: red }", [](int row) { return (count - 1 - row) % 4 == 0; } },
        { "div:nth-of-type(2n+1) { background: red }", [](int row) { return row % 2 == 1 && (row / 2) % 2 == 0; } },
        { "p:nth-last-of-type(2) { background: red }", [](int row) { return row == count - 4; } },
        { "*:first-child, *:last-child { background: red }", [](int row) { return row == 0 || row == count - 1; } },
        { "p:first-of-type, div:last-of-type { background: red }", [](int row) { return row == 0 || row == count - 1; } },
    };
    for (auto& test : cases)
        EXPECT_EQ(redRows(test.style, rows, count), expected(count, test.red)) << test.style;
}

TEST(ElementKindsTest, PlacesFollowTheChildrenTheEngineAdds)
{
    // Generated content (drawn inline, in no row) is a child of its own that the engine counts
    // among the siblings, though it is made after their places were first asked for.
    constexpr int count = 8;
    std::string rows;
    for (int row = 0; row < count; ++row)
        rows += "<p></p>";
    auto withBefore = redRows("body::before { content: 'a'; font-size: 1px; color: blue } p:nth-child(2n) { background: red }", rows, count);
    EXPECT_EQ(withBefore, expected(count, [](int row) { return row % 2 == 0; }));

    // Many siblings: the last of 5,000 is still found in its place.
    std::string many;
    for (int row = 0; row < 5000; ++row)
        many += "<p></p>";
    auto red = redRows("p:nth-child(4999) { background: red } p:nth-last-child(1) { background: red }", many, 5000);
    EXPECT_EQ(red, expected(5000, [](int row) { return row >= 4998; }));
}

TEST(ElementKindsTest, StickyAndUnknownPositionsStayInTheFlow)
{
    // The engine took these for fixed: out of the flow, the rows after them moved up.
    auto rows = "<header></header><p></p><nav style='position: -webkit-sticky'></nav><p></p><aside style='position: nowhere'></aside><p></p>"
                "<div style='position: fixed; top: 20px'></div>";
    EXPECT_EQ(redRows("header, nav, aside, div { background: red } header { position: sticky; top: -1px }", rows, 7),
        expected(7, [](int row) { return row % 2 == 0 && row < 6; }))
        << "a fixed element still leaves the flow";
}
