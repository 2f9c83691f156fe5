#pragma once

#include <cstdint>
#include <string>

namespace vesk::platform {

class NSByteCountFormatter {
public:
    enum class CountStyle {
        File = 0,
        Memory = 1,
        Decimal = 2,
        Binary = 3,
    };

    // File and Decimal count 1000 bytes to the KB, Memory and Binary 1024:
    // "Zero KB", "1 byte", "999 bytes", "1 KB", "1.5 MB", "12 MB".
    static std::string stringFromByteCount(std::int64_t byteCount, CountStyle style = CountStyle::File);
};

} // namespace vesk::platform
