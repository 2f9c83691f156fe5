#include "assets/VeskAssetsShapes.h"

#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIFont.h"
#include "platform/graphics/UIGraphics.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vesk::assetshapes {

using namespace platform;

namespace {

    constexpr int kStepsPerCurve = 10;

    CGPoint bezierPoint(CGPoint p0, CGPoint c1, CGPoint c2, CGPoint p1, CGFloat t)
    {
        CGFloat u = 1 - t;
        CGFloat a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
        return { a * p0.x + b * c1.x + c * c2.x + d * p1.x, a * p0.y + b * c1.y + c * c2.y + d * p1.y };
    }

    bool samePoint(CGPoint a, CGPoint b)
    {
        return std::abs(a.x - b.x) < 1e-9 && std::abs(a.y - b.y) < 1e-9;
    }

}

Contour::Contour(CGPoint start)
    : m_start(start)
{
}

Contour& Contour::lineTo(CGFloat x, CGFloat y)
{
    m_segments.push_back({ false, {}, {}, { x, y } });
    return *this;
}

Contour& Contour::curveTo(CGFloat x, CGFloat y, CGFloat c1x, CGFloat c1y, CGFloat c2x, CGFloat c2y)
{
    m_segments.push_back({ true, { c1x, c1y }, { c2x, c2y }, { x, y } });
    return *this;
}

Contour& Contour::arc(CGFloat cx, CGFloat cy, CGFloat rx, CGFloat ry, CGFloat a0, CGFloat a1)
{
    constexpr CGFloat degree = std::numbers::pi / 180;
    CGFloat sweep = (a1 - a0) * degree;
    int pieces = std::max(1, int(std::ceil(std::abs(sweep) / (std::numbers::pi / 2) - 1e-9)));
    CGFloat step = sweep / pieces;
    CGFloat k = 4.0 / 3.0 * std::tan(step / 4);
    CGFloat angle = a0 * degree;
    CGPoint first { cx + rx * std::cos(angle), cy + ry * std::sin(angle) };
    CGPoint current = m_segments.empty() ? m_start : m_segments.back().end;
    if (!samePoint(current, first))
        lineTo(first.x, first.y);
    for (int i = 0; i < pieces; ++i) {
        CGFloat b = angle + step;
        CGFloat ca = std::cos(angle), sa = std::sin(angle), cb = std::cos(b), sb = std::sin(b);
        curveTo(cx + rx * cb, cy + ry * sb,
            cx + rx * (ca - k * sa), cy + ry * (sa + k * ca),
            cx + rx * (cb + k * sb), cy + ry * (sb - k * cb));
        angle = b;
    }
    return *this;
}

Contour Contour::reversed() const
{
    if (m_segments.empty())
        return *this;
    Contour result(m_segments.back().end);
    for (size_t i = m_segments.size(); i-- > 0;) {
        CGPoint from = i == 0 ? m_start : m_segments[i - 1].end;
        const Segment& s = m_segments[i];
        result.m_segments.push_back({ s.curve, s.c2, s.c1, from });
    }
    return result;
}

Contour Contour::transformed(const CGAffineTransform& t) const
{
    Contour result(CGPointApplyAffineTransform(m_start, t));
    for (const Segment& s : m_segments) {
        result.m_segments.push_back({ s.curve, CGPointApplyAffineTransform(s.c1, t), CGPointApplyAffineTransform(s.c2, t),
            CGPointApplyAffineTransform(s.end, t) });
    }
    return result;
}

std::vector<CGPoint> Contour::flattened() const
{
    std::vector<CGPoint> points { m_start };
    CGPoint from = m_start;
    for (const Segment& s : m_segments) {
        if (s.curve) {
            for (int i = 1; i <= kStepsPerCurve; ++i)
                points.push_back(bezierPoint(from, s.c1, s.c2, s.end, CGFloat(i) / kStepsPerCurve));
        } else {
            points.push_back(s.end);
        }
        from = s.end;
    }
    // Closed: the last point repeats the first when the contour ends where it began.
    std::vector<CGPoint> unique;
    for (CGPoint p : points) {
        if (unique.empty() || !samePoint(unique.back(), p))
            unique.push_back(p);
    }
    while (unique.size() > 1 && samePoint(unique.front(), unique.back()))
        unique.pop_back();
    return unique;
}

