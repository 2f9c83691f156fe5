#pragma once

#include "platform/graphics/CGGeometry.h"

#include <memory>

namespace vesk::platform {

class UIImage;

// An immutable colour: RGB components with alpha (0 to 1, not clamped when made), or a
// pattern of a tiled image, which has no components to report.
class UIColor {
public:
    // Prefer the factories; colours are shared through std::shared_ptr.
    UIColor(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
    explicit UIColor(std::shared_ptr<UIImage> patternImage);

    static std::shared_ptr<UIColor> colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
    static std::shared_ptr<UIColor> colorWithHue(CGFloat hue, CGFloat saturation, CGFloat brightness, CGFloat alpha);
    static std::shared_ptr<UIColor> colorWithWhite(CGFloat white, CGFloat alpha);
    static std::shared_ptr<UIColor> colorWithPatternImage(std::shared_ptr<UIImage> image);

    // The platform's named colours; each call makes a new object.
    static std::shared_ptr<UIColor> blackColor();
    static std::shared_ptr<UIColor> darkGrayColor();
    static std::shared_ptr<UIColor> grayColor();
    static std::shared_ptr<UIColor> lightGrayColor();
    static std::shared_ptr<UIColor> whiteColor();
    static std::shared_ptr<UIColor> clearColor();
    static std::shared_ptr<UIColor> redColor();
    static std::shared_ptr<UIColor> greenColor();
    static std::shared_ptr<UIColor> blueColor();

    // Each getter fills the components it is given storage for (null pointers are skipped)
    // and answers false, touching nothing, for a pattern colour.
    bool getRed(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const;
    bool getHue(CGFloat* hue, CGFloat* saturation, CGFloat* brightness, CGFloat* alpha) const;
    bool getWhite(CGFloat* white, CGFloat* alpha) const;

    std::shared_ptr<UIColor> colorWithAlphaComponent(CGFloat alpha) const;

    // Makes this colour the fill, the stroke, or both, of the current context.
    void setFill() const;
    void setStroke() const;
    void set() const;

    bool isPattern() const { return m_patternImage != nullptr; }
    const std::shared_ptr<UIImage>& patternImage() const { return m_patternImage; }
    CGFloat red() const { return m_red; }
    CGFloat green() const { return m_green; }
    CGFloat blue() const { return m_blue; }
    CGFloat alpha() const { return m_alpha; }

    // Equal components (or the same pattern image).
    bool isEqual(const UIColor& other) const;

private:
    CGFloat m_red = 0;
    CGFloat m_green = 0;
    CGFloat m_blue = 0;
    CGFloat m_alpha = 1;
    std::shared_ptr<UIImage> m_patternImage;
};

}
