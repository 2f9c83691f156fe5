// Pages that a browser draws alike, drawn alike: each pair is laid out and drawn, and their
// pixels compared (both kept as PNGs to look at).

#include "DrawnPages.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vesk::platform;

namespace {

constexpr int pageWidth = 320;
constexpr int pageHeight = 240;

using Drawn = drawnpages::DrawnPage;
using Pair = drawnpages::AlikePair;

Drawn draw(const std::string& name, const std::string& markup)
{
    return drawnpages::drawPage("alike-" + name, markup, { pageWidth, pageWidth, pageHeight });
}

using drawnpages::differences;

void expectAlike(const std::vector<Pair>& pairs)
{
    // Anything but the page's background is ink.
    drawnpages::expectAlike(pairs, draw, [](const Drawn& drawn, UIPixel p) {
        auto background = drawn.at(pageWidth - 1, pageHeight - 1);
        return p.red != background.red || p.green != background.green || p.blue != background.blue;
    });
}

const auto red = [](UIPixel p) { return p.red > 200 && p.green < 40 && p.blue < 40; };
const auto white = [](UIPixel p) { return p.red > 240 && p.green > 240 && p.blue > 240; };
const auto dark = [](UIPixel p) { return p.red < 100 && p.green < 100 && p.blue < 100; };

const std::string text = "<p>First paragraph of the page</p>";

}

TEST(PagesDrawnAlikeTest, HSLColoursAreTheirRGBTwins)
{
    const std::string mdbookTheme = "<html class='light'><style>:root { --bg: hsl(0, 0%, 100%); } .light { --bg: hsl(210, 50%, 40%); --fg: hsl(0,0%,100%);"
                                    " --links: hsla(120, 100%, 25%, 0.5) } body { background-color: var(--bg); color: var(--fg) } a { color: var(--links) }"
                                    "</style><body><p>Text on the theme's background <a href='x'>a link</a></p>";
    const std::string mdbookHex = "<html class='light'><style>body { background-color: #336699; color: #ffffff } a { color: rgba(0, 128, 0, 0.5) }"
                                  "</style><body><p>Text on the theme's background <a href='x'>a link</a></p>";
    // As mdbook sets its theme: the root's own class sets the properties its rules use.
    const std::string rootTheme = "<html class='light'><style>html { color: var(--fg); background-color: var(--bg) } :root { --bg: hsl(0, 0%, 0%) }"
                                  " .light { --bg: hsl(210, 50%, 40%); --fg: hsl(0, 0%, 100%) } p { border-top: 4px solid var(--missing, hsl(0, 100%, 50%)) }"
                                  "</style><body><p>Text on the theme's background</p>";
    const std::string rootHex = "<html><style>html { color: #ffffff; background-color: #336699 } p { border-top: 4px solid #ff0000 }"
                                "</style><body><p>Text on the theme's background</p>";
    expectAlike({
        { "hsl-properties", mdbookTheme, mdbookHex },
        { "hsl-root-properties", rootTheme, rootHex },
        { "hsl-attributes",
            "<body style='color: hsl(0, 100%, 50%)'><p>Red words</p><div style='height: 30px; background: hsl(210deg 50% 40%)'></div>"
            "<div style='height: 30px; border-top: 10px solid HSLA(60, 100%, 50%, 25%); background-color: hsl(0.5turn 100% 25% / 0.5)'></div>",
            "<body style='color: #ff0000'><p>Red words</p><div style='height: 30px; background: #336699'></div>"
            "<div style='height: 30px; border-top: 10px solid rgba(255, 255, 0, 0.25); background-color: rgba(0, 128, 128, 0.5)'></div>" },
        { "hsl-out-of-range", "<div style='height: 40px; background: hsl(-120, 150%, 50%)'></div><div style='height: 40px; background: hsl(480, 100%, -10%)'></div>",
            "<div style='height: 40px; background: #0000ff'></div><div style='height: 40px; background: #000000'></div>" },
    });
}

