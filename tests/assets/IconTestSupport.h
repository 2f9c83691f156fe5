#pragma once

#include "platform/graphics/GraphicsTestSupport.h"

#include <functional>
#include <gtest/gtest.h>

namespace vesk::testing {

// A point of an icon and what must be seen there.
struct Probe {
    CGFloat x, y;
};

// Pixels of the rectangle (in points) that satisfy the test.
inline int countPixels(const UIImage& image, const CGRect& rect, const std::function<bool(const UIPixel&)>& test)
{
    int count = 0;
    CGFloat s = image.scale();
    for (int y = int(rect.origin.y * s); y < int((rect.origin.y + rect.size.height) * s); ++y) {
        for (int x = int(rect.origin.x * s); x < int((rect.origin.x + rect.size.width) * s); ++x) {
            if (test(image.pixelAt(x, y)))
                ++count;
        }
    }
    return count;
}

inline bool regionsEqual(const UIImage& a, const UIImage& b, const CGRect& rect)
{
    CGFloat s = a.scale();
    for (int y = int(rect.origin.y * s); y < int((rect.origin.y + rect.size.height) * s); ++y) {
        for (int x = int(rect.origin.x * s); x < int((rect.origin.x + rect.size.width) * s); ++x) {
            if (!(a.pixelAt(x, y) == b.pixelAt(x, y)))
                return false;
        }
    }
    return true;
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
    for (int i = 0; i < (vertical ? h : w); ++i) {
        UIPixel p = vertical ? image.pixelAt(fixed, i) : image.pixelAt(i, fixed);
        if (p.alpha > 128)
            return true;
    }
    return false;
}

inline bool isWhite(const UIPixel& p)
{
    return p.alpha > 200 && p.red > 200 && p.green > 200 && p.blue > 200;
}

}
