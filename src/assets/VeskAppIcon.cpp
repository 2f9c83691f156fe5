#include "assets/VeskAssets.h"

#include "platform/graphics/CGContext.h"
#include "platform/graphics/NSStringDrawing.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/graphics/UIFont.h"
#include "platform/graphics/UIGraphics.h"

#include <array>
#include <mutex>
#include <string>

namespace vesk {

using namespace platform;

namespace {

    // The app icon's tiles, when the bundle has none of that name: our own textures, drawn once
    // each. Only their names, the rectangles they fill and the tiling are fixed.
    struct TileDesign {
        const char* name;
        CGSize size;
        void (*draw)(CGSize);
    };

    void fillRect(const CGRect& rect, CGFloat r, CGFloat g, CGFloat b, CGFloat a = 1)
    {
        UIColor(r, g, b, a).setFill();
        UIBezierPath::bezierPathWithRect(rect).fill();
    }

    void drawVerticalGradient(CGSize size, std::shared_ptr<UIColor> top, std::shared_ptr<UIColor> bottom)
    {
        auto gradient = CGGradientCreateWithColors(CGColorSpaceCreateDeviceRGB(), { std::move(top), std::move(bottom) }, { 0, 1 });
        CGContextDrawLinearGradient(UIGraphicsGetCurrentContext(), gradient, { 0, 0 }, { 0, size.height },
            kCGGradientDrawsBeforeStartLocation | kCGGradientDrawsAfterEndLocation);
    }

    const std::array<TileDesign, 11> kTiles { {
        // Background: deep blue with a faint diagonal weave.
        { "image.png", { 64, 64 }, [](CGSize s) {
             fillRect(CGRectMake(0, 0, s.width, s.height), 0.1, 0.18, 0.3);
             // The line x + y = 64 and its neighbours through the corners, so tiles join up.
             UIBezierPath weave;
             for (CGFloat offset : { 0.0, 64.0, 128.0 }) {
                 weave.moveToPoint({ offset - 64, 64 });
                 weave.addLineToPoint({ offset, 0 });
             }
             weave.setLineWidth(6);
             UIColor(1, 1, 1, 0.05).setStroke();
             weave.stroke();
         } },
        // A spark in the top-left corner.
        { "image2.png", { 53, 94 }, [](CGSize) {
             UIBezierPath star;
             star.moveToPoint({ 26.5, 10 });
             star.addQuadCurveToPoint({ 46, 47 }, { 30, 43 });
             star.addQuadCurveToPoint({ 26.5, 84 }, { 30, 51 });
             star.addQuadCurveToPoint({ 7, 47 }, { 23, 51 });
             star.addQuadCurveToPoint({ 26.5, 10 }, { 23, 43 });
             star.closePath();
             UIColor(0.973, 0.745, 0.286, 1).setFill();
             star.fill();
         } },
        // The folder's back: warm orange with a lighter edge.
        { "image3.png", { 48, 48 }, [](CGSize s) {
             fillRect(CGRectMake(0, 0, s.width, s.height), 0.969, 0.55, 0.2);
             fillRect(CGRectMake(0, 0, s.width, 3), 0.99, 0.7, 0.35);
         } },
        // The sheet of paper: white with a faint grid.
        { "image4.png", { 32, 32 }, [](CGSize s) {
             fillRect(CGRectMake(0, 0, s.width, s.height), 0.99, 0.99, 0.98);
             fillRect(CGRectMake(31, 0, 1, 32), 0.9, 0.92, 0.95);
             fillRect(CGRectMake(0, 31, 32, 1), 0.9, 0.92, 0.95);
         } },
        // A small blue badge on the sheet.
        { "image5.png", { 113, 113 }, [](CGSize s) {
             UIColor(0.271, 0.522, 0.831, 1).setFill();
             UIBezierPath::bezierPathWithRoundedRect(CGRectMake(8, 8, s.width - 16, s.height - 16), 20).fill();
             UIColor(1, 1, 1, 1).setFill();
             UIBezierPath::bezierPathWithOvalInRect(CGRectMake(40, 40, 33, 33)).fill();
         } },
        // The folder's front pocket.
        { "image6.png", { 630, 207 }, [](CGSize s) {
             drawVerticalGradient(s, UIColor::colorWithRed(0.98, 0.62, 0.25, 1), UIColor::colorWithRed(0.93, 0.42, 0.13, 1));
         } },
        // The sky band along the top edge.
        { "image7.png", { 24, 24 }, [](CGSize s) {
             fillRect(CGRectMake(0, 0, s.width, s.height), 0.224, 0.792, 0.455);
             UIColor(1, 1, 1, 0.18).setFill();
             UIBezierPath::bezierPathWithOvalInRect(CGRectMake(9, 9, 6, 6)).fill();
         } },
        // Its lighter overlap.
        { "image8.png", { 40, 40 }, [](CGSize s) { fillRect(CGRectMake(0, 0, s.width, s.height), 0.36, 0.85, 0.56); } },
        // The upright pencil.
        { "image9.png", { 96, 248 }, [](CGSize s) {
             fillRect(CGRectMake(28, 0, 40, s.height - 40), 0.973, 0.745, 0.286);
             UIBezierPath tip;
             tip.moveToPoint({ 28, s.height - 40 });
             tip.addLineToPoint({ 68, s.height - 40 });
             tip.addLineToPoint({ 48, s.height });
             tip.closePath();
             UIColor(0.32, 0.31, 0.31, 1).setFill();
             tip.fill();
         } },
        // Text lines: grey dashes.
        { "image10.png", { 40, 12 }, [](CGSize) { fillRect(CGRectMake(0, 0, 30, 6), 0.55, 0.57, 0.6); } },
        // The heading line: a blue dash.
        { "image11.png", { 40, 12 }, [](CGSize) { fillRect(CGRectMake(0, 0, 34, 6), 0.09, 0.494, 0.984); } },
    } };

