// Form controls as a person sees them on a page: boxes at their default sizes with their values,
// chosen options and checked states, read back from the drawn pixels.

#include "platform/graphics/UIImage.h"
#include "renderer/engine/HTMLNesting.h"
#include "renderer/engine/WebPage.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

using namespace vesk::platform;

namespace {

constexpr int pageWidth = 375;

struct Drawn {
    std::unique_ptr<WebPage> page;
    std::shared_ptr<UIImage> image;

    int count(int x, int y, int width, int height, const std::function<bool(UIPixel)>& test) const
    {
        int found = 0;
        for (int row = std::max(0, y); row < std::min(y + height, int(image->pixelHeight())); ++row) {
            for (int column = std::max(0, x); column < std::min(x + width, int(image->pixelWidth())); ++column)
                found += test(image->pixelAt(column, row));
        }
        return found;
    }
    // The top of the element with the id, its border included.
    int top(const std::string& id) const
    {
        auto at = page->anchorTop(id);
        EXPECT_TRUE(at) << id;
        return at ? static_cast<int>(*at) : 0;
    }
    // The border box of the control with the id, at the left of the page, found by its frame.
    struct Box {
        int top = 0, width = 0, height = 0;
    };
    Box box(const std::string& id, const std::function<bool(UIPixel)>& frame) const
    {
        Box found;
        found.top = top(id);
        while (found.width < pageWidth && frame(image->pixelAt(found.width, found.top)))
            ++found.width;
        while (found.top + found.height < int(image->pixelHeight()) && frame(image->pixelAt(0, found.top + found.height)))
            ++found.height;
        return found;
    }
    // Whether two areas hold the same pixels.
    bool same(int x1, int y1, int x2, int y2, int width, int height) const
    {
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                auto a = image->pixelAt(x1 + column, y1 + row), b = image->pixelAt(x2 + column, y2 + row);
                if (a.red != b.red || a.green != b.green || a.blue != b.blue)
                    return false;
            }
        }
        return true;
    }
    // The runs of columns in the area that hold a pixel that passes the test, each from its
    // first column to the one after its last.
    std::vector<std::pair<int, int>> columnRuns(int x, int y, int width, int height, const std::function<bool(UIPixel)>& test) const
    {
        std::vector<std::pair<int, int>> runs;
        bool previous = false;
        for (int column = x; column < x + width; ++column) {
            bool ink = count(column, y, 1, height, test) > 0;
            if (ink && !previous)
                runs.emplace_back(column, column + 1);
            else if (ink)
                runs.back().second = column + 1;
            previous = ink;
        }
        return runs;
    }
};

// Lays the page out at the phone's width and draws its first screen, kept as a PNG to look at.
Drawn draw(const std::string& name, const std::string& body, int height = 667)
{
    Drawn drawn;
    drawn.page = WebPage::create(boundedHTMLNesting("<body style='margin:0'>" + body + "</body>"), NSURL::fileURLWithPath("/pages/forms.html"), nullptr);
    EXPECT_TRUE(drawn.page);
    drawn.page->layout(pageWidth);
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, pageWidth, height);
    auto* cr = cairo_create(surface);
    drawn.page->draw(cr, CGRectMake(0, 0, pageWidth, height));
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    drawn.image = std::make_shared<UIImage>(surface, 1);
    cairo_surface_destroy(surface);
    drawn.image->writePNGToFile((std::filesystem::path(VESK_BINARY_DIR) / ("forms-" + name + ".png")).string());
    return drawn;
}

const auto dark = [](UIPixel p) { return p.red < 80 && p.green < 80 && p.blue < 80; };
const auto notWhite = [](UIPixel p) { return p.red < 235 || p.green < 235 || p.blue < 235; };
// The frame of a control, and a placeholder's text.
const auto grey = [](UIPixel p) { return p.red > 90 && p.red < 200 && std::abs(p.red - p.green) < 12 && std::abs(p.red - p.blue) < 12; };
const auto buttonFace = [](UIPixel p) { return p.red == 0xef && p.green == 0xef && p.blue == 0xef; };
const auto blue = [](UIPixel p) { return p.blue > 200 && p.red < 60 && p.green < 160; };
const auto red = [](UIPixel p) { return p.red > 200 && p.green < 40 && p.blue < 40; };

}

