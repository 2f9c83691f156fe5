#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {

// The colour as rgba() when it is written as hsl() or hsla() (with commas or spaces, a hue in
// any angle unit, an alpha as a number or a percentage), which the layout engine reads only as
// rgb(), a hex value or a name. Absent when it is none of them.
std::optional<std::string> rgbaFromHSL(std::string_view color);

}
