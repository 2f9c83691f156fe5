#pragma once

#include "platform/foundation/Value.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {

using SHA1Digest = std::array<std::uint8_t, 20>;

SHA1Digest sha1(const std::uint8_t* bytes, std::size_t length);
SHA1Digest sha1(std::string_view bytes);
// 40 lower-case hex digits.
std::string sha1HexString(std::string_view bytes);
std::string hexString(const std::uint8_t* bytes, std::size_t length);

// Standard Base64 (RFC 4648) with "=" padding and no line breaks.
std::string base64Encode(const std::uint8_t* bytes, std::size_t length);
std::string base64Encode(const Bytes& bytes);
// Absent for anything but well-formed, padded Base64; with `ignoreUnknownCharacters`
// characters outside the alphabet (line breaks, spaces) are skipped first.
std::optional<Bytes> base64Decode(std::string_view text, bool ignoreUnknownCharacters = false);

// Cryptographically strong random bytes.
Bytes randomBytes(std::size_t count);

} // namespace vesk::platform
