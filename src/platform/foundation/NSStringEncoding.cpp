#include "platform/foundation/NSStringEncoding.h"

#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace vesk::platform {

namespace {

    bool startsWith(const Bytes& data, std::initializer_list<std::uint8_t> prefix)
    {
        return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
    }

    // Strict: a malformed or unpaired unit fails the whole conversion.
    std::optional<std::string> convertToUTF8(const std::uint8_t* bytes, std::size_t length, const char* from)
    {
        iconv_t converter = ::iconv_open("UTF-8", from);
        if (converter == reinterpret_cast<iconv_t>(-1))
            return std::nullopt;
        std::string out(length * 2 + 16, '\0');
        auto* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
        std::size_t inLeft = length;
        std::size_t written = 0;
        bool ok = true;
        while (inLeft > 0) {
            char* outPointer = out.data() + written;
            std::size_t outLeft = out.size() - written;
            std::size_t result = ::iconv(converter, &in, &inLeft, &outPointer, &outLeft);
            written = out.size() - outLeft;
            if (result != static_cast<std::size_t>(-1))
                continue;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            ok = false;
            break;
        }
        ::iconv_close(converter);
        if (!ok)
            return std::nullopt;
        out.resize(written);
        return out;
    }

}

std::optional<std::string> stringFromDataDetectingEncoding(const Bytes& data, NSStringEncoding* usedEncoding)
{
    struct Mark {
        std::initializer_list<std::uint8_t> bytes;
        const char* name;
        NSStringEncoding encoding;
    };
    // UTF-32 first: its little-endian mark begins with UTF-16's.
    static const Mark marks[] = {
        { { 0xFF, 0xFE, 0x00, 0x00 }, "UTF-32LE", NSStringEncoding::UTF32LittleEndian },
        { { 0x00, 0x00, 0xFE, 0xFF }, "UTF-32BE", NSStringEncoding::UTF32BigEndian },
        { { 0xFF, 0xFE }, "UTF-16LE", NSStringEncoding::UTF16LittleEndian },
        { { 0xFE, 0xFF }, "UTF-16BE", NSStringEncoding::UTF16BigEndian },
    };
    for (auto& mark : marks) {
        if (!startsWith(data, mark.bytes))
            continue;
        auto text = convertToUTF8(data.data() + mark.bytes.size(), data.size() - mark.bytes.size(), mark.name);
        if (text && usedEncoding)
            *usedEncoding = mark.encoding;
        return text;
    }
    std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
    if (startsWith(data, { 0xEF, 0xBB, 0xBF }))
        bytes.remove_prefix(3);
    if (!isValidUTF8(bytes))
        return std::nullopt;
    if (usedEncoding)
        *usedEncoding = NSStringEncoding::UTF8;
    return std::string(bytes);
}

}
