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

    TEST(GeometryTest, TransformsAndAspectFitRectangles)
    {
        auto t = CGAffineTransformRotate(CGAffineTransformMakeTranslation(10, 0), M_PI / 2);
        auto p = CGPointApplyAffineTransform({ 1, 0 }, t);
        EXPECT_NEAR(p.x, 10, 1e-12);
        EXPECT_NEAR(p.y, 1, 1e-12);
        EXPECT_EQ(AVMakeRectWithAspectRatioInsideRect({ 56, 48 }, CGRectMake(10, 10, 56, 56)), CGRectMake(10, 14, 56, 48));
        EXPECT_EQ(AVMakeRectWithAspectRatioInsideRect({ 0, 10 }, CGRectMake(0, 0, 10, 10)).size, CGSizeZero);
    }

}
}
