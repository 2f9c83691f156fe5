// Page layouts of documentation themes, in their smallest form: where a browser puts their
// columns, bars and menus. Each page is drawn as on a phone (kept as PNGs to look at) and read
// back by its pixels, beside a twin a browser draws alike where there is one.

#include "DrawnPages.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vesk::platform;

namespace {

constexpr int phoneWidth = 375;
constexpr int screenHeight = 300;

// A view-box-only picture, as a theme's caret: as wide as a browser makes such a picture where
// nothing sizes it.
const std::string caret = "<svg viewBox='0 0 30 30' xmlns='http://www.w3.org/2000/svg'><path d='M0 0H30V30H0z' fill='#f00'/></svg>";

using Drawn = drawnpages::DrawnPage;
using Pair = drawnpages::AlikePair;

// The page laid out at the phone's width, its first screen drawn `drawnWidth` points wide (more
// than the view for a page that scrolls sideways).
Drawn draw(const std::string& name, const std::string& markup, int drawnWidth = phoneWidth)
{
    return drawnpages::drawPage("layout-" + name, markup, { phoneWidth, drawnWidth, screenHeight }, [](WebPage& page) {
        for (auto& url : page.pictureURLs()) {
            if (url.lastPathComponent() == "caret.svg")
                page.setPicture(url, webPictureWithData(std::vector<std::uint8_t>(caret.begin(), caret.end())));
        }
    });
}

using drawnpages::differences;

const auto red = [](UIPixel p) { return p.red > 200 && p.green < 40 && p.blue < 40; };
const auto dark = [](UIPixel p) { return p.red < 100 && p.green < 100 && p.blue < 100; };

void expectAlike(const std::vector<Pair>& pairs)
{
    drawnpages::expectAlike(
        pairs, [](const std::string& name, const std::string& markup) { return draw(name, markup); }, [](const Drawn&, UIPixel p) { return dark(p); });
}

// The row of the first dark pixel in the columns, or -1.
int firstInkedRow(const Drawn& drawn, int x, int width)
{
    for (int row = 0; row < screenHeight; ++row) {
        if (drawn.count(x, row, width, 1, dark))
            return row;
    }
    return -1;
}

const std::string words = "<p>Text of the page that goes on for more than one line of the phone's screen, about its subject.</p>";

}

// Python's theme keeps its menu off screen, fixed at the left and scrolling on its own.
TEST(PageLayoutsTest, BoxesThatClipOnOneAxisDrawNothingOutsideThem)
{
    const std::string menu = "<div style='position: fixed; top: 0; left: -310px; width: 300px; height: 100%; background: #eee; %s'>"
                             "<div style='width: 700px; height: 1000px; background: red'>Menu</div></div>";
    auto with = [&](const std::string& overflow) {
        auto page = menu;
        return page.replace(page.find("%s"), 2, overflow) + words;
    };
    expectAlike({
        { "clip-overflow-y", with("overflow-y: auto"), words },
        { "clip-overflow-x", with("overflow-x: hidden"), words },
    });
    // Visible, the overflow shows as a browser shows it.
    EXPECT_GT(draw("clip-visible", with("")).count(0, 0, phoneWidth, screenHeight, red), 1000);
}

TEST(PageLayoutsTest, InlineElementsClipNothing)
{
    // Python's search form, an inline element to the engine: its field and button are drawn.
    const std::string form = "<p>Search: <span style='overflow: hidden; border: 1px solid gray'><input type='text' size='6'><input type='submit' value='Go'></span></p>";
    expectAlike({ { "inline-overflow", form, "<p>Search: <span style='border: 1px solid gray'><input type='text' size='6'><input type='submit' value='Go'></span></p>" } });
}

TEST(PageLayoutsTest, APictureThatIsAGeneratedBoxsContentIsDrawnWithinIt)
{
    // As Python's theme draws the caret of its version menu: a picture with a view box only.
    const std::string menu = "<style>.menu { position: relative; height: 30px; border: 1px solid gray; width: 100px }"
                             " .menu::after { content: url('caret.svg'); position: absolute; top: 7px; right: 0; width: 15px; height: 15px }</style>"
                             "<div class='menu'></div>";
    auto drawn = draw("generated-caret", menu + words);
    EXPECT_NEAR(drawn.count(0, 0, phoneWidth, screenHeight, red), 15 * 15, 40);
    EXPECT_EQ(drawn.count(0, 40, phoneWidth, screenHeight - 40, red), 0) << "nothing of it over the text";
}

TEST(PageLayoutsTest, TransparentElementsAreNotDrawn)
{
    // Python's menu button is a checkbox made transparent over the bars it draws.
    expectAlike({
        { "opacity-checkbox", "<input type='checkbox' style='opacity: 0; width: 40px; height: 40px'>" + words,
            "<input type='checkbox' style='visibility: hidden; width: 40px; height: 40px'>" + words },
        { "opacity-block", "<div style='opacity: 0.0; background: red'><p>Hidden</p><p style='position: absolute; top: 0'>Hidden too</p></div>" + words,
            "<div style='visibility: hidden'><p>Hidden</p><p style='position: absolute; top: 0'>Hidden too</p></div>" + words },
    });
}

