#include "renderer/engine/HTMLEncoding.h"

#include "renderer/engine/HTMLText.h"

#include <algorithm>
#include <cerrno>
#include <glib.h>
#include <iconv.h>
#include <uchardet/uchardet.h>
#include <vector>

namespace vesk::platform {

namespace {

    constexpr std::size_t prescanBytes = 1024;
    // Enough of a page for a guess; more only costs time.
    constexpr std::size_t guessBytes = 64 * 1024;

    std::string lowercase(std::string_view text)
    {
        std::string result(text);
        std::transform(result.begin(), result.end(), result.begin(), lowerASCII);
        return result;
    }

    bool startsWithNoCase(std::string_view text, std::size_t at, std::string_view prefix)
    {
        if (text.size() - std::min(at, text.size()) < prefix.size())
            return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            if (lowerASCII(text[at + i]) != prefix[i])
                return false;
        }
        return true;
    }

    // The iconv name of an encoding label, as browsers read labels: the Latin-1 labels mean
    // windows-1252, the UTF-16 ones UTF-16LE. Absent for a label iconv doesn't know.
    std::optional<std::string> encodingOfLabel(std::string_view label)
    {
        while (!label.empty() && isHTMLSpace(label.front()))
            label.remove_prefix(1);
        while (!label.empty() && isHTMLSpace(label.back()))
            label.remove_suffix(1);
        auto name = lowercase(label);
        if (name.empty() || name.size() > 40 || !std::all_of(name.begin(), name.end(), [](char c) { return g_ascii_isalnum(c) || c == '-' || c == '_' || c == ':' || c == '.'; }))
            return std::nullopt;
        static const std::pair<std::vector<std::string_view>, const char*> aliases[] = {
            { { "utf-8", "utf8", "unicode-1-1-utf-8", "unicode11utf8", "unicode20utf8", "x-unicode20utf8" }, "UTF-8" },
            { { "utf-16", "utf-16le", "unicode", "ucs-2", "csunicode", "iso-10646-ucs-2", "unicodefeff" }, "UTF-16LE" },
            { { "utf-16be", "unicodefffe" }, "UTF-16BE" },
            { { "ascii", "us-ascii", "ansi_x3.4-1968", "iso-8859-1", "iso8859-1", "iso88591", "iso_8859-1", "iso_8859-1:1987", "latin1", "l1", "cp819",
                  "ibm819", "iso-ir-100", "csisolatin1", "cp1252", "windows-1252", "x-cp1252" },
                "WINDOWS-1252" },
            { { "iso-8859-9", "iso8859-9", "iso_8859-9", "latin5", "l5", "windows-1254", "cp1254" }, "WINDOWS-1254" },
            { { "iso-8859-11", "tis-620", "windows-874" }, "CP874" },
            { { "gb2312", "gbk", "chinese", "x-gbk", "csgb2312" }, "GBK" },
            { { "x-user-defined" }, "WINDOWS-1252" },
        };
        for (auto& [labels, encoding] : aliases) {
            if (std::find(labels.begin(), labels.end(), name) != labels.end())
                return encoding;
        }
        auto upper = name;
        std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return g_ascii_toupper(c); });
        auto converter = iconv_open("UTF-8", upper.c_str());
        if (converter == reinterpret_cast<iconv_t>(-1))
            return std::nullopt;
        iconv_close(converter);
        return upper;
    }

    // The charset named in a <meta http-equiv content="...">, as the HTML standard reads it.
    std::optional<std::string> charsetOfContent(std::string_view content)
    {
        std::size_t at = 0;
        auto lowered = lowercase(content);
        while (true) {
            auto found = lowered.find("charset", at);
            if (found == std::string::npos)
                return std::nullopt;
            at = found + 7;
            while (at < content.size() && isHTMLSpace(content[at]))
                ++at;
            if (at < content.size() && content[at] == '=')
                break;
        }
        ++at;
        while (at < content.size() && isHTMLSpace(content[at]))
            ++at;
        if (at >= content.size())
            return std::nullopt;
        if (content[at] == '"' || content[at] == '\'') {
            auto end = content.find(content[at], at + 1);
            if (end == std::string_view::npos)
                return std::nullopt;
            return std::string(content.substr(at + 1, end - at - 1));
        }
        auto end = at;
        while (end < content.size() && !isHTMLSpace(content[end]) && content[end] != ';')
            ++end;
        return std::string(content.substr(at, end - at));
    }

    // One attribute of a tag in the prescan; absent at the tag's end.
    std::optional<std::pair<std::string, std::string>> nextAttribute(std::string_view text, std::size_t& at)
    {
        while (at < text.size() && (isHTMLSpace(text[at]) || text[at] == '/'))
            ++at;
        if (at >= text.size() || text[at] == '>')
            return std::nullopt;
        std::string name, value;
        while (at < text.size()) {
            char c = text[at];
            if ((c == '=' && !name.empty()) || isHTMLSpace(c) || c == '/' || c == '>')
                break;
            name += lowerASCII(c);
            ++at;
        }
        while (at < text.size() && isHTMLSpace(text[at]))
            ++at;
        if (at >= text.size() || text[at] != '=')
            return std::pair { name, value };
        ++at;
        while (at < text.size() && isHTMLSpace(text[at]))
            ++at;
        if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
            char quote = text[at++];
            while (at < text.size() && text[at] != quote)
                value += lowerASCII(text[at++]);
            ++at;
            return std::pair { name, value };
        }
        while (at < text.size() && !isHTMLSpace(text[at]) && text[at] != '>')
            value += lowerASCII(text[at++]);
        return std::pair { name, value };
    }

    // The bytes converted to UTF-8; what the encoding can't read becomes U+FFFD.
    std::string converted(std::string_view bytes, const std::string& encoding)
    {
        auto converter = iconv_open("UTF-8", encoding.c_str());
        if (converter == reinterpret_cast<iconv_t>(-1))
            converter = iconv_open("UTF-8", "WINDOWS-1252");
        std::size_t unit = encoding.starts_with("UTF-16") ? 2 : 1;
        std::string out;
        out.reserve(bytes.size() + bytes.size() / 2);
        char buffer[16384];
        auto* in = const_cast<char*>(bytes.data());
        std::size_t left = bytes.size();
        while (left > 0) {
            char* to = buffer;
            std::size_t room = sizeof buffer;
            auto result = iconv(converter, &in, &left, &to, &room);
            out.append(buffer, static_cast<std::size_t>(to - buffer));
            if (result != static_cast<std::size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // A byte sequence it can't read, or one cut off at the end.
            out += "\xEF\xBF\xBD";
            auto skip = std::min(left, errno == EINVAL ? left : unit);
            in += skip;
            left -= skip;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
        iconv_close(converter);
        return out;
    }

    std::optional<std::string> guessedEncoding(std::string_view bytes)
    {
        auto* detector = uchardet_new();
        if (!detector)
            return std::nullopt;
        std::optional<std::string> encoding;
        auto sample = bytes.substr(0, guessBytes);
        if (uchardet_handle_data(detector, sample.data(), sample.size()) == 0) {
            uchardet_data_end(detector);
            if (const char* name = uchardet_get_charset(detector); name && *name)
                encoding = encodingOfLabel(name);
        }
        uchardet_delete(detector);
        return encoding;
    }

}

std::optional<std::string> charsetOfContentType(std::string_view contentType)
{
    auto semicolon = contentType.find(';');
    if (semicolon == std::string_view::npos)
        return std::nullopt;
    return charsetOfContent(contentType.substr(semicolon + 1));
}

std::optional<std::string> prescannedCharset(std::string_view bytes)
{
    auto text = bytes.substr(0, prescanBytes);
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] != '<') {
            ++at;
            continue;
        }
        if (text.compare(at, 4, "<!--") == 0) {
            auto end = text.find("-->", at + 2);
            if (end == std::string_view::npos)
                return std::nullopt;
            at = end + 3;
            continue;
        }
        if (startsWithNoCase(text, at, "<meta") && at + 5 < text.size() && (isHTMLSpace(text[at + 5]) || text[at + 5] == '/')) {
            at += 5;
            bool gotPragma = false;
            std::optional<bool> needPragma;
            std::optional<std::string> charset;
            std::vector<std::string> seen;
            while (auto attribute = nextAttribute(text, at)) {
                auto& [name, value] = *attribute;
                if (std::find(seen.begin(), seen.end(), name) != seen.end())
                    continue;
                seen.push_back(name);
                if (name == "http-equiv" && value == "content-type") {
                    gotPragma = true;
                } else if (name == "content" && !charset) {
                    if (auto named = charsetOfContent(value)) {
                        charset = named;
                        needPragma = true;
                    }
                } else if (name == "charset") {
                    charset = value;
                    needPragma = false;
                }
            }
            if (!needPragma || (*needPragma && !gotPragma) || !charset)
                continue;
            auto encoding = encodingOfLabel(*charset);
            if (!encoding)
                continue;
            // A page read by its bytes can't be UTF-16: its markup would have read otherwise.
            if (encoding->starts_with("UTF-16"))
                encoding = "UTF-8";
            return encoding;
        }
        if (at + 1 < text.size() && (g_ascii_isalpha(text[at + 1]) || (text[at + 1] == '/' && at + 2 < text.size() && g_ascii_isalpha(text[at + 2])))) {
            while (at < text.size() && !isHTMLSpace(text[at]) && text[at] != '>')
                ++at;
            while (nextAttribute(text, at)) { }
            ++at;
            continue;
        }
        if (text.compare(at, 2, "<!") == 0 || text.compare(at, 2, "</") == 0 || text.compare(at, 2, "<?") == 0) {
            auto end = text.find('>', at);
            if (end == std::string_view::npos)
                return std::nullopt;
            at = end + 1;
            continue;
        }
        ++at;
    }
    return std::nullopt;
}

DecodedHTML decodedHTML(std::string_view bytes, std::optional<std::string_view> httpCharset)
{
    std::optional<std::string> encoding;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        encoding = "UTF-8";
        bytes.remove_prefix(3);
    } else if (bytes.starts_with("\xFF\xFE")) {
        encoding = "UTF-16LE";
        bytes.remove_prefix(2);
    } else if (bytes.starts_with("\xFE\xFF")) {
        encoding = "UTF-16BE";
        bytes.remove_prefix(2);
    }
    if (!encoding && httpCharset)
        encoding = encodingOfLabel(*httpCharset);
    if (!encoding)
        encoding = prescannedCharset(bytes);
    if (!encoding) {
        // Most pages that declare nothing are UTF-8 or plain ASCII; the rest are guessed.
        if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr))
            encoding = "UTF-8";
        else
            encoding = guessedEncoding(bytes).value_or("WINDOWS-1252");
    }
    return { converted(bytes, *encoding), *encoding };
}

}
