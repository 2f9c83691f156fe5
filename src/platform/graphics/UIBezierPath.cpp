#include "platform/graphics/UIBezierPath.h"

#include "platform/graphics/UIGraphics.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform {

namespace {

    // Control-point distance for a quarter circle of radius 1 drawn as one cubic curve.
    constexpr CGFloat kKappa = 0.5522847498307936;

    bool finite(CGPoint p)
    {
        return std::isfinite(p.x) && std::isfinite(p.y);
    }

    // Cairo keeps coordinates in fixed point; far-off values would wrap around.
    constexpr CGFloat kFarthest = 1e6;

    CGPoint clamped(CGPoint p)
    {
        return { std::clamp(p.x, -kFarthest, kFarthest), std::clamp(p.y, -kFarthest, kFarthest) };
    }

    // Elements with a point that is not a number or infinite are left out.
    void replay(cairo_t* cr, const UIBezierPath& path)
    {
        cairo_new_path(cr);
        for (auto& e : path.elements()) {
            switch (e.type) {
            case UIBezierPath::ElementType::MoveToPoint:
            case UIBezierPath::ElementType::AddLineToPoint: {
                if (!finite(e.points[0]))
                    break;
                auto p = clamped(e.points[0]);
                if (e.type == UIBezierPath::ElementType::MoveToPoint)
                    cairo_move_to(cr, p.x, p.y);
                else
                    cairo_line_to(cr, p.x, p.y);
                break;
            }
            case UIBezierPath::ElementType::AddCurveToPoint: {
                if (!finite(e.points[0]) || !finite(e.points[1]) || !finite(e.points[2]))
                    break;
                auto c1 = clamped(e.points[0]), c2 = clamped(e.points[1]), end = clamped(e.points[2]);
                cairo_curve_to(cr, c1.x, c1.y, c2.x, c2.y, end.x, end.y);
                break;
            }
            case UIBezierPath::ElementType::CloseSubpath:
                cairo_close_path(cr);
                break;
            }
        }
    }

}

UIBezierPath UIBezierPath::bezierPathWithRect(const CGRect& rect)
{
    auto r = CGRectStandardize(rect);
    UIBezierPath path;
    path.moveToPoint({ CGRectGetMinX(r), CGRectGetMinY(r) });
    path.addLineToPoint({ CGRectGetMaxX(r), CGRectGetMinY(r) });
    path.addLineToPoint({ CGRectGetMaxX(r), CGRectGetMaxY(r) });
    path.addLineToPoint({ CGRectGetMinX(r), CGRectGetMaxY(r) });
    path.closePath();
    return path;
}

UIBezierPath UIBezierPath::bezierPathWithOvalInRect(const CGRect& rect)
{
    auto r = CGRectStandardize(rect);
    CGFloat cx = CGRectGetMidX(r), cy = CGRectGetMidY(r);
    CGFloat rx = r.size.width / 2, ry = r.size.height / 2;
    CGFloat kx = rx * kKappa, ky = ry * kKappa;
    UIBezierPath path;
    // Clockwise on screen from 3 o'clock.
    path.moveToPoint({ cx + rx, cy });
    path.addCurveToPoint({ cx, cy + ry }, { cx + rx, cy + ky }, { cx + kx, cy + ry });
    path.addCurveToPoint({ cx - rx, cy }, { cx - kx, cy + ry }, { cx - rx, cy + ky });
    path.addCurveToPoint({ cx, cy - ry }, { cx - rx, cy - ky }, { cx - kx, cy - ry });
    path.addCurveToPoint({ cx + rx, cy }, { cx + kx, cy - ry }, { cx + rx, cy - ky });
    path.closePath();
    return path;
}

UIBezierPath UIBezierPath::bezierPathWithRoundedRect(const CGRect& rect, CGFloat cornerRadius)
{
    return bezierPathWithRoundedRect(rect, UIRectCorner::AllCorners, { cornerRadius, cornerRadius });
}

