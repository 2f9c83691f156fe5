#include "assets/UIColorVesk.h"
#include "assets/VeskAssets.h"
#include "assets/VeskAssetsShapes.h"

#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/graphics/UIGraphics.h"

#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

namespace vesk {

using namespace platform;
using namespace assetshapes;

namespace {

    using UIColorPtr = VeskAssets::UIColorPtr;

    UIColorPtr glyphColor()
    {
        return UIColor::colorWithRed(0.929, 0.945, 0.949, 1);
    }

    // The page, its fold shading under the cut corner (down to y fold) and nothing else.
    void drawPage(const UIColorPtr& color, CGFloat height, CGFloat fold)
    {
        color->setFill();
        pagePath(height).fill();
        fillFoldShading(fold);
    }

    // Outlined glyphs get a hairline stroke over their fill, which keeps thin bands visible.
    void drawOutlinedGlyph(const UIBezierPath& glyph)
    {
        UIColorPtr color = glyphColor();
        color->setFill();
        glyph.fill();
        UIBezierPath stroked = glyph;
        color->setStroke();
        stroked.setLineWidth(0);
        stroked.stroke();
    }

    void drawFilmStrip(const UIColorPtr& color, CGFloat fold)
    {
        drawPage(color, 52, fold);
        Shape strip;
        strip.add(roundedRect(7.88, 12.53, 32.88, 43.53, 0.57));
        for (CGFloat top : { 13.63, 18.62, 23.6, 28.58, 33.56, 38.55 }) {
            strip.hole(roundedRect(9.02, top, 11.29, top + 3.87, 0));
            strip.hole(roundedRect(29.47, top, 31.74, top + 3.87, 0));
        }
        strip.hole(roundedRect(12.42, 13.63, 28.33, 22.49, 0));
        strip.hole(roundedRect(12.42, 23.6, 28.33, 32.46, 0));
        strip.hole(roundedRect(12.42, 33.56, 28.33, 42.42, 0));
        drawOutlinedGlyph(strip.path());
    }

    struct GearSize {
        CGFloat tipX, tipY, rootX, rootY;
    };

    // Eight trapezoid teeth round an elliptical wheel, the first pointing right.
    Contour gearContour(CGFloat cx, CGFloat cy, GearSize size)
    {
        constexpr CGFloat tipHalf = 9, baseHalf = 13;
        Contour contour(cx + size.rootX * std::cos(-baseHalf * std::numbers::pi / 180), cy + size.rootY * std::sin(-baseHalf * std::numbers::pi / 180));
        for (int tooth = 0; tooth < 8; ++tooth) {
            CGFloat angle = tooth * 45.0;
            auto point = [&](CGFloat degrees, CGFloat rx, CGFloat ry) {
                CGFloat radians = degrees * std::numbers::pi / 180;
                return CGPoint { cx + rx * std::cos(radians), cy + ry * std::sin(radians) };
            };
            CGPoint tipStart = point(angle - tipHalf, size.tipX, size.tipY);
            CGPoint rootEnd = point(angle + baseHalf, size.rootX, size.rootY);
            contour.lineTo(tipStart.x, tipStart.y);
            contour.arc(cx, cy, size.tipX, size.tipY, angle - tipHalf, angle + tipHalf);
            contour.lineTo(rootEnd.x, rootEnd.y);
            contour.arc(cx, cy, size.rootX, size.rootY, angle + baseHalf, angle + 45 - baseHalf);
        }
        return contour;
    }

    // A toothed wheel as a band of the given width with a hub ring in its middle.
    UIBezierPath gear(CGFloat cx, CGFloat cy, GearSize outer, CGFloat band, CGFloat hubX, CGFloat hubY, CGFloat hubBand)
    {
        GearSize inner { outer.tipX - band, outer.tipY - band, outer.rootX - band, outer.rootY - band };
        Shape shape;
        shape.add(gearContour(cx, cy, outer));
        shape.hole(gearContour(cx, cy, inner));
        shape.add(ellipse(cx, cy, hubX, hubY));
        shape.hole(ellipse(cx, cy, hubX - hubBand, hubY - hubBand));
        return shape.path();
    }

