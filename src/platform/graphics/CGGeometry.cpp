#include "platform/graphics/CGGeometry.h"

#include <algorithm>

namespace vesk::platform {

CGRect CGRect::insetBy(CGFloat dx, CGFloat dy) const
{
    return CGRectInset(*this, dx, dy);
}
CGRect CGRect::offsetBy(CGFloat dx, CGFloat dy) const
{
    return CGRectOffset(*this, dx, dy);
}
CGRect CGRect::standardized() const
{
    return CGRectStandardize(*this);
}

CGRect CGRectStandardize(const CGRect& rect)
{
    CGRect result = rect;
    if (result.size.width < 0) {
        result.origin.x += result.size.width;
        result.size.width = -result.size.width;
    }
    if (result.size.height < 0) {
        result.origin.y += result.size.height;
        result.size.height = -result.size.height;
    }
    return result;
}

CGFloat CGRectGetMinX(const CGRect& r)
{
    return CGRectStandardize(r).origin.x;
}
CGFloat CGRectGetMidX(const CGRect& r)
{
    return r.origin.x + r.size.width / 2;
}
CGFloat CGRectGetMaxX(const CGRect& r)
{
    auto s = CGRectStandardize(r);
    return s.origin.x + s.size.width;
}
CGFloat CGRectGetMinY(const CGRect& r)
{
    return CGRectStandardize(r).origin.y;
}
CGFloat CGRectGetMidY(const CGRect& r)
{
    return r.origin.y + r.size.height / 2;
}
CGFloat CGRectGetMaxY(const CGRect& r)
{
    auto s = CGRectStandardize(r);
    return s.origin.y + s.size.height;
}
CGFloat CGRectGetWidth(const CGRect& r)
{
    return std::abs(r.size.width);
}
CGFloat CGRectGetHeight(const CGRect& r)
{
    return std::abs(r.size.height);
}

CGRect CGRectInset(const CGRect& rect, CGFloat dx, CGFloat dy)
{
    auto r = CGRectStandardize(rect);
    r.origin.x += dx;
    r.origin.y += dy;
    r.size.width -= 2 * dx;
    r.size.height -= 2 * dy;
    if (r.size.width < 0 || r.size.height < 0)
        return CGRectZero;
    return r;
}

CGRect CGRectOffset(const CGRect& rect, CGFloat dx, CGFloat dy)
{
    auto r = rect;
    r.origin.x += dx;
    r.origin.y += dy;
    return r;
}

CGRect CGRectIntersection(const CGRect& a, const CGRect& b)
{
    auto x0 = std::max(CGRectGetMinX(a), CGRectGetMinX(b));
    auto y0 = std::max(CGRectGetMinY(a), CGRectGetMinY(b));
    auto x1 = std::min(CGRectGetMaxX(a), CGRectGetMaxX(b));
    auto y1 = std::min(CGRectGetMaxY(a), CGRectGetMaxY(b));
    if (x1 < x0 || y1 < y0)
        return CGRectZero;
    return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

bool CGRectIsEmpty(const CGRect& r)
{
    return r.size.width == 0 || r.size.height == 0;
}

bool CGRectContainsPoint(const CGRect& r, CGPoint p)
{
    return p.x >= CGRectGetMinX(r) && p.x < CGRectGetMaxX(r) && p.y >= CGRectGetMinY(r) && p.y < CGRectGetMaxY(r);
}

CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty)
{
    return { 1, 0, 0, 1, tx, ty };
}
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy)
{
    return { sx, 0, 0, sy, 0, 0 };
}
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle)
{
    auto c = std::cos(angle), s = std::sin(angle);
    return { c, s, -s, c, 0, 0 };
}

CGAffineTransform CGAffineTransformConcat(const CGAffineTransform& t1, const CGAffineTransform& t2)
{
    return {
        t1.a * t2.a + t1.b * t2.c,
        t1.a * t2.b + t1.b * t2.d,
        t1.c * t2.a + t1.d * t2.c,
        t1.c * t2.b + t1.d * t2.d,
        t1.tx * t2.a + t1.ty * t2.c + t2.tx,
        t1.tx * t2.b + t1.ty * t2.d + t2.ty,
    };
}

CGAffineTransform CGAffineTransformTranslate(const CGAffineTransform& t, CGFloat tx, CGFloat ty)
{
    return CGAffineTransformConcat(CGAffineTransformMakeTranslation(tx, ty), t);
}
CGAffineTransform CGAffineTransformScale(const CGAffineTransform& t, CGFloat sx, CGFloat sy)
{
    return CGAffineTransformConcat(CGAffineTransformMakeScale(sx, sy), t);
}
CGAffineTransform CGAffineTransformRotate(const CGAffineTransform& t, CGFloat angle)
{
    return CGAffineTransformConcat(CGAffineTransformMakeRotation(angle), t);
}

CGAffineTransform CGAffineTransformInvert(const CGAffineTransform& t)
{
    auto det = t.a * t.d - t.b * t.c;
    if (det == 0 || !std::isfinite(det))
        return t;
    return {
        t.d / det,
        -t.b / det,
        -t.c / det,
        t.a / det,
        (t.c * t.ty - t.d * t.tx) / det,
        (t.b * t.tx - t.a * t.ty) / det,
    };
}

CGPoint CGPointApplyAffineTransform(CGPoint p, const CGAffineTransform& t)
{
    return { t.a * p.x + t.c * p.y + t.tx, t.b * p.x + t.d * p.y + t.ty };
}

CGSize CGSizeApplyAffineTransform(CGSize s, const CGAffineTransform& t)
{
    return { t.a * s.width + t.c * s.height, t.b * s.width + t.d * s.height };
}

CGRect CGRectApplyAffineTransform(const CGRect& rect, const CGAffineTransform& t)
{
    auto r = CGRectStandardize(rect);
    CGPoint corners[] = {
        CGPointApplyAffineTransform(r.origin, t),
        CGPointApplyAffineTransform({ r.origin.x + r.size.width, r.origin.y }, t),
        CGPointApplyAffineTransform({ r.origin.x, r.origin.y + r.size.height }, t),
        CGPointApplyAffineTransform({ r.origin.x + r.size.width, r.origin.y + r.size.height }, t),
    };
    auto x0 = corners[0].x, x1 = corners[0].x, y0 = corners[0].y, y1 = corners[0].y;
    for (auto& c : corners) {
        x0 = std::min(x0, c.x);
        x1 = std::max(x1, c.x);
        y0 = std::min(y0, c.y);
        y1 = std::max(y1, c.y);
    }
    return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

CGRect AVMakeRectWithAspectRatioInsideRect(CGSize aspectRatio, const CGRect& boundingRect)
{
    auto bounds = CGRectStandardize(boundingRect);
    auto w = std::abs(aspectRatio.width), h = std::abs(aspectRatio.height);
    if (!(w > 0) || !(h > 0) || !std::isfinite(w) || !std::isfinite(h))
        return CGRectMake(CGRectGetMidX(bounds), CGRectGetMidY(bounds), 0, 0);
    auto scale = std::min(bounds.size.width / w, bounds.size.height / h);
    CGSize size { w * scale, h * scale };
    return CGRectMake(bounds.origin.x + (bounds.size.width - size.width) / 2,
        bounds.origin.y + (bounds.size.height - size.height) / 2, size.width, size.height);
}

}
