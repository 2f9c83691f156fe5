#include "assets/UIColorVesk.h"

namespace vesk {

using platform::CGFloat;
using platform::UIColor;

// The components not being replaced start at 1, which is what a colour that cannot report
// them (a pattern) keeps; the replaced one is never read.

std::shared_ptr<UIColor> colorWithHue(const UIColor& color, CGFloat hue)
{
    CGFloat saturation = 1, brightness = 1, alpha = 1;
    color.getHue(nullptr, &saturation, &brightness, &alpha);
    return UIColor::colorWithHue(hue, saturation, brightness, alpha);
}

std::shared_ptr<UIColor> colorWithSaturation(const UIColor& color, CGFloat saturation)
{
    CGFloat hue = 1, brightness = 1, alpha = 1;
    color.getHue(&hue, nullptr, &brightness, &alpha);
    return UIColor::colorWithHue(hue, saturation, brightness, alpha);
}

std::shared_ptr<UIColor> colorWithBrightness(const UIColor& color, CGFloat brightness)
{
    CGFloat hue = 1, saturation = 1, alpha = 1;
    color.getHue(&hue, &saturation, nullptr, &alpha);
    return UIColor::colorWithHue(hue, saturation, brightness, alpha);
}

std::shared_ptr<UIColor> colorWithAlpha(const UIColor& color, CGFloat alpha)
{
    CGFloat hue = 1, saturation = 1, brightness = 1;
    color.getHue(&hue, &saturation, &brightness, nullptr);
    return UIColor::colorWithHue(hue, saturation, brightness, alpha);
}

std::shared_ptr<UIColor> colorWithHighlight(const UIColor& color, CGFloat fraction)
{
    CGFloat r = 1, g = 1, b = 1, a = 1;
    color.getRed(&r, &g, &b, &a);
    auto toWhite = [fraction](CGFloat c) { return (1 - fraction) * c + fraction; };
    return UIColor::colorWithRed(toWhite(r), toWhite(g), toWhite(b), toWhite(a));
}

std::shared_ptr<UIColor> colorWithShadow(const UIColor& color, CGFloat fraction)
{
    CGFloat r = 1, g = 1, b = 1, a = 1;
    color.getRed(&r, &g, &b, &a);
    return UIColor::colorWithRed((1 - fraction) * r, (1 - fraction) * g, (1 - fraction) * b, (1 - fraction) * a + fraction);
}

}
