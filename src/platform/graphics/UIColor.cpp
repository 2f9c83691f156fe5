#include "platform/graphics/UIColor.h"

#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIGraphics.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform {

UIColor::UIColor(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha)
    : m_red(red)
    , m_green(green)
    , m_blue(blue)
    , m_alpha(alpha)
{
}

UIColor::UIColor(std::shared_ptr<UIImage> patternImage)
    : m_patternImage(std::move(patternImage))
{
}

std::shared_ptr<UIColor> UIColor::colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha)
{
    return std::make_shared<UIColor>(red, green, blue, alpha);
}

std::shared_ptr<UIColor> UIColor::colorWithHue(CGFloat hue, CGFloat saturation, CGFloat brightness, CGFloat alpha)
{
    // Hue wraps around the circle; saturation and brightness are used as given.
    CGFloat h = std::isfinite(hue) ? hue - std::floor(hue) : 0;
    h *= 6;
    int sector = std::min(5, static_cast<int>(h));
    CGFloat f = h - sector;
    CGFloat v = brightness, s = saturation;
    CGFloat p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    CGFloat r = v, g = v, b = v;
    switch (sector) {
    case 0:
        r = v, g = t, b = p;
        break;
    case 1:
        r = q, g = v, b = p;
        break;
    case 2:
        r = p, g = v, b = t;
        break;
    case 3:
        r = p, g = q, b = v;
        break;
    case 4:
        r = t, g = p, b = v;
        break;
    default:
        r = v, g = p, b = q;
        break;
    }
    return colorWithRed(r, g, b, alpha);
}

std::shared_ptr<UIColor> UIColor::colorWithWhite(CGFloat white, CGFloat alpha)
{
    return colorWithRed(white, white, white, alpha);
}

std::shared_ptr<UIColor> UIColor::colorWithPatternImage(std::shared_ptr<UIImage> image)
{
    return std::make_shared<UIColor>(std::move(image));
}

std::shared_ptr<UIColor> UIColor::blackColor()
{
    return colorWithWhite(0, 1);
}
std::shared_ptr<UIColor> UIColor::darkGrayColor()
{
    return colorWithWhite(1.0 / 3, 1);
}
std::shared_ptr<UIColor> UIColor::grayColor()
{
    return colorWithWhite(0.5, 1);
}
std::shared_ptr<UIColor> UIColor::lightGrayColor()
{
    return colorWithWhite(2.0 / 3, 1);
}
std::shared_ptr<UIColor> UIColor::whiteColor()
{
    return colorWithWhite(1, 1);
}
std::shared_ptr<UIColor> UIColor::clearColor()
{
    return colorWithWhite(0, 0);
}
std::shared_ptr<UIColor> UIColor::redColor()
{
    return colorWithRed(1, 0, 0, 1);
}
std::shared_ptr<UIColor> UIColor::greenColor()
{
    return colorWithRed(0, 1, 0, 1);
}
std::shared_ptr<UIColor> UIColor::blueColor()
{
    return colorWithRed(0, 0, 1, 1);
}

bool UIColor::getRed(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const
{
    if (isPattern())
        return false;
    if (red)
        *red = m_red;
    if (green)
        *green = m_green;
    if (blue)
        *blue = m_blue;
    if (alpha)
        *alpha = m_alpha;
    return true;
}

bool UIColor::getHue(CGFloat* hue, CGFloat* saturation, CGFloat* brightness, CGFloat* alpha) const
{
    if (isPattern())
        return false;
    CGFloat maxC = std::max({ m_red, m_green, m_blue });
    CGFloat minC = std::min({ m_red, m_green, m_blue });
    CGFloat delta = maxC - minC;
    CGFloat h = 0;
    if (delta > 0) {
        if (maxC == m_red)
            h = (m_green - m_blue) / delta;
        else if (maxC == m_green)
            h = 2 + (m_blue - m_red) / delta;
        else
            h = 4 + (m_red - m_green) / delta;
        h /= 6;
        if (h < 0)
            h += 1;
    }
    if (hue)
        *hue = h;
    if (saturation)
        *saturation = maxC > 0 ? delta / maxC : 0;
    if (brightness)
        *brightness = maxC;
    if (alpha)
        *alpha = m_alpha;
    return true;
}

bool UIColor::getWhite(CGFloat* white, CGFloat* alpha) const
{
    if (isPattern())
        return false;
    // Luma of the RGB components.
    if (white)
        *white = 0.299 * m_red + 0.587 * m_green + 0.114 * m_blue;
    if (alpha)
        *alpha = m_alpha;
    return true;
}

std::shared_ptr<UIColor> UIColor::colorWithAlphaComponent(CGFloat alpha) const
{
    auto color = std::make_shared<UIColor>(*this);
    color->m_alpha = alpha;
    return color;
}

void UIColor::setFill() const
{
    if (auto* context = UIGraphicsGetCurrentContext())
        context->state().fillColor = *this;
}

void UIColor::setStroke() const
{
    if (auto* context = UIGraphicsGetCurrentContext())
        context->state().strokeColor = *this;
}

void UIColor::set() const
{
    setFill();
    setStroke();
}

bool UIColor::isEqual(const UIColor& other) const
{
    if (isPattern() || other.isPattern())
        return m_patternImage == other.m_patternImage;
    return m_red == other.m_red && m_green == other.m_green && m_blue == other.m_blue && m_alpha == other.m_alpha;
}

}