    std::shared_ptr<UIImage> drawnTile(size_t index)
    {
        static std::array<std::once_flag, kTiles.size()> once;
        static std::array<std::shared_ptr<UIImage>, kTiles.size()> images;
        std::call_once(once[index], [index] {
            auto& design = kTiles[index];
            UIGraphicsBeginImageContextWithOptions(design.size, false, 2);
            design.draw(design.size);
            images[index] = UIGraphicsGetImageFromCurrentImageContext();
            UIGraphicsEndImageContext();
        });
        return images[index];
    }

    std::shared_ptr<UIImage> tileImage(size_t index)
    {
        if (auto bundled = UIImage::imageNamed(kTiles[index].name))
            return bundled;
        return drawnTile(index);
    }

    // Fills the rectangle with the image tiled at its natural size from the rectangle's top-left
    // corner, composited as one group. A missing image leaves the rectangle untouched.
    void drawTiledRect(CGContextRef context, const CGRect& r, const std::shared_ptr<UIImage>& image)
    {
        if (!image)
            return;
        CGContextSaveGState(context);
        CGContextBeginTransparencyLayer(context, nullptr);
        CGContextClipToRect(context, r);
        CGContextSaveGState(context);
        CGContextBeginTransparencyLayer(context, nullptr);
        CGContextClipToRect(context, r);
        CGContextSaveGState(context);
        CGContextClipToRect(context, r);
        CGContextScaleCTM(context, 1, -1);
        CGContextDrawTiledImage(context, CGRectMake(r.origin.x, -r.origin.y, image->size().width, image->size().height), image);
        CGContextRestoreGState(context);
        CGContextEndTransparencyLayer(context);
        CGContextRestoreGState(context);
        CGContextEndTransparencyLayer(context);
        CGContextRestoreGState(context);
    }

    // The named font, or the system font at the largest size up to the given one at which the
    // text fits the width on one line.
    std::shared_ptr<UIFont> fontOrFallback(const std::string& name, CGFloat size, const std::string& text, CGFloat width)
    {
        if (auto font = UIFont::fontWithName(name, size))
            return font;
        auto fallback = UIFont::systemFontOfSize(size);
        NSStringAttributes measure;
        measure.font = fallback;
        auto natural = sizeWithAttributes(text, measure).width;
        if (natural > width && natural > 0)
            fallback = UIFont::systemFontOfSize(size * width / natural * 0.98);
        return fallback;
    }

    void drawLeftAlignedText(const std::string& text, const CGRect& rect, const std::shared_ptr<UIFont>& font, std::shared_ptr<UIColor> color)
    {
        NSStringAttributes attributes;
        attributes.font = font;
        attributes.foregroundColor = std::move(color);
        attributes.paragraphStyle = NSParagraphStyle::defaultParagraphStyle();
        attributes.paragraphStyle.alignment = NSTextAlignmentLeft;
        drawInRect(text, rect, attributes);
    }

}

void VeskAssets::drawVeskIcon()
{
    auto* context = UIGraphicsGetCurrentContext();
    if (!context)
        return;

    // All images are looked up before anything is drawn.
    std::array<std::shared_ptr<UIImage>, kTiles.size()> images;
    for (size_t i = 0; i < kTiles.size(); ++i)
        images[i] = tileImage(i);

    struct Layer {
        CGRect rect;
        size_t image;
    };
    static const Layer layers[] = {
        { CGRectMake(0, 4, 1024, 1024), 0 },
        { CGRectMake(100, 181, 53, 94), 1 },
        { CGRectMake(143, 423, 738, 798), 2 },
        { CGRectMake(174, 452, 675, 680), 3 },
        { CGRectMake(198, 472, 113, 113), 4 },
        { CGRectMake(198, 971, 630, 207), 5 },
        { CGRectMake(188, -28, 648, 337), 6 },
        { CGRectMake(322, -32, 500, 325), 7 },
        { CGRectMake(678, 24, 96, 248), 8 },
        { CGRectMake(212, 891, 601, 6), 9 },
        { CGRectMake(212, 800, 601, 6), 9 },
        { CGRectMake(212, 709, 601, 6), 9 },
        { CGRectMake(212, 618, 601, 6), 9 },
        { CGRectMake(312, 527, 499, 6), 10 },
    };
    for (auto& layer : layers)
        drawTiledRect(context, layer.rect, images[layer.image]);

    const std::string word = "Vesk";
    auto wordRect = CGRectMake(338.22, 512.95, 361.68, 387);
    drawLeftAlignedText(word, wordRect, fontOrFallback("HanziPenSC-W5", 229.93, word, wordRect.size.width),
        UIColor::colorWithRed(0, 0, 0, 1));

    const std::string mark = "©Vesk";
    auto markRect = CGRectMake(781.85, 1013.6, 36.31, 13);
    drawLeftAlignedText(mark, markRect, fontOrFallback("STHeitiSC-Light", 10, mark, markRect.size.width),
        UIColor::colorWithRed(1, 1, 1, 1));
}

}
