#include "assets/VeskAssets.h"
#include "assets/VeskAssetsShapes.h"

#include "platform/graphics/UIBezierPath.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace vesk {

using namespace platform;
using namespace assetshapes;

namespace {

    void fillGlyph(const Shape& shape)
    {
        fillPath(shape.path(), VeskAssets::iOSDefaultTint());
    }

    // A serif letter i (without its dot) as one contour.
    struct LetterI {
        CGFloat serifLeft, serifTop, serifBottom; // the slanted top serif's left end
        CGPoint topRight; // where the top edge ends
        CGFloat stemLeft, stemRight;
        CGFloat footLeft, footRight, footTop, footBottom;
    };

    Contour letterI(const LetterI& i)
    {
        CGFloat bend = 0.6;
        Contour contour(i.serifLeft, i.serifTop);
        contour.lineTo(i.topRight.x, i.topRight.y)
            .curveTo(i.stemRight, i.topRight.y + 0.25, i.stemRight - 0.05, i.topRight.y, i.stemRight, i.topRight.y + 0.1)
            .lineTo(i.stemRight, i.footTop - bend)
            .curveTo(i.stemRight + bend, i.footTop, i.stemRight, i.footTop - 0.2, i.stemRight + 0.2, i.footTop)
            .lineTo(i.footRight, i.footTop)
            .lineTo(i.footRight, i.footBottom)
            .lineTo(i.footLeft, i.footBottom)
            .lineTo(i.footLeft, i.footTop)
            .lineTo(i.stemLeft - bend, i.footTop)
            .curveTo(i.stemLeft, i.footTop - bend, i.stemLeft - 0.2, i.footTop, i.stemLeft, i.footTop - 0.2)
            .lineTo(i.stemLeft, i.serifBottom)
            .lineTo(i.serifLeft, i.serifBottom);
        return contour;
    }

    CGAffineTransform mirrorX(CGFloat axis)
    {
        return { -1, 0, 0, 1, 2 * axis, 0 };
    }

}

void VeskAssets::drawTrashIcon()
{
    Shape shape;
    // Lid bar with the handle on top, and the tapered body below.
    shape.add(Contour(0.555, 3.32)
                  .lineTo(7.14, 3.32)
                  .lineTo(7.14, 1.11)
                  .curveTo(8.25, 0, 7.14, 0.5, 7.64, 0)
                  .lineTo(16.75, 0)
                  .curveTo(17.86, 1.11, 17.36, 0, 17.86, 0.5)
                  .lineTo(17.86, 3.32)
                  .lineTo(24.445, 3.32)
                  .curveTo(24.445, 4.43, 25.19, 3.32, 25.19, 4.43)
                  .lineTo(23.81, 4.43)
                  .lineTo(21.43, 28.79)
                  .curveTo(19.2, 31, 21.33, 29.9, 20.3, 31)
                  .lineTo(5.8, 31)
                  .curveTo(3.57, 28.79, 4.7, 31, 3.67, 29.9)
                  .lineTo(1.19, 4.43)
                  .lineTo(0.555, 4.43)
                  .curveTo(0.555, 3.32, -0.19, 4.43, -0.19, 3.32));
    shape.hole(roundedRect(8.33, 1.11, 16.67, 3.32, 0));
    shape.hole(Contour(2.38, 4.43)
                   .lineTo(22.62, 4.43)
                   .lineTo(20.24, 28.79)
                   .curveTo(19.14, 29.89, 20.18, 29.4, 19.7, 29.89)
                   .lineTo(5.86, 29.89)
                   .curveTo(4.76, 28.79, 5.3, 29.89, 4.82, 29.4));
    // Ribs, the outer two leaning outwards at the top.
    shape.add(capsule({ 12.5, 7.24 }, { 12.5, 27.08 }, 1.2));
    shape.add(capsule({ 7.7, 7.24 }, { 9.0, 27.08 }, 1.2));
    shape.add(capsule({ 17.3, 7.24 }, { 16.0, 27.08 }, 1.2));
    fillGlyph(shape);
}