TEST(FormControlsTest, TextFieldsShowTheirValueOrPlaceholderInABoxOfTwentyCharacters)
{
    auto drawn = draw("fields",
        "<p><input id=value value=Hello></p><p><input id=placeholder type=email placeholder='Type here'></p>"
        "<p><input id=small size=5 value=x></p><p><input id=password type=password value=WWWW></p>"
        "<p><input id=long type=search value='"
            + std::string(100000, 'W') + "'></p>");
    auto value = drawn.box("value", grey);
    EXPECT_GT(value.width, 120) << "twenty characters at 13 pixels";
    EXPECT_LT(value.width, 190);
    EXPECT_GT(value.height, 14) << "one line";
    EXPECT_LT(value.height, 24);
    int inside = value.top + 2, lineHeight = value.height - 4;
    EXPECT_GT(drawn.count(2, inside, 40, lineHeight, dark), 20) << "the value at the start of the box";
    EXPECT_EQ(drawn.count(45, inside, value.width - 47, lineHeight, notWhite), 0) << "and nothing after it";

    auto placeholder = drawn.box("placeholder", grey);
    EXPECT_EQ(placeholder.width, value.width);
    EXPECT_GT(drawn.count(2, placeholder.top + 2, 60, lineHeight, grey), 20) << "the placeholder, in grey";
    EXPECT_EQ(drawn.count(2, placeholder.top + 2, placeholder.width - 4, lineHeight, dark), 0);

    auto small = drawn.box("small", grey);
    EXPECT_LT(small.width, value.width * 2 / 5) << "five characters";
    EXPECT_GT(small.width, value.width / 6);

    auto password = drawn.box("password", grey);
    int top = password.top + 2;
    EXPECT_EQ(drawn.columnRuns(2, top, password.width - 4, lineHeight, dark).size(), 4u) << "a dot for each character";
    int firstRow = top;
    while (firstRow < top + lineHeight && drawn.count(2, firstRow, password.width - 4, 1, dark) == 0)
        ++firstRow;
    EXPECT_LT(drawn.count(2, firstRow + 6, password.width - 4, lineHeight, dark), 3) << "dots, not the letters";

    auto longValue = drawn.box("long", grey);
    EXPECT_EQ(longValue.width, value.width) << "a long value is cut at the box's edge";
    EXPECT_GT(drawn.count(2, longValue.top + 2, longValue.width - 4, lineHeight, dark), 200);
    EXPECT_EQ(drawn.count(longValue.width, longValue.top, 40, longValue.height, notWhite), 0);
}

TEST(FormControlsTest, SelectsShowTheirChosenOptionWithAnArrowAndListBoxesTheirRows)
{
    auto drawn = draw("selects",
        "<p><select id=chosen><option>Apple<option selected>Kiwi<option>Banana split</select></p>"
        "<p><select id=first><option>Kiwi<option>Apple</select></p>"
        "<p><input id=field value=Kiwi></p>"
        "<p><select id=list size=3><option>A<option selected>B<option>C<option>D<option>E</select></p>"
        "");
    auto chosen = drawn.box("chosen", grey);
    auto first = drawn.box("first", grey);
    auto field = drawn.box("field", grey);
    EXPECT_EQ(chosen.height, field.height) << "one line, its options not drawn in it";
    EXPECT_EQ(drawn.count(chosen.width, chosen.top, pageWidth - chosen.width, chosen.height, notWhite), 0) << "nor beside it";
    EXPECT_GT(chosen.width, first.width) << "as wide as its widest option";
    EXPECT_TRUE(drawn.same(2, chosen.top + 2, 2, field.top + 2, 30, field.height - 4)) << "the selected option, as a field draws its value";
    EXPECT_TRUE(drawn.same(2, first.top + 2, 2, field.top + 2, 30, field.height - 4)) << "else the first";
    EXPECT_EQ(drawn.count(30, chosen.top + 2, chosen.width - 50, chosen.height - 4, notWhite), 0) << "no other option";
    EXPECT_GT(drawn.count(chosen.width - 17, chosen.top + 2, 15, chosen.height - 4, dark), 4) << "the arrow at the right";

    auto list = drawn.box("list", grey);
    int line = chosen.height - 4;
    EXPECT_EQ(list.height - 4, 3 * line) << "three rows";
    auto chosenRow = [](UIPixel p) { return p.red == 206 && p.green == 206 && p.blue == 206; };
    EXPECT_EQ(drawn.count(2, list.top + 2, 10, line, chosenRow), 0);
    EXPECT_GT(drawn.count(2, list.top + 2 + line, 10, line, chosenRow), 5 * line) << "the selected row marked";
    EXPECT_GT(drawn.count(2, list.top + 2 + 2 * line, 20, line, dark), 5) << "the third option";
}

