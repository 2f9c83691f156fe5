#pragma once

#include "platform/graphics/CGContext.h"
#include "platform/graphics/CGGeometry.h"

#include <vector>

namespace vesk::platform {

enum class UIRectCorner : unsigned {
    TopLeft = 1 << 0,
    TopRight = 1 << 1,
    BottomLeft = 1 << 2,
    BottomRight = 1 << 3,
    AllCorners = 0xF,
};
constexpr UIRectCorner operator|(UIRectCorner a, UIRectCorner b)
{
    return UIRectCorner(unsigned(a) | unsigned(b));
}
constexpr bool operator&(UIRectCorner a, UIRectCorner b)
{
    return (unsigned(a) & unsigned(b)) != 0;
}

// A path of moves, lines, cubic curves and closes (arcs, ovals and quadratic curves are
// kept as cubic curves), with its own stroke settings. A value: copies are independent.
class UIBezierPath {
public:
    enum class ElementType { MoveToPoint,
        AddLineToPoint,
        AddCurveToPoint,
        CloseSubpath };
    struct Element {
        ElementType type;
        CGPoint points[3]; // curve: control point 1, control point 2, end point
    };

    UIBezierPath() = default;

    static UIBezierPath bezierPath() { return {}; }
    static UIBezierPath bezierPathWithRect(const CGRect& rect);
    static UIBezierPath bezierPathWithOvalInRect(const CGRect& rect);
    static UIBezierPath bezierPathWithRoundedRect(const CGRect& rect, CGFloat cornerRadius);
    static UIBezierPath bezierPathWithRoundedRect(const CGRect& rect, UIRectCorner corners, CGSize cornerRadii);
    // Angles in radians from 3 o'clock; clockwise on screen means growing angles.
    static UIBezierPath bezierPathWithArcCenter(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise);

    void moveToPoint(CGPoint point);
    void addLineToPoint(CGPoint point);
    void addCurveToPoint(CGPoint endPoint, CGPoint controlPoint1, CGPoint controlPoint2);
    void addQuadCurveToPoint(CGPoint endPoint, CGPoint controlPoint);
    // Draws a line from the current point to the arc's start when there is one.
    void addArcWithCenter(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise);
    void closePath();
    void removeAllPoints();
    void appendPath(const UIBezierPath& other);
    void applyTransform(const CGAffineTransform& transform);

    bool isEmpty() const { return m_elements.empty(); }
    CGPoint currentPoint() const { return m_currentPoint; }
    // The box of every point, control points included.
    CGRect bounds() const;
    const std::vector<Element>& elements() const { return m_elements; }

    bool usesEvenOddFillRule() const { return m_usesEvenOddFillRule; }
    void setUsesEvenOddFillRule(bool value) { m_usesEvenOddFillRule = value; }
    // 0 strokes the thinnest line the device can draw (one device pixel).
    CGFloat lineWidth() const { return m_lineWidth; }
    void setLineWidth(CGFloat value) { m_lineWidth = value; }
    CGLineCap lineCapStyle() const { return m_lineCapStyle; }
    void setLineCapStyle(CGLineCap value) { m_lineCapStyle = value; }
    CGLineJoin lineJoinStyle() const { return m_lineJoinStyle; }
    void setLineJoinStyle(CGLineJoin value) { m_lineJoinStyle = value; }
    CGFloat miterLimit() const { return m_miterLimit; }
    void setMiterLimit(CGFloat value) { m_miterLimit = value; }

    // Drawing into the current context with its fill or stroke colour; without a current
    // context they do nothing.
    void fill() const;
    void stroke() const;
    void fillWithBlendMode(CGBlendMode blendMode, CGFloat alpha) const;
    void strokeWithBlendMode(CGBlendMode blendMode, CGFloat alpha) const;
    // Intersects the current context's clip with this path's area.
    void addClip() const;

private:
    std::vector<Element> m_elements;
    CGPoint m_currentPoint;
    CGPoint m_subpathStart;
    bool m_hasCurrentPoint = false;
    bool m_usesEvenOddFillRule = false;
    CGFloat m_lineWidth = 1;
    CGLineCap m_lineCapStyle = kCGLineCapButt;
    CGLineJoin m_lineJoinStyle = kCGLineJoinMiter;
    CGFloat m_miterLimit = 10;
};

}