CGFloat Contour::signedArea() const
{
    auto points = flattened();
    CGFloat sum = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const CGPoint& a = points[i];
        const CGPoint& b = points[(i + 1) % points.size()];
        sum += a.x * b.y - b.x * a.y;
    }
    return sum / 2;
}

Contour Contour::inset(CGFloat d) const
{
    auto points = flattened();
    if (signedArea() < 0)
        std::reverse(points.begin(), points.end());
    size_t n = points.size();
    std::vector<CGPoint> normals(n);
    for (size_t i = 0; i < n; ++i) {
        CGPoint a = points[i], b = points[(i + 1) % n];
        CGFloat dx = b.x - a.x, dy = b.y - a.y;
        CGFloat length = std::hypot(dx, dy);
        // Inward for a contour that runs clockwise on screen.
        normals[i] = length > 0 ? CGPoint { -dy / length, dx / length } : CGPoint {};
    }
    Contour result(points[0]);
    result.m_segments.clear();
    for (size_t i = 0; i < n; ++i) {
        CGPoint n1 = normals[(i + n - 1) % n], n2 = normals[i];
        CGFloat cosine = n1.x * n2.x + n1.y * n2.y;
        // Sharp corners would throw the miter far away; keep it within four widths.
        CGFloat scale = d / std::max(1 + cosine, 0.125);
        CGPoint p { points[i].x + (n1.x + n2.x) * scale, points[i].y + (n1.y + n2.y) * scale };
        if (i == 0)
            result.m_start = p;
        else
            result.lineTo(p.x, p.y);
    }
    return result;
}

void Contour::appendTo(UIBezierPath& path, Winding winding) const
{
    CGFloat area = signedArea();
    if ((winding == Winding::Fill) != (area >= 0)) {
        reversed().appendTo(path, winding);
        return;
    }
    path.moveToPoint(m_start);
    for (const Segment& s : m_segments) {
        if (s.curve)
            path.addCurveToPoint(s.end, s.c1, s.c2);
        else
            path.addLineToPoint(s.end);
    }
    path.closePath();
}

Contour polygon(std::initializer_list<CGPoint> points)
{
    auto it = points.begin();
    Contour contour(*it);
    for (++it; it != points.end(); ++it)
        contour.lineTo(it->x, it->y);
    return contour;
}

Contour ellipse(CGFloat cx, CGFloat cy, CGFloat rx, CGFloat ry)
{
    Contour contour(cx + rx, cy);
    contour.arc(cx, cy, rx, ry, 0, 360);
    return contour;
}

Contour circle(CGFloat cx, CGFloat cy, CGFloat r)
{
    return ellipse(cx, cy, r, r);
}

Contour roundedRect(CGFloat x0, CGFloat y0, CGFloat x1, CGFloat y1, CGFloat r)
{
    if (r <= 0)
        return polygon({ { x0, y0 }, { x1, y0 }, { x1, y1 }, { x0, y1 } });
    Contour contour(x0 + r, y0);
    contour.arc(x1 - r, y0 + r, r, r, 270, 360);
    contour.arc(x1 - r, y1 - r, r, r, 0, 90);
    contour.arc(x0 + r, y1 - r, r, r, 90, 180);
    contour.arc(x0 + r, y0 + r, r, r, 180, 270);
    return contour;
}

Contour capsule(CGPoint a, CGPoint b, CGFloat width)
{
    CGFloat r = width / 2;
    CGFloat angle = std::atan2(b.y - a.y, b.x - a.x) * 180 / std::numbers::pi;
    CGFloat nx = std::cos((angle - 90) * std::numbers::pi / 180) * r;
    CGFloat ny = std::sin((angle - 90) * std::numbers::pi / 180) * r;
    Contour contour(a.x + nx, a.y + ny);
    contour.arc(b.x, b.y, r, r, angle - 90, angle + 90);
    contour.arc(a.x, a.y, r, r, angle + 90, angle + 270);
    return contour;
}

