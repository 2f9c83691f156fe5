#include "renderer/engine/TextElements.h"

#include "renderer/engine/HTMLNesting.h"
#include "renderer/engine/HTMLText.h"

#include <algorithm>
#include <functional>

namespace vesk::platform {

namespace {

    // Elements whose content is not markup: the parser reads it as text up to its end tag.
    bool isRawText(std::string_view name)
    {
        for (std::string_view raw : { "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes", "noscript", "plaintext" }) {
            if (name == raw)
                return true;
        }
        return false;
    }

    // Calls `text` for each run of text outside tags, comments and raw text, with whether it is
    // inside <pre> or <listing>.
    void scanText(std::string_view html, const std::function<void(std::size_t, std::size_t, bool)>& text)
    {
        std::size_t at = 0, start = 0, preformatted = 0;
        std::string name;
        auto flush = [&](std::size_t end) {
            if (end > start)
                text(start, end, preformatted > 0);
        };
        while ((at = html.find('<', at)) != std::string_view::npos) {
            if (html.compare(at, 4, "<!--") == 0) {
                flush(at);
                auto end = html.find("-->", at + 4);
                at = start = end == std::string_view::npos ? html.size() : end + 3;
                continue;
            }
            bool closing = at + 1 < html.size() && html[at + 1] == '/';
            auto nameStart = at + (closing ? 2 : 1);
            if (nameStart >= html.size() || !isASCIILetter(html[nameStart])) {
                ++at;
                continue;
            }
            flush(at);
            name.clear();
            auto end = nameStart;
            while (end < html.size() && !isHTMLSpace(html[end]) && html[end] != '/' && html[end] != '>')
                name += lowerASCII(html[end++]);
            // The tag's end, past quoted attribute values.
            char quote = 0;
            for (; end < html.size(); ++end) {
                if (quote) {
                    if (html[end] == quote)
                        quote = 0;
                } else if (html[end] == '"' || html[end] == '\'') {
                    quote = html[end];
                } else if (html[end] == '>') {
                    break;
                }
            }
            at = start = std::min(end + 1, html.size());
            if (name == "pre" || name == "listing") {
                if (!closing)
                    ++preformatted;
                else if (preformatted > 0)
                    --preformatted;
            } else if (!closing && isRawText(name)) {
                at = start = htmlRawTextEnd(html, at, name);
            }
        }
        flush(html.size());
    }

}

std::size_t htmlTextElements(std::string_view html)
{
    std::size_t elements = 0;
    scanText(html, [&](std::size_t start, std::size_t end, bool) {
        bool inWord = false;
        for (auto at = start; at < end; ++at) {
            char c = html[at];
            if (isHTMLSpace(c)) {
                // A run of spaces is one element; every other whitespace character one of its own.
                if (c != ' ' || at == start || html[at - 1] != ' ')
                    ++elements;
                inWord = false;
            } else if (!inWord) {
                ++elements;
                inWord = true;
            }
        }
    });
    return elements;
}

std::string htmlWithPreformattedLinesJoined(std::string_view html)
{
    // Each space becomes two bytes: counted first, so that the copy is made once at its size.
    std::size_t spaces = 0;
    scanText(html, [&](std::size_t start, std::size_t end, bool preformatted) {
        if (preformatted)
            spaces += static_cast<std::size_t>(std::count(html.begin() + static_cast<std::ptrdiff_t>(start), html.begin() + static_cast<std::ptrdiff_t>(end), ' '));
    });
    std::string out;
    out.reserve(html.size() + spaces);
    std::size_t copied = 0;
    scanText(html, [&](std::size_t start, std::size_t end, bool preformatted) {
        if (!preformatted)
            return;
        out.append(html.substr(copied, start - copied));
        for (auto at = start; at < end; ++at) {
            if (html[at] == ' ')
                out += "\xC2\xA0";
            else
                out += html[at];
        }
        copied = end;
    });
    out.append(html.substr(copied));
    return out;
}

}