TEST(PagesDrawnAlikeTest, HiddenElementsAreLeftOut)
{
    expectAlike({
        { "hidden-blocks", text + "<p hidden>Not shown</p><div hidden><p>Nor this</p></div><p>Last</p>", text + "<p>Last</p>" },
        { "hidden-inline", "<p>Shown <span hidden>hidden words</span>words</p>", "<p>Shown words</p>" },
        // A page's own display wins over the attribute, as in a browser.
        { "hidden-styled", "<style>.shown { display: block }</style><p hidden class='shown'>Shown anyway</p>", "<p>Shown anyway</p>" },
    });
}

TEST(PagesDrawnAlikeTest, EmojiFamiliesInAFontListDrawOnlyWhatTheFirstFamiliesLack)
{
    const std::string stack = "-apple-system, BlinkMacSystemFont, \"Segoe UI\", Helvetica, Arial, sans-serif";
    const std::string words = "@11.19.1 npm install the 10 things";
    expectAlike({
        { "emoji-stack", "<p style='font-family: " + stack + ", \"Apple Color Emoji\", \"Segoe UI Emoji\"'>" + words + "</p>",
            "<p style='font-family: " + stack + "'>" + words + "</p>" },
        { "emoji-installed", "<p style='font-family: Helvetica, \"Noto Color Emoji\"'>" + words + "</p>", "<p style='font-family: Helvetica'>" + words + "</p>" },
        { "emoji-unknown-first", "<p style='font-family: \"No Such Family\", \"Apple Color Emoji\", monospace'>" + words + "</p>",
            "<p style='font-family: \"No Such Family\", monospace'>" + words + "</p>" },
    });
    // Digits and spaces are the text font's, as wide as a sans-serif font draws them (an emoji
    // font's are more than twice as wide).
    auto page = draw("emoji-widths", "<body style='margin: 0'><span style='font-family: " + stack + ", \"Apple Color Emoji\"'>1 1 1 1 1 1 1 1 1 1</span>");
    int right = 0;
    for (int column = 0; column < pageWidth; ++column) {
        if (page.count(column, 0, 1, 30, [](UIPixel p) { return p.red < 200; }))
            right = column;
    }
    EXPECT_LT(right, 150);
    EXPECT_GT(right, 100);
    // What the text font lacks still comes from the emoji font, in its colours.
    auto emoji = draw("emoji-fallback", "<body style='margin: 0'><span style='font-family: " + stack + ", \"Apple Color Emoji\"'>\xF0\x9F\x98\x80</span>");
    EXPECT_GT(emoji.count(0, 0, 30, 30, [](UIPixel p) { return p.red > 200 && p.green > 120 && p.blue < 80; }), 20);
}

TEST(PagesDrawnAlikeTest, LineBreaksInARowLeaveBlankLines)
{
    expectAlike({
        { "br-two", "<p>One<br><br>Two</p>", "<p>One<br>&nbsp;<br>Two</p>" },
        { "br-three-spaced", "<p>One<br>\n<br>\n<br>Two</p>", "<p>One<br>&nbsp;<br>&nbsp;<br>Two</p>" },
        { "br-starting", "<p><br><br>Two</p>", "<p>&nbsp;<br>&nbsp;<br>Two</p>" },
        { "br-in-div", "<div>One<br><br><b>Two</b><br><br></div><p>After</p>", "<div>One<br>&nbsp;<br><b>Two</b><br>&nbsp;<br></div><p>After</p>" },
    });
    // One break alone still ends the line without a blank one.
    auto single = draw("br-one", "<p>One<br>Two</p>");
    auto twin = draw("br-one-twin", "<p>One</p><p style='margin-top: -1em'>Two</p>");
    EXPECT_EQ(differences(single, twin), 0);
}

