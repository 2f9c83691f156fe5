#include "assets/VeskAssets.h"
#include "assets/VeskAssetsShapes.h"

#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/graphics/UIGraphics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>

namespace vesk {

using namespace platform;
using namespace assetshapes;

namespace {

    // The hundredfold progress rounded half away from zero. Values that no 64-bit integer holds
    // are clamped to the nearest end of the range, and a value that is not a number reads as 0,
    // so no conversion is ever undefined.
    std::string percentText(CGFloat progress)
    {
        CGFloat hundredfold = std::round(progress * 100);
        constexpr CGFloat twoTo63 = 9223372036854775808.0;
        int64_t value;
        if (std::isnan(hundredfold))
            value = 0;
        else if (hundredfold >= twoTo63)
            value = std::numeric_limits<int64_t>::max();
        else if (hundredfold < -twoTo63)
            value = std::numeric_limits<int64_t>::min();
        else
            value = int64_t(hundredfold);
        return std::to_string(value) + "%";
    }

    // The fraction of the dial that is done, in 0 to 1: progress outside that range turns on
    // round the dial (1.5 looks like 0.5, 2 like 1), so huge or infinite values stay drawable.
    CGFloat dialFraction(CGFloat progress)
    {
        if (std::isnan(progress))
            return 0;
        if (progress >= 0 && progress <= 1)
            return progress;
        if (std::isinf(progress))
            return progress > 0 ? 1 : 0;
        CGFloat fraction = progress - std::floor(progress);
        return fraction == 0 && progress > 1 ? 1 : fraction;
    }

    // The grey band lies wholly off the canvas beyond -1 and 1, so clamping keeps every pixel
    // while keeping the coordinates small.
    CGFloat bandFraction(CGFloat progress)
    {
        if (std::isnan(progress))
            return 0;
        return std::clamp(progress, -1.0, 1.0);
    }

    UIBezierPath downloadGlyph()
    {
        Shape glyph;
        // The tray.
        glyph.add(roundedRect(9, 15.71, 30.82, 36.86, 2));
        // The arrow inside the tray, cut through to the page.
        glyph.hole(Contour(18.46, 15.71)
                       .lineTo(18.46, 24.45)
                       .lineTo(12.15, 20.21)
                       .curveTo(12.15, 22.26, 11.2, 20.21, 11.2, 22.26)
                       .lineTo(19.0, 28.55)
                       .curveTo(20.82, 28.55, 19.4, 29.7, 20.42, 29.7)
                       .lineTo(27.66, 22.26)
                       .curveTo(27.66, 20.21, 28.61, 22.26, 28.61, 20.21)
                       .lineTo(21.36, 24.45)
                       .lineTo(21.35, 15.71));
        // The shaft above the tray.
        glyph.add(Contour(18.46, 15.71)
                      .lineTo(18.46, 12.45)
                      .curveTo(19.91, 11, 18.46, 11.65, 19.11, 11)
                      .curveTo(21.35, 12.45, 20.71, 11, 21.35, 11.65)
                      .lineTo(21.35, 15.71));
        return glyph.path();
    }

}

void VeskAssets::drawCircularProgresWithTransparentColor(const UIColorPtr& transparentColor, const UIColorPtr& circularProgresTextColor,
    CGFloat progres)
{
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context)
        return;

    const UIColorPtr& progressColor = progres > 0.75 ? flatGreen()
        : progres > 0.5                              ? flatYellow()
        : progres > 0.25                             ? flatOrange()
                                                     : flatRed();

    // Outer disc.
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, 123, 123);
    UIBezierPath disc = UIBezierPath::bezierPathWithOvalInRect(CGRectMake(-119.5, -119.5, 239, 239));
    progressColor->setFill();
    disc.fill();
    UIColor::grayColor()->setStroke();
    disc.setLineWidth(1);
    disc.stroke();
    CGContextRestoreGState(context);

    // Grey wedge over the part still to do, from the progress position round to 12 o'clock.
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, 123, 123);
    CGRect wedgeRect = CGRectMake(-119, -119, 238, 238);
    CGPoint centre = CGPointMake(CGRectGetMidX(wedgeRect), CGRectGetMidY(wedgeRect));
    CGFloat startAngle = (90 - 360 * dialFraction(progres)) * -std::numbers::pi / 180;
    UIBezierPath wedge;
    wedge.addArcWithCenter(centre, wedgeRect.size.width / 2, startAngle, 3 * std::numbers::pi / 2, true);
    wedge.addLineToPoint(centre);
    wedge.closePath();
    UIColor::colorWithRed(0.907, 0.907, 0.907, 1)->setFill();
    wedge.fill();
    CGContextRestoreGState(context);

    // Inner disc.
    transparentColor->setFill();
    UIBezierPath::bezierPathWithOvalInRect(CGRectMake(34, 33, 178, 178)).fill();

    drawCentredText(percentText(progres), CGRectMake(45, 74, 154, 94), "Helvetica", 60, circularProgresTextColor);
}

void VeskAssets::drawDynamicDownloadIconWithDLIconProgress(CGFloat DLIconProgress)
{
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context)
        return;

    // Page with its top-right corner cut off.
    UIBezierPath page = pagePath(52);
    page.closePath();

    CGContextSaveGState(context);
    page.addClip();
    CGGradientRef gradient = CGGradientCreateWithColors(CGColorSpaceCreateDeviceRGB(),
        { flatGreen(), UIColor::colorWithRed(0.302, 0.475, 0.737, 1) }, { 0, 1 });
    CGContextDrawLinearGradient(context, gradient, CGPointMake(20, 0), CGPointMake(20, 52), kCGGradientDrawsNone);
    CGContextRestoreGState(context);

    // Grey band over the part not yet downloaded, across the whole width.
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, 0, -1);
    UIColor::colorWithRed(0.545, 0.545, 0.545, 1)->setFill();
    UIBezierPath::bezierPathWithRect(CGRectMake(0, 1 - 53 * bandFraction(DLIconProgress), 40, 53)).fill();
    CGContextRestoreGState(context);

    fillPath(downloadGlyph(), UIColor::colorWithRed(1, 1, 1, 1));

    fillFoldShading(11);

    // The corner flap, turned over onto the page.
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, 40, 11);
    CGContextRotateCTM(context, -std::numbers::pi);
    UIBezierPath flap;
    flap.moveToPoint(CGPointMake(0, 0));
    flap.addLineToPoint(CGPointMake(0, 11));
    flap.addLineToPoint(CGPointMake(11, 11));
    flap.closePath();
    UIColor::whiteColor()->setFill();
    flap.fill();
    CGContextRestoreGState(context);

    drawCentredText(percentText(DLIconProgress), CGRectMake(0, 40, 40, 12), "", 10, UIColor::whiteColor());
}

}
