#include "http/ByteText.h"

#include "platform/foundation/NSURL.h"

#include <cstdint>

namespace vesk {

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
    auto decoded = platform::percentDecode(text);
    if (!decoded || !platform::isValidUTF8(*decoded))
        return std::nullopt;
    return decoded;
}

} // namespace vesk
