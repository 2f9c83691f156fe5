#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {

// The MIME type registered for a file extension (without the dot) in
// /etc/mime.types, compared without case; the first type listing it wins.
// Absent for an empty or unknown extension. The table is read once, on first use.
std::optional<std::string> mimeTypeForExtension(std::string_view extension);

} // namespace vesk::platform
