#pragma once

#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace vesk::testing {

using namespace vesk::platform;

// Renders the drawing into a fresh transparent image context of the size at the scale.
inline std::shared_ptr<UIImage> render(CGSize size, CGFloat scale, const std::function<void()>& draw)
{
    UIGraphicsBeginImageContextWithOptions(size, false, scale);
    draw();
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

// The pixel under the point (in points) of the image.
inline UIPixel pixelAtPoint(const UIImage& image, CGFloat x, CGFloat y)
{
    return image.pixelAt(int(std::floor(x * image.scale())), int(std::floor(y * image.scale())));
}

inline std::string describe(const UIPixel& p)
{
    return "(" + std::to_string(p.red) + ", " + std::to_string(p.green) + ", " + std::to_string(p.blue) + ", "
        + std::to_string(p.alpha) + ")";
}

// Opaque and within 2/255 of the colour in every channel.
inline ::testing::AssertionResult hasColor(const UIPixel& p, CGFloat r, CGFloat g, CGFloat b, CGFloat a = 1)
{
    auto near = [](uint8_t v, CGFloat want) { return std::abs(int(v) - int(std::lround(want * 255))) <= 2; };
    if (near(p.red, r) && near(p.green, g) && near(p.blue, b) && near(p.alpha, a))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel " << describe(p) << " is not (" << r * 255 << ", " << g * 255 << ", "
                                         << b * 255 << ", " << a * 255 << ")";
}

inline ::testing::AssertionResult isTransparent(const UIPixel& p)
{
    if (p.alpha == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel " << describe(p) << " is not transparent";
}

}
