#pragma once

#include "platform/graphics/CGGeometry.h"

#include <memory>
#include <string>

namespace vesk::platform {

class UIColor;
class UIFont;

enum NSTextAlignment { NSTextAlignmentLeft,
    NSTextAlignmentCenter,
    NSTextAlignmentRight,
    NSTextAlignmentJustified,
    NSTextAlignmentNatural };

// A value: a "mutable copy of the default paragraph style" is a copy of the default.
struct NSParagraphStyle {
    NSTextAlignment alignment = NSTextAlignmentNatural;
    static const NSParagraphStyle& defaultParagraphStyle();
};
using NSMutableParagraphStyle = NSParagraphStyle;

// The text attributes the drawing uses; absent ones take the platform's defaults
// (Helvetica 12, black, the default paragraph style).
struct NSStringAttributes {
    std::shared_ptr<UIFont> font;
    std::shared_ptr<UIColor> foregroundColor;
    NSParagraphStyle paragraphStyle;
};

enum NSStringDrawingOptions : unsigned {
    NSStringDrawingTruncatesLastVisibleLine = 1 << 5,
    NSStringDrawingUsesLineFragmentOrigin = 1 << 0,
    NSStringDrawingUsesFontLeading = 1 << 1,
    NSStringDrawingUsesDeviceMetrics = 1 << 3,
};

// Text is plain text: no markup is interpreted, and invalid UTF-8 is replaced by U+FFFD.
// Lines wrap at word boundaries within the width (inside a word when a word is too long).

// The size of the laid-out text within the given size (its height unbounded when large),
// from the line-fragment origin: x and y 0.
CGRect boundingRectWithSize(const std::string& text, CGSize size, unsigned options, const NSStringAttributes& attributes);
CGSize sizeWithAttributes(const std::string& text, const NSStringAttributes& attributes);
// Draws the text from the rectangle's top-left corner, wrapping at its width, aligned by the
// paragraph style; it does not clip.
void drawInRect(const std::string& text, const CGRect& rect, const NSStringAttributes& attributes);
void drawAtPoint(const std::string& text, CGPoint point, const NSStringAttributes& attributes);

}