UIBezierPath UIBezierPath::bezierPathWithRoundedRect(const CGRect& rect, UIRectCorner corners, CGSize cornerRadii)
{
    auto r = CGRectStandardize(rect);
    CGFloat limitX = r.size.width / 2, limitY = r.size.height / 2;
    CGFloat rx = std::clamp(std::isfinite(cornerRadii.width) ? cornerRadii.width : 0, 0.0, limitX);
    CGFloat ry = std::clamp(std::isfinite(cornerRadii.height) ? cornerRadii.height : 0, 0.0, limitY);
    CGFloat x0 = CGRectGetMinX(r), x1 = CGRectGetMaxX(r), y0 = CGRectGetMinY(r), y1 = CGRectGetMaxY(r);
    auto radiusAt = [&](UIRectCorner corner) { return (corners & corner) ? CGSize { rx, ry } : CGSize {}; };
    auto tl = radiusAt(UIRectCorner::TopLeft), tr = radiusAt(UIRectCorner::TopRight);
    auto br = radiusAt(UIRectCorner::BottomRight), bl = radiusAt(UIRectCorner::BottomLeft);

    UIBezierPath path;
    path.moveToPoint({ x0 + tl.width, y0 });
    path.addLineToPoint({ x1 - tr.width, y0 });
    if (tr.width > 0)
        path.addCurveToPoint({ x1, y0 + tr.height }, { x1 - tr.width + tr.width * kKappa, y0 }, { x1, y0 + tr.height - tr.height * kKappa });
    path.addLineToPoint({ x1, y1 - br.height });
    if (br.width > 0)
        path.addCurveToPoint({ x1 - br.width, y1 }, { x1, y1 - br.height + br.height * kKappa }, { x1 - br.width + br.width * kKappa, y1 });
    path.addLineToPoint({ x0 + bl.width, y1 });
    if (bl.width > 0)
        path.addCurveToPoint({ x0, y1 - bl.height }, { x0 + bl.width - bl.width * kKappa, y1 }, { x0, y1 - bl.height + bl.height * kKappa });
    path.addLineToPoint({ x0, y0 + tl.height });
    if (tl.width > 0)
        path.addCurveToPoint({ x0 + tl.width, y0 }, { x0, y0 + tl.height - tl.height * kKappa }, { x0 + tl.width - tl.width * kKappa, y0 });
    path.closePath();
    return path;
}

UIBezierPath UIBezierPath::bezierPathWithArcCenter(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise)
{
    UIBezierPath path;
    path.addArcWithCenter(center, radius, startAngle, endAngle, clockwise);
    return path;
}

void UIBezierPath::moveToPoint(CGPoint point)
{
    m_elements.push_back({ ElementType::MoveToPoint, { point } });
    m_currentPoint = m_subpathStart = point;
    m_hasCurrentPoint = true;
}

void UIBezierPath::addLineToPoint(CGPoint point)
{
    // Without a current point the platform refuses; start a subpath instead of failing.
    if (!m_hasCurrentPoint)
        return moveToPoint(point);
    m_elements.push_back({ ElementType::AddLineToPoint, { point } });
    m_currentPoint = point;
}

void UIBezierPath::addCurveToPoint(CGPoint endPoint, CGPoint controlPoint1, CGPoint controlPoint2)
{
    if (!m_hasCurrentPoint)
        return moveToPoint(endPoint);
    m_elements.push_back({ ElementType::AddCurveToPoint, { controlPoint1, controlPoint2, endPoint } });
    m_currentPoint = endPoint;
}

void UIBezierPath::addQuadCurveToPoint(CGPoint endPoint, CGPoint controlPoint)
{
    if (!m_hasCurrentPoint)
        return moveToPoint(endPoint);
    auto p0 = m_currentPoint;
    CGPoint c1 { p0.x + 2.0 / 3 * (controlPoint.x - p0.x), p0.y + 2.0 / 3 * (controlPoint.y - p0.y) };
    CGPoint c2 { endPoint.x + 2.0 / 3 * (controlPoint.x - endPoint.x), endPoint.y + 2.0 / 3 * (controlPoint.y - endPoint.y) };
    addCurveToPoint(endPoint, c1, c2);
}

void UIBezierPath::addArcWithCenter(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise)
{
    if (!finite(center) || !std::isfinite(radius) || !std::isfinite(startAngle) || !std::isfinite(endAngle))
        return;
    radius = std::abs(radius);
    CGFloat sweep = endAngle - startAngle;
    constexpr CGFloat fullCircle = 2 * M_PI;
    // Angles that agree to rounding error mean no sweep rather than a full turn.
    if (std::abs(sweep) <= 1e-9)
        sweep = 0;
    else if (std::abs(sweep) >= fullCircle)
        sweep = clockwise ? fullCircle : -fullCircle;
    else if (clockwise && sweep < 0)
        sweep += fullCircle;
    else if (!clockwise && sweep > 0)
        sweep -= fullCircle;

    CGPoint start { center.x + radius * std::cos(startAngle), center.y + radius * std::sin(startAngle) };
    if (m_hasCurrentPoint)
        addLineToPoint(start);
    else
        moveToPoint(start);

    int segments = std::max(1, static_cast<int>(std::ceil(std::abs(sweep) / (M_PI / 2) - 1e-9)));
    if (sweep == 0)
        return;
    CGFloat step = sweep / segments;
    CGFloat k = 4.0 / 3 * std::tan(step / 4);
    CGFloat angle = startAngle;
    for (int i = 0; i < segments; ++i) {
        CGFloat a0 = angle, a1 = angle + step;
        CGFloat c0 = std::cos(a0), s0 = std::sin(a0), c1 = std::cos(a1), s1 = std::sin(a1);
        CGPoint p1 { center.x + radius * (c0 - k * s0), center.y + radius * (s0 + k * c0) };
        CGPoint p2 { center.x + radius * (c1 + k * s1), center.y + radius * (s1 - k * c1) };
        CGPoint p3 { center.x + radius * c1, center.y + radius * s1 };
        addCurveToPoint(p3, p1, p2);
        angle = a1;
    }
}

