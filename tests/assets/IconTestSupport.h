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

enum class Edge { Top,
    Left,
    Bottom,
    Right };

// Some pixel of the image's outermost row or column on that side is mostly painted.
inline bool touchesEdge(const UIImage& image, Edge edge)
{
    int w = image.pixelWidth(), h = image.pixelHeight();
    bool vertical = edge == Edge::Left || edge == Edge::Right;
    int fixed = edge == Edge::Top || edge == Edge::Left ? 0 : (vertical ? w : h) - 1;
    for (int i = 0; i < (vertical ? h : w); ++i)
        if ((vertical ? image.pixelAt(fixed, i) : image.pixelAt(i, fixed)).alpha > 128)
            return true;
    return false;
}

inline bool isWhite(const UIPixel& p)
{
    return p.alpha > 200 && p.red > 200 && p.green > 200 && p.blue > 200;
}

}
