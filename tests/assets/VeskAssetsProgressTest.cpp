#include "assets/VeskAssets.h"

#include "IconTestSupport.h"

#include <cmath>
#include <functional>
#include <limits>
#include <numbers>

namespace vesk::testing {
namespace {

    constexpr CGFloat kInfinity = std::numeric_limits<CGFloat>::infinity();
    constexpr CGFloat kNaN = std::numeric_limits<CGFloat>::quiet_NaN();

    std::shared_ptr<UIImage> dial(CGFloat progress, CGFloat scale = 2, std::shared_ptr<UIColor> inner = UIColor::colorWithRed(0.06, 0.06, 0.06, 1))
    {
        return render({ 246, 246 }, scale, [&] {
            VeskAssets::drawCircularProgresWithTransparentColor(inner, UIColor::colorWithRed(1, 1, 1, 1), progress);
        });
    }

    std::shared_ptr<UIImage> download(CGFloat progress, CGFloat scale = 2)
    {
        return render({ 40, 52 }, scale, [&] { VeskAssets::drawDynamicDownloadIconWithDLIconProgress(progress); });
    }

    // A point on the dial's ring (between the inner disc and the outline), by clock angle in
    // degrees: 0 is 3 o'clock, growing clockwise.
    UIPixel ringPixel(const UIImage& image, CGFloat degrees)
    {
        CGFloat radians = degrees * std::numbers::pi / 180;
        return pixelAtPoint(image, 123 + 105 * std::cos(radians), 123 + 105 * std::sin(radians));
    }

    const UIColor kWedgeGrey { 0.907, 0.907, 0.907, 1 };
    const UIColor kBandGrey { 0.545, 0.545, 0.545, 1 };

    // The text box inside the inner disc, where only the percentage differs between dials.
    const CGRect kDialText = CGRectMake(60, 74, 126, 94);
    const CGRect kDownloadText = CGRectMake(0, 40, 40, 12);

    TEST(CircularProgressTest, ColourFollowsStrictThresholds)
    {
        struct Case {
            CGFloat progress;
            const VeskAssets::UIColorPtr& (*colour)();
        } cases[] = {
            { 0.25, &VeskAssets::flatRed },
            { 0.2501, &VeskAssets::flatOrange },
            { 0.5, &VeskAssets::flatOrange },
            { 0.5001, &VeskAssets::flatYellow },
            { 0.75, &VeskAssets::flatYellow },
            { 0.7501, &VeskAssets::flatGreen },
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.progress);
            // Just past 12 o'clock the ring is always done for these values.
            EXPECT_TRUE(hasColor(ringPixel(*dial(c.progress), -45), *c.colour()));
        }
    }

    TEST(CircularProgressTest, GreyWedgeCoversTheRemainingPart)
    {
        // 0.403 ends 55.08 degrees past 3 o'clock.
        auto part = dial(0.403);
        for (CGFloat angle : { -80.0, 50.0 })
            EXPECT_TRUE(hasColor(ringPixel(*part, angle), *VeskAssets::flatOrange())) << angle;
        for (CGFloat angle : { 60.0, 180.0, 260.0 })
            EXPECT_TRUE(hasColor(ringPixel(*part, angle), kWedgeGrey)) << angle;
        EXPECT_TRUE(hasColor(pixelAtPoint(*part, 123, 200), 0.06, 0.06, 0.06));

        // Full and empty: the arc of no sweep is not taken for a full turn.
        for (CGFloat angle : { -89.0, 90.0, 265.0 }) {
            EXPECT_TRUE(hasColor(ringPixel(*dial(1), angle), *VeskAssets::flatGreen())) << angle;
            EXPECT_TRUE(hasColor(ringPixel(*dial(0), angle), kWedgeGrey)) << angle;
        }
    }

    TEST(CircularProgressTest, PercentageRoundsHalvesAwayFromZero)
    {
        // Same ring colour and the same wedge over the text box corners: only the text can differ.
        for (CGFloat half : { 0.125, 0.375 }) {
            EXPECT_TRUE(regionsEqual(*dial(half), *dial(half + 0.005), kDialText)) << half;
            EXPECT_FALSE(regionsEqual(*dial(half), *dial(half - 0.005), kDialText)) << half;
        }
        EXPECT_GT(countPixels(*dial(0.403), kDialText, isWhite), 100);
    }

    TEST(CircularProgressTest, ValuesBeyondOneAreDrawnByTheSameFormulas)
    {
        auto image = dial(1.5);
        EXPECT_TRUE(hasColor(ringPixel(*image, -45), *VeskAssets::flatGreen()));
        EXPECT_TRUE(hasColor(ringPixel(*image, 180), kWedgeGrey));
        EXPECT_FALSE(regionsEqual(*image, *dial(0.5), kDialText));
        // A clear inner disc leaves the ring beneath.
        EXPECT_TRUE(hasColor(pixelAtPoint(*dial(1, 2, UIColor::clearColor()), 123, 200), *VeskAssets::flatGreen()));
    }