void UIBezierPath::closePath()
{
    if (!m_hasCurrentPoint)
        return;
    m_elements.push_back({ ElementType::CloseSubpath, {} });
    m_currentPoint = m_subpathStart;
}

void UIBezierPath::removeAllPoints()
{
    m_elements.clear();
    m_hasCurrentPoint = false;
    m_currentPoint = m_subpathStart = {};
}

void UIBezierPath::appendPath(const UIBezierPath& other)
{
    if (&other == this) {
        auto copy = other;
        return appendPath(copy);
    }
    m_elements.insert(m_elements.end(), other.m_elements.begin(), other.m_elements.end());
    if (other.m_hasCurrentPoint) {
        m_currentPoint = other.m_currentPoint;
        m_subpathStart = other.m_subpathStart;
        m_hasCurrentPoint = true;
    }
}

void UIBezierPath::applyTransform(const CGAffineTransform& t)
{
    for (auto& e : m_elements) {
        int count = e.type == ElementType::AddCurveToPoint ? 3 : (e.type == ElementType::CloseSubpath ? 0 : 1);
        for (int i = 0; i < count; ++i)
            e.points[i] = CGPointApplyAffineTransform(e.points[i], t);
    }
    m_currentPoint = CGPointApplyAffineTransform(m_currentPoint, t);
    m_subpathStart = CGPointApplyAffineTransform(m_subpathStart, t);
}

CGRect UIBezierPath::bounds() const
{
    bool any = false;
    CGFloat x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    for (auto& e : m_elements) {
        int count = e.type == ElementType::AddCurveToPoint ? 3 : (e.type == ElementType::CloseSubpath ? 0 : 1);
        for (int i = 0; i < count; ++i) {
            auto p = e.points[i];
            if (!any) {
                x0 = x1 = p.x;
                y0 = y1 = p.y;
                any = true;
            }
            x0 = std::min(x0, p.x);
            x1 = std::max(x1, p.x);
            y0 = std::min(y0, p.y);
            y1 = std::max(y1, p.y);
        }
    }
    return any ? CGRectMake(x0, y0, x1 - x0, y1 - y0) : CGRectZero;
}

void UIBezierPath::fill() const
{
    if (auto* c = UIGraphicsGetCurrentContext())
        fillWithBlendMode(c->state().blendMode, 1);
}

void UIBezierPath::stroke() const
{
    if (auto* c = UIGraphicsGetCurrentContext())
        strokeWithBlendMode(c->state().blendMode, 1);
}

void UIBezierPath::fillWithBlendMode(CGBlendMode blendMode, CGFloat alpha) const
{
    auto* c = UIGraphicsGetCurrentContext();
    if (!c)
        return;
    replay(c->cairo(), *this);
    c->fillCurrentPath(&c->state().fillColor, m_usesEvenOddFillRule, blendMode, alpha);
}

void UIBezierPath::strokeWithBlendMode(CGBlendMode blendMode, CGFloat alpha) const
{
    auto* c = UIGraphicsGetCurrentContext();
    if (!c)
        return;
    auto* cr = c->cairo();
    cairo_save(cr);
    cairo_set_line_cap(cr, m_lineCapStyle == kCGLineCapRound ? CAIRO_LINE_CAP_ROUND : m_lineCapStyle == kCGLineCapSquare ? CAIRO_LINE_CAP_SQUARE
                                                                                                                         : CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, m_lineJoinStyle == kCGLineJoinRound ? CAIRO_LINE_JOIN_ROUND : m_lineJoinStyle == kCGLineJoinBevel ? CAIRO_LINE_JOIN_BEVEL
                                                                                                                              : CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cr, m_miterLimit);
    replay(cr, *this);
    c->strokeCurrentPath(&c->state().strokeColor, m_lineWidth, blendMode, alpha);
    cairo_restore(cr);
}

void UIBezierPath::addClip() const
{
    auto* c = UIGraphicsGetCurrentContext();
    if (!c)
        return;
    auto* cr = c->cairo();
    replay(cr, *this);
    cairo_set_fill_rule(cr, m_usesEvenOddFillRule ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr);
}

}
