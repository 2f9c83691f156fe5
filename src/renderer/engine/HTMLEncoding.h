#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {

// A page's text in UTF-8 and the encoding it was read in (an iconv name).
struct DecodedHTML {
    std::string text;
    std::string encoding;
};

// The page's bytes as UTF-8 text, its encoding found as browsers find it: a byte-order mark,
// then the charset of the HTTP Content-Type, then a <meta> charset in the first 1,024 bytes,
// then UTF-8 when the bytes are valid UTF-8, else a guess from the bytes. Bytes the encoding
// can't read become U+FFFD; it never fails.
DecodedHTML decodedHTML(std::string_view bytes, std::optional<std::string_view> httpCharset = std::nullopt);

// The charset parameter of a Content-Type header value ("text/html; charset=ISO-8859-1").
std::optional<std::string> charsetOfContentType(std::string_view contentType);

// The encoding a <meta> in the first 1,024 bytes declares (an iconv name), as the HTML prescan
// finds it.
std::optional<std::string> prescannedCharset(std::string_view bytes);

}
