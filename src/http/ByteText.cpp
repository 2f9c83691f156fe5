#include "http/ByteText.h"

#include <cstdint>

namespace vesk {

bool isValidUtf8(std::string_view text)
{
    size_t index = 0;
    while (index < text.size()) {
        auto byte = static_cast<uint8_t>(text[index]);
        size_t length;
        uint32_t codePoint;
        if (byte < 0x80) {
            ++index;
            continue;
        }
        if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2;
            codePoint = byte & 0x1F;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3;
            codePoint = byte & 0x0F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            codePoint = byte & 0x07;
        } else {
            return false;
        }
        if (index + length > text.size())
            return false;
        for (size_t i = 1; i < length; ++i) {
            auto next = static_cast<uint8_t>(text[index + i]);
            if ((next & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000) || codePoint > 0x10FFFF
            || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        index += length;
    }
    return true;
}

int hexDigitValue(char character)
{
    if (character >= '0' && character <= '9')
        return character - '0';
    if (character >= 'a' && character <= 'f')
        return character - 'a' + 10;
    if (character >= 'A' && character <= 'F')
        return character - 'A' + 10;
    return -1;
}

std::optional<std::string> removingPercentEncoding(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (size_t index = 0; index < text.size(); ++index) {
        if (text[index] != '%') {
            result.push_back(text[index]);
            continue;
        }
        if (index + 2 >= text.size())
            return std::nullopt;
        int high = hexDigitValue(text[index + 1]);
        int low = hexDigitValue(text[index + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        result.push_back(static_cast<char>(high * 16 + low));
        index += 2;
    }
    if (!isValidUtf8(result))
        return std::nullopt;
    return result;
}

} // namespace vesk
