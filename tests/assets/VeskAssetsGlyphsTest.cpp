#include "assets/VeskAssets.h"

#include "IconTestSupport.h"

#include <vector>

namespace vesk::testing {
namespace {

    struct Glyph {
        const char* name;
        void (*draw)();
        CGSize canvas;
        std::vector<Probe> filled, empty;
    };

    std::vector<Glyph> glyphs()
    {
        return {
            { "trash", &VeskAssets::drawTrashIcon, { 25, 31 },
                { { 3, 3.9 }, { 12.5, 0.5 }, { 2.33, 10 }, { 12.5, 30.5 }, { 12.5, 17 }, { 8.2, 15 }, { 16.8, 15 }, { 24.4, 3.9 } },
                { { 12.5, 2.2 }, { 10.3, 15 }, { 14.7, 15 }, { 10.3, 29.3 }, { 0.5, 10 }, { 24.5, 20 }, { 3, 1 } } },
            { "bookmark", &VeskAssets::drawBookmarkIcon, { 36, 31 },
                { { 17.97, 15 }, { 0.5, 14 }, { 35.5, 14 }, { 9, 0.7 }, { 27, 0.7 }, { 17.97, 30.5 }, { 9, 27.8 } },
                { { 9, 14 }, { 27, 14 }, { 9, 30 }, { 27, 30 } } },
            { "cut", &VeskAssets::drawCutIcon, { 32, 31 },
                { { 14.1, 15.33 }, { 6.84, 5.09 }, { 6.84, 25.58 }, { 5.12, 0.5 }, { 5.12, 30.1 } },
                { { 5.12, 5.09 }, { 5.12, 25.58 }, { 8.32, 5.09 }, { 2.2, 25.58 }, { 30, 15.3 }, { 16, 29 } } },
            { "compose", &VeskAssets::drawComposeIcon, { 32, 31 },
                { { 0.57, 20 }, { 13, 30.43 }, { 25.71, 20 }, { 10, 6.12 }, { 11.57, 19.79 }, { 30.5, 2.7 } },
                { { 13, 25 }, { 25.7, 10 }, { 19.47, 12.14 }, { 5, 2 } } },
            { "share", &VeskAssets::drawShareIcon, { 23, 31 },
                { { 11.5, 10 }, { 11.5, 0.5 }, { 0.55, 20 }, { 22.45, 20 }, { 11.5, 30.45 }, { 8, 4.3 }, { 15, 4.3 } },
                { { 6, 20 }, { 10.1, 9.41 }, { 12.9, 9.41 }, { 11.5, 21 }, { 3, 3 } } },
            { "package", &VeskAssets::drawPackageIcon, { 32, 31 },
                { { 10, 0.55 }, { 13.1, 12 }, { 8, 23.8 }, { 8, 27.12 }, { 0.57, 20 }, { 16, 30.45 }, { 5, 9.41 }, { 28, 23.8 } },
                { { 16, 12 }, { 8, 18 }, { 8, 5 }, { 24, 5 }, { 16, 4 }, { 1, 1 } } },
            { "dynamicCopy", &VeskAssets::drawDynamicCopy, { 20, 31 },
                { { 5.5, 4 }, { 10, 0.5 }, { 10, 13.84 }, { 10, 20.48 }, { 0.5, 15 }, { 10, 30.45 }, { 17.5, 28.2 } },
                { { 7, 3.9 }, { 10, 24 }, { 18.5, 29.3 }, { 10, 15.5 }, { 2, 1 } } },
            { "menue", &VeskAssets::drawMenueIcon, { 50, 31 },
                { { 1.81, 2.32 }, { 1.81, 29.09 }, { 30, 11.88 }, { 49.5, 20.48 }, { 8, 2.32 } },
                { { 30, 7 }, { 30, 16 }, { 30, 25 }, { 5, 11.88 } } },
            { "link", &VeskAssets::drawLinkIcon, { 31, 31 },
                { { 28.53, 2.28 }, { 2.59, 28.2 } },
                { { 23.81, 7 }, { 7.31, 23.48 }, { 29, 29 }, { 2, 2 } } },
            { "infoButton", &VeskAssets::drawInfoButton, { 31, 31 },
                { { 0.5, 15.49 }, { 30.5, 15.49 }, { 15.5, 0.5 }, { 15.5, 30.5 }, { 15.38, 10 }, { 15.6, 18 }, { 13.3, 22.35 }, { 17.9, 22.35 } },
                { { 5, 15.49 }, { 15.4, 12.5 }, { 12, 18 }, { 19, 18 }, { 15.5, 25 }, { 1.5, 1.5 } } },
            { "selectedInfoButton", &VeskAssets::drawSelectedInfoButton, { 30, 30 },
                { { 3, 15 }, { 29.8, 15 }, { 15.19, 0.5 }, { 15.19, 29.5 }, { 12, 18 }, { 15, 12 } },
                { { 15.07, 9.69 }, { 15.3, 17 }, { 13.3, 21.6 }, { 17.5, 21.6 }, { 1, 1 } } },
            { "documentIcon", &VeskAssets::drawDocumentIcon, { 35, 31 },
                { { 17, 7.1 }, { 5, 0.6 }, { 0.6, 20 }, { 34.4, 20 }, { 17, 30.4 }, { 25, 3.2 } },
                { { 20, 5.2 }, { 5, 4 }, { 17, 18 }, { 25, 1.2 } } },
            { "gear", &VeskAssets::drawGearIcon, { 31, 31 },
                { { 20.48, 15.5 }, { 30.5, 15.5 }, { 15.5, 0.5 }, { 0.5, 15.5 }, { 15.5, 30.5 }, { 4.9, 4.9 } },
                { { 15.5, 15.5 }, { 23.5, 15.5 }, { 27.97, 20.67 }, { 7.5, 15.5 } } },
            { "plusCircle", &VeskAssets::drawPlusCircleIcon, { 30, 30 },
                { { 15, 0.5 }, { 0.5, 15 }, { 29.5, 15 }, { 15, 29.5 }, { 15, 15 }, { 7.3, 15 }, { 22.7, 15 }, { 15, 7.3 }, { 15, 22.7 } },
                { { 10, 10 }, { 20, 20 }, { 6.5, 15 }, { 15, 6.5 }, { 1, 1 } } },
            { "homeIcon", &VeskAssets::drawHomeIcon, { 32, 31 },
                { { 16, 0.8 }, { 4, 25 }, { 28, 25 }, { 8, 30.45 }, { 22.2, 5 }, { 12, 20 }, { 0.56, 16.23 } },
                { { 16, 24 }, { 8, 22 }, { 24, 5 }, { 1.5, 25 }, { 30.5, 25 }, { 3, 3 }, { 3.55, 30.9 }, { 28.45, 30.9 } } },
        };
    }

