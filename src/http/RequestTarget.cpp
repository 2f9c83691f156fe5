#include "http/RequestTarget.h"

#include "http/ByteText.h"

#include <cstring>

namespace vesk {

namespace {

    bool isAlpha(char character)
    {
        return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z');
    }

    bool isDigit(char character)
    {
        return character >= '0' && character <= '9';
    }

    bool isUrlCharacter(char character)
    {
        return isAlpha(character) || isDigit(character) || (character != 0 && std::strchr("-._~!$&'()*+,;=:@/?#%", character));
    }

    // Length of a leading "scheme:", or 0.
    size_t schemeLength(std::string_view text)
    {
        if (text.empty() || !isAlpha(text[0]))
            return 0;
        for (size_t index = 1; index < text.size(); ++index) {
            char character = text[index];
            if (character == ':')
                return index + 1;
            if (!isAlpha(character) && !isDigit(character) && character != '+' && character != '-' && character != '.')
                return 0;
        }
        return 0;
    }

} // namespace

std::optional<std::string> requestPath(std::string_view target)
{
    for (size_t index = 0; index < target.size(); ++index) {
        if (!isUrlCharacter(target[index]))
            return std::nullopt;
        if (target[index] == '%'
            && (index + 2 >= target.size() || hexDigitValue(target[index + 1]) < 0 || hexDigitValue(target[index + 2]) < 0))
            return std::nullopt;
    }
    size_t fragment = target.find('#');
    if (fragment != std::string_view::npos) {
        if (target.find('#', fragment + 1) != std::string_view::npos)
            return std::nullopt;
        target = target.substr(0, fragment);
    }
    target = target.substr(0, target.find('?'));
    target.remove_prefix(schemeLength(target));
    if (target.starts_with("//")) {
        size_t pathStart = target.find('/', 2);
        target = pathStart == std::string_view::npos ? std::string_view() : target.substr(pathStart);
    }
    // Only a slash written as such ends the path; an escaped one ("%2F") is data.
    if (target.size() > 1 && target.back() == '/')
        target.remove_suffix(1);
    auto path = removingPercentEncoding(target);
    if (!path || path->empty() || path->find('\0') != std::string::npos)
        return std::nullopt;
    return path;
}

} // namespace vesk
