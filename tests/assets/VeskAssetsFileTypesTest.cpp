#include "assets/VeskAssets.h"
#include "assets/VeskAssetsShapes.h"

#include "IconTestSupport.h"

#include <optional>
#include <string>
#include <vector>

namespace vesk::testing {
namespace {

    using ColorPtr = std::shared_ptr<UIColor>;

    const UIColor kGlyph { 0.929, 0.945, 0.949, 1 };
    const UIColor kZipperGrey { 0.5, 0.5, 0.5, 1 };

    ColorPtr pageColour()
    {
        return UIColor::colorWithRed(0.2, 0.3, 0.8, 1);
    }

    UIColor shaded(const UIColor& c)
    {
        return { c.red() * 0.659, c.green() * 0.659, c.blue() * 0.659, 1 };
    }

    struct PageIcon {
        const char* name;
        CGSize canvas;
        std::function<void(const ColorPtr&)> draw;
        // Points where the glyph shows, and where a hole in it shows the page.
        std::vector<Probe> glyph, page;
        // The glyph's colour, when not the common glyph colour, and the page's when fixed.
        std::optional<UIColor> glyphColour = std::nullopt;
        const VeskAssets::UIColorPtr& (*fixedPage)() = nullptr;
    };

    std::vector<PageIcon> pageIcons()
    {
        return {
            { "video", { 40, 52 }, [](const ColorPtr& c) { VeskAssets::drawVideoIconWithFileFillColor(c); },
                { { 8.2, 25 }, { 20, 23.05 }, { 32.5, 30 }, { 20, 43.2 } },
                { { 10.15, 15.5 }, { 30.6, 40.5 }, { 20, 18 }, { 20, 28 }, { 20, 38 } } },
            { "executable", { 40, 52 }, [](const ColorPtr& c) { VeskAssets::drawExecutableIconWithFileFillColor(c); },
                { { 19.06, 18.1 }, { 11.06, 18.1 } },
                { { 15.06, 18.1 }, { 21.5, 18.1 }, { 8.5, 18.1 } } },
            { "image", { 40, 52 }, [](const ColorPtr& c) { VeskAssets::drawImageIconWithFileFillColor(c); },
                { { 4.25, 25 }, { 20, 12.5 }, { 36.1, 25 }, { 20, 37.5 }, { 32.56, 17.95 }, { 20, 34 } },
                { { 10, 20 }, { 30.81, 17.95 }, { 16.2, 30 }, { 25, 30 } } },
            { "music", { 40, 51 }, [](const ColorPtr& c) { VeskAssets::drawMusicIconWithFileFillColor(c); },
                { { 10.1, 38.25 }, { 12.3, 25 }, { 20, 13.3 } },
                { { 10.1, 34.55 }, { 24.4, 32.65 }, { 13.6, 25 }, { 20, 18 } } },
            { "strings", { 40, 51 }, [](const ColorPtr& c) { VeskAssets::drawStringsIconWithFileFillColor(c); },
                { { 20.25, 15 }, { 20.25, 33 }, { 27, 24.29 }, { 13, 24.29 }, { 20.25, 11.3 }, { 6.75, 24 } },
                { { 16, 20 }, { 24.5, 20 }, { 16, 28.5 }, { 30, 28 }, { 8, 12 }, { 35, 40 } } },
            { "swift", { 40, 52 }, [](const ColorPtr&) { VeskAssets::drawSwiftIcon(); },
                { { 18, 31.5 }, { 28.5, 22 }, { 31.5, 30 } },
                { { 10, 25 }, { 30, 14 }, { 20, 40 } }, UIColor { 1, 1, 1, 1 }, &VeskAssets::swiftColor },
            { "zip", { 40, 51 }, [](const ColorPtr&) { VeskAssets::drawZipIcon(); },
                { { 19, 1 }, { 21, 3 }, { 19, 29 }, { 21, 31 }, { 17, 41 }, { 20, 43.5 }, { 23.5, 37 } },
                { { 21, 1 }, { 19, 3 }, { 20, 41 }, { 20, 47 }, { 10, 20 } }, kZipperGrey, &VeskAssets::zipColor },
        };
    }

