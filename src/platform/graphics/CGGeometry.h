#pragma once

#include <cmath>

namespace vesk::platform {

using CGFloat = double;

struct CGPoint {
    CGFloat x = 0;
    CGFloat y = 0;
    bool operator==(const CGPoint&) const = default;
};

struct CGSize {
    CGFloat width = 0;
    CGFloat height = 0;
    bool operator==(const CGSize&) const = default;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    bool operator==(const CGRect&) const = default;

    // The rectangle shrunk by dx on the left and right and dy at the top and bottom.
    CGRect insetBy(CGFloat dx, CGFloat dy) const;
    CGRect offsetBy(CGFloat dx, CGFloat dy) const;
    CGRect standardized() const;
};

constexpr CGPoint CGPointZero {};
constexpr CGSize CGSizeZero {};
constexpr CGRect CGRectZero {};

inline CGPoint CGPointMake(CGFloat x, CGFloat y)
{
    return { x, y };
}
inline CGSize CGSizeMake(CGFloat width, CGFloat height)
{
    return { width, height };
}
inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height)
{
    return { { x, y }, { width, height } };
}

CGFloat CGRectGetMinX(const CGRect&);
CGFloat CGRectGetMidX(const CGRect&);
CGFloat CGRectGetMaxX(const CGRect&);
CGFloat CGRectGetMinY(const CGRect&);
CGFloat CGRectGetMidY(const CGRect&);
CGFloat CGRectGetMaxY(const CGRect&);
CGFloat CGRectGetWidth(const CGRect&);
CGFloat CGRectGetHeight(const CGRect&);
CGRect CGRectStandardize(const CGRect&);
CGRect CGRectInset(const CGRect&, CGFloat dx, CGFloat dy);
CGRect CGRectOffset(const CGRect&, CGFloat dx, CGFloat dy);
CGRect CGRectIntersection(const CGRect&, const CGRect&);
bool CGRectIsEmpty(const CGRect&);
bool CGRectContainsPoint(const CGRect&, CGPoint);

// The affine map (x, y) -> (a x + c y + tx, b x + d y + ty).
struct CGAffineTransform {
    CGFloat a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    bool operator==(const CGAffineTransform&) const = default;
};

constexpr CGAffineTransform CGAffineTransformIdentity {};

CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty);
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy);
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle);
// t1 then t2.
CGAffineTransform CGAffineTransformConcat(const CGAffineTransform& t1, const CGAffineTransform& t2);
CGAffineTransform CGAffineTransformTranslate(const CGAffineTransform&, CGFloat tx, CGFloat ty);
CGAffineTransform CGAffineTransformScale(const CGAffineTransform&, CGFloat sx, CGFloat sy);
CGAffineTransform CGAffineTransformRotate(const CGAffineTransform&, CGFloat angle);
CGAffineTransform CGAffineTransformInvert(const CGAffineTransform&);
CGPoint CGPointApplyAffineTransform(CGPoint, const CGAffineTransform&);
CGSize CGSizeApplyAffineTransform(CGSize, const CGAffineTransform&);
// The bounding box of the transformed rectangle.
CGRect CGRectApplyAffineTransform(const CGRect&, const CGAffineTransform&);

// The largest rectangle of the given aspect ratio centred inside the bounding rectangle.
CGRect AVMakeRectWithAspectRatioInsideRect(CGSize aspectRatio, const CGRect& boundingRect);

}