TEST(FormControlsTest, TextAreasTakeTheirRowsAndColumnsAndWrapTheirText)
{
    auto drawn = draw("textareas",
        "<p><textarea id=sized rows=4 cols=30>First\nSecond</textarea></p>"
        "<p><textarea id=plain></textarea></p>"
        "<p><textarea id=wrapped rows=3 cols=10>aaaa bbbb cccc dddd</textarea></p>"
        "<p><textarea id=huge rows=2 cols=10>"
            + std::string(200000, 'W') + "</textarea></p>");
    auto sized = drawn.box("sized", grey);
    auto plain = drawn.box("plain", grey);
    EXPECT_EQ(sized.height - 4, 2 * (plain.height - 4)) << "four rows against the two by default";
    EXPECT_NEAR(sized.width - 6, 1.5 * (plain.width - 6), 1) << "thirty columns against twenty";
    EXPECT_GT(plain.width, 120);
    EXPECT_LT(plain.width, 220);
    int line = (sized.height - 4) / 4;
    auto band = [&](const Drawn::Box& box, int row, int width = 0) { return drawn.count(3, box.top + 2 + row * line, width ? width : box.width - 6, line, dark); };
    EXPECT_GT(band(sized, 0, 45), 20) << "its first line";
    EXPECT_EQ(drawn.count(60, sized.top + 2, sized.width - 63, line, dark), 0);
    EXPECT_GT(band(sized, 1), 20) << "its second line below";
    EXPECT_EQ(band(sized, 2) + band(sized, 3), 0);

    auto wrapped = drawn.box("wrapped", grey);
    EXPECT_GT(band(wrapped, 0), 20) << "two words that fit";
    EXPECT_GT(band(wrapped, 1), 20) << "the rest on the next line";
    EXPECT_EQ(band(wrapped, 2), 0);

    auto huge = drawn.box("huge", grey);
    EXPECT_GT(band(huge, 0), 100) << "a word longer than a line broken at its edge";
    EXPECT_GT(band(huge, 1), 100);
}

TEST(FormControlsTest, CheckboxesAndRadioButtonsShowWhetherTheyAreChecked)
{
    auto drawn = draw("checks",
        "<div id=row><input type=checkbox checked><input type=checkbox><input type=radio checked><input type=RADIO>"
        "<input type=CHECKBOX checked></div><div id=after>x</div>");
    int top = drawn.top("row");
    int height = drawn.top("after") - top;
    EXPECT_LT(height, 30);
    auto controls = drawn.columnRuns(0, top, pageWidth, height, notWhite);
    ASSERT_EQ(controls.size(), 5u);
    for (auto [left, right] : controls) {
        EXPECT_GE(right - left, 12) << "13 points square";
        EXPECT_LE(right - left, 14);
    }
    auto in = [&](std::size_t index, const std::function<bool(UIPixel)>& test) { return drawn.count(controls[index].first, top, controls[index].second - controls[index].first, height, test); };
    int checked = in(0, blue);
    EXPECT_GT(checked, 100) << "a checked box is filled";
    EXPECT_GT(in(0, [](UIPixel p) { return p.red > 250 && p.green > 250 && p.blue > 250; }), 5) << "with its tick";
    EXPECT_EQ(in(1, blue), 0) << "an unchecked one is not";
    EXPECT_GT(in(1, grey), 30) << "but framed";
    EXPECT_GT(in(2, blue), 40) << "a chosen radio button";
    EXPECT_LT(in(2, blue), checked * 8 / 10) << "round";
    EXPECT_EQ(in(3, blue), 0);
    EXPECT_GT(in(3, grey), 20);
    EXPECT_EQ(in(4, blue), checked) << "whatever case the type is written in";
}

