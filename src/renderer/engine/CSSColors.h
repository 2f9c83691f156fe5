#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {

// The colour as rgba() when it is written as hsl() or hsla() (with commas or spaces, a hue in
// any angle unit, an alpha as a number or a percentage), which the layout engine reads only as
// rgb(), a hex value or a name. Absent when it is none of them.
std::optional<std::string> rgbaFromHSL(std::string_view color);

// A colour attribute of old HTML (bgcolor, text, link) as CSS reads it: a colour name, or the
// hex value the HTML standard's rules for legacy colour values make of any other text. Absent
// for an empty value and "transparent".
std::optional<std::string> cssFromLegacyColor(std::string_view value);

}