TEST(PagesDrawnAlikeTest, BodyAttributesAreItsStyle)
{
    expectAlike({
        { "body-attributes", "<body bgcolor='#336699' text='#ffff00' link='#ff0000'><p>Text and <a href='x'>a link</a></p>",
            "<style>body { background-color: #336699; color: #ffff00 } a:link { color: #ff0000 }</style><body><p>Text and <a href='x'>a link</a></p>" },
        { "body-attributes-named", "<body bgcolor='white' text='navy'><p>Text</p>", "<body style='background-color: white; color: navy'><p>Text</p>" },
        // Values that are not CSS are read as old browsers read them.
        { "body-attributes-legacy", "<body bgcolor='336699' text='chucknorris'><p>Text</p>", "<body style='background-color: #336699; color: #c00000'><p>Text</p>" },
        // The page's own style sheet wins over them.
        { "body-attributes-styled", "<style>body { background: #ffffff }</style><body bgcolor='#000000'><p>Text</p>", "<body><p>Text</p>" },
        // However plain its selector: what every DocBook page does.
        { "body-attributes-link-styled", "<style>a { color: #3465a4 }</style><body link='#0000ff'><p>Text and <a href='x'>a link</a></p>",
            "<style>a { color: #3465a4 }</style><body><p>Text and <a href='x'>a link</a></p>" },
    });
}

TEST(PagesDrawnAlikeTest, TransparentBordersMakeTriangles)
{
    auto page = draw("triangle",
        "<body style='margin: 0'><div style='width: 0; height: 0; border-left: 40px solid transparent; border-right: 40px solid transparent;"
        " border-bottom: 40px solid red'></div><div style='width: 20px; height: 20px; border: 20px solid; border-color: red transparent transparent red'></div>"
        "<div style='width: 40px; height: 0; border-top: 10px solid red; border-left-width: 20px; border-left-style: none'></div>");
    // Pointing up: red under its apex, white at the upper corners, about half its square red.
    EXPECT_TRUE(red(page.at(40, 5)));
    EXPECT_TRUE(red(page.at(40, 35)));
    EXPECT_TRUE(white(page.at(5, 5)));
    EXPECT_TRUE(white(page.at(75, 5)));
    EXPECT_TRUE(red(page.at(5, 38)));
    EXPECT_NEAR(page.count(0, 0, 80, 40, red), 1600, 80);
    // A box with two coloured sides: they meet on the diagonal of the corner they share, the
    // other corners stay white.
    EXPECT_TRUE(red(page.at(2, 42)));
    EXPECT_TRUE(red(page.at(30, 45)));
    EXPECT_TRUE(red(page.at(5, 70)));
    EXPECT_TRUE(white(page.at(58, 45)));
    EXPECT_TRUE(white(page.at(45, 98)));
    EXPECT_TRUE(white(page.at(30, 70)));
    EXPECT_TRUE(red(page.at(50, 41)));
    EXPECT_TRUE(white(page.at(58, 58)));
    // A side without a style leaves its neighbours square.
    EXPECT_TRUE(red(page.at(1, 101)));
    EXPECT_TRUE(red(page.at(1, 108)));
}

