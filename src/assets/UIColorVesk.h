#pragma once

#include "platform/graphics/UIColor.h"

#include <memory>

namespace vesk {

// New colours derived from a colour. The first four replace one component of its
// hue-saturation-brightness-alpha form (the others read as 1 from a colour that cannot
// report them); the blends move it toward opaque white or toward black. Nothing is clamped.
std::shared_ptr<platform::UIColor> colorWithHue(const platform::UIColor& color, platform::CGFloat hue);
std::shared_ptr<platform::UIColor> colorWithSaturation(const platform::UIColor& color, platform::CGFloat saturation);
std::shared_ptr<platform::UIColor> colorWithBrightness(const platform::UIColor& color, platform::CGFloat brightness);
std::shared_ptr<platform::UIColor> colorWithAlpha(const platform::UIColor& color, platform::CGFloat alpha);
std::shared_ptr<platform::UIColor> colorWithHighlight(const platform::UIColor& color, platform::CGFloat fraction);
std::shared_ptr<platform::UIColor> colorWithShadow(const platform::UIColor& color, platform::CGFloat fraction);

}
