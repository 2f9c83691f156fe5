// What documentation generators write, in the fewest lines that show it, drawn as a browser
// draws it: each page beside a twin written the plain way, their pixels compared (both kept as
// PNGs to look at), or its boxes measured.

#include "DrawnPages.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vesk::platform;

namespace {

constexpr int pageWidth = 360;
constexpr int pageHeight = 300;

std::shared_ptr<UIImage> draw(const std::string& name, const std::string& markup)
{
    return drawnpages::drawPage("real-" + name, markup, { pageWidth, pageWidth, pageHeight }).image;
}

int differences(const UIImage& a, const UIImage& b)
{
    int found = 0;
    for (int row = 0; row < pageHeight; ++row) {
        for (int column = 0; column < pageWidth; ++column) {
            auto p = a.pixelAt(column, row), q = b.pixelAt(column, row);
            found += p.red != q.red || p.green != q.green || p.blue != q.blue;
        }
    }
    return found;
}

void expectAlike(const std::vector<drawnpages::AlikePair>& pairs)
{
    drawnpages::expectAlike(
        pairs, [](const std::string& name, const std::string& markup) { return drawnpages::drawPage("real-" + name, markup, { pageWidth, pageWidth, pageHeight }); },
        [](const drawnpages::DrawnPage&, UIPixel p) { return p.red < 200 || p.green < 200 || p.blue < 200; });
}

// Where the pure red box of the page starts and how wide it is, on its first row.
struct Span {
    int left = -1;
    int width = 0;
};
Span redSpan(const UIImage& image)
{
    for (int row = 0; row < pageHeight; ++row) {
        Span span;
        for (int column = 0; column < pageWidth; ++column) {
            auto p = image.pixelAt(column, row);
            if (p.red == 255 && p.green == 0 && p.blue == 0) {
                if (span.left < 0)
                    span.left = column;
                ++span.width;
            }
        }
        if (span.width)
            return span;
    }
    return {};
}

}

TEST(RealPageCasesTest, TablesWithBorderZeroHaveNoBorders)
{
    const std::string cells = "<tr><td>Name</td><td>Storage</td></tr><tr><td>smallint</td><td>2 bytes</td></tr>";
    expectAlike({
        // texinfo's menus, gtk-doc's and valgrind's tables.
        { "border-zero", "<table border=\"0\" cellspacing=\"0\">" + cells + "</table>", "<table cellspacing=\"0\">" + cells + "</table>" },
        { "border-zero-head", "<table border=0><thead><tr><th>Head</th></tr></thead><tbody>" + cells + "</tbody></table>",
            "<table><thead><tr><th>Head</th></tr></thead><tbody>" + cells + "</tbody></table>" },
        // A table in a bordered table's cell has borders only where it asks for them.
        { "border-nested", "<table border=\"1\"><tr><td><table>" + cells + "</table></td></tr></table>",
            "<table style=\"border: 1px outset gray\"><tr><td style=\"border: 1px inset gray\"><table>" + cells + "</table></td></tr></table>" },
        // The page's own borders are drawn.
        { "border-zero-styled", "<style>td { border: 2px solid red }</style><table border=\"0\">" + cells + "</table>",
            "<style>td { border: 2px solid red }</style><table>" + cells + "</table>" },
    });
    // A border of one is still drawn around every cell.
    auto bordered = draw("border-one", "<table border=\"1\">" + cells + "</table>");
    auto plain = draw("border-none", "<table>" + cells + "</table>");
    ASSERT_TRUE(bordered && plain);
    EXPECT_GT(differences(*bordered, *plain), 200);
}

TEST(RealPageCasesTest, ListsInListsHaveNoMarginsOfTheirOwn)
{
    // DocBook's and gtk-doc's tables of contents: lists of terms in lists of terms.
    const std::string inner = "<dt>1.1 Inner</dt><dt>1.2 Inner</dt>";
    expectAlike({
        { "dl-in-dl", "<dl><dt>1 Outer</dt><dd><dl>" + inner + "</dl></dd><dt>2 Outer</dt></dl>",
            "<dl><dt>1 Outer</dt><dd><dl style=\"margin: 0\">" + inner + "</dl></dd><dt>2 Outer</dt></dl>" },
        { "ul-in-dl", "<dl><dt>Term</dt><dd><ul><li>one</li></ul></dd></dl><p>After</p>",
            "<dl><dt>Term</dt><dd><ul style=\"margin: 0\"><li>one</li></ul></dd></dl><p>After</p>" },
        { "dl-in-ol", "<ol><li>Item<dl><dt>term</dt><dd>text</dd></dl></li></ol><p>After</p>",
            "<ol><li>Item<dl style=\"margin: 0\"><dt>term</dt><dd>text</dd></dl></li></ol><p>After</p>" },
    });
}