void VeskAssets::drawBookmarkIcon()
{
    Shape shape;
    // Both pages with the notch at the spine's top and its foot below.
    shape.add(Contour(2.53, 0.13)
                  .lineTo(16.6, 0.13)
                  .curveTo(17.97, 1.01, 17.2, 0.13, 17.5, 1.01)
                  .curveTo(19.34, 0.13, 18.44, 1.01, 18.74, 0.13)
                  .lineTo(33.42, 0.13)
                  .curveTo(36, 2.71, 34.85, 0.13, 36, 1.28)
                  .lineTo(36, 25.85)
                  .curveTo(33.42, 28.43, 36, 27.28, 34.85, 28.43)
                  .lineTo(22.5, 28.43)
                  .curveTo(18.62, 31, 20.4, 28.43, 19.2, 29.6)
                  .lineTo(17.33, 31)
                  .curveTo(13.45, 28.43, 16.75, 29.6, 15.55, 28.43)
                  .lineTo(2.53, 28.43)
                  .curveTo(-0.05, 25.85, 1.1, 28.43, -0.05, 27.28)
                  .lineTo(-0.05, 2.71)
                  .curveTo(2.53, 0.13, -0.05, 1.28, 1.1, 0.13));
    Contour leftPage = Contour(2.53, 1.42)
                           .lineTo(17.33, 1.42)
                           .lineTo(17.33, 28.11)
                           .curveTo(13.9, 27.14, 16.3, 27.3, 15.2, 27.14)
                           .lineTo(2.53, 27.14)
                           .curveTo(1.24, 25.85, 1.82, 27.14, 1.24, 26.56)
                           .lineTo(1.24, 2.71)
                           .curveTo(2.53, 1.42, 1.24, 2.0, 1.82, 1.42);
    shape.hole(leftPage);
    shape.hole(leftPage.transformed(mirrorX(17.975)));
    fillGlyph(shape);
}

void VeskAssets::drawCutIcon()
{
    Shape shape;
    for (CGFloat cy : { 5.09, 25.58 }) {
        shape.outline(circle(5.12, cy, 5.15), 1.15);
        shape.outline(circle(5.12, cy, 2.29), 1.14);
    }
    // The upper blade grows from the lower loop; the lower blade is its mirror image.
    Contour upperBlade = Contour(8.29, 21.52)
                             .lineTo(15.0, 12.6)
                             .curveTo(32, 4.06, 20.5, 6.0, 27.5, -1.2)
                             .lineTo(17.91, 15.34)
                             .lineTo(9.96, 23.82);
    shape.outline(upperBlade, 1.15);
    shape.outline(upperBlade.transformed({ 1, 0, 0, -1, 0, 30.67 }), 1.15);
    shape.add(circle(14.1, 15.33, 0.58));
    fillGlyph(shape);
}

void VeskAssets::drawComposeIcon()
{
    Shape shape;
    // The square, open at its top-right corner.
    shape.add(Contour(19.43, 5.55)
                  .lineTo(1.14, 5.55)
                  .arc(1.14, 6.69, 1.14, 1.14, 270, 180)
                  .lineTo(0, 29.86)
                  .arc(1.14, 29.86, 1.14, 1.14, 180, 90)
                  .lineTo(25.14, 31)
                  .arc(25.14, 29.86, 1.14, 1.14, 90, 0)
                  .lineTo(26.28, 12.19)
                  .arc(25.71, 12.19, 0.57, 0.57, 0, -180)
                  .lineTo(25.14, 29.86)
                  .lineTo(1.14, 29.86)
                  .lineTo(1.14, 6.69)
                  .lineTo(19.43, 6.69)
                  .arc(19.43, 6.12, 0.57, 0.57, 90, -90));
    // The pencil, drawn along its own axis: s from the point up the shaft, t across it.
    CGAffineTransform axis { 0.7182, -0.6959, 0.6959, 0.7182, 10.85, 20.49 };
    shape.add(polygon({ { 0, 0 }, { 3.41, -2.25 }, { 23.1, -2.25 }, { 23.1, 2.25 }, { 3.41, 2.25 } }).transformed(axis));
    shape.hole(polygon({ { 2.05, 0 }, { 3.77, -1.135 }, { 21.97, -1.135 }, { 21.97, 1.135 }, { 3.77, 1.135 } }).transformed(axis));
    // The cap, set off from the shaft by a thin gap, its end rounded against the right edge.
    CGPoint capBase1 = CGPointApplyAffineTransform({ 23.6, -2.25 }, axis);
    CGPoint capBase2 = CGPointApplyAffineTransform({ 23.6, 2.25 }, axis);
    shape.add(Contour(capBase1)
                  .lineTo(28.4, 0.33)
                  .curveTo(32, 1.91, 29.12, -0.37, 32, 1.0)
                  .lineTo(32, 3.49)
                  .curveTo(30.03, 5.07, 32, 4.2, 30.75, 4.37)
                  .lineTo(capBase2.x, capBase2.y));
    fillGlyph(shape);
}

