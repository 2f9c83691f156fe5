#include "assets/UIColorVesk.h"
#include "assets/VeskAssets.h"

#include "platform/graphics/GraphicsTestSupport.h"

#include <vector>

namespace vesk::testing {
namespace {

    struct PaletteEntry {
        const char* name;
        const VeskAssets::UIColorPtr& (*getter)();
        CGFloat red, green, blue;
    };

    const PaletteEntry kPalette[] = {
        { "iOSDefaultTint", &VeskAssets::iOSDefaultTint, 0.09, 0.494, 0.984 },
        { "flatGreen", &VeskAssets::flatGreen, 0.224, 0.792, 0.455 },
        { "flatBlue", &VeskAssets::flatBlue, 0.271, 0.522, 0.831 },
        { "flatYellow", &VeskAssets::flatYellow, 0.973, 0.745, 0.286 },
        { "flatOrange", &VeskAssets::flatOrange, 0.969, 0.412, 0.145 },
        { "flatRed", &VeskAssets::flatRed, 0.937, 0.161, 0.137 },
        { "flatPurple", &VeskAssets::flatPurple, 0.6, 0.129, 0.694 },
        { "flatDeepBlue", &VeskAssets::flatDeepBlue, 0.137, 0.192, 0.243 },
        { "glypishFillColor", &VeskAssets::glypishFillColor, 0.945, 0.957, 0.961 },
        { "txtColor", &VeskAssets::txtColor, 0.318, 0.314, 0.314 },
        { "xmlColor", &VeskAssets::xmlColor, 0.851, 0.647, 0.435 },
        { "logColor", &VeskAssets::logColor, 0.969, 0.416, 0.137 },
        { "shColor", &VeskAssets::shColor, 0.161, 0.675, 0.38 },
        { "cColor", &VeskAssets::cColor, 0.878, 0.271, 0.298 },
        { "cppColor", &VeskAssets::cppColor, 0.988, 0.337, 0.243 },
        { "hColor", &VeskAssets::hColor, 0.153, 0.455, 0.659 },
        { "mColor", &VeskAssets::mColor, 0.78, 0.58, 0.184 },
        { "phpColor", &VeskAssets::phpColor, 0.357, 0.318, 0.282 },
        { "rbColor", &VeskAssets::rbColor, 0.741, 0.082, 0.078 },
        { "pyColor", &VeskAssets::pyColor, 0.208, 0.38, 0.345 },
        { "plColor", &VeskAssets::plColor, 0.945, 0.714, 0.212 },
        { "listColor", &VeskAssets::listColor, 0.106, 0.659, 0.635 },
        { "infoColor", &VeskAssets::infoColor, 0.392, 0.506, 0.635 },
        { "inColor", &VeskAssets::inColor, 0.494, 0.451, 0.165 },
        { "diffColor", &VeskAssets::diffColor, 0.718, 0.725, 0.149 },
        { "hexColor", &VeskAssets::hexColor, 0.118, 0.118, 0.157 },
        { "cssColor", &VeskAssets::cssColor, 0.094, 0.631, 0.533 },
        { "jsColor", &VeskAssets::jsColor, 0.984, 0.835, 0.561 },
        { "confColor", &VeskAssets::confColor, 0.157, 0.502, 0.733 },
        { "htmlColor", &VeskAssets::htmlColor, 0.443, 0.353, 0.204 },
        { "pdfColor", &VeskAssets::pdfColor, 0.753, 0.208, 0.259 },
        { "plistColor", &VeskAssets::plistColor, 0.153, 0.651, 0.361 },
        { "jsonColor", &VeskAssets::jsonColor, 0.718, 0.369, 0.161 },
        { "debColor", &VeskAssets::debColor, 0.565, 0.4, 0.235 },
        { "ipaColor", &VeskAssets::ipaColor, 0.957, 0.169, 0.267 },
        { "swiftColor", &VeskAssets::swiftColor, 1, 0.463, 0.145 },
        { "zipColor", &VeskAssets::zipColor, 0.925, 0.925, 0.925 },
    };

    TEST(PaletteTest, OpaqueColoursWithTheirExactComponents)
    {
        for (auto& entry : kPalette) {
            ASSERT_TRUE(entry.getter()) << entry.name;
            CGFloat r, g, b, a;
            ASSERT_TRUE(entry.getter()->getRed(&r, &g, &b, &a)) << entry.name;
            EXPECT_EQ((std::vector<CGFloat> { r, g, b, a }), (std::vector<CGFloat> { entry.red, entry.green, entry.blue, 1.0 })) << entry.name;
        }
    }

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
        for (auto& entry : { kPalette[5], kPalette[9], kPalette[36] }) {
            auto& color = *entry.getter();
            EXPECT_TRUE(componentsAre(*colorWithHighlight(color, 0), color.red(), color.green(), color.blue(), 1)) << entry.name;
            EXPECT_TRUE(componentsAre(*colorWithShadow(color, 0), color.red(), color.green(), color.blue(), 1)) << entry.name;
            EXPECT_TRUE(componentsAre(*colorWithHighlight(color, 1), 1, 1, 1, 1)) << entry.name;
            EXPECT_TRUE(componentsAre(*colorWithShadow(color, 1), 0, 0, 0, 1)) << entry.name;
        }
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