    UIColor gradientAt(CGFloat y)
    {
        const UIColor& top = *VeskAssets::flatGreen();
        CGFloat t = y / 52;
        return { top.red() * (1 - t) + 0.302 * t, top.green() * (1 - t) + 0.475 * t, top.blue() * (1 - t) + 0.737 * t, 1 };
    }

    TEST(DownloadIconTest, PageAndCornerCoverTheCanvasAtScalesOneAndTwo)
    {
        // Their shared edge is smoothed from both sides, so it is not quite opaque.
        for (CGFloat scale : { 1.0, 2.0 })
            EXPECT_EQ(countPixels(*download(1, scale), CGRectMake(0, 0, 40, 52), [](const UIPixel& p) { return p.alpha < 160; }), 0) << scale;
    }

    TEST(DownloadIconTest, FullProgressShowsTheGradientAndTheGlyph)
    {
        auto image = download(1);
        EXPECT_TRUE(hasColor(pixelAtPoint(*image, 2, 1.25), gradientAt(1.25)));
        EXPECT_TRUE(hasColor(pixelAtPoint(*image, 2, 50.75), gradientAt(50.75)));
        // Tray and the shaft above it are white; the arrow inside the tray lets the page through.
        EXPECT_TRUE(hasColor(pixelAtPoint(*image, 11, 33), 1, 1, 1));
        EXPECT_TRUE(hasColor(pixelAtPoint(*image, 19.9, 13.25), 1, 1, 1));
        EXPECT_TRUE(hasColor(pixelAtPoint(*image, 19.9, 20.25), gradientAt(20.25)));
        EXPECT_TRUE(hasColor(pixelAtPoint(*image, 14.5, 22.5), gradientAt(22.5)));
        // Fold shading over the page, and the white flap over the cut corner.
        UIColor page = gradientAt(10.25);
        EXPECT_TRUE(hasColor(pixelAtPoint(*image, 30.5, 10.25), page.red() * 0.659, page.green() * 0.659, page.blue() * 0.659));
        EXPECT_TRUE(hasColor(pixelAtPoint(*image, 38.5, 1.25), 1, 1, 1));
        EXPECT_GT(countPixels(*image, kDownloadText, isWhite), 20);
    }

    TEST(DownloadIconTest, GreyBandCoversWhatIsNotYetDownloaded)
    {
        auto half = download(0.5);
        EXPECT_TRUE(hasColor(pixelAtPoint(*half, 2, 0.25), kBandGrey));
        EXPECT_TRUE(hasColor(pixelAtPoint(*half, 36, 26.25), kBandGrey));
        EXPECT_TRUE(hasColor(pixelAtPoint(*half, 2, 26.75), gradientAt(26.75)));

        EXPECT_TRUE(hasColor(pixelAtPoint(*download(0), 2, 50), kBandGrey));

        auto beyond = download(1.5);
        EXPECT_TRUE(hasColor(pixelAtPoint(*beyond, 2, 1.25), gradientAt(1.25)));
        EXPECT_FALSE(regionsEqual(*beyond, *download(1), kDownloadText));
    }

    TEST(DownloadIconTest, PercentageRoundsHalvesAwayFromZero)
    {
        // From 0.25 up the band stays above the text: 0.625 and 0.63 both read 63%, 0.62 reads 62%.
        for (CGFloat half : { 0.375, 0.625 }) {
            EXPECT_TRUE(regionsEqual(*download(half), *download(half + 0.005), kDownloadText)) << half;
            EXPECT_FALSE(regionsEqual(*download(half), *download(half - 0.005), kDownloadText)) << half;
        }
    }

    TEST(ProgressIconsTest, NonFiniteAndHugeProgressStaysDrawable)
    {
        for (auto draw : { std::function([](CGFloat p) { return dial(p); }), std::function([](CGFloat p) { return download(p); }) }) {
            // Not a number draws as 0; infinity and values whose hundredfold no 64-bit integer
            // holds are clamped to the largest, or the smallest.
            EXPECT_TRUE(draw(kNaN)->hasEqualPixels(*draw(0)));
            EXPECT_TRUE(draw(kInfinity)->hasEqualPixels(*draw(1e300)));
            EXPECT_TRUE(draw(kInfinity)->hasEqualPixels(*draw(1e17)));
            EXPECT_TRUE(draw(-kInfinity)->hasEqualPixels(*draw(-1e300)));
        }
        EXPECT_TRUE(hasColor(ringPixel(*dial(kInfinity), 180), *VeskAssets::flatGreen()));
        EXPECT_TRUE(hasColor(pixelAtPoint(*download(-kInfinity), 2, 1.25), gradientAt(1.25)));
        // The two ends of the range read differently (an unchecked conversion gives one value for both).
        EXPECT_FALSE(regionsEqual(*download(1e300), *download(-1e300), kDownloadText));
    }

}
}