TEST(RealPageCasesTest, HeadingsAreAlignedByTheirAlignAttribute)
{
    // texinfo's manual titles.
    expectAlike({
        { "h1-center", "<h1 class=\"settitle\" align=\"center\">bc Command Manual</h1>", "<h1 style=\"text-align: center\">bc Command Manual</h1>" },
        { "h3-right", "<h3 align=right>Right</h3><h4 align=\"left\">Left</h4>", "<h3 style=\"text-align: right\">Right</h3><h4>Left</h4>" },
        // The page's style sheet wins over the attribute.
        { "h2-styled", "<style>h2 { text-align: right }</style><h2 align=\"center\">Styled</h2>", "<h2 style=\"text-align: right\">Styled</h2>" },
    });
}

TEST(RealPageCasesTest, LengthsInExChAndPicasAreAsLongAsInABrowser)
{
    // A pica is 16 pixels.
    expectAlike({
        { "pica", "<div style=\"margin-left: 2pc; width: 10pc; height: 20px; background: #c00\"></div>",
            "<div style=\"margin-left: 32px; width: 160px; height: 20px; background: #c00\"></div>" },
        { "pica-sheet", "<style>div { margin: 1pc 0 0 -.5pc; width: 5PC; height: 1pc; background: #c00 }</style><div></div>",
            "<div style=\"margin: 16px 0 0 -8px; width: 80px; height: 16px; background: #c00\"></div>" },
    });
    // An ex and a ch are about half an em, as a browser measures a sans-serif font's x and zero
    // (0.45 to 0.6), where the engine took them for pixels: in a style sheet, in a style
    // attribute, negative, in a shorthand as Ninja's manual sets its body, and as a font size.
    struct Case {
        const char* name;
        std::string markup;
        // The box's left edge and width in ex or ch, and the font size they are counted in.
        double left;
        double width;
        double fontSize;
    };
    const std::string box = "height: 10px; background: #ff0000";
    const Case cases[] = {
        { "ex-sheet", "<style>div.book { margin: 0 5ex; max-width: 20ex; " + box + " }</style><body style=\"margin: 0\"><div class=\"book\"></div>", 5, 20, 16 },
        { "ex-attribute", "<body style=\"margin: 0\"><div style=\"margin-left: 10ex; width: 20ex; " + box + "\"></div>", 10, 20, 16 },
        { "ch-attribute", "<body style=\"margin: 0\"><div style=\"margin-left: 10ch; width: 20ch; " + box + "\"></div>", 10, 20, 16 },
        { "ex-negative", "<body style=\"margin: 0\"><div style=\"margin: 0 0 0 20ex\"><div style=\"margin-left: -10ex; width: 5ex; " + box + "\"></div></div>", 10, 5, 16 },
        // 4ex of 10 pixels make a font of about 20: the box's margin and width are in it.
        { "ex-font", "<body style=\"margin: 0; font-size: 10px\"><div style=\"font-size: 4ex; margin-left: 10ex; width: 20ex; " + box + "\"></div>", 10, 20, 21 },
    };
    for (auto& test : cases) {
        auto image = draw(test.name, test.markup);
        ASSERT_TRUE(image) << test.name;
        auto span = redSpan(*image);
        EXPECT_GE(span.left, test.left * test.fontSize * 0.45) << test.name;
        EXPECT_LE(span.left, test.left * test.fontSize * 0.6) << test.name;
        EXPECT_GE(span.width, test.width * test.fontSize * 0.45) << test.name;
        EXPECT_LE(span.width, test.width * test.fontSize * 0.6) << test.name;
    }
    // Lengths in other units, in strings and in addresses stay as they are.
    expectAlike({
        { "units-untouched", "<style>p::before { content: \"2ex 3ch\" } div { background: url(x-2ex.png), #c00; height: 1pc }</style><p>1ex</p><div class=\"w-2ch\"></div>",
            "<style>p::before { content: \"2ex 3ch\" } div { background: url(x-2ex.png), #c00; height: 16px }</style><p>1ex</p><div class=\"w-2ch\"></div>" },
    });
}

