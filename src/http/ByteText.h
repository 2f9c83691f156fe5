#pragma once

#include "platform/foundation/NSString.h"

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

using platform::hexDigitValue;

// Decodes "%XX" escapes; absent when an escape is broken or the result is not UTF-8.
std::optional<std::string> removingPercentEncoding(std::string_view text);

} // namespace vesk