TEST(PagesDrawnAlikeTest, ClosedDetailsShowTheirSummaryWithItsMarkerOnly)
{
    expectAlike({
        // Nor do the page's own styles show what a closed details holds.
        { "details-closed", "<style>details div { display: block }</style><details><summary>Summary line</summary><p>Inside</p>Loose text<div>More</div></details><p>After</p>",
            "<details><summary>Summary line</summary></details><p>After</p>" },
        // A summary outside details is a block like any other.
        { "details-stray-summary", "<summary>Summary line</summary><p>After</p>", "<div>Summary line</div><p>After</p>" },
        { "details-open-text", "<details open><summary>Summary line</summary>Loose <b>bold</b> text</details>",
            "<details open><summary>Summary line</summary><span>Loose <b>bold</b> text</span></details>" },
        // Spaces between its blocks take no room.
        { "details-open", "<details open>\n  <summary>Summary line</summary>\n  <p>Inside</p>\n</details>\n<p>After</p>",
            "<details open><summary>Summary line</summary><p>Inside</p></details><p>After</p>" },
    });
    auto closed = draw("details-marker", "<body style='margin: 0'><details><summary>Summary line</summary><p>Inside</p></details><p>After</p>");
    auto open = draw("details-marker-open", "<body style='margin: 0'><details open><summary>Summary line</summary><p>Inside</p></details><p>After</p>");
    auto plain = draw("details-marker-none", "<body style='margin: 0'><div>Summary line</div><p>After</p>");
    // The marker stands before the summary's words, which move right to make room for it.
    EXPECT_GT(closed.count(0, 0, 9, 18, dark), 20);
    EXPECT_EQ(closed.count(9, 0, 6, 18, dark), 0);
    EXPECT_GT(plain.count(9, 0, 6, 18, dark), 0);
    EXPECT_GT(open.count(0, 0, 11, 18, dark), 20);
    EXPECT_GT(differences(closed, open), 0);
    // Open, the content shows below the summary and pushes what follows down.
    EXPECT_GT(open.page->height(), closed.page->height());
    // A click on the summary opens it, as a browser does; a second one closes it again.
    EXPECT_FALSE(closed.page->linkAt({ 40, 8 }));
    EXPECT_TRUE(closed.page->needsLayout());
    closed.redraw("alike-details-clicked");
    EXPECT_EQ(differences(closed, open), 0);
    EXPECT_FALSE(closed.page->linkAt({ 40, 8 }));
    closed.redraw("alike-details-clicked-again");
    EXPECT_LT(closed.page->height(), open.page->height());
    // A link in a summary is followed, and leaves its details as they are.
    auto linked = draw("details-link", "<body style='margin: 0'><details><summary><a href='next.html'>Next</a> page</summary><p>Inside</p></details>");
    auto height = linked.page->height();
    auto link = linked.page->linkAt({ 25, 8 });
    ASSERT_TRUE(link);
    EXPECT_EQ(link->lastPathComponent(), "next.html");
    EXPECT_FALSE(linked.page->needsLayout());
    linked.redraw("alike-details-link-clicked");
    EXPECT_EQ(linked.page->height(), height);
}

TEST(PagesDrawnAlikeTest, NumericWeightsAreTheirKeywords)
{
    const std::string bold = "<p style='font-weight: bold'>Bold words</p><div style='font-weight: bold'><p>Inherited bold</p></div><h2>Heading</h2>";
    expectAlike({
        { "weight-numbers",
            "<style>.semi { font-weight: 600 } h2 { font-weight: 700 }</style><p style='font-weight:700'>Bold words</p>"
            "<div class='semi'><p>Inherited bold</p></div><h2>Heading</h2>",
            bold },
        { "weight-light", "<p style='font-weight: 300'>Light words</p><p style='font-weight: 500'>Medium words</p>",
            "<p>Light words</p><p>Medium words</p>" },
        // The rest of the attribute stays as it was written.
        { "weight-attribute-kept", "<p style='color: #ff0000; --font-weight-x: 1; font-weight: 700; margin-left: 40px'>Bold words</p>",
            "<p style='color: #ff0000; font-weight: bold; margin-left: 40px'>Bold words</p>" },
    });
    // Bold is not drawn as normal text.
    EXPECT_GT(differences(draw("weight-bold", bold), draw("weight-normal", "<p>Bold words</p><div><p>Inherited bold</p></div><h2 style='font-weight: normal'>Heading</h2>")), 50);
}

TEST(PagesDrawnAlikeTest, DefinitionTermsAreTheirTextAsIs)
{
    // Only a page's own style makes terms bold: DocBook tables of contents are lists of terms.
    expectAlike({
        { "definition-terms", "<dl><dt>A term</dt><dd>What it means</dd></dl>", "<dl><div>A term</div><dd>What it means</dd></dl>" },
        { "definition-terms-styled", "<style>dt { font-weight: bold }</style><dl><dt>A term</dt><dd>What it means</dd></dl>",
            "<dl><div><b>A term</b></div><dd>What it means</dd></dl>" },
    });
}