void VeskAssets::drawShareIcon()
{
    Shape shape;
    shape.add(capsule({ 11.5, 0.55 }, { 11.5, 19.38 }, 1.1));
    shape.add(band({ { 7.49, 4.79 }, { 11.5, 0.78 }, { 15.51, 4.79 } }, 1.1));
    // The box, open where the arrow leaves it.
    shape.add(Contour(8.76, 8.86)
                  .lineTo(1.1, 8.86)
                  .arc(1.1, 9.96, 1.1, 1.1, 270, 180)
                  .lineTo(0, 29.9)
                  .arc(1.1, 29.9, 1.1, 1.1, 180, 90)
                  .lineTo(21.9, 31)
                  .arc(21.9, 29.9, 1.1, 1.1, 90, 0)
                  .lineTo(23, 9.96)
                  .arc(21.9, 9.96, 1.1, 1.1, 0, -90)
                  .lineTo(14.24, 8.86)
                  .arc(14.24, 9.41, 0.55, 0.55, 270, 90)
                  .lineTo(21.9, 9.96)
                  .lineTo(21.9, 29.9)
                  .lineTo(1.1, 29.9)
                  .lineTo(1.1, 9.96)
                  .lineTo(8.76, 9.96)
                  .arc(8.76, 9.41, 0.55, 0.55, 90, -90));
    fillGlyph(shape);
}

void VeskAssets::drawPackageIcon()
{
    Shape shape;
    Contour carton = Contour(5.14, 0)
                         .lineTo(26.86, 0)
                         .lineTo(32, 9.2)
                         .lineTo(32, 29.86)
                         .arc(30.86, 29.86, 1.14, 1.14, 0, 90)
                         .lineTo(1.14, 31)
                         .arc(1.14, 29.86, 1.14, 1.14, 90, 180)
                         .lineTo(0, 9.2);
    shape.outline(carton, 1.12);
    // The lid's lower edge, broken where the tape runs down.
    shape.add(Contour(0.6, 8.86).lineTo(10.88, 8.86).arc(10.88, 9.41, 0.55, 0.55, -90, 90).lineTo(0.6, 9.96));
    shape.add(Contour(31.4, 8.86).lineTo(21.12, 8.86).arc(21.12, 9.41, 0.55, 0.55, 270, 90).lineTo(31.4, 9.96));
    // The tape.
    shape.add(polygon({ { 13.71, 0.5 }, { 18.29, 0.5 }, { 19.43, 9.41 }, { 19.43, 15.5 }, { 12.57, 15.5 }, { 12.57, 9.41 } }));
    shape.hole(polygon({ { 14.86, 1.11 }, { 17.14, 1.11 }, { 18.29, 9.96 }, { 18.29, 14.39 }, { 13.71, 14.39 }, { 13.71, 9.96 } }));
    // Label lines and the arrow.
    shape.add(capsule({ 3.985, 23.805 }, { 14.305, 23.805 }, 1.11));
    shape.add(capsule({ 3.985, 27.125 }, { 12.015, 27.125 }, 1.11));
    shape.add(band({ { 25.7, 23.805 }, { 28.0, 23.805 }, { 28.0, 26.0 } }, 1.12));
    shape.add(capsule({ 24.7, 27.0 }, { 27.6, 24.2 }, 1.1));
    fillGlyph(shape);
}