    // Two eighth notes under one beam, as a contour moved d points inwards from the outline.
    Contour notesContour(CGFloat d)
    {
        auto beamTop = [](CGFloat x) { return 13.92 + (x - 12.24) * (11.99 - 13.92) / (29.21 - 12.24); };
        auto beamBottom = [&](CGFloat x) { return beamTop(x) + 4.2; };
        constexpr CGFloat headRx = 5.3, headRy = 4.15;
        constexpr CGFloat leftHeadX = 10.1, leftHeadY = 34.55, rightHeadX = 24.4, rightHeadY = 32.65;
        CGFloat rx = headRx - d, ry = headRy - d;
        // Where a stem's left edge meets the top of its head, in degrees.
        auto meetAngle = [&](CGFloat stemX, CGFloat headX) {
            return 360 - std::acos((stemX - headX) / rx) * 180 / std::numbers::pi;
        };
        CGFloat leftStemL = 11.84 + d, leftStemR = 15.41 - d, rightStemL = 26.13 + d, rightStemR = 29.7 - d;
        Contour contour(leftStemL, beamTop(leftStemL) + d);
        contour.lineTo(rightStemR, beamTop(rightStemR) + d);
        contour.arc(rightHeadX, rightHeadY, rx, ry, 0, meetAngle(rightStemL, rightHeadX));
        contour.lineTo(rightStemL, beamBottom(rightStemL) - d);
        contour.lineTo(leftStemR, beamBottom(leftStemR) - d);
        contour.arc(leftHeadX, leftHeadY, rx, ry, 0, meetAngle(leftStemL, leftHeadX));
        return contour;
    }

    UIBezierPath swiftBird()
    {
        Contour bird(3.22, 28.48);
        bird.curveTo(18.2, 33.9, 7.5, 32.3, 12.6, 34.4)
            .curveTo(27.4, 31.9, 22.2, 33.5, 25.1, 32.6)
            .curveTo(32.79, 37.75, 30.0, 33.2, 31.9, 35.2)
            .curveTo(33.0, 28.2, 33.1, 34.6, 33.1, 31.3)
            .curveTo(21.49, 11.19, 32.3, 20.4, 27.6, 14.4)
            .curveTo(25.3, 24.0, 24.9, 15.5, 25.9, 20.0)
            .curveTo(9.65, 13.6, 20.4, 21.0, 14.6, 17.3)
            .curveTo(19.3, 23.6, 12.8, 17.1, 15.9, 20.7)
            .curveTo(6.24, 15.32, 14.8, 20.9, 10.1, 18.1)
            .curveTo(20.6, 27.5, 10.1, 20.2, 15.2, 24.6)
            .curveTo(24.9, 27.9, 22.1, 28.1, 23.6, 28.3)
            .curveTo(13.2, 29.2, 21.0, 29.8, 16.7, 30.1)
            .curveTo(3.22, 28.48, 9.3, 28.6, 5.6, 27.3);
        return Shape().add(bird).path();
    }

