#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"

#include "platform/graphics/GraphicsTestSupport.h"

namespace vesk::testing {
namespace {

    TEST(ColorTest, HueSaturationBrightnessRoundTrip)
    {
        struct Case {
            CGFloat r, g, b, h, s, v;
        } cases[] = {
            { 1, 0, 0, 0, 1, 1 },
            { 0, 1, 0, 1.0 / 3, 1, 1 },
            { 0, 0, 1, 2.0 / 3, 1, 1 },
            { 1, 0.5, 0, 1.0 / 12, 1, 1 },
            { 0.5, 0.5, 0.5, 0, 0, 0.5 },
            { 0, 0, 0, 0, 0, 0 },
            { 0.5, 0.25, 0.5, 5.0 / 6, 0.5, 0.5 },
        };
        for (auto& c : cases) {
            UIColor color(c.r, c.g, c.b, 0.25);
            CGFloat h = -1, s = -1, v = -1, a = -1;
            ASSERT_TRUE(color.getHue(&h, &s, &v, &a));
            EXPECT_NEAR(h, c.h, 1e-12);
            EXPECT_NEAR(s, c.s, 1e-12);
            EXPECT_NEAR(v, c.v, 1e-12);
            EXPECT_EQ(a, 0.25);
            auto back = UIColor::colorWithHue(c.h, c.s, c.v, 0.25);
            EXPECT_NEAR(back->red(), c.r, 1e-12);
            EXPECT_NEAR(back->green(), c.g, 1e-12);
            EXPECT_NEAR(back->blue(), c.b, 1e-12);
        }
        // Hue 1 is hue 0 again.
        EXPECT_NEAR(UIColor::colorWithHue(1, 1, 1, 1)->red(), 1, 1e-12);
        EXPECT_NEAR(UIColor::colorWithHue(1, 1, 1, 1)->green(), 0, 1e-12);
    }

    TEST(ColorTest, GettersFillOnlyTheStorageGivenAndPatternsReportNothing)
    {
        UIColor color(0.1, 0.2, 0.3, 0.4);
        CGFloat r = 9, a = 9;
        EXPECT_TRUE(color.getRed(&r, nullptr, nullptr, &a));
        EXPECT_EQ(r, 0.1);
        EXPECT_EQ(a, 0.4);

        auto pattern = UIColor::colorWithPatternImage(render({ 1, 1 }, 1, [] {}));
        CGFloat h = 7, s = 7, v = 7;
        EXPECT_FALSE(pattern->getHue(&h, &s, &v, nullptr));
        EXPECT_FALSE(pattern->getRed(&r, nullptr, nullptr, nullptr));
        EXPECT_EQ(h, 7);
        EXPECT_EQ(r, 0.1);
    }

    TEST(ColorTest, NamedColoursAreNewObjectsAndAlphaCopiesKeepTheColour)
    {
        EXPECT_NE(UIColor::whiteColor(), UIColor::whiteColor());
        auto half = UIColor::colorWithRed(0.2, 0.4, 0.6, 1)->colorWithAlphaComponent(0.5);
        EXPECT_TRUE(half->isEqual(UIColor(0.2, 0.4, 0.6, 0.5)));
    }

    TEST(GeometryTest, RectangleHelpers)
    {
        auto r = CGRectMake(10, 20, 30, 40);
        EXPECT_EQ(r.insetBy(5, 10), CGRectMake(15, 30, 20, 20));
        EXPECT_EQ(CGRectInset(r, 20, 0), CGRectZero);
        EXPECT_EQ(CGRectStandardize(CGRectMake(10, 10, -5, -5)), CGRectMake(5, 5, 5, 5));
        EXPECT_EQ(CGRectIntersection(r, CGRectMake(0, 0, 20, 30)), CGRectMake(10, 20, 10, 10));
        EXPECT_TRUE(CGRectContainsPoint(r, { 10, 20 }));
        EXPECT_FALSE(CGRectContainsPoint(r, { 40, 20 }));
    }

    TEST(GeometryTest, AspectFitRectangles)
    {
        EXPECT_EQ(AVMakeRectWithAspectRatioInsideRect({ 40, 52 }, CGRectMake(0, 0, 100, 100)), CGRectMake(50 - 40 * 100.0 / 52 / 2, 0, 40 * 100.0 / 52, 100));
        EXPECT_EQ(AVMakeRectWithAspectRatioInsideRect({ 56, 48 }, CGRectMake(10, 10, 56, 56)), CGRectMake(10, 14, 56, 48));
        auto degenerate = AVMakeRectWithAspectRatioInsideRect({ 0, 10 }, CGRectMake(0, 0, 10, 10));
        EXPECT_EQ(degenerate.size, CGSizeZero);
    }

    TEST(GeometryTest, AffineTransforms)
    {
        auto t = CGAffineTransformRotate(CGAffineTransformMakeTranslation(10, 0), M_PI / 2);
        auto p = CGPointApplyAffineTransform({ 1, 0 }, t);
        EXPECT_NEAR(p.x, 10, 1e-12);
        EXPECT_NEAR(p.y, 1, 1e-12);
        auto back = CGPointApplyAffineTransform(p, CGAffineTransformInvert(t));
        EXPECT_NEAR(back.x, 1, 1e-12);
        EXPECT_NEAR(back.y, 0, 1e-12);
        auto box = CGRectApplyAffineTransform(CGRectMake(0, 0, 2, 1), CGAffineTransformMakeScale(2, -3));
        EXPECT_EQ(box, CGRectMake(0, -3, 4, 3));
    }

}
}
