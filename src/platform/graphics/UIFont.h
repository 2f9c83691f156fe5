#pragma once

#include "platform/graphics/CGGeometry.h"

#include <memory>
#include <string>

namespace vesk::platform {

// A font by family and weight at a size in points. "Helvetica", "Helvetica-Bold" and the
// system font are Liberation Sans; installed families are found by name.
class UIFont {
public:
    UIFont(std::string fontName, std::string family, bool bold, CGFloat pointSize);

    // Null when no such font is installed (as the platform answers for an unknown name).
    static std::shared_ptr<UIFont> fontWithName(const std::string& fontName, CGFloat size);
    static std::shared_ptr<UIFont> systemFontOfSize(CGFloat size);
    static std::shared_ptr<UIFont> boldSystemFontOfSize(CGFloat size);

    const std::string& fontName() const { return m_fontName; }
    const std::string& familyName() const { return m_family; }
    bool isBold() const { return m_bold; }
    CGFloat pointSize() const { return m_pointSize; }
    // Line metrics in points.
    CGFloat ascender() const;
    CGFloat descender() const; // negative, as the platform reports it
    CGFloat lineHeight() const;

private:
    std::string m_fontName;
    std::string m_family;
    bool m_bold;
    CGFloat m_pointSize;
};

}