    // The globe's sixteen cells: the inside of the rim cut by three meridians and three
    // parallels. Each cell is traced by casting rays from its middle to its edge.
    std::vector<Contour> makeGlobeCells()
    {
        constexpr CGFloat cx = 20.25, cy = 24.29;
        auto meridian = [&](CGFloat y, CGFloat semiAxis) {
            CGFloat t = (y - cy) / 13.5;
            return semiAxis * std::sqrt(std::max(0.0, 1 - t * t));
        };
        auto parallel = [&](CGFloat x) {
            CGFloat t = (x - cx) / 13;
            return 7.4 - 1.6 * t * t;
        };
        auto column = [&](CGFloat x, CGFloat y) {
            CGFloat dx = x - cx;
            if (dx < -meridian(y, 7.5))
                return 0;
            if (dx > -meridian(y, 6.5) && dx < -0.5)
                return 1;
            if (dx > 0.5 && dx < meridian(y, 6.5))
                return 2;
            if (dx > meridian(y, 7.5))
                return 3;
            return -1;
        };
        auto row = [&](CGFloat x, CGFloat y) {
            CGFloat dy = y - cy;
            CGFloat h = parallel(x);
            if (dy < -h - 0.5)
                return 0;
            if (dy > -h + 0.5 && dy < -0.485)
                return 1;
            if (dy > 0.485 && dy < h - 0.5)
                return 2;
            if (dy > h + 0.5)
                return 3;
            return -1;
        };
        auto inCell = [&](int c, int r, CGFloat x, CGFloat y) {
            CGFloat ex = (x - cx) / 13, ey = (y - cy) / 12.5;
            return ex * ex + ey * ey < 1 && column(x, y) == c && row(x, y) == r;
        };

        std::vector<Contour> cells;
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                CGFloat sx = 0, sy = 0;
                int count = 0;
                for (CGFloat y = cy - 12.5; y <= cy + 12.5; y += 0.25) {
                    for (CGFloat x = cx - 13; x <= cx + 13; x += 0.25) {
                        if (inCell(c, r, x, y)) {
                            sx += x;
                            sy += y;
                            ++count;
                        }
                    }
                }
                CGPoint middle { sx / count, sy / count };
                constexpr int rays = 96;
                std::vector<CGPoint> edge;
                for (int i = 0; i < rays; ++i) {
                    CGFloat angle = 2 * std::numbers::pi * i / rays;
                    CGFloat dx = std::cos(angle), dy = std::sin(angle);
                    CGFloat inside = 0, outside = 0.05;
                    while (outside < 30 && inCell(c, r, middle.x + dx * outside, middle.y + dy * outside)) {
                        inside = outside;
                        outside += 0.05;
                    }
                    for (int step = 0; step < 16; ++step) {
                        CGFloat half = (inside + outside) / 2;
                        (inCell(c, r, middle.x + dx * half, middle.y + dy * half) ? inside : outside) = half;
                    }
                    edge.push_back({ middle.x + dx * inside, middle.y + dy * inside });
                }
                Contour cell(edge[0]);
                for (size_t i = 1; i < edge.size(); ++i)
                    cell.lineTo(edge[i].x, edge[i].y);
                cells.push_back(cell);
            }
        }
        return cells;
    }

    UIBezierPath globe()
    {
        // The cells never change: trace them once.
        static const std::vector<Contour> cells = makeGlobeCells();
        Shape shape;
        shape.add(ellipse(20.25, 24.29, 14, 13.5));
        for (const Contour& cell : cells)
            shape.hole(cell);
        return shape.path();
    }

    UIBezierPath zipper()
    {
        Shape shape;
        for (int i = 0; i < 8; ++i)
            shape.add(roundedRect(18, 4 * i, 20, 4 * i + 2, 0));
        for (int i = 0; i < 7; ++i)
            shape.add(roundedRect(20, 4 * i + 2, 22, 4 * i + 4, 0));
        // The pull: a neck, then a body widening to a flat bottom with rounded corners.
        shape.add(Contour(20, 30)
                      .lineTo(22, 30)
                      .lineTo(22, 32.6)
                      .curveTo(24, 36, 23.3, 33.3, 24, 34.5)
                      .lineTo(24, 42)
                      .curveTo(22, 44, 24, 43.1, 23.1, 44)
                      .lineTo(18, 44)
                      .curveTo(16, 42, 16.9, 44, 16, 43.1)
                      .lineTo(16, 36)
                      .curveTo(20, 32, 16, 34, 18.5, 32.3));
        shape.hole(Contour(20, 38)
                       .curveTo(22, 40.5, 21.2, 38.6, 22, 39.5)
                       .lineTo(22, 42)
                       .lineTo(18, 42)
                       .lineTo(18, 40.5)
                       .curveTo(20, 38, 18, 39.5, 18.8, 38.6));
        return shape.path();
    }

    void strokePath(const UIColorPtr& color, UIBezierPath path)
    {
        color->setStroke();
        path.setLineWidth(3);
        path.stroke();
    }

    void strokeLine(const UIColorPtr& color, CGPoint from, CGPoint to)
    {
        UIBezierPath line;
        line.moveToPoint(from);
        line.addLineToPoint(to);
        strokePath(color, line);
    }

}

void VeskAssets::drawVideoIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    drawFilmStrip(fileFillColor, 11);
}

void VeskAssets::drawVideoIcon2WithFileFillColor(const UIColorPtr& fileFillColor)
{
    drawFilmStrip(fileFillColor, 10.79);
}

void VeskAssets::drawVideoIcon3WithFileFillColor(const UIColorPtr& fileFillColor)
{
    drawFilmStrip(fileFillColor, 10.79);
}

void VeskAssets::drawExecutableIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    drawPage(fileFillColor, 52, 11);
    drawOutlinedGlyph(gear(15.06, 18.1, { 12.5, 13, 9.75, 10.1 }, 0.9, 4.45, 4.65, 0.9));
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, 16.56, 27.1);
    CGContextRotateCTM(context, -22 * std::numbers::pi / 180);
    drawOutlinedGlyph(gear(10, 10, { 10, 10, 7.8, 7.8 }, 0.71, 3.57, 3.57, 0.71));
    CGContextRestoreGState(context);
}

