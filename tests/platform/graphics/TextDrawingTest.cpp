#include "platform/graphics/NSStringDrawing.h"
#include "platform/graphics/UIFont.h"

#include "platform/graphics/GraphicsTestSupport.h"

namespace vesk::testing {
namespace {

    NSStringAttributes attributes(CGFloat size, NSTextAlignment alignment = NSTextAlignmentLeft)
    {
        NSStringAttributes a;
        a.font = UIFont::fontWithName("Helvetica", size);
        a.foregroundColor = UIColor::colorWithRed(0, 0, 0, 1);
        a.paragraphStyle = NSParagraphStyle::defaultParagraphStyle();
        a.paragraphStyle.alignment = alignment;
        return a;
    }

    // The painted columns and rows of an image, as a box in pixels.
    struct Ink {
        int minX = 1 << 30, minY = 1 << 30, maxX = -1, maxY = -1;
        bool empty() const { return maxX < 0; }
    };

    Ink inkOf(const UIImage& image)
    {
        Ink ink;
        for (int y = 0; y < image.pixelHeight(); ++y)
            for (int x = 0; x < image.pixelWidth(); ++x)
                if (image.pixelAt(x, y).alpha > 64) {
                    ink.minX = std::min(ink.minX, x);
                    ink.maxX = std::max(ink.maxX, x);
                    ink.minY = std::min(ink.minY, y);
                    ink.maxY = std::max(ink.maxY, y);
                }
        return ink;
    }

    TEST(FontTest, HelveticaAndTheSystemFontMapToInstalledFonts)
    {
        auto helvetica = UIFont::fontWithName("Helvetica", 15);
        ASSERT_TRUE(helvetica);
        EXPECT_EQ(helvetica->familyName(), "Liberation Sans");
        EXPECT_EQ(UIFont::systemFontOfSize(10)->familyName(), "Liberation Sans");
        EXPECT_FALSE(UIFont::fontWithName("No Such Font W9", 10));
        EXPECT_FALSE(UIFont::fontWithName("Helvetica", std::nan("")));
    }

    TEST(TextTest, MeasuringIsInPointsAndWrapsAtTheWidth)
    {
        auto oneLine = boundingRectWithSize("txt", { 36, 1e9 }, NSStringDrawingUsesLineFragmentOrigin, attributes(15));
        EXPECT_EQ(oneLine.origin, CGPointZero);
        EXPECT_GT(oneLine.size.width, 15);
        EXPECT_LT(oneLine.size.width, 36);
        EXPECT_NEAR(oneLine.size.height, 17.25, 1.5);
        auto wrapped = boundingRectWithSize("verylongsuffix", { 36, 1e9 }, NSStringDrawingUsesLineFragmentOrigin, attributes(15));
        EXPECT_LE(wrapped.size.width, 36);
        EXPECT_GE(wrapped.size.height, 2.9 * oneLine.size.height);
        // Broken inside a word, the lines hold the letters only: no hyphen is added.
        auto lineOf = [](const std::string& text) { return boundingRectWithSize(text, { 1000, 1e9 }, NSStringDrawingUsesLineFragmentOrigin, attributes(15)).size.width; };
        auto narrow = boundingRectWithSize("wwwwwwww", { lineOf("wwww") + 0.5, 1e9 }, NSStringDrawingUsesLineFragmentOrigin, attributes(15));
        EXPECT_NEAR(narrow.size.height, 2 * oneLine.size.height, 0.5);
        EXPECT_EQ(boundingRectWithSize("", { 36, 1e9 }, NSStringDrawingUsesLineFragmentOrigin, attributes(15)), CGRectZero);
    }

    TEST(TextTest, MetricsDoNotDependOnTheScale)
    {
        auto measureIn = [](CGFloat scale) {
            CGRect r;
            render({ 10, 10 }, scale, [&] { r = boundingRectWithSize("Vesk 40%", { 200, 1e9 }, NSStringDrawingUsesLineFragmentOrigin, attributes(15)); });
            return r;
        };
        EXPECT_EQ(measureIn(1), measureIn(3));
    }

    TEST(TextTest, TextIsDrawnFromTheTopLeftAndCentredWhenAsked)
    {
        for (CGFloat scale : { 1.0, 2.0 }) {
            auto left = render({ 100, 30 }, scale, [] { drawInRect("ii", CGRectMake(0, 0, 100, 30), attributes(20)); });
            auto ink = inkOf(*left);
            ASSERT_FALSE(ink.empty());
            EXPECT_LT(ink.minX, 6 * scale);
            EXPECT_LT(ink.maxX, 20 * scale);

            auto centred = render({ 100, 30 }, scale, [] { drawInRect("ii", CGRectMake(0, 0, 100, 30), attributes(20, NSTextAlignmentCenter)); });
            auto c = inkOf(*centred);
            ASSERT_FALSE(c.empty());
            EXPECT_NEAR((c.minX + c.maxX) / 2.0, 50 * scale, 3 * scale);
            EXPECT_TRUE(hasColor(centred->pixelAt(c.minX + 1, (c.minY + c.maxY) / 2), 0, 0, 0));
        }
    }

    TEST(TextTest, MarkupIsShownLiterallyAndInvalidUTF8IsReplaced)
    {
        auto a = attributes(15);
        auto plain = boundingRectWithSize("<b>x</b>", { 1000, 1e9 }, NSStringDrawingUsesLineFragmentOrigin, a);
        auto bare = boundingRectWithSize("x", { 1000, 1e9 }, NSStringDrawingUsesLineFragmentOrigin, a);
        EXPECT_GT(plain.size.width, 4 * bare.size.width);
        // Broken markup and broken UTF-8 neither crash nor vanish.
        for (std::string text : { std::string("<span foreground=\"red\">"), std::string("&amp;&"), std::string("a\xff\xfe"),
                 std::string("\xc3\x28"), std::string("\xe2\x82"), std::string("a\0b", 3) }) {
            auto r = boundingRectWithSize(text, { 1000, 1e9 }, NSStringDrawingUsesLineFragmentOrigin, a);
            EXPECT_GT(r.size.width, 0) << text;
            auto image = render({ 200, 20 }, 1, [&] { drawInRect(text, CGRectMake(0, 0, 200, 20), a); });
            EXPECT_FALSE(inkOf(*image).empty()) << text;
        }
        auto replaced = boundingRectWithSize("a\xff", { 1000, 1e9 }, NSStringDrawingUsesLineFragmentOrigin, a);
        EXPECT_EQ(replaced, boundingRectWithSize("a\xEF\xBF\xBD", { 1000, 1e9 }, NSStringDrawingUsesLineFragmentOrigin, a));
    }

    TEST(TextTest, ColourAndDefaultsApply)
    {
        auto plain = render({ 60, 20 }, 1, [&] { drawInRect("HH", CGRectMake(0, 0, 60, 20), NSStringAttributes {}); });
        EXPECT_FALSE(inkOf(*plain).empty());
        auto a = attributes(20);
        a.foregroundColor = UIColor::colorWithRed(1, 0, 0, 1);
        auto red = render({ 60, 30 }, 2, [&] { drawInRect("HH", CGRectMake(0, 0, 60, 30), a); });
        auto ink = inkOf(*red);
        // The left stem of the first H, half-way down.
        bool found = false;
        for (int x = ink.minX; x < ink.minX + 6 && !found; ++x)
            found = hasColor(red->pixelAt(x, (ink.minY + ink.maxY) / 2), 1, 0, 0);
        EXPECT_TRUE(found);
        // No context: drawing does nothing and does not crash.
        drawInRect("x", CGRectMake(0, 0, 10, 10), a);
    }

}
}
