#pragma once

#include <string>
#include <string_view>

namespace vesk {

// The lower-case hexadecimal SHA-1 digest of the text's UTF-8 bytes (40 characters).
std::string sha1Hex(std::string_view text);

// The device identity: sha1Hex of the five device answers joined by "-". Asked anew on every
// call; Utility::getADID hands this out.
std::string deviceIdentity();

// The keys under which the settings live in the standard user defaults: sha1Hex of the device
// identity followed by the key's suffix. Each is built once, on its first read, from any thread.
const std::string& hashedDefaultsKey1V2(); // bookmark list (keyed archive data)
const std::string& hashedDefaultsKey2(); // "Show hidden files" (Bool)
const std::string& hashedDefaultsKey4(); // "Show debug messages" (Bool)
const std::string& hashedDefaultsKey6(); // clipboard (dictionary)
const std::string& hashedDefaultsKey7(); // "HTTP Server" (Bool)
const std::string& hashedDefaultsKey8(); // blocked client addresses (dictionary)

}