void VeskAssets::drawFileIconWithFileFillColor(const UIColorPtr& fileFillColor, const std::string& suffix)
{
    drawPage(fileFillColor, 52, 11);
    if (!suffix.empty())
        drawCentredText(suffix, CGRectMake(2, 7, 36, 36), "Helvetica", 15, UIColor::whiteColor());
}

void VeskAssets::drawImageIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    drawPage(fileFillColor, 52, 11);
    Shape picture;
    picture.add(roundedRect(3.71, 12.04, 36.71, 38.04, 1.17));
    picture.hole(roundedRect(4.88, 13.22, 35.53, 36.86, 0));
    picture.add(polygon({ { 7.83, 34.5 }, { 32.58, 34.5 }, { 25.5, 25.1 }, { 21.97, 28.34 }, { 16.1, 22.7 } }));
    picture.hole(polygon({ { 16.14, 24.16 }, { 21.56, 29.6 }, { 25.48, 26.5 }, { 31.3, 33.31 }, { 9.04, 33.31 } }));
    picture.add(circle(30.81, 17.95, 2.355));
    picture.hole(circle(30.81, 17.95, 1.18));
    drawOutlinedGlyph(picture.path());
}

void VeskAssets::drawMusicIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    drawPage(fileFillColor, 52, 11);
    drawOutlinedGlyph(Shape().add(notesContour(0)).hole(notesContour(0.9)).path());
}

void VeskAssets::drawSwiftIcon()
{
    drawPage(swiftColor(), 52, 11);
    fillPath(swiftBird(), UIColor::colorWithRed(1, 1, 1, 1));
}

void VeskAssets::drawStringsIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    drawPage(fileFillColor, 51, 11);
    fillPath(globe(), glyphColor());
}

void VeskAssets::drawZipIcon()
{
    drawPage(zipColor(), 51, 11);
    fillPath(zipper(), colorWithBrightness(*zipColor(), 0.5));
}

void VeskAssets::drawFolderIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    Shape folder;
    folder.add(Contour(0, 12.1)
                   .lineTo(56, 12.1)
                   .lineTo(56, 44.01)
                   .curveTo(52, 48, 56, 46.21, 54.21, 48)
                   .lineTo(4, 48)
                   .curveTo(0, 44.01, 1.79, 48, 0, 46.21));
    folder.add(Contour(0, 10.15)
                   .lineTo(0, 4.06)
                   .curveTo(4, 0, 0, 1.82, 1.82, 0)
                   .lineTo(15, 0)
                   .curveTo(25, 4.06, 20, 0, 20, 4.06)
                   .lineTo(52, 4.06)
                   .curveTo(56, 8.12, 54.21, 4.06, 56, 5.88)
                   .lineTo(56, 10.15));
    fillPath(folder.path(), fileFillColor);
}

void VeskAssets::drawDefaultIconWithIconFillColor(const UIColorPtr& iconFillColor)
{
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    for (CGRect rect : { CGRectMake(75, 75, 90, 90), CGRectMake(56.5, 56.5, 127, 127), CGRectMake(15.5, 14.5, 210, 210) })
        strokePath(iconFillColor, UIBezierPath::bezierPathWithOvalInRect(rect));

    UIBezierPath diagonal;
    diagonal.moveToPoint(CGPointMake(0.5, -0.5));
    diagonal.addCurveToPoint(CGPointMake(240.5, 239.5), CGPointMake(245.1, 242.77), CGPointMake(240.5, 239.5));
    strokePath(iconFillColor, diagonal);

    CGContextSaveGState(context);
    CGContextTranslateCTM(context, 0.5, 239.5);
    CGContextRotateCTM(context, -std::numbers::pi / 2);
    UIBezierPath other;
    other.moveToPoint(CGPointMake(0, 0));
    other.addCurveToPoint(CGPointMake(240, 240), CGPointMake(244.6, 243.27), CGPointMake(240, 240));
    strokePath(iconFillColor, other);
    CGContextRestoreGState(context);

    for (CGFloat y : { 14.5, 74.5, 119.5, 164.5, 224.5 })
        strokeLine(iconFillColor, CGPointMake(0.5, y), CGPointMake(240.5, y));
    for (CGFloat x : { 15.5, 75.5, 120.5, 165.5, 225.5 })
        strokeLine(iconFillColor, CGPointMake(x, -0.5), CGPointMake(x, 239.5));

    strokePath(iconFillColor, UIBezierPath::bezierPathWithRoundedRect(CGRectMake(0.5, 0.5, 239, 239), 51));
}

}