void VeskAssets::drawDynamicCopy()
{
    Shape shape;
    // The board, its inside empty.
    shape.add(roundedRect(0, 3.32, 20, 31, 1));
    shape.hole(roundedRect(1, 4.43, 19, 29.89, 0));
    // The clip with its knob; the board's top edge does not show through the clip.
    shape.add(roundedRect(5, 1.11, 15, 6.64, 1));
    shape.hole(roundedRect(6, 2.21, 14, 5.54, 0));
    shape.hole(roundedRect(6, 3.32, 14, 4.43, 0));
    shape.add(Contour(9.5, 1.3).lineTo(9.5, 0.5).arc(10, 0.5, 0.5, 0.5, 180, 360).lineTo(10.5, 1.3));
    // The folded corner.
    shape.add(polygon({ { 19, 25.79 }, { 19, 27.35 }, { 16.71, 29.89 }, { 15.29, 29.89 } }));
    // Lines of text.
    shape.add(capsule({ 3.55, 13.84 }, { 16.45, 13.84 }, 1.1));
    shape.add(capsule({ 3.55, 17.16 }, { 13.45, 17.16 }, 1.1));
    shape.add(capsule({ 3.555, 20.485 }, { 16.445, 20.485 }, 1.11));
    fillGlyph(shape);
}

void VeskAssets::drawMenueIcon()
{
    Shape shape;
    for (CGFloat y : { 2.32, 11.88, 20.48, 29.09 }) {
        shape.add(circle(1.815, y, 1.925));
        shape.add(capsule({ 8.555, y }, { 49.045, y }, 1.91));
    }
    fillGlyph(shape);
}

void VeskAssets::drawLinkIcon()
{
    // Each link is a rounded slot along the diagonal, its outline broken where the other
    // link passes over it; the lower link is the upper one turned half round.
    constexpr CGFloat radius = 7.235 - 0.56;
    const CGPoint endA { 17.54, 13.27 }, endB { 23.81, 7.0 };
    std::vector<CGPoint> midline;
    appendArcPoints(midline, endA.x, endA.y, radius, 219.9, 225, 2);
    appendArcPoints(midline, endB.x, endB.y, radius, 225, 405, 24);
    appendArcPoints(midline, endA.x, endA.y, radius, 405, 534.2, 18);
    Contour upper = band(midline, 1.12);
    Shape shape;
    shape.add(upper);
    shape.add(upper.transformed({ -1, 0, 0, -1, 31.12, 30.48 }));
    fillGlyph(shape);
}

void VeskAssets::drawInfoButton()
{
    Shape shape;
    shape.add(circle(15.5, 15.49, 15.5));
    shape.hole(circle(15.5, 15.49, 14.4));
    shape.add(circle(15.38, 10, 1.67));
    shape.add(letterI({ 12.74, 13.59, 14.27, { 16.86, 13.35 }, 14.23, 16.99, 12.95, 18.27, 22.01, 22.69 }));
    fillGlyph(shape);
}

void VeskAssets::drawSelectedInfoButton()
{
    Shape shape;
    shape.add(circle(15.19, 15, 15));
    shape.hole(circle(15.07, 9.69, 1.61));
    shape.hole(letterI({ 12.52, 13.17, 13.82, { 16.5, 12.94 }, 13.96, 16.63, 12.72, 17.87, 21.31, 21.96 }));
    fillGlyph(shape);
}

void VeskAssets::drawDocumentIcon()
{
    Shape shape;
    shape.add(Contour(2.5, 0)
                  .lineTo(7.5, 0)
                  .curveTo(15.6, 2.58, 11.5, 0, 11.6, 2.58)
                  .lineTo(32.5, 2.58)
                  .arc(32.5, 5.08, 2.5, 2.5, 270, 360)
                  .lineTo(35, 28.5)
                  .arc(32.5, 28.5, 2.5, 2.5, 0, 90)
                  .lineTo(2.5, 31)
                  .arc(2.5, 28.5, 2.5, 2.5, 90, 180)
                  .lineTo(0, 2.5)
                  .arc(2.5, 2.5, 2.5, 2.5, 180, 270));
    // The compartment under the tab, and the main one below the divider.
    shape.hole(Contour(2.5, 1.29)
                   .lineTo(7.5, 1.29)
                   .curveTo(15.6, 3.87, 11.2, 1.29, 11.3, 3.87)
                   .lineTo(32.5, 3.87)
                   .arc(32.5, 5.08, 1.25, 1.21, 270, 360)
                   .lineTo(33.75, 6.46)
                   .lineTo(1.25, 6.46)
                   .lineTo(1.25, 2.5)
                   .arc(2.5, 2.5, 1.25, 1.21, 180, 270));
    shape.hole(roundedRect(1.25, 7.75, 33.75, 29.71, 1.25));
    fillGlyph(shape);
}

