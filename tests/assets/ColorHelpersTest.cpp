#include "assets/UIColorVesk.h"
#include "assets/VeskAssets.h"

#include "platform/graphics/GraphicsTestSupport.h"

namespace vesk::testing {
namespace {

    ::testing::AssertionResult componentsAre(const UIColor& c, CGFloat r, CGFloat g, CGFloat b, CGFloat a)
    {
        constexpr CGFloat eps = 1e-9;
        if (std::abs(c.red() - r) < eps && std::abs(c.green() - g) < eps && std::abs(c.blue() - b) < eps && std::abs(c.alpha() - a) < eps)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "(" << c.red() << ", " << c.green() << ", " << c.blue() << ", " << c.alpha()
                                             << ") is not (" << r << ", " << g << ", " << b << ", " << a << ")";
    }

    TEST(ColorHelpersTest, BlendsTowardWhiteAndBlack)
    {
        UIColor sample(1, 0.5, 0, 0.5);
        EXPECT_TRUE(componentsAre(*colorWithHighlight(sample, 0.5), 1, 0.75, 0.5, 0.75));
        EXPECT_TRUE(componentsAre(*colorWithShadow(sample, 0.5), 0.5, 0.25, 0, 0.75));
        auto& red = *VeskAssets::flatRed();
        EXPECT_TRUE(componentsAre(*colorWithShadow(red, 0), 0.937, 0.161, 0.137, 1));
        EXPECT_TRUE(componentsAre(*colorWithHighlight(red, 1), 1, 1, 1, 1));
        // Not clamped.
        EXPECT_TRUE(componentsAre(*colorWithShadow(UIColor(1, 1, 1, 1), 2), -1, -1, -1, 1));
    }

    TEST(ColorHelpersTest, ReplacingOneComponentKeepsTheOthers)
    {
        EXPECT_TRUE(componentsAre(*colorWithBrightness(*VeskAssets::zipColor(), 0.5), 0.5, 0.5, 0.5, 1));
        auto& red = *VeskAssets::flatRed();
        EXPECT_TRUE(componentsAre(*colorWithAlpha(red, 0.5), red.red(), red.green(), red.blue(), 0.5));
        EXPECT_TRUE(componentsAre(*colorWithHue(UIColor(1, 0, 0, 1), 2.0 / 3), 0, 0, 1, 1));
        EXPECT_TRUE(componentsAre(*colorWithSaturation(UIColor(1, 0, 0, 0.25), 0), 1, 1, 1, 0.25));
        // The receiver is never changed.
        EXPECT_TRUE(componentsAre(red, 0.937, 0.161, 0.137, 1));
    }

    TEST(ColorHelpersTest, ColoursWithoutComponentsReadAsOnes)
    {
        auto pattern = UIColor::colorWithPatternImage(render({ 1, 1 }, 1, [] {}));
        EXPECT_TRUE(componentsAre(*colorWithHue(*pattern, 0.5), 0, 1, 1, 1));
        EXPECT_TRUE(componentsAre(*colorWithAlpha(*pattern, 0.25), 1, 0, 0, 0.25)); // hue 1 is red
        EXPECT_TRUE(componentsAre(*colorWithHighlight(*pattern, 0.5), 1, 1, 1, 1));
        EXPECT_TRUE(componentsAre(*colorWithShadow(*pattern, 0.5), 0.5, 0.5, 0.5, 1));
    }

}
}
