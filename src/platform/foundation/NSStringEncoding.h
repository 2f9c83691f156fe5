#pragma once

#include "platform/foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vesk::platform {

enum class NSStringEncoding : std::uint32_t {
    UTF8 = 4,
    UTF16BigEndian = 0x90000100,
    UTF16LittleEndian = 0x94000100,
    UTF32BigEndian = 0x98000100,
    UTF32LittleEndian = 0x9c000100,
};

// Text from bytes whose encoding is detected: a byte-order mark picks UTF-8, UTF-16 or UTF-32
// in either byte order; without one the bytes must be UTF-8. Absent when they don't decode.
// The mark is not part of the text.
std::optional<std::string> stringFromDataDetectingEncoding(const Bytes& data, NSStringEncoding* usedEncoding = nullptr);

}
