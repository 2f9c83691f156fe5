#pragma once

#include "platform/graphics/NSStringDrawing.h"
#include "platform/graphics/UIFont.h"

#include <pango/pangocairo.h>
#include <string>

namespace vesk::platform {

// Text as valid UTF-8 without NUL bytes: invalid sequences and NULs become U+FFFD.
std::string sanitizedText(const std::string& text);

// A pango layout over the cairo context, with metrics that do not depend on the device
// scale (no hinting, no rounding of glyph positions) and 72 dots per inch, holding the text
// as plain text in the font. The caller unrefs it.
PangoLayout* createTextLayout(cairo_t* cr, const std::string& text, const UIFont& font);

// The default font of attributed text: Helvetica 12.
std::shared_ptr<UIFont> defaultTextFont();

}