void VeskAssets::drawGearIcon()
{
    constexpr CGFloat cx = 15.5, cy = 15.5, rootRadius = 11.6;
    // The right-hand tooth, its tip corners rounded; the others are the same turned by 45
    // degrees each.
    const CGPoint tooth[] = { { 26.63, 12.17 }, { 30.44, 13.63 }, { 30.78, 13.81 }, { 30.95, 14.08 }, { 31, 14.44 },
        { 31, 16.56 }, { 30.95, 16.92 }, { 30.78, 17.19 }, { 30.44, 17.37 }, { 26.63, 18.83 } };
    CGFloat baseAngle = std::atan2(18.83 - cy, 26.63 - cx) * 180 / std::numbers::pi;
    Contour wheel(tooth[0]);
    for (int k = 0; k < 8; ++k) {
        CGFloat angle = k * std::numbers::pi / 4;
        CGFloat c = std::cos(angle), s = std::sin(angle);
        for (const CGPoint& p : tooth) {
            CGFloat dx = p.x - cx, dy = p.y - cy;
            wheel.lineTo(cx + dx * c - dy * s, cy + dx * s + dy * c);
        }
        wheel.arc(cx, cy, rootRadius, rootRadius, k * 45 + baseAngle, (k + 1) * 45 - baseAngle);
    }
    Shape shape;
    shape.outline(wheel, 1.11);
    shape.add(circle(cx, cy, 5.54));
    shape.hole(circle(cx, cy, 4.43));
    fillGlyph(shape);
}

void VeskAssets::drawPlusCircleIcon()
{
    Shape shape;
    shape.add(circle(15, 15, 15));
    shape.hole(circle(15, 15, 13.93));
    shape.add(Contour(14.46, 7.5)
                  .arc(15, 7.5, 0.54, 0.54, 180, 360)
                  .lineTo(15.54, 14.46)
                  .lineTo(22.5, 14.46)
                  .arc(22.5, 15, 0.54, 0.54, 270, 450)
                  .lineTo(15.54, 15.54)
                  .lineTo(15.54, 22.5)
                  .arc(15, 22.5, 0.54, 0.54, 0, 180)
                  .lineTo(14.46, 15.54)
                  .lineTo(7.5, 15.54)
                  .arc(7.5, 15, 0.54, 0.54, 90, 270)
                  .lineTo(14.46, 14.46));
    fillGlyph(shape);
}

void VeskAssets::drawHomeIcon()
{
    Shape shape;
    shape.add(band({ { 0.56, 16.23 }, { 16, 0.79 }, { 31.44, 16.23 } }, 1.12));
    // Walls and floor, the outer bottom corners rounded; the tops end under the roof.
    shape.add(Contour(3.43, 12.6)
                  .lineTo(3.43, 29.86)
                  .arc(4.57, 29.86, 1.14, 1.14, 180, 90)
                  .lineTo(27.43, 31)
                  .arc(27.43, 29.86, 1.14, 1.14, 90, 0)
                  .lineTo(28.57, 12.6)
                  .lineTo(27.43, 12.6)
                  .lineTo(27.43, 29.86)
                  .lineTo(4.57, 29.86)
                  .lineTo(4.57, 12.6));
    // The chimney, standing on the right slope.
    shape.add(Contour(21.71, 6.3)
                  .lineTo(21.71, 3.35)
                  .arc(22.85, 3.35, 1.14, 1.14, 180, 270)
                  .lineTo(25.15, 2.21)
                  .arc(25.15, 3.35, 1.14, 1.14, 270, 360)
                  .lineTo(26.29, 10.9));
    shape.hole(polygon({ { 22.86, 3.32 }, { 25.14, 3.32 }, { 25.14, 9.14 }, { 22.86, 6.86 } }));
    // The door.
    shape.add(Contour(11.43, 30)
                  .lineTo(11.43, 17.75)
                  .arc(12.57, 17.75, 1.14, 1.14, 180, 270)
                  .lineTo(19.43, 16.61)
                  .arc(19.43, 17.75, 1.14, 1.14, 270, 360)
                  .lineTo(20.57, 30));
    shape.hole(roundedRect(12.57, 17.71, 19.43, 29.89, 0));
    fillGlyph(shape);
}

}
