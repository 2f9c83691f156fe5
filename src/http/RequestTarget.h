#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

// The path of a request target read as a URL reference: without scheme,
// authority, query and fragment, percent escapes decoded, a trailing "/"
// dropped unless the path is "/" alone. Absent when the target holds a
// character a URL may not hold, a broken escape, an escape that decodes to
// no UTF-8 or to a zero byte, or when it has no path.
std::optional<std::string> requestPath(std::string_view target);

} // namespace vesk