TEST(PagesDrawnAlikeTest, MarginsCollapseThroughTheBlocksAroundThem)
{
    // As DocBook wraps its headings (valgrind's and libxslt's manuals) and mdbook its notes:
    // blocks with nothing of their own around a heading or a paragraph don't add its margin
    // again.
    expectAlike({
        { "margins-wrapped-heading", "<p>Text</p><div><div><div><h1>Title</h1></div></div></div><p>More</p>", "<p>Text</p><h1>Title</h1><p>More</p>" },
        { "margins-first-heading", "<div class='chapter'><div><h2>Title</h2></div><p>Text</p></div>", "<h2>Title</h2><p>Text</p>" },
        { "margins-after-table", "<table><tr><td>Nav</td></tr></table>\n<div>\n<div><h1>Title</h1></div>\n</div>", "<table><tr><td>Nav</td></tr></table><h1>Title</h1>" },
        { "margins-wrapped-paragraphs", "<div><div><p>One</p></div></div><div><p>Two</p></div><p>Three</p>", "<p>One</p><p>Two</p><p>Three</p>" },
        // An empty paragraph takes no room: Node.js puts them around its stability notes.
        { "margins-empty-paragraphs", "<h3>Title</h3><p></p><div style='background: #cfc'>Stable</div><p></p><p>Text</p>",
            "<h3>Title</h3><div style='margin: 1em 0; background: #cfc'>Stable</div><p>Text</p>" },
        { "margins-larger-own", "<p>Text</p><div style='margin-top: 40px'><h3>Title</h3></div>", "<p>Text</p><h3 style='margin-top: 40px'>Title</h3>" },
    });
    // Laid out again, at another width and back, the same.
    const std::string nested = "<p>Text</p><div><div><h2>Title</h2></div></div><ol><li><p>One</p></li><li><div><p>Two</p></div></li></ol>";
    auto once = draw("margins-relaid", nested);
    auto again = draw("margins-relaid-again", nested);
    again.page->layout(pageWidth / 2);
    again.redraw("alike-margins-relaid-again");
    EXPECT_EQ(differences(once, again), 0);
    EXPECT_EQ(differences(once, draw("margins-relaid-twin", "<p>Text</p><h2>Title</h2><ol><li><p>One</p></li><li><p>Two</p></li></ol>")), 0);
    // A block with a border keeps its child's margin inside it.
    auto bordered = draw("margins-bordered", "<div style='border-top: 2px solid red'><h1 style='margin: 30px 0 0'>Title</h1></div>");
    EXPECT_TRUE(red(bordered.at(20, 9)));
    EXPECT_TRUE(white(bordered.at(20, 14))) << "the margin stays below the border";
    EXPECT_EQ(bordered.count(0, 10, pageWidth, 30, dark), 0);
}

TEST(PagesDrawnAlikeTest, OrderedListItemsAreNumbered)
{
    // One list or two that go on where the first ends: the same numbers.
    expectAlike({
        { "ordered-list-start", "<ol><li>Alpha</li><li>Beta</li><li>Gamma</li></ol>",
            "<ol style='margin-bottom: 0'><li>Alpha</li></ol><ol start='2' style='margin-top: 0'><li>Beta</li><li>Gamma</li></ol>" },
        { "ordered-list-paragraphs", "<ol><li><p>Alpha</p></li><li><p>Beta</p></li></ol>",
            "<ol style='margin-bottom: 0'><li><p>Alpha</p></li></ol><ol start='2' style='margin-top: 0'><li><p>Beta</p></li></ol>" },
    });
    // A number past any a list reaches is no fault.
    draw("ordered-list-huge-start", "<ol start='99999999999999999999'><li>One</li><li>Two</li></ol><ol start='-5'><li>Minus five</li></ol>");
    // Each item its own number: the markers of items with the same text differ.
    auto list = draw("ordered-list", "<body style='margin: 0'><ol style='margin: 0; line-height: 40px'><li>Same</li><li>Same</li></ol>");
    int markers = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x) {
            auto p = list.at(x, y), q = list.at(x, y + 40);
            markers += p.red != q.red || p.green != q.green || p.blue != q.blue;
        }
    }
    EXPECT_GT(markers, 10);
    EXPECT_EQ(list.count(40, 0, 100, 40, dark), list.count(40, 40, 100, 40, dark)) << "the items' text is drawn alike";
}