TEST(FormControlsTest, ButtonsShowTheirLabels)
{
    auto drawn = draw("buttons",
        "<p><input id=submit type=submit></p><p><input id=named type=submit value=Submit></p>"
        "<p><input id=long type=button value='Send this form now'></p>"
        "<p><input id=centred type=submit value=Go style='width:150px'></p><p><button id=element>Go</button></p>");
    auto submit = drawn.box("submit", grey);
    auto named = drawn.box("named", grey);
    EXPECT_GT(submit.width, 40);
    EXPECT_LT(submit.width, 80);
    EXPECT_EQ(submit.width, named.width);
    EXPECT_GT(drawn.count(1, submit.top + 1, submit.width - 2, submit.height - 2, buttonFace), 50) << "on a button's face";
    EXPECT_GT(drawn.count(1, submit.top + 1, submit.width - 2, submit.height - 2, dark), 30) << "a label";
    EXPECT_TRUE(drawn.same(1, submit.top + 1, 1, named.top + 1, submit.width - 2, submit.height - 2)) << "\"Submit\" when it has no value";
    auto longer = drawn.box("long", grey);
    EXPECT_GT(longer.width, 2 * submit.width);
    auto centred = drawn.box("centred", grey);
    auto label = drawn.columnRuns(1, centred.top + 1, centred.width - 2, centred.height - 2, dark);
    ASSERT_FALSE(label.empty());
    EXPECT_NEAR(label.front().first + label.back().second, centred.width, 3) << "its label centred";
    auto element = drawn.box("element", grey);
    EXPECT_GT(drawn.count(1, element.top + 1, element.width - 2, element.height - 2, dark), 10);
}

TEST(FormControlsTest, HiddenInputsDrawNothingAndThePagesStylesApply)
{
    auto hidden = draw("hidden", "<input type=hidden value=secret><input type=HIDDEN value=secret>");
    EXPECT_EQ(hidden.count(0, 0, pageWidth, 667, notWhite), 0);
    EXPECT_EQ(hidden.page->height(), 0);

    auto drawn = draw("styled",
        "<p><input id=styled value=styled style='width:300px;height:40px;border:3px solid red;font-size:20px'></p>"
        "<p><input id=sized value=x style='box-sizing:border-box;width:100px;border:1px solid red'></p>"
        "<p><textarea id=area style='width:200px;border:2px solid red'>x</textarea></p>"
        "<p><input id=wide size=200 style='max-width:100%;border-color:red'></p>");
    auto styled = drawn.box("styled", red);
    EXPECT_EQ(styled.width, 300 + 4 + 6);
    EXPECT_EQ(styled.height, 40 + 2 + 6);
    int inkTop = styled.top, inkBottom = styled.top + styled.height;
    while (inkTop < inkBottom && drawn.count(5, inkTop, 100, 1, dark) == 0)
        ++inkTop;
    while (inkBottom > inkTop && drawn.count(5, inkBottom - 1, 100, 1, dark) == 0)
        --inkBottom;
    EXPECT_GT(inkBottom - inkTop, 13) << "in its larger font";
    EXPECT_GT(inkTop - styled.top, 8) << "in the middle of its height";
    EXPECT_EQ(drawn.box("sized", red).width, 100);
    EXPECT_EQ(drawn.box("area", red).width, 200 + 4 + 4);
    EXPECT_EQ(drawn.box("wide", red).width, pageWidth);
}

TEST(FormControlsTest, HugeOrNegativeLengthsOfAPageKeepControlsInBounds)
{
    // Taller than a page may take, or less than nothing with room for padding: neither may wrap
    // around into a box of the other extreme.
    for (auto* height : { "-1e12px", "1e12px", "3000000000px" }) {
        auto drawn = draw("huge", std::string("<input style='box-sizing:border-box;padding:5px;border:0;width:") + height + ";height:" + height + "'><textarea style='box-sizing:border-box;padding:5px;height:" + height + ";min-width:" + height + "'>a</textarea>");
        EXPECT_GE(drawn.page->height(), 10) << height;
        EXPECT_LE(drawn.page->height(), std::string(height).front() == '-' ? 100 : 2 * (1 << 24) + 100) << height;
    }
}
