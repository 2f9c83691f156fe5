#pragma once

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/NSStringDrawing.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/graphics/UIColor.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// Building blocks for the drawn icons: closed contours of lines and cubic curves that know
// their direction, so a shape can be added to a path as filled area or as a hole whatever
// order its points were written in.
namespace vesk::assetshapes {

using platform::CGFloat;
using platform::CGPoint;

// Nonzero filling: a hole is traced against the direction of the shape around it.
enum class Winding { Fill,
    Hole };

class Contour {
public:
    explicit Contour(CGPoint start);
    Contour(CGFloat x, CGFloat y)
        : Contour(CGPoint { x, y })
    {
    }

    Contour& lineTo(CGFloat x, CGFloat y);
    // End point first, then the two control points, as the path call takes them.
    Contour& curveTo(CGFloat x, CGFloat y, CGFloat c1x, CGFloat c1y, CGFloat c2x, CGFloat c2y);
    // An elliptical arc from angle a0 to a1 (degrees, growing clockwise on screen from 3
    // o'clock), joined to the current point by a line when it starts elsewhere.
    Contour& arc(CGFloat cx, CGFloat cy, CGFloat rx, CGFloat ry, CGFloat a0, CGFloat a1);

    Contour reversed() const;
    Contour transformed(const platform::CGAffineTransform& transform) const;
    // Positive when the contour runs clockwise on screen.
    CGFloat signedArea() const;
    // The contour as a polygon moved d points inwards along its normals.
    Contour inset(CGFloat d) const;
    std::vector<CGPoint> flattened() const;

    void appendTo(platform::UIBezierPath& path, Winding winding) const;

private:
    struct Segment {
        bool curve;
        CGPoint c1, c2, end;
    };
    CGPoint m_start;
    std::vector<Segment> m_segments;
};

Contour polygon(std::initializer_list<CGPoint> points);
Contour ellipse(CGFloat cx, CGFloat cy, CGFloat rx, CGFloat ry);
Contour circle(CGFloat cx, CGFloat cy, CGFloat r);
// Corners of radius r (0 for square ones).
Contour roundedRect(CGFloat x0, CGFloat y0, CGFloat x1, CGFloat y1, CGFloat r);
// A band of the given width from a to b with semicircular ends beyond both points.
Contour capsule(CGPoint a, CGPoint b, CGFloat width);

// A band of the given width along an open polyline, mitred at its bends and rounded at its
// two ends: a line drawn as area.
Contour band(const std::vector<CGPoint>& points, CGFloat width);
// Points along an elliptical arc, for building polylines.
void appendArcPoints(std::vector<CGPoint>& points, CGFloat cx, CGFloat cy, CGFloat r, CGFloat a0, CGFloat a1, int steps = 12);

// A path made of contours, each added as filled area or hole.
class Shape {
public:
    Shape& add(const Contour& contour, Winding winding = Winding::Fill);
    Shape& hole(const Contour& contour) { return add(contour, Winding::Hole); }
    // The contour as a band of the given width along its inside: the area plus its inset hole.
    Shape& outline(const Contour& contour, CGFloat width);
    const platform::UIBezierPath& path() const { return m_path; }

private:
    platform::UIBezierPath m_path;
};

// Fills the path with the colour in the current context.
void fillPath(const platform::UIBezierPath& path, const std::shared_ptr<platform::UIColor>& color);

// The outline of a page 40 points wide and 52 or 51 high with its top-right corner cut off,
// left open at (29, 0).
platform::UIBezierPath pagePath(CGFloat height);

// Darkens a page under its cut-off corner, from the top edge down to y bottom.
void fillFoldShading(CGFloat bottom);

// Draws text centred across and down the rectangle, wrapping at its width and cut off at its
// edges. Falls back to the system font when the named one is not installed.
void drawCentredText(const std::string& text, const platform::CGRect& rect, const std::string& fontName, CGFloat fontSize,
    const std::shared_ptr<platform::UIColor>& color);

}