TEST(PagesDrawnAlikeTest, BoxesSizedByTheirBorderAreAsTallAsAsked)
{
    const std::string arrow = "border-top: 10px solid transparent; border-bottom: 10px solid transparent; border-left: 20px solid red; border-right: none";
    expectAlike({
        // Node.js' arrows beside its menus.
        { "border-box-arrow", "<p>Menu <span style='display: inline-block; box-sizing: border-box; width: 20px; height: 20px; " + arrow + "'></span> more</p>",
            "<p>Menu <span style='display: inline-block; width: 0; height: 0; " + arrow + "'></span> more</p>" },
        { "border-box-block", "<div style='box-sizing: border-box; height: 50px; padding: 10px; border: 5px solid navy; background: red'>Box</div><p>After</p>",
            "<div style='height: 20px; padding: 10px; border: 5px solid navy; background: red'>Box</div><p>After</p>" },
        { "border-box-all", "<style>* { box-sizing: border-box }</style><div style='height: 40px; padding: 8px 0; background: red'>Bar</div><p>After</p>",
            "<div style='height: 24px; padding: 8px 0; background: red'>Bar</div><p>After</p>" },
    });
}

TEST(PagesDrawnAlikeTest, LogicalPropertiesAreTheirPhysicalTwins)
{
    // As mdbook styles its quotes and centres its text column.
    expectAlike({
        { "logical-quote", "<style>blockquote { margin: 20px 0; padding: 0 20px; border-block-start: 4px solid red; border-block-end: 4px solid red; background: #eef }</style>"
                           "<blockquote><p>A note</p></blockquote>",
            "<style>blockquote { margin: 20px 0; padding: 0 20px; border-top: 4px solid red; border-bottom: 4px solid red; background: #eef }</style>"
            "<blockquote><p>A note</p></blockquote>" },
        { "logical-centred", "<style>main { max-width: 200px; margin-inline: auto; background: red }</style><main>Column</main>",
            "<style>main { max-width: 200px; margin: 0 auto; background: red }</style><main>Column</main>" },
    });
}

TEST(PagesDrawnAlikeTest, HeaderAndFooterRowsAreRowsOfTheirTable)
{
    const std::string head = "<tr><th>Name</th><th>Storage Size</th><th>Description</th></tr>";
    const std::string headCells = "<tr><td>Name</td><td>Storage Size</td><td>Description</td></tr>";
    const std::string body = "<tr><td>a</td><td>b</td><td>c</td></tr><tr><td>d</td><td>e</td><td>f</td></tr>";
    const std::string foot = "<tr><td>Total</td><td>2</td><td>rows</td></tr>";
    auto table = [](const std::string& rows) { return "<table border='1'>" + rows + "</table>"; };
    auto groups = [](const std::string& display, const std::string& rows) {
        return "<div style='display: " + display + "'>" + rows + "</div>";
    };
    auto cssRow = [](std::initializer_list<const char*> cells) {
        std::string row = "<div style='display: table-row'>";
        for (auto* cell : cells)
            row += std::string("<div style='display: table-cell; border: 1px solid black; padding: 2px'>") + cell + "</div>";
        return row + "</div>";
    };
    expectAlike({
        // PostgreSQL's tables, and Sphinx's.
        { "header-group", table("<thead>" + head + "</thead><tbody>" + body + "</tbody>"), table(head + body) },
        { "header-group-cells", table("<thead>" + headCells + "</thead><tbody>" + body + "</tbody>"), table(headCells + body) },
        { "header-group-styled", "<style>thead th { color: red; border-bottom: 3px solid blue }</style>" + table("<thead>" + head + "</thead>" + body),
            "<style>th { color: red; border-bottom: 3px solid blue }</style>" + table(head + body) },
        // A footer comes last and a header first, wherever they stand; only the first of each.
        { "footer-group", table("<tfoot>" + foot + "</tfoot><tbody>" + body + "</tbody><thead>" + head + "</thead>"), table(head + body + foot) },
        { "second-header-group", table("<thead>" + head + "</thead><thead>" + foot + "</thead>" + body), table(head + foot + body) },
        { "header-group-by-style",
            groups("table", cssRow({ "x", "y" }) + groups("table-footer-group", cssRow({ "foot", "z" })) + groups("table-header-group", cssRow({ "Head", "Wide head" }))),
            groups("table", cssRow({ "Head", "Wide head" }) + cssRow({ "x", "y" }) + cssRow({ "foot", "z" })) },
    });
}