    UIColor pageOf(const PageIcon& icon)
    {
        return icon.fixedPage ? *icon.fixedPage() : *pageColour();
    }

    TEST(FileTypeIconsTest, PageIconsAtScalesOneAndTwo)
    {
        for (const PageIcon& icon : pageIcons()) {
            SCOPED_TRACE(icon.name);
            for (CGFloat scale : { 1.0, 2.0 }) {
                auto image = render(icon.canvas, scale, [&] { icon.draw(pageColour()); });
                UIColor page = pageOf(icon);
                EXPECT_TRUE(hasColor(pixelAtPoint(*image, 5, 48), page));
                // The page reaches the bottom edge of every canvas, the 51-point ones included.
                EXPECT_TRUE(hasColor(pixelAtPoint(*image, 5, icon.canvas.height - 0.25), page));
                // Above the cut the canvas is left alone; under it the page is shaded.
                EXPECT_TRUE(isTransparent(pixelAtPoint(*image, 39, 1)));
                EXPECT_TRUE(isTransparent(pixelAtPoint(*image, 35, 2)));
                EXPECT_TRUE(hasColor(pixelAtPoint(*image, 30, 10), shaded(page)));
            }
        }
    }

    TEST(FileTypeIconsTest, GlyphsAndTheirHoles)
    {
        for (const PageIcon& icon : pageIcons()) {
            SCOPED_TRACE(icon.name);
            auto image = render(icon.canvas, 4, [&] { icon.draw(pageColour()); });
            UIColor glyph = icon.glyphColour.value_or(kGlyph);
            for (Probe p : icon.glyph)
                EXPECT_TRUE(hasColor(pixelAtPoint(*image, p.x, p.y), glyph)) << p.x << ", " << p.y;
            for (Probe p : icon.page)
                EXPECT_TRUE(hasColor(pixelAtPoint(*image, p.x, p.y), pageOf(icon))) << p.x << ", " << p.y;
        }
    }

    std::shared_ptr<UIImage> fileIcon(const std::string& suffix, CGFloat scale = 2)
    {
        return render({ 40, 52 }, scale, [&] { VeskAssets::drawFileIconWithFileFillColor(pageColour(), suffix); });
    }

    const CGRect kTextBox = CGRectMake(2, 7, 36, 36);

    int whitePixels(const UIImage& image, const CGRect& rect = kTextBox)
    {
        return countPixels(image, rect, isWhite);
    }

    int offPagePixels(const UIImage& image, const CGRect& rect)
    {
        return countPixels(image, rect, [](const UIPixel& p) { return !hasColor(p, *pageColour()); });
    }

    TEST(FileIconTest, SuffixIsDrawnCentredInWhite)
    {
        for (CGFloat scale : { 1.0, 2.0 }) {
            auto image = fileIcon("txt", scale);
            EXPECT_GT(whitePixels(*image), 10);
            // Centred: about as much text left and right of the middle, above and below it.
            int left = whitePixels(*image, CGRectMake(2, 7, 18, 36)), right = whitePixels(*image, CGRectMake(20, 7, 18, 36));
            int above = whitePixels(*image, CGRectMake(2, 7, 36, 18)), below = whitePixels(*image, CGRectMake(2, 25, 36, 18));
            EXPECT_NEAR(left, right, (left + right) / 4);
            EXPECT_NEAR(above, below, (above + below) / 3);
        }
        EXPECT_EQ(offPagePixels(*fileIcon(""), CGRectMake(0, 12, 40, 40)), 0);
    }

    TEST(FileIconTest, SuffixIsPlainTextInItsCaseWithInvalidUtf8Replaced)
    {
        // Markup a parser would swallow or reject, bad UTF-8 and a NUL all still show as text.
        for (const std::string& suffix : std::vector<std::string> { "<b>", "a<b", "</i>", "&amp;", "<span foreground=\"red\">x</span>", "&#65;",
                 "\xff", "ab\xc3", "\xc0\xaf", "\xed\xa0\x80", std::string("a\0b", 3) })
            EXPECT_GT(whitePixels(*fileIcon(suffix)), 10) << suffix;
        for (auto [a, b] : { std::pair { "txt", "TXT" }, { "Md", "md" }, { "&lt;", "<" }, { "<b>x</b>", "x" } })
            EXPECT_FALSE(fileIcon(a)->hasEqualPixels(*fileIcon(b))) << a << " and " << b;
        // One bad byte reads as one replacement character.
        EXPECT_TRUE(fileIcon("\xff")->hasEqualPixels(*fileIcon("\xef\xbf\xbd")));
    }

