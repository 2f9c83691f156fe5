#include "http/ByteText.h"

#include "platform/foundation/NSURL.h"

namespace vesk {

std::optional<std::string> removingPercentEncoding(std::string_view text)
{
    auto decoded = platform::percentDecode(text);
    if (!decoded || !platform::isValidUTF8(*decoded))
        return std::nullopt;
    return decoded;
}

} // namespace vesk
