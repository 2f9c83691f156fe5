#pragma once

namespace vesk::platform {

// ASCII whitespace as HTML and CSS count it: no vertical tab, unlike the C library's.
constexpr bool isHTMLSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

}
