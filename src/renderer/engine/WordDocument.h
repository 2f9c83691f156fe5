#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

// A Word document (.doc, the binary format) as HTML through libwv: its paragraphs, line breaks
// and bold and italic text. Nothing when libwv can't read it (not a Word file, encrypted or
// damaged).
std::optional<std::string> htmlFromWordDocument(const std::vector<std::uint8_t>& data);

}