TEST(PageLayoutsTest, FlexContainersAreBlocksWithTheirItemsOnOneRow)
{
    // Python's page body: a flex container with padding under its fixed bar.
    auto body = draw("flex-padding", "<body style='margin: 0'><div style='display: flex; padding-top: 40px'><div>" + words + "</div></div>");
    EXPECT_GE(firstInkedRow(body, 0, phoneWidth), 40);
    // Python's bar: 40 points high, white, its items on one row in its middle, side by side
    // whatever spaces stand between them, over the text below.
    auto bar = draw("flex-bar",
        "<body style='margin: 0'><div style='position: fixed; top: 0; left: 0; width: 100%; height: 40px; background: white; z-index: 1'>"
        "<nav style='display: flex; align-items: center; height: 40px'>\n"
        " <a style='display: flex; width: 20px; height: 20px; background: red'></a>\n"
        " <div style='width: 30px; height: 20px; background: black'></div>\n"
        " <form style='display: flex; width: 40px; height: 30px; background: red'></form>\n</nav></div>"
        "<div style='font-size: 60px'>Heading under the bar</div>");
    EXPECT_TRUE(red(bar.at(10, 20)));
    EXPECT_TRUE(dark(bar.at(35, 20)));
    EXPECT_TRUE(red(bar.at(70, 20)));
    EXPECT_FALSE(red(bar.at(10, 8))) << "the first item is in the middle of the bar";
    EXPECT_TRUE(red(bar.at(70, 8)));
    EXPECT_FALSE(red(bar.at(92, 20)));
    EXPECT_EQ(bar.count(100, 0, phoneWidth - 100, 40, dark), 0) << "the bar's background covers the heading";
    EXPECT_GT(bar.count(0, 40, phoneWidth, 60, dark), 100);
    // A column stacks its items.
    auto column = draw("flex-column", "<body style='margin: 0'><div style='display: flex; flex-direction: column'><span style='height: 20px; background: red'></span>"
                                      "<span style='height: 20px; background: black'></span></div>");
    EXPECT_TRUE(red(column.at(200, 10)));
    EXPECT_TRUE(dark(column.at(200, 30)));
}

TEST(PageLayoutsTest, FormsHaveNoMarginsOfTheirOwn)
{
    expectAlike({ { "form-margins", "<form><input type='submit' value='Go'></form>" + words, "<div><input type='submit' value='Go'></div>" + words } });
}

// The classic Sphinx theme (CMake's pages): the body's wrapper floats across the whole width,
// and the sidebar after it goes back into the room its margin keeps.
TEST(PageLayoutsTest, AFloatWithANegativeMarginSitsBesideTheFloatsBeforeIt)
{
    const std::string wrapper = "<div style='float: left; width: 100%'><div style='margin-left: 120px'>" + words + "</div></div>";
    const std::string sidebar = "<div style='float: left; width: 120px; margin-left: -100%'>Sidebar</div>";
    // Spaces between them take no room.
    expectAlike({ { "float-back", wrapper + "\n" + sidebar, wrapper + sidebar } });
    // Nor do they let a float placed after a block reach back into it: SQLite's menu bar, which
    // clears the floats before it, stays under its logo.
    auto menu = draw("float-after-block", "<body style='margin: 0'><div><div style='float: left; width: 50px; height: 50px; background: red'></div>"
                                          "<div style='clear: both'>Menu</div></div>\n\n<div style='float: right; width: 100px; height: 200px; background: black'></div>");
    EXPECT_TRUE(red(menu.at(10, 10)));
    EXPECT_NEAR(firstInkedRow(menu, 0, 40), 52, 6);
    auto page = draw("sphinx-classic",
        "<style>body { margin: 0 } .wrapper { float: left; width: 100% } .bodywrapper { margin: 0 0 0 230px }"
        " .body { min-width: 450px; padding: 0 20px } .sidebar { float: left; width: 230px; margin-left: -100% } .clearer { clear: both }</style>"
        "<div class='document'>\n<div class='wrapper'>\n<div class='bodywrapper'>\n<div class='body'>"
            + words + "</div>\n</div>\n</div>\n<div class='sidebar'><p>Table of contents</p></div>\n<div class='clearer'></div>\n</div>",
        720);
    auto top = firstInkedRow(page, 250, 400);
    ASSERT_GE(top, 0);
    EXPECT_NEAR(firstInkedRow(page, 0, 230), top, 4) << "the sidebar beside the body's first line";
    // The body as wide as its min-width: a browser's page that scrolls sideways.
    EXPECT_EQ(page.page->width(), 230 + 450 + 40);
    EXPECT_GT(page.count(500, top, 200, 20, dark), 20) << "its text goes on past the phone's width";
    EXPECT_LT(page.page->height(), 100) << "in two lines, not two words a line";
}

TEST(PageLayoutsTest, MinWidthIsTheWidthItsContentIsLaidOutAt)
{
    expectAlike({
        { "min-width", "<div style='width: 100px'><div style='min-width: 300px'>" + words + "</div></div>",
            "<div style='width: 100px'><div style='width: 300px'>" + words + "</div></div>" },
        // Over max-width, and as a border box.
        { "min-width-over-max", "<div style='width: 100px'><div style='max-width: 50px; min-width: 300px; padding: 0 10px'>" + words + "</div></div>",
            "<div style='width: 100px'><div style='width: 300px; padding: 0 10px'>" + words + "</div></div>" },
        { "min-width-border-box", "<div style='width: 100px'><div style='box-sizing: border-box; min-width: 300px; padding: 0 10px'>" + words + "</div></div>",
            "<div style='width: 100px'><div style='width: 280px; padding: 0 10px'>" + words + "</div></div>" },
    });
}
