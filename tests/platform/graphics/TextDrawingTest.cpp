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

}
}