    const UIColor& tint()
    {
        return *VeskAssets::iOSDefaultTint();
    }

    TEST(GlyphsTest, EveryGlyphIsOneColourWithinItsCanvas)
    {
        auto opaque = [](const UIPixel& p) { return p.alpha > 0; };
        for (const Glyph& glyph : glyphs()) {
            SCOPED_TRACE(glyph.name);
            CGRect canvas = CGRectMake(0, 0, glyph.canvas.width, glyph.canvas.height);
            std::shared_ptr<UIImage> image;
            for (CGFloat scale : { 1.0, 2.0 }) {
                image = render(glyph.canvas, scale, glyph.draw);
                // Every mostly painted pixel is the tint.
                EXPECT_EQ(countPixels(*image, canvas, [](const UIPixel& p) {
                    return p.alpha >= 128 && !hasColor(UIPixel { p.red, p.green, p.blue, 255 }, tint());
                }),
                    0);
            }
            // A larger context keeps size and position, and gets nothing beyond the canvas but
            // what stands slightly over its edges.
            auto larger = render({ 60, 60 }, 2, glyph.draw);
            EXPECT_TRUE(regionsEqual(*image, *larger, canvas));
            EXPECT_EQ(countPixels(*larger, CGRectMake(0, glyph.canvas.height + 1, 60, 59 - glyph.canvas.height), opaque), 0);
            EXPECT_EQ(countPixels(*larger, CGRectMake(glyph.canvas.width + 1, 0, 59 - glyph.canvas.width, 60), opaque), 0);
        }
    }

    TEST(GlyphsTest, PaintedPartsAndHoles)
    {
        for (const Glyph& glyph : glyphs()) {
            SCOPED_TRACE(glyph.name);
            auto image = render(glyph.canvas, 4, glyph.draw);
            for (Probe p : glyph.filled)
                EXPECT_TRUE(hasColor(pixelAtPoint(*image, p.x, p.y), tint())) << p.x << ", " << p.y;
            for (Probe p : glyph.empty)
                EXPECT_TRUE(isTransparent(pixelAtPoint(*image, p.x, p.y))) << p.x << ", " << p.y;
        }
    }

}
}
