#pragma once

#include <cstdint>

namespace vesk::platform {

enum class NSStringEncoding : std::uint32_t {
    UTF8 = 4,
    UTF16BigEndian = 0x90000100,
    UTF16LittleEndian = 0x94000100,
    UTF32BigEndian = 0x98000100,
    UTF32LittleEndian = 0x9c000100,
};

}
