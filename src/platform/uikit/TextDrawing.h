#pragma once

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIFont.h"

#include <cairo.h>
#include <memory>
#include <string>

// Text as the views draw it: plain text (no markup, invalid UTF-8 replaced), laid out in a
// rectangle and never drawn outside it.
namespace vesk::platform::text {

enum class Align {
    Left,
    Center,
    Right,
};

enum class Wrap {
    Clip,
    TruncateHead,
    TruncateMiddle,
    TruncateTail,
    WordWrap,
    CharWrap,
};

struct Style {
    std::shared_ptr<UIFont> font;
    UIColor color { 0, 0, 0, 1 };
    Align align = Align::Left;
    // 0: as many as fit the rectangle.
    int lines = 1;
    Wrap wrap = Wrap::TruncateTail;
    // Shrinks a single line until it fits the width.
    bool shrinkToFit = false;
};

// Draws the text vertically centred in the rectangle, clipped to it; lines beyond the limit
// or the rectangle's height are dropped, the last shown line ending in "…" when truncating.
void draw(cairo_t* cr, const std::string& text, const CGRect& rect, const Style& style);
// The size the text takes on one line (or wrapped at the width, when above zero).
CGSize measure(const std::string& text, const std::shared_ptr<UIFont>& font, CGFloat width = 0);
// The text in capitals (of any script), invalid UTF-8 replaced.
std::string uppercased(const std::string& text);

}
