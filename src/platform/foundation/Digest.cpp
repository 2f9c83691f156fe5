#include "platform/foundation/Digest.h"

#include <algorithm>
#include <climits>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdexcept>

namespace vesk::platform {

SHA1Digest sha1(const std::uint8_t* bytes, std::size_t length)
{
    SHA1Digest digest {};
    unsigned size = 0;
    if (EVP_Digest(bytes, length, digest.data(), &size, EVP_sha1(), nullptr) != 1 || size != digest.size())
        throw std::runtime_error("SHA-1 digest failed");
    return digest;
}

SHA1Digest sha1(std::string_view bytes)
{
    return sha1(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string hexString(const std::uint8_t* bytes, std::size_t length)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string sha1HexString(std::string_view bytes)
{
    auto digest = sha1(bytes);
    return hexString(digest.data(), digest.size());
}

std::string base64Encode(const std::uint8_t* bytes, std::size_t length)
{
    std::string text;
    // EVP_EncodeBlock takes an int length: encode in slices that are whole groups of three.
    constexpr std::size_t slice = 3 * (1 << 20);
    for (std::size_t offset = 0; offset < length; offset += slice) {
        auto count = std::min(slice, length - offset);
        std::string chunk(4 * ((count + 2) / 3), '\0');
        auto written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(chunk.data()), bytes + offset, static_cast<int>(count));
        chunk.resize(static_cast<std::size_t>(written));
        text += chunk;
    }
    return text;
}

std::string base64Encode(const Bytes& bytes)
{
    return base64Encode(bytes.data(), bytes.size());
}

static int base64Digit(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::optional<Bytes> base64Decode(std::string_view text, bool ignoreUnknownCharacters)
{
    std::string clean;
    clean.reserve(text.size());
    for (char c : text) {
        if (base64Digit(c) >= 0 || c == '=')
            clean += c;
        else if (!ignoreUnknownCharacters)
            return std::nullopt;
    }
    if (clean.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    while (padding < clean.size() && clean[clean.size() - 1 - padding] == '=')
        ++padding;
    if (padding > 2 || clean.find('=') < clean.size() - padding)
        return std::nullopt;

    // Validated above, so the library only has to turn groups into bytes.
    Bytes result;
    constexpr std::size_t slice = 4 * (1 << 20);
    for (std::size_t offset = 0; offset < clean.size(); offset += slice) {
        auto count = std::min(slice, clean.size() - offset);
        Bytes chunk(count / 4 * 3);
        auto written = EVP_DecodeBlock(chunk.data(), reinterpret_cast<const unsigned char*>(clean.data() + offset), static_cast<int>(count));
        if (written < 0)
            return std::nullopt;
        chunk.resize(static_cast<std::size_t>(written));
        result.insert(result.end(), chunk.begin(), chunk.end());
    }
    result.resize(result.size() - padding);
    return result;
}

Bytes randomBytes(std::size_t count)
{
    Bytes bytes(count);
    std::size_t offset = 0;
    while (offset < count) {
        auto slice = std::min<std::size_t>(count - offset, INT_MAX);
        if (RAND_bytes(bytes.data() + offset, static_cast<int>(slice)) != 1)
            throw std::runtime_error("random bytes unavailable");
        offset += slice;
    }
    return bytes;
}

} // namespace vesk::platform