    TEST(FileIconTest, LongSuffixWrapsAndIsCutOffAtTheBox)
    {
        auto wide = fileIcon("abcdefghijklmnop");
        // Wrapped onto several lines within the box.
        EXPECT_GT(whitePixels(*wide, CGRectMake(2, 7, 36, 17)), 10);
        EXPECT_GT(whitePixels(*wide, CGRectMake(2, 26, 36, 17)), 10);

        auto tall = fileIcon(std::string(400, 'W'));
        for (CGRect outside : { CGRectMake(0, 43, 40, 9), CGRectMake(0, 0, 28, 7), CGRectMake(0, 12, 2, 31), CGRectMake(38, 12, 2, 31) })
            EXPECT_EQ(offPagePixels(*tall, outside), 0) << outside.origin.x << ", " << outside.origin.y;
        EXPECT_GT(whitePixels(*tall), 200);
    }

    TEST(FileIconTest, MissingFontFallsBackToTheSystemFont)
    {
        auto draw = [](const std::string& font) {
            return render({ 40, 52 }, 2, [&] {
                assetshapes::drawCentredText("txt", kTextBox, font, 15, UIColor::whiteColor());
            });
        };
        auto fallback = draw("NoSuchFontAnywhere-Regular");
        EXPECT_GT(whitePixels(*fallback), 10);
        EXPECT_TRUE(fallback->hasEqualPixels(*draw("")));
    }

    TEST(FolderIconTest, BodyAndTabWithAGapBetween)
    {
        for (CGFloat scale : { 1.0, 2.0 }) {
            auto image = render({ 56, 48 }, scale, [] { VeskAssets::drawFolderIconWithFileFillColor(pageColour()); });
            for (Probe p : { Probe { 28, 30 }, { 0.25, 20 }, { 55.75, 20 }, { 28, 47.75 }, { 5, 5 }, { 12, 0.25 }, { 40, 6 }, { 55.75, 9 } })
                EXPECT_TRUE(hasColor(pixelAtPoint(*image, p.x, p.y), *pageColour())) << p.x << ", " << p.y;
            for (Probe p : { Probe { 28, 11 }, { 0.25, 11 }, { 55.75, 11 }, { 40, 2 }, { 0.1, 47.9 }, { 55.9, 47.9 }, { 55.9, 0.5 } })
                EXPECT_TRUE(isTransparent(pixelAtPoint(*image, p.x, p.y))) << p.x << ", " << p.y;
        }
    }

    TEST(DefaultIconTest, GridOfStrokesInTheColour)
    {
        for (CGFloat scale : { 1.0, 2.0 }) {
            auto image = render({ 240, 240 }, scale, [] { VeskAssets::drawDefaultIconWithIconFillColor(pageColour()); });
            // Lines, circles and diagonals.
            for (Probe p : { Probe { 120.5, 30 }, { 30, 119.5 }, { 75.5, 200 }, { 200, 164.5 }, { 158.97, 142.5 }, { 60.33, 98.28 }, { 68, 210.43 }, { 180, 179 }, { 60, 180.5 }, { 0.25, 100 }, { 100, 239.5 } })
                EXPECT_TRUE(hasColor(pixelAtPoint(*image, p.x, p.y), *pageColour())) << p.x << ", " << p.y;
            for (Probe p : { Probe { 100, 35 }, { 140, 90 }, { 90, 140 }, { 10, 3.5 }, { 236, 229 } })
                EXPECT_TRUE(isTransparent(pixelAtPoint(*image, p.x, p.y))) << p.x << ", " << p.y;
        }
    }

}
}
