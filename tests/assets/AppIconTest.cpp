#include "assets/VeskAssets.h"

#include "platform/graphics/GraphicsTestSupport.h"

namespace vesk::testing {
namespace {

    // The app icon drawn at scale 1, once for the program; probes are in points.
    const UIImage& icon()
    {
        static auto image = render({ 1024, 1024 }, 1, [] { VeskAssets::drawVeskIcon(); });
        return *image;
    }

    TEST(AppIconTest, LayersTileFromTheirOwnTopLeftCorners)
    {
        // The text-line strips repeat a dash of 30 points every 40, from x 212, 6 points high.
        auto dash = icon().pixelAt(214, 893);
        for (int y : { 891, 800, 709, 618 }) {
            EXPECT_EQ(icon().pixelAt(214, y + 2), dash) << y;
            EXPECT_EQ(icon().pixelAt(212 + 40 + 2, y + 2), dash) << y;
            EXPECT_NE(icon().pixelAt(212 + 35, y + 2), dash) << y; // the gap between dashes
            EXPECT_NE(icon().pixelAt(214, y + 7), dash) << y; // below the strip
        }
        EXPECT_TRUE(hasColor(dash, 0.55, 0.57, 0.6));
        // The heading strip, tiled from x 312.
        EXPECT_TRUE(hasColor(icon().pixelAt(314, 529), 0.09, 0.494, 0.984));
        EXPECT_TRUE(hasColor(icon().pixelAt(312 + 40 + 1, 529), 0.09, 0.494, 0.984));
        EXPECT_FALSE(hasColor(icon().pixelAt(312 + 36, 529), 0.09, 0.494, 0.984));
        // Layer 8 lies over layer 7 where they overlap; layer 7 alone left of x 322.
        EXPECT_TRUE(hasColor(icon().pixelAt(500, 1), 0.36, 0.85, 0.56));
        EXPECT_TRUE(hasColor(icon().pixelAt(200, 1), 0.224, 0.792, 0.455));
    }

}
}