TEST(RealPageCasesTest, TextThatTouchesStaysOnOneLine)
{
    // How tall the ink of the page's first 200 columns is: a line of 16 pixel text is 12 to 16
    // high, each line more adds about 18.
    auto inkHeight = [](const UIImage& image) {
        int first = -1, last = -1;
        for (int row = 0; row < pageHeight; ++row) {
            for (int column = 0; column < 200; ++column) {
                auto p = image.pixelAt(column, row);
                if (p.red < 160 || p.green < 160 || p.blue < 160) {
                    first = first < 0 ? row : first;
                    last = row;
                    break;
                }
            }
        }
        return first < 0 ? 0 : last - first + 1;
    };
    struct Case {
        const char* name;
        std::string markup;
        int lines;
    };
    const Case cases[] = {
        // DocBook's navigation: a link and a no-break space, in a cell narrower than both.
        { "touching-navigation",
            "<table width=\"100%\"><tr><td width=\"10%\" align=\"left\"><a href=\"p\">Prev</a>&nbsp;</td><td width=\"10%\"><a href=\"u\">Up</a></td>"
            "<th width=\"60%\">SQL Commands</th><td width=\"10%\" align=\"right\">&nbsp;<a href=\"n\">Next</a></td></tr></table>",
            1 },
        // gtk-doc's return types: the asterisk after its type's link.
        { "touching-type",
            "<table><tr><td align=\"right\"><a href=\"t\">GsfOutfile</a>&nbsp;*</td><td>gsf_outfile_zip_set_compression_method_and_more</td></tr></table>", 1 },
        { "touching-word", "<div style=\"width: 10px\"><b>Pre</b>vi<i>ous</i></div>", 1 },
        // Lines still break between words and between Han characters.
        { "spaced-words", "<div style=\"width: 10px\">one <b>two</b> three</div>", 3 },
        { "han", "<div style=\"width: 10px\">\xE4\xB8\xAD\xE6\x96\x87<b>\xE4\xB8\xAD</b></div>", 3 },
    };
    // Touching pieces that don't fit where the line has room for the first start the next line
    // together: texinfo's "[Contents]" after its other links.
    expectAlike({
        { "touching-next-line", "<div style=\"width: 120px\">one two three [<a href=\"c\">Contents</a>]</div>",
            "<div style=\"width: 120px\">one two three<br>[<a href=\"c\">Contents</a>]</div>" },
    });
    for (auto& test : cases) {
        auto image = draw(test.name, "<body style=\"margin: 0\">" + test.markup);
        ASSERT_TRUE(image) << test.name;
        int height = inkHeight(*image);
        EXPECT_GT(height, (test.lines - 1) * 18) << test.name;
        EXPECT_LT(height, test.lines * 18) << test.name;
    }
}

TEST(RealPageCasesTest, MonospaceTextIsSizedFromThirteenPixels)
{
    // As browsers size the generic monospace family alone, where the page leaves the size to
    // them: every manual's code.
    expectAlike({
        { "mono-pre", "<pre>int main(void);</pre><p>Text <code>code</code> and <kbd>keys</kbd></p>",
            "<pre style=\"font-size: 13px\">int main(void);</pre><p>Text <code style=\"font-size: 13px\">code</code> and <kbd style=\"font-size: 13px\">keys</kbd></p>" },
        { "mono-relative", "<pre style=\"font-size: 200%\">int</pre><div style=\"font-size: 2em\"><code>int</code></div><h1 style=\"font-family: monospace\">Title</h1>",
            "<pre style=\"font-size: 26px\">int</pre><div style=\"font-size: 32px\"><code style=\"font-size: 26px\">int</code></div>"
            "<h1 style=\"font-family: monospace; font-size: 26px\">Title</h1>" },
        { "mono-sheet", "<style>tt { font-family: monospace; font-size: medium }</style><tt>tt text</tt>", "<tt style=\"font-size: 13px\">tt text</tt>" },
        // Text in another family inside it is sized from 16 again.
        { "mono-inner", "<pre>mono <span style=\"font-family: sans-serif\">sans <b style=\"font-size: 50%\">half</b></span></pre>",
            "<pre style=\"font-size: 13px\">mono <span style=\"font-family: sans-serif; font-size: 16px\">sans <b style=\"font-size: 8px\">half</b></span></pre>" },
        // A list of families, or a size the page fixed, stays as it is.
        { "mono-list", "<pre style=\"font-family: monospace, monospace\">int</pre><pre style=\"font-family: x, monospace\">int</pre>",
            "<pre style=\"font-family: monospace, monospace; font-size: 16px\">int</pre><pre style=\"font-family: x, monospace; font-size: 16px\">int</pre>" },
        { "mono-fixed", "<body style=\"font-size: 20px\"><pre>int</pre><p style=\"font-size: 10pt\"><code>int</code></p>",
            "<body style=\"font-size: 20px\"><pre style=\"font-size: 20px\">int</pre><p style=\"font-size: 10pt\"><code style=\"font-size: 10pt\">int</code></p>" },
    });
}
