#include "platform/foundation/NSByteCountFormatter.h"

#include <cmath>
#include <cstdio>

namespace vesk::platform {

namespace {

    std::string groupThousands(std::uint64_t number)
    {
        auto digits = std::to_string(number);
        std::string out;
        for (std::size_t i = 0; i < digits.size(); ++i) {
            if (i && (digits.size() - i) % 3 == 0)
                out += ',';
            out += digits[i];
        }
        return out;
    }

}

std::string NSByteCountFormatter::stringFromByteCount(std::int64_t byteCount, CountStyle style)
{
    if (byteCount == 0)
        return "Zero KB";
    std::string sign = byteCount < 0 ? "-" : "";
    // The magnitude, taken without overflowing at the most negative count.
    std::uint64_t magnitude = byteCount < 0 ? 0 - static_cast<std::uint64_t>(byteCount) : static_cast<std::uint64_t>(byteCount);
    if (magnitude == 1)
        return sign + "1 byte";
    double base = (style == CountStyle::Memory || style == CountStyle::Binary) ? 1024.0 : 1000.0;
    if (magnitude < 1000)
        return sign + groupThousands(magnitude) + " bytes";

    static constexpr const char* units[] = { "KB", "MB", "GB", "TB", "PB", "EB" };
    // Kilobytes are whole; larger units show one fraction digit for MB and two beyond.
    static constexpr int fractionDigits[] = { 0, 1, 2, 2, 2, 2 };
    double value = static_cast<double>(magnitude) / base;
    std::size_t unit = 0;
    for (;;) {
        double scale = std::pow(10.0, fractionDigits[unit]);
        double rounded = std::round(value * scale) / scale;
        if (rounded >= base && unit + 1 < std::size(units)) {
            value /= base;
            ++unit;
            continue;
        }
        value = rounded;
        break;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", fractionDigits[unit], value);
    std::string number = buffer;
    // Trailing zeros of the fraction are dropped: "12 MB", not "12.0 MB".
    if (number.find('.') != std::string::npos) {
        while (number.back() == '0')
            number.pop_back();
        if (number.back() == '.')
            number.pop_back();
    }
    auto dot = number.find('.');
    auto whole = number.substr(0, dot);
    auto fraction = dot == std::string::npos ? std::string {} : number.substr(dot);
    return sign + groupThousands(std::stoull(whole)) + fraction + " " + units[unit];
}

} // namespace vesk::platform
