#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/graphics/UIScreen.h"

#include "platform/graphics/GraphicsTestSupport.h"

#include <atomic>
#include <thread>
#include <vector>

namespace vesk::testing {
namespace {

    class DrawingTest : public ::testing::Test {
    protected:
        void TearDown() override { UIScreen::mainScreen().setScale(2); }
    };

    TEST_F(DrawingTest, ImageContextsHaveThePixelSizeOfTheirScaleAndZeroMeansTheScreens)
    {
        UIScreen::mainScreen().setScale(3);
        UIScreen::mainScreen().setScale(std::nan("")); // refused, as is the next
        UIScreen::mainScreen().setScale(-1);
        for (CGFloat scale : { 0.0, 1.0, 2.0, 3.0 }) {
            auto image = render({ 40, 52 }, scale, [] {});
            ASSERT_TRUE(image);
            CGFloat expected = scale == 0 ? 3 : scale;
            EXPECT_EQ(image->pixelWidth(), int(40 * expected));
            EXPECT_EQ(image->pixelHeight(), int(52 * expected));
            EXPECT_EQ(image->scale(), expected);
            EXPECT_TRUE(isTransparent(image->pixelAt(0, 0)));
        }
        // An opaque context starts black; the origin is the top left corner.
        UIGraphicsBeginImageContextWithOptions({ 10, 10 }, true, 1);
        UIColor(1, 0, 0, 1).setFill();
        CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 10, 2));
        auto image = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
        EXPECT_TRUE(hasColor(image->pixelAt(5, 0), 1, 0, 0));
        EXPECT_TRUE(hasColor(image->pixelAt(5, 9), 0, 0, 0));
    }

    TEST_F(DrawingTest, ContextsNestPerThreadAndUnusableSizesGiveNoImage)
    {
        EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
        EXPECT_EQ(UIGraphicsGetImageFromCurrentImageContext(), nullptr);
        UIGraphicsEndImageContext(); // without a context: nothing happens

        UIGraphicsBeginImageContextWithOptions({ 4, 4 }, false, 1);
        auto* outer = UIGraphicsGetCurrentContext();
        UIGraphicsBeginImageContextWithOptions({ 0, 4 }, false, 1);
        EXPECT_NE(UIGraphicsGetCurrentContext(), outer);
        EXPECT_EQ(UIGraphicsGetImageFromCurrentImageContext(), nullptr);
        UIGraphicsEndImageContext();
        UIGraphicsBeginImageContextWithOptions({ 1e12, 1e12 }, false, 2);
        UIColor(1, 0, 0, 1).setFill();
        UIBezierPath::bezierPathWithRect(CGRectMake(0, 0, 10, 10)).fill();
        EXPECT_EQ(UIGraphicsGetImageFromCurrentImageContext(), nullptr);
        UIGraphicsEndImageContext();
        EXPECT_EQ(UIGraphicsGetCurrentContext(), outer);
        std::thread([] { EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr); }).join();
        UIGraphicsEndImageContext();
        EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
    }

    TEST_F(DrawingTest, NonFiniteAndFarOffValuesNeverBreakTheContext)
    {
        auto image = render({ 10, 10 }, 2, [] {
            auto* c = UIGraphicsGetCurrentContext();
            CGContextTranslateCTM(c, std::nan(""), 1);
            CGContextScaleCTM(c, 0, 1);
            CGContextRotateCTM(c, INFINITY);
            CGContextConcatCTM(c, { 1, 0, 0, 1, INFINITY, 0 });
            UIBezierPath wild;
            wild.moveToPoint({ 0, 0 });
            wild.addLineToPoint({ std::nan(""), 5 });
            wild.addLineToPoint({ 1e300, 0 });
            wild.addLineToPoint({ 1e300, 1e300 });
            wild.addCurveToPoint({ 0, 10 }, { INFINITY, 0 }, { 0, 0 });
            wild.addArcWithCenter({ 5, 5 }, std::nan(""), 0, 1, true);
            wild.closePath();
            UIColor(0, 1, 0, 1).setFill();
            wild.fill();
            // Still drawing afterwards, untransformed.
            UIColor(1, 0, 0, 1).setFill();
            CGContextFillRect(c, CGRectMake(8, 8, 2, 2));
        });
        ASSERT_TRUE(image);
        EXPECT_TRUE(hasColor(pixelAtPoint(*image, 9, 9), 1, 0, 0));
        EXPECT_TRUE(hasColor(pixelAtPoint(*image, 2, 1), 0, 1, 0)); // the far-off triangle, cut by the canvas
    }

    TEST_F(DrawingTest, ClipsAndStateAreRestored)
    {
        auto image = render({ 20, 20 }, 1, [] {
            auto* c = UIGraphicsGetCurrentContext();
            UIColor(0, 0, 1, 1).setFill();
            CGContextSaveGState(c);
            CGContextClipToRect(c, CGRectMake(0, 0, 10, 20));
            UIColor(1, 0, 0, 1).setFill();
            CGContextSetAlpha(c, 0.5);
            CGContextFillRect(c, CGRectMake(0, 0, 20, 10));
            CGContextRestoreGState(c);
            CGContextRestoreGState(c); // one too many: ignored
            CGContextFillRect(c, CGRectMake(0, 10, 20, 10));
        });
        EXPECT_TRUE(hasColor(image->pixelAt(5, 5), 1, 0, 0, 0.5));
        EXPECT_TRUE(isTransparent(image->pixelAt(15, 5)));
        EXPECT_TRUE(hasColor(image->pixelAt(15, 15), 0, 0, 1));
    }

    TEST_F(DrawingTest, UnreadableOrOversizedPNGDataGivesNoImage)
    {
        EXPECT_FALSE(UIImage::imageWithContentsOfFile("/nonexistent/file.png"));
        EXPECT_FALSE(UIImage::imageWithData({}));
        EXPECT_FALSE(UIImage::imageWithData({ 'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g' }));
        auto bytes = UIImagePNGRepresentation(render({ 2, 2 }, 1, [] { CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 1, 1)); }));
        // Truncated at every length: never crashes, never yields an image.
        for (size_t cut = 0; cut + 1 < bytes.size(); cut += 7)
            EXPECT_FALSE(UIImage::imageWithData(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut)))) << cut;
        // A header that claims 30000 x 30000 pixels is refused before decoding.
        auto huge = bytes;
        for (int i : { 16, 20 }) {
            huge[i] = 0;
            huge[i + 1] = 0;
            huge[i + 2] = 0x75;
            huge[i + 3] = 0x30;
        }
        EXPECT_FALSE(UIImage::imageWithData(huge));
        EXPECT_FALSE(UIImage::imageNamed("../etc/passwd"));
    }

}
}
