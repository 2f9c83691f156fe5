#pragma once

#include "platform/graphics/GraphicsTestSupport.h"

#include <concepts>
#include <functional>
#include <gtest/gtest.h>

namespace vesk::testing {

// Matches a colour as the shared support's hasColor does; a template, so that an overload
// of the same shape there (if present) is the one chosen.
template<typename Color>
requires std::same_as<Color, UIColor>
inline ::testing::AssertionResult hasColor(const UIPixel& p, const Color& color)
{
    return hasColor(p, color.red(), color.green(), color.blue(), color.alpha());
}

struct Probe {
    CGFloat x, y;
};

// Pixel positions (x, y) of the rectangle (in points) that satisfy the test.
inline int countPositions(const UIImage& image, const CGRect& rect, const std::function<bool(int, int)>& test)
{
    int count = 0;
    CGFloat s = image.scale();
    for (int y = int(rect.origin.y * s); y < int((rect.origin.y + rect.size.height) * s); ++y)
        for (int x = int(rect.origin.x * s); x < int((rect.origin.x + rect.size.width) * s); ++x)
            count += test(x, y);
    return count;
}

inline int countPixels(const UIImage& image, const CGRect& rect, const std::function<bool(const UIPixel&)>& test)
{
    return countPositions(image, rect, [&](int x, int y) { return test(image.pixelAt(x, y)); });
}

inline bool regionsEqual(const UIImage& a, const UIImage& b, const CGRect& rect)
{
    return countPositions(a, rect, [&](int x, int y) { return !(a.pixelAt(x, y) == b.pixelAt(x, y)); }) == 0;
}

inline bool isWhite(const UIPixel& p)
{
    return p.alpha > 200 && p.red > 200 && p.green > 200 && p.blue > 200;
}

}