Contour band(const std::vector<CGPoint>& points, CGFloat width)
{
    CGFloat h = width / 2;
    size_t n = points.size();
    std::vector<CGPoint> normals(n - 1);
    for (size_t i = 0; i + 1 < n; ++i) {
        CGFloat dx = points[i + 1].x - points[i].x, dy = points[i + 1].y - points[i].y;
        CGFloat length = std::hypot(dx, dy);
        normals[i] = length > 0 ? CGPoint { -dy / length, dx / length } : CGPoint { 0, 0 };
    }
    auto offset = [&](size_t i, CGFloat side) {
        CGPoint a = normals[i == 0 ? 0 : i - 1], b = normals[std::min(i, n - 2)];
        CGFloat scale = side * h / std::max(1 + a.x * b.x + a.y * b.y, 0.125);
        return CGPoint { points[i].x + (a.x + b.x) * scale, points[i].y + (a.y + b.y) * scale };
    };
    auto degrees = [](CGPoint v) { return std::atan2(v.y, v.x) * 180 / std::numbers::pi; };
    Contour contour(offset(0, 1));
    for (size_t i = 1; i < n; ++i) {
        CGPoint p = offset(i, 1);
        contour.lineTo(p.x, p.y);
    }
    CGFloat endAngle = degrees(normals[n - 2]);
    contour.arc(points[n - 1].x, points[n - 1].y, h, h, endAngle, endAngle - 180);
    for (size_t i = n - 1; i-- > 0;) {
        CGPoint p = offset(i, -1);
        contour.lineTo(p.x, p.y);
    }
    CGFloat startAngle = degrees(normals[0]);
    contour.arc(points[0].x, points[0].y, h, h, startAngle + 180, startAngle);
    return contour;
}

void appendArcPoints(std::vector<CGPoint>& points, CGFloat cx, CGFloat cy, CGFloat r, CGFloat a0, CGFloat a1, int steps)
{
    for (int i = 0; i <= steps; ++i) {
        CGFloat angle = (a0 + (a1 - a0) * i / steps) * std::numbers::pi / 180;
        points.push_back({ cx + r * std::cos(angle), cy + r * std::sin(angle) });
    }
}

Shape& Shape::add(const Contour& contour, Winding winding)
{
    contour.appendTo(m_path, winding);
    return *this;
}

Shape& Shape::outline(const Contour& contour, CGFloat width)
{
    add(contour, Winding::Fill);
    return add(contour.inset(width), Winding::Hole);
}

void fillPath(const UIBezierPath& path, const std::shared_ptr<UIColor>& color)
{
    color->setFill();
    path.fill();
}

UIBezierPath pagePath(CGFloat height)
{
    bool tall = height >= 52;
    UIBezierPath page;
    page.moveToPoint(CGPointMake(0, 0));
    page.addCurveToPoint(CGPointMake(0, height), CGPointMake(0, tall ? 51 : 50.02), CGPointMake(0, height));
    page.addLineToPoint(CGPointMake(40, height));
    page.addLineToPoint(CGPointMake(40, tall ? 11 : 10.79));
    page.addLineToPoint(CGPointMake(29, 0));
    return page;
}

void fillFoldShading(CGFloat bottom)
{
    fillPath(Shape().add(polygon({ { 29, 0 }, { 29, bottom }, { 40, bottom } })).path(), UIColor::colorWithRed(0, 0, 0, 0.341));
}

void drawCentredText(const std::string& text, const CGRect& rect, const std::string& fontName, CGFloat fontSize,
    const std::shared_ptr<UIColor>& color)
{
    std::shared_ptr<UIFont> font = fontName.empty() ? nullptr : UIFont::fontWithName(fontName, fontSize);
    if (!font)
        font = UIFont::systemFontOfSize(fontSize);
    NSStringAttributes attributes;
    attributes.font = font;
    attributes.foregroundColor = color;
    attributes.paragraphStyle = NSParagraphStyle::defaultParagraphStyle();
    attributes.paragraphStyle.alignment = NSTextAlignmentCenter;

    CGFloat height = boundingRectWithSize(text, CGSizeMake(rect.size.width, INFINITY), NSStringDrawingUsesLineFragmentOrigin, attributes).size.height;
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    CGContextSaveGState(context);
    CGContextClipToRect(context, rect);
    drawInRect(text, CGRectMake(rect.origin.x, rect.origin.y + (rect.size.height - height) / 2, rect.size.width, height), attributes);
    CGContextRestoreGState(context);
}

}
