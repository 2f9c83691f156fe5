#include "renderer/engine/StyleBounds.h"

#include "renderer/engine/HTMLNesting.h"
#include "renderer/engine/HTMLText.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace vesk::platform {

namespace {

    bool isNameChar(char c)
    {
        return isASCIILetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_' || static_cast<unsigned char>(c) >= 0x80;
    }
    std::string lowercase(std::string_view text)
    {
        std::string result(text);
        std::transform(result.begin(), result.end(), result.begin(), lowerASCII);
        return result;
    }

    struct Attribute {
        std::string name;
        std::size_t valueStart = 0;
        std::size_t valueEnd = 0;
    };

    // A start tag's attributes from just after its name; `at` ends after its '>' (or at the end).
    std::vector<Attribute> readAttributes(std::string_view html, std::size_t& at)
    {
        std::vector<Attribute> attributes;
        while (at < html.size()) {
            while (at < html.size() && (isHTMLSpace(html[at]) || html[at] == '/'))
                ++at;
            if (at >= html.size())
                break;
            if (html[at] == '>') {
                ++at;
                break;
            }
            Attribute attribute;
            while (at < html.size() && !isHTMLSpace(html[at]) && html[at] != '/' && html[at] != '>' && (html[at] != '=' || attribute.name.empty()))
                attribute.name += lowerASCII(html[at++]);
            while (at < html.size() && isHTMLSpace(html[at]))
                ++at;
            attribute.valueStart = attribute.valueEnd = at;
            if (at < html.size() && html[at] == '=') {
                ++at;
                while (at < html.size() && isHTMLSpace(html[at]))
                    ++at;
                if (at < html.size() && (html[at] == '"' || html[at] == '\'')) {
                    char quote = html[at++];
                    attribute.valueStart = at;
                    at = std::min(html.find(quote, at), html.size());
                    attribute.valueEnd = at;
                    if (at < html.size())
                        ++at;
                } else {
                    attribute.valueStart = at;
                    while (at < html.size() && !isHTMLSpace(html[at]) && html[at] != '>')
                        ++at;
                    attribute.valueEnd = at;
                }
            }
            attributes.push_back(std::move(attribute));
        }
        return attributes;
    }

    bool isRawText(std::string_view name)
    {
        static constexpr std::string_view raw[] = { "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes", "plaintext" };
        return std::find(std::begin(raw), std::end(raw), name) != std::end(raw);
    }

    struct Tag {
        std::string name;
        bool closing = false;
        bool selfClosing = false;
        std::vector<Attribute> attributes;
    };

    // Calls back for each start and end tag, and for the text of each element of raw text.
    void scan(std::string_view html, const std::function<void(const Tag&)>& tag, const std::function<void(const std::string&, std::size_t, std::size_t)>& raw)
    {
        std::size_t at = 0;
        Tag found;
        while ((at = html.find('<', at)) != std::string_view::npos) {
            if (html.compare(at, 4, "<!--") == 0) {
                auto end = html.find("-->", at + 2);
                if (end == std::string_view::npos)
                    return;
                at = end + 3;
                continue;
            }
            found.closing = at + 2 < html.size() && html[at + 1] == '/';
            std::size_t nameStart = at + (found.closing ? 2 : 1);
            if (nameStart >= html.size() || !isASCIILetter(html[nameStart])) {
                ++at;
                continue;
            }
            std::size_t nameEnd = nameStart;
            while (nameEnd < html.size() && !isHTMLSpace(html[nameEnd]) && html[nameEnd] != '/' && html[nameEnd] != '>')
                ++nameEnd;
            found.name = lowercase(html.substr(nameStart, nameEnd - nameStart));
            std::size_t end = nameEnd;
            found.attributes = readAttributes(html, end);
            found.selfClosing = end >= 2 && html[end - 1] == '>' && html[end - 2] == '/';
            tag(found);
            at = end;
            if (!found.closing && isRawText(found.name)) {
                auto stop = htmlRawTextEnd(html, at, found.name);
                raw(found.name, at, stop);
                at = stop;
            }
        }
    }

    // How deep the page's elements nest, about as a parser would nest them: elements a parser
    // ends on its own (paragraphs, list items, cells) end where it would end them most often.
    class Depth {
    public:
        void add(const Tag& tag)
        {
            static constexpr std::string_view empty[] = { "area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr", "param",
                "keygen", "basefont", "bgsound", "frame", "image" };
            static constexpr std::string_view closeP[] = { "address", "article", "aside", "blockquote", "div", "dl", "fieldset", "footer", "form", "h1", "h2", "h3", "h4",
                "h5", "h6", "header", "hr", "main", "nav", "ol", "p", "pre", "section", "table", "ul" };
            auto& name = tag.name;
            if (tag.closing) {
                for (auto index = m_open.size(); index > 0; --index) {
                    if (m_open[index - 1] == name) {
                        m_open.resize(index - 1);
                        break;
                    }
                }
                return;
            }
            auto top = [&](std::initializer_list<std::string_view> names) {
                return !m_open.empty() && std::find(names.begin(), names.end(), m_open.back()) != names.end();
            };
            if (std::find(std::begin(closeP), std::end(closeP), name) != std::end(closeP) && top({ "p" }))
                m_open.pop_back();
            if ((name == "li" && top({ "li" })) || ((name == "dt" || name == "dd") && top({ "dt", "dd" })) || (name == "option" && top({ "option" })))
                m_open.pop_back();
            if ((name == "td" || name == "th" || name == "tr") && top({ "td", "th" }))
                m_open.pop_back();
            if (name == "tr" && top({ "tr" }))
                m_open.pop_back();
            if (tag.selfClosing || std::find(std::begin(empty), std::end(empty), name) != std::end(empty))
                return;
            m_open.push_back(name);
            m_deepest = std::max(m_deepest, m_open.size());
        }
        std::size_t deepest() const { return m_deepest; }

    private:
        std::vector<std::string> m_open;
        std::size_t m_deepest = 0;
    };

    // A cell's span as the HTML standard reads it, clamped to its bounds.
    long span(std::string_view value, long maximum)
    {
        std::size_t at = 0;
        while (at < value.size() && isHTMLSpace(value[at]))
            ++at;
        if (at < value.size() && value[at] == '+')
            ++at;
        long number = 0;
        bool digits = false;
        for (; at < value.size() && value[at] >= '0' && value[at] <= '9'; ++at) {
            digits = true;
            number = std::min(maximum, number * 10 + (value[at] - '0'));
        }
        return digits ? std::clamp(number, 1L, maximum) : 1;
    }

    // Where the block that starts after `at` ends: at its closing '}', or the text's end. Skips
    // strings and comments.
    std::size_t blockEnd(std::string_view css, std::size_t at)
    {
        std::size_t depth = 1;
        while (at < css.size()) {
            char c = css[at];
            if (c == '"' || c == '\'') {
                for (++at; at < css.size() && css[at] != c && css[at] != '\n'; ++at) {
                    if (css[at] == '\\')
                        ++at;
                }
            } else if (c == '/' && at + 1 < css.size() && css[at + 1] == '*') {
                auto end = css.find("*/", at + 2);
                at = end == std::string_view::npos ? css.size() : end + 1;
            } else if (c == '\\') {
                ++at;
            } else if (c == '{') {
                ++depth;
            } else if (c == '}' && --depth == 0) {
                return at;
            }
            ++at;
        }
        return css.size();
    }

    // The selectors of a list, split at its top-level commas.
    std::vector<std::string_view> selectors(std::string_view list)
    {
        std::vector<std::string_view> parts;
        int depth = 0;
        char quote = 0;
        std::size_t start = 0;
        for (std::size_t at = 0; at < list.size(); ++at) {
            char c = list[at];
            if (quote) {
                if (c == '\\')
                    ++at;
                else if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '(' || c == '[') {
                ++depth;
            } else if ((c == ')' || c == ']') && depth > 0) {
                --depth;
            } else if (c == ',' && depth == 0) {
                parts.push_back(list.substr(start, at - start));
                start = at + 1;
            }
        }
        parts.push_back(list.substr(start));
        return parts;
    }

    std::string_view trimmed(std::string_view text)
    {
        while (!text.empty() && isHTMLSpace(text.front()))
            text.remove_prefix(1);
        while (!text.empty() && isHTMLSpace(text.back()))
            text.remove_suffix(1);
        return text;
    }

    // The media features the layout engine knows; it ignores any other, so that a query naming
    // one matches as if it were not there.
    constexpr std::string_view knownMediaFeatures[] = { "width", "height", "device-width", "device-height", "orientation", "aspect-ratio",
        "device-aspect-ratio", "color", "color-index", "monochrome", "resolution" };

    bool isKnownMediaFeature(std::string_view feature)
    {
        if (feature.starts_with("min-") || feature.starts_with("max-"))
            feature.remove_prefix(4);
        return std::find(std::begin(knownMediaFeatures), std::end(knownMediaFeatures), feature) != std::end(knownMediaFeatures);
    }

    // One condition of a media query, in the engine's words: a range (`width >= 600px`) as the
    // min- or max- feature it means, one the engine doesn't know as whether it holds here (a
    // light screen that moves), or absent when the query can't match.
    std::optional<std::string> mediaCondition(std::string_view condition)
    {
        auto text = lowercase(trimmed(condition));
        for (auto [op, prefix, reversed] : { std::tuple { ">=", "min-", "max-" }, std::tuple { "<=", "max-", "min-" }, std::tuple { ">", "min-", "max-" },
                 std::tuple { "<", "max-", "min-" } }) {
            auto at = text.find(op);
            if (at == std::string::npos)
                continue;
            std::string left(trimmed(std::string_view(text).substr(0, at))), right(trimmed(std::string_view(text).substr(at + std::strlen(op))));
            if (right.find_first_of("<>") != std::string::npos)
                return std::nullopt;
            if (isKnownMediaFeature(left) && !left.starts_with("min-") && !left.starts_with("max-"))
                return prefix + left + ":" + right;
            if (isKnownMediaFeature(right) && !right.starts_with("min-") && !right.starts_with("max-"))
                return reversed + right + ":" + left;
            return std::nullopt;
        }
        auto colon = text.find(':');
        std::string feature(trimmed(std::string_view(text).substr(0, colon)));
        if (isKnownMediaFeature(feature))
            return text;
        std::string value = colon == std::string::npos ? "" : std::string(trimmed(std::string_view(text).substr(colon + 1)));
        if ((feature == "prefers-color-scheme" && value == "light") || (feature == "prefers-reduced-motion" && value == "no-preference")
            || (feature == "prefers-contrast" && value == "no-preference"))
            return std::string();
        return std::nullopt;
    }

    // A media query list as the engine should read it: queries with conditions it doesn't know
    // are decided here (a page's dark theme is for screens that ask for one), ranges written as
    // the engine's min- and max- features. Empty when no query can match.
    std::string mediaQueries(std::string_view list)
    {
        std::string out;
        for (auto query : selectors(list)) {
            std::string rewritten;
            bool matches = true, negated = lowercase(trimmed(query)).starts_with("not");
            std::size_t at = 0;
            while (at < query.size()) {
                auto open = query.find('(', at);
                if (open == std::string_view::npos) {
                    rewritten.append(query.substr(at));
                    break;
                }
                auto close = query.find(')', open);
                if (close == std::string_view::npos) {
                    matches = false;
                    break;
                }
                rewritten.append(query.substr(at, open - at));
                auto condition = mediaCondition(query.substr(open + 1, close - open - 1));
                if (!condition) {
                    matches = false;
                    break;
                }
                if (condition->empty()) {
                    // Holds: left out, with the "and" that joined it.
                    // Only the end of what is kept so far is looked at: a long query stays linear.
                    auto trimEnd = [&] {
                        while (!rewritten.empty() && isHTMLSpace(rewritten.back()))
                            rewritten.pop_back();
                    };
                    trimEnd();
                    auto size = rewritten.size();
                    if (size >= 3 && lowercase(std::string_view(rewritten).substr(size - 3)) == "and" && (size == 3 || isHTMLSpace(rewritten[size - 4]))) {
                        rewritten.resize(size - 3);
                        trimEnd();
                    }
                    auto first = rewritten.find_first_not_of(" \t\r\n\f");
                    rewritten.erase(0, first == std::string::npos ? rewritten.size() : first);
                    auto next = query.find_first_not_of(" \t\r\n\f", close + 1);
                    at = next != std::string_view::npos && lowercase(query.substr(next, 3)) == "and" && rewritten.empty() ? next + 3 : close + 1;
                    if (!rewritten.empty())
                        rewritten += ' ';
                    continue;
                }
                rewritten.append("(").append(*condition).append(")");
                at = close + 1;
            }
            if (!matches && negated) {
                // The engine's own reading, as before.
                rewritten = std::string(trimmed(query));
                matches = true;
            }
            if (!matches)
                continue;
            rewritten.erase(std::unique(rewritten.begin(), rewritten.end(), [](char a, char b) { return a == ' ' && b == ' '; }), rewritten.end());
            auto kept = trimmed(rewritten);
            if (!out.empty())
                out += ',';
            out += kept.empty() ? "all" : std::string(kept);
        }
        return out;
    }

    // The values of a declaration, split at spaces outside brackets and strings.
    std::vector<std::string_view> values(std::string_view value)
    {
        std::vector<std::string_view> parts;
        std::size_t start = 0;
        int brackets = 0;
        char quote = 0;
        for (std::size_t at = 0; at <= value.size(); ++at) {
            char c = at < value.size() ? value[at] : ' ';
            if (quote) {
                quote = c == quote ? 0 : quote;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '(') {
                ++brackets;
            } else if (c == ')' && brackets > 0) {
                --brackets;
            } else if (isHTMLSpace(c) && brackets == 0) {
                if (at > start)
                    parts.push_back(value.substr(start, at - start));
                start = at + 1;
            }
        }
        return parts;
    }

    // A declaration of a logical property (margin-inline-start, border-block, inset-inline,
    // block-size...) as the physical ones it sets in horizontal text read left to right, which
    // the layout engine knows; the declaration as it is otherwise.
    std::string physicalDeclaration(std::string_view declaration)
    {
        auto colon = declaration.find(':');
        if (colon == std::string_view::npos)
            return std::string(declaration);
        auto name = lowercase(trimmed(declaration.substr(0, colon)));
        auto value = trimmed(declaration.substr(colon + 1));
        std::string important;
        if (auto bang = value.rfind('!'); bang != std::string_view::npos && lowercase(trimmed(value.substr(bang + 1))) == "important") {
            important = " !important";
            value = trimmed(value.substr(0, bang));
        }
        auto set = [&](std::string_view property, std::string_view to) { return std::string(property) + ":" + std::string(to) + important; };
        static constexpr std::pair<std::string_view, std::string_view> sizes[] = { { "block-size", "height" }, { "inline-size", "width" } };
        for (auto& [logical, physical] : sizes) {
            for (std::string_view prefix : { "", "min-", "max-" }) {
                if (name == std::string(prefix) + std::string(logical))
                    return set(std::string(prefix) + std::string(physical), value);
            }
        }
        static constexpr std::tuple<std::string_view, std::string_view, std::string_view> axes[] = { { "block", "top", "bottom" }, { "inline", "left", "right" } };
        for (auto& [axis, start, end] : axes) {
            for (std::string_view box : { "margin", "padding", "border", "inset" }) {
                std::string prefix = std::string(box) + "-" + std::string(axis);
                if (!name.starts_with(prefix))
                    continue;
                auto rest = std::string_view(name).substr(prefix.size());
                auto side = [&](std::string_view physical, std::string_view suffix) {
                    return box == "inset" ? std::string(physical) + std::string(suffix) : std::string(box) + "-" + std::string(physical) + std::string(suffix);
                };
                for (auto [edge, physical] : { std::pair { std::string_view("-start"), start }, std::pair { std::string_view("-end"), end } }) {
                    if (rest.starts_with(edge))
                        return set(side(physical, rest.substr(edge.size())), value);
                }
                // A shorthand for both edges: one value for both, or the start's and the end's;
                // a border's is one value for both.
                if (!rest.empty() && (box != "border" || (rest != "-width" && rest != "-style" && rest != "-color")))
                    break;
                auto parts = box == "border" && rest.empty() ? std::vector<std::string_view> { value } : values(value);
                if (parts.empty() || parts.size() > 2)
                    break;
                return set(side(start, rest), parts.front()) + ";" + set(side(end, rest), parts.back());
            }
        }
        return std::string(declaration);
    }

    // Whether a rule's declarations may name a logical property.
    bool mayNameLogicalProperties(std::string_view body)
    {
        return body.find("-block") != std::string_view::npos || body.find("-inline") != std::string_view::npos || body.find("block-size") != std::string_view::npos
            || body.find("inline-size") != std::string_view::npos;
    }

    // Declarations with their lengths in ex, ch and pc written in units the layout engine knows:
    // it reads those three as pixels, and `margin: 5ex 10ex; max-width: 80ex` left a manual's
    // text two words wide. An ex and a ch as high and as wide as the default sans-serif font's x
    // and zero, a pica as 12 points. Absent when there are none. Strings and url() are left as
    // they are.
    std::optional<std::string> withKnownLengthUnits(std::string_view text)
    {
        auto hasUnit = [&](std::size_t at) {
            return at + 2 <= text.size() && at > 0 && ((text[at - 1] >= '0' && text[at - 1] <= '9') || text[at - 1] == '.');
        };
        bool any = false;
        for (auto at = text.find_first_of("eEcCpP"); at != std::string_view::npos && !any; at = text.find_first_of("eEcCpP", at + 1))
            any = hasUnit(at);
        if (!any)
            return std::nullopt;
        std::string out;
        bool changed = false;
        std::size_t at = 0;
        while (at < text.size()) {
            char c = text[at];
            if (c == '"' || c == '\'') {
                auto end = at + 1;
                while (end < text.size() && text[end] != c)
                    end += text[end] == '\\' ? 2 : 1;
                end = std::min(end + 1, text.size());
                out.append(text.substr(at, end - at));
                at = end;
                continue;
            }
            if ((c == 'u' || c == 'U') && at + 4 <= text.size() && lowercase(text.substr(at, 4)) == "url(" && (at == 0 || !isNameChar(text[at - 1]))) {
                auto end = std::min(text.find(')', at), text.size());
                out.append(text.substr(at, end - at));
                at = end;
                continue;
            }
            // A number starts a token where no name goes on into it.
            bool digit = (c >= '0' && c <= '9') || (c == '.' && at + 1 < text.size() && text[at + 1] >= '0' && text[at + 1] <= '9');
            bool signedNumber = at > 0 && (text[at - 1] == '-' || text[at - 1] == '+') && (at < 2 || !isNameChar(text[at - 2]));
            if (!digit || (at > 0 && !signedNumber && (isNameChar(text[at - 1]) || text[at - 1] == '.'))) {
                out += c;
                ++at;
                continue;
            }
            auto end = at;
            while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.'))
                ++end;
            auto unitEnd = end;
            while (unitEnd < text.size() && isASCIILetter(text[unitEnd]))
                ++unitEnd;
            auto unit = lowercase(text.substr(end, unitEnd - end));
            static constexpr std::pair<std::string_view, double> factors[] = { { "ex", 0.53 }, { "ch", 0.56 }, { "pc", 12 } };
            double factor = 0;
            for (auto& [name, times] : factors)
                factor = unit == name ? times : factor;
            double value = 0;
            auto [parsedEnd, parseError] = std::from_chars(text.data() + at, text.data() + end, value);
            if (factor == 0 || (unitEnd < text.size() && isNameChar(text[unitEnd])) || parseError != std::errc() || parsedEnd != text.data() + end) {
                out.append(text.substr(at, unitEnd - at));
                at = unitEnd;
                continue;
            }
            char converted[32];
            auto [written, error] = std::to_chars(converted, converted + sizeof converted, value * factor, std::chars_format::general, 6);
            out.append(converted, error == std::errc() ? written : converted).append(unit == "pc" ? "pt" : "em");
            changed = true;
            at = unitEnd;
        }
        if (!changed)
            return std::nullopt;
        return out;
    }

    std::string withoutComments(std::string_view text)
    {
        std::string out;
        for (std::size_t at = 0; at < text.size(); ++at) {
            if (text[at] == '/' && at + 1 < text.size() && text[at + 1] == '*') {
                auto end = text.find("*/", at + 2);
                at = end == std::string_view::npos ? text.size() : end + 1;
                continue;
            }
            out += text[at];
        }
        return out;
    }

}

std::string heldCustomPropertyReferences(std::string_view css)
{
    std::string out;
    out.reserve(css.size());
    bool declarationStart = true;
    std::size_t at = 0;
    while (at < css.size()) {
        char c = css[at];
        if (isHTMLSpace(c)) {
            out += c;
            ++at;
            continue;
        }
        if (c == '{' || c == ';' || c == '}') {
            declarationStart = true;
            out += c;
            ++at;
            continue;
        }
        if (!declarationStart || css.compare(at, 2, "--") != 0) {
            declarationStart = false;
            out += c;
            ++at;
            continue;
        }
        // A custom property's declaration: its name, then its value up to the ';' or '}' that
        // ends it outside strings and brackets.
        declarationStart = false;
        auto name = at + 2;
        while (name < css.size() && isNameChar(css[name]))
            ++name;
        auto colon = name;
        while (colon < css.size() && isHTMLSpace(css[colon]))
            ++colon;
        out.append(css.substr(at, colon - at));
        at = colon;
        if (at >= css.size() || css[at] != ':')
            continue;
        char quote = 0;
        int brackets = 0;
        for (; at < css.size(); ++at) {
            c = css[at];
            if (quote) {
                if (c == '\\' && at + 1 < css.size())
                    out += css[at++];
                else if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '(' || c == '[') {
                ++brackets;
            } else if ((c == ')' || c == ']') && brackets > 0) {
                --brackets;
            } else if (brackets == 0 && (c == ';' || c == '}')) {
                break;
            } else if (css.compare(at, 4, "var(") == 0 && (at == 0 || !isNameChar(css[at - 1]))) {
                out += "vref(";
                at += 3;
                ++brackets;
                continue;
            }
            out += c;
        }
    }
    return out;
}

StyleBounds::StyleBounds(std::string_view markup)
{
    // The parser makes these even where the markup leaves them out.
    for (auto* name : { "html", "head", "body", "tbody", "tr", "colgroup" })
        m_tags.insert(name);
    Depth depth;
    scan(
        markup,
        [&](const Tag& tag) {
            depth.add(tag);
            if (tag.closing)
                return;
            // The parser reads <image> as <img>.
            m_tags.insert(tag.name == "image" ? "img" : tag.name);
            for (auto& attribute : tag.attributes) {
                auto value = markup.substr(attribute.valueStart, attribute.valueEnd - attribute.valueStart);
                if (attribute.name == "id") {
                    m_ids.insert(lowercase(value));
                } else if (attribute.name == "class") {
                    std::size_t at = 0;
                    while (at < value.size()) {
                        while (at < value.size() && isHTMLSpace(value[at]))
                            ++at;
                        auto end = at;
                        while (end < value.size() && !isHTMLSpace(value[end]))
                            ++end;
                        if (end > at)
                            m_classes.insert(lowercase(value.substr(at, end - at)));
                        at = end;
                    }
                }
            }
        },
        [](const std::string&, std::size_t, std::size_t) {});
    // Each descendant combinator may try every ancestor again for each way the parts before it
    // matched: as many chains as ways to pick that many of the deepest element's ancestors.
    // Long selectors are kept where that stays small (pages people read nest 20 to 40 deep).
    auto ancestors = double(std::min(depth.deepest(), maximumHTMLNesting) + 3);
    double ways = 1;
    m_branchingCombinators = 0;
    while (m_branchingCombinators < maximumSelectorParts) {
        ways = ways * (ancestors - m_branchingCombinators) / (m_branchingCombinators + 1);
        if (ways > maximumAncestorChains)
            break;
        ++m_branchingCombinators;
    }
}

std::string StyleBounds::boundedMarkup(std::string_view markup)
{
    std::string out;
    out.reserve(markup.size());
    std::size_t copied = 0;
    auto copyTo = [&](std::size_t at) {
        out.append(markup.substr(copied, at - copied));
        copied = at;
    };
    scan(
        markup,
        [&](const Tag& tag) {
            if (tag.closing)
                return;
            for (auto& attribute : tag.attributes) {
                if (attribute.name == "style") {
                    auto style = markup.substr(attribute.valueStart, attribute.valueEnd - attribute.valueStart);
                    auto known = withKnownLengthUnits(style);
                    if (known)
                        style = *known;
                    if (!known && style.find("var(") == std::string_view::npos)
                        continue;
                    copyTo(attribute.valueStart);
                    out += style.find("var(") == std::string_view::npos ? std::string(style) : heldCustomPropertyReferences(style);
                    copied = attribute.valueEnd;
                    continue;
                }
                if (tag.name != "td" && tag.name != "th")
                    continue;
                bool column = attribute.name == "colspan";
                if (!column && attribute.name != "rowspan")
                    continue;
                if (attribute.valueEnd == attribute.valueStart && (attribute.valueStart >= markup.size() || markup[attribute.valueStart] != '"'))
                    continue;
                copyTo(attribute.valueStart);
                out += std::to_string(span(markup.substr(attribute.valueStart, attribute.valueEnd - attribute.valueStart), column ? maximumColspan : maximumRowspan));
                copied = attribute.valueEnd;
            }
        },
        [&](const std::string& name, std::size_t start, std::size_t end) {
            if (name != "style")
                return;
            copyTo(start);
            out += boundedSheet(markup.substr(start, end - start));
            copied = end;
        });
    copyTo(markup.size());
    return out;
}

std::string StyleBounds::boundedSheet(std::string_view css)
{
    std::string out;
    bound(css, 0, out);
    return out.find("var(") == std::string::npos ? out : heldCustomPropertyReferences(out);
}

void StyleBounds::bound(std::string_view css, std::size_t depth, std::string& out)
{
    std::size_t at = 0;
    while (at < css.size()) {
        // The prelude: up to a '{' or ';' outside strings, comments and brackets.
        std::string prelude;
        char quote = 0;
        int brackets = 0;
        for (; at < css.size(); ++at) {
            char c = css[at];
            if (quote) {
                prelude += c;
                if (c == '\\' && at + 1 < css.size())
                    prelude += css[++at];
                else if (c == quote)
                    quote = 0;
                continue;
            }
            if (c == '/' && at + 1 < css.size() && css[at + 1] == '*') {
                auto end = css.find("*/", at + 2);
                at = end == std::string_view::npos ? css.size() : end + 1;
                continue;
            }
            // Old pages hide their styles from old browsers in a comment of markup.
            if (css.compare(at, 4, "<!--") == 0 || css.compare(at, 3, "-->") == 0) {
                at += c == '<' ? 3 : 2;
                continue;
            }
            if ((c == '{' || c == ';') && brackets == 0)
                break;
            if (c == '}' && brackets == 0) {
                // A stray end: what came before it is dropped.
                prelude.clear();
                continue;
            }
            if (c == '"' || c == '\'')
                quote = c;
            else if (c == '(' || c == '[')
                ++brackets;
            else if ((c == ')' || c == ']') && brackets > 0)
                --brackets;
            prelude += c;
        }
        auto head = trimmed(prelude);
        if (at >= css.size())
            break;
        if (css[at] == ';') {
            ++at;
            if (head.starts_with('@'))
                out.append(head).append(";");
            continue;
        }
        auto end = blockEnd(css, at + 1);
        auto body = css.substr(at + 1, end - at - 1);
        at = end + 1;
        if (head.starts_with('@')) {
            std::size_t nameEnd = 1;
            while (nameEnd < head.size() && isNameChar(head[nameEnd]))
                ++nameEnd;
            auto name = lowercase(head.substr(1, nameEnd - 1));
            if (depth + 1 >= maximumStyleBlockNesting)
                continue;
            if (name == "media" || name == "supports") {
                if (name == "media") {
                    auto queries = mediaQueries(head.substr(nameEnd));
                    if (queries.empty())
                        continue;
                    out.append("@media ").append(queries).append("{");
                } else {
                    out.append(head).append("{");
                }
                bound(body, depth + 1, out);
                out += "}";
            } else if (body.find('{') == std::string_view::npos) {
                out.append(head).append("{").append(body).append("}");
            }
            continue;
        }
        std::vector<std::string> list;
        for (auto selector : selectors(head))
            list.emplace_back(trimmed(selector));
        styleRule(list, body, depth, out);
    }
}

// A style rule with the selectors it applies to; rules nested in it (as browsers read them now)
// written out after it as rules of their own, which the layout engine would take for
// declarations of the outer rule.
void StyleBounds::styleRule(const std::vector<std::string>& list, std::string_view body, std::size_t depth, std::string& out)
{
    std::vector<std::string> kept;
    std::string joined;
    for (auto& selector : list) {
        if (m_selectors >= maximumStyleSelectors)
            break;
        if (selector.empty() || !keeps(selector))
            continue;
        if (!joined.empty())
            joined += ',';
        joined += selector;
        kept.push_back(selector);
        ++m_selectors;
    }
    if (kept.empty())
        return;
    auto parts = ruleBody(body);
    if (parts.nested.empty() && !mayNameLogicalProperties(body)) {
        auto known = withKnownLengthUnits(body);
        out.append(joined).append("{").append(known ? *known : body).append("}");
        return;
    }
    auto known = withKnownLengthUnits(parts.declarations);
    out.append(joined).append("{").append(known ? *known : parts.declarations).append("}");
    for (auto& [head, inner] : parts.nested) {
        if (depth + 1 >= maximumStyleBlockNesting)
            break;
        if (head.starts_with('@')) {
            std::size_t nameEnd = 1;
            while (nameEnd < head.size() && isNameChar(head[nameEnd]))
                ++nameEnd;
            auto name = lowercase(head.substr(1, nameEnd - 1));
            if (name != "media" && name != "supports")
                continue;
            if (name == "media") {
                auto queries = mediaQueries(head.substr(nameEnd));
                if (queries.empty())
                    continue;
                out.append("@media ").append(queries).append("{");
            } else {
                out.append(head).append("{");
            }
            styleRule(kept, inner, depth + 1, out);
            out += "}";
            continue;
        }
        // Each outer selector with each inner one: '&' stands for the outer one, and an inner
        // selector without it is the outer's descendant (or sibling, after its combinator).
        std::vector<std::string> combined;
        auto inners = selectors(head);
        for (auto& outer : kept) {
            for (auto selector : inners) {
                selector = trimmed(selector);
                if (m_nestedSelectors >= maximumNestedSelectors || m_selectors + combined.size() >= maximumStyleSelectors)
                    break;
                if (selector.empty())
                    continue;
                ++m_nestedSelectors;
                std::string joinedSelector;
                if (selector.find('&') == std::string_view::npos) {
                    joinedSelector = outer + " " + std::string(selector);
                } else {
                    for (char c : selector) {
                        if (c == '&')
                            joinedSelector += outer;
                        else
                            joinedSelector += c;
                        if (joinedSelector.size() > maximumSelectorLength)
                            break;
                    }
                }
                if (joinedSelector.size() <= maximumSelectorLength)
                    combined.push_back(std::move(joinedSelector));
            }
        }
        styleRule(combined, inner, depth + 1, out);
    }
}

// A rule's declarations, and the rules nested among them with their preludes.
StyleBounds::RuleBody StyleBounds::ruleBody(std::string_view body)
{
    RuleBody parts;
    bool logical = mayNameLogicalProperties(body);
    std::size_t at = 0, start = 0;
    char quote = 0;
    int brackets = 0;
    auto declaration = [&](std::size_t end) {
        if (start >= end)
            return;
        auto text = trimmed(body.substr(start, end - start));
        if (!text.empty())
            parts.declarations.append(logical ? physicalDeclaration(text) : std::string(text)).append(";");
    };
    for (; at < body.size(); ++at) {
        char c = body[at];
        if (quote) {
            if (c == '\\')
                ++at;
            else if (c == quote)
                quote = 0;
        } else if (c == '/' && at + 1 < body.size() && body[at + 1] == '*') {
            auto end = body.find("*/", at + 2);
            at = end == std::string_view::npos ? body.size() : end + 1;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(' || c == '[') {
            ++brackets;
        } else if ((c == ')' || c == ']') && brackets > 0) {
            --brackets;
        } else if (c == ';' && brackets == 0) {
            declaration(at);
            start = at + 1;
        } else if (c == '{' && brackets == 0) {
            auto end = blockEnd(body, at + 1);
            parts.nested.emplace_back(trimmed(withoutComments(body.substr(start, at - start))), body.substr(at + 1, std::min(end, body.size()) - at - 1));
            at = end;
            start = at + 1;
        }
    }
    declaration(std::min(at, body.size()));
    return parts;
}

// Whether the selector is within the bounds and may match one of the page's elements: every
// type, class and id it names outside brackets must be the page's.
bool StyleBounds::keeps(std::string_view selector)
{
    if (selector.size() > maximumSelectorLength)
        return false;
    bool escaped = selector.find('\\') != std::string_view::npos;
    bool siblings = selector.find(":nth-") != std::string_view::npos;
    std::size_t parts = 0;
    std::size_t branching = 0;
    char combinator = 0;
    bool inPart = false;
    std::size_t at = 0;
    auto name = [&] {
        auto start = at;
        while (at < selector.size() && isNameChar(selector[at]))
            ++at;
        return selector.substr(start, at - start);
    };
    while (at < selector.size()) {
        char c = selector[at];
        if (isHTMLSpace(c) || c == '>' || c == '+' || c == '~') {
            if (inPart || (combinator == ' ' && !isHTMLSpace(c)))
                combinator = c == '\t' || c == '\n' || c == '\r' || c == '\f' ? ' ' : c;
            inPart = false;
            ++at;
            continue;
        }
        if (!inPart) {
            inPart = true;
            if (++parts > maximumSelectorParts)
                return false;
            if ((combinator == ' ' || combinator == '~') && ++branching > m_branchingCombinators)
                return false;
            combinator = 0;
        }
        if (c == '[' || c == '(') {
            // Attribute tests and the arguments of pseudo-classes require nothing by name.
            int depth = 0;
            char quote = 0;
            for (; at < selector.size(); ++at) {
                char d = selector[at];
                if (quote) {
                    if (d == '\\')
                        ++at;
                    else if (d == quote)
                        quote = 0;
                } else if (d == '"' || d == '\'') {
                    quote = d;
                } else if (d == '[' || d == '(') {
                    ++depth;
                } else if ((d == ']' || d == ')') && --depth == 0) {
                    break;
                }
            }
            ++at;
        } else if (c == '.' || c == '#') {
            ++at;
            auto required = name();
            // Compared without case, as a page in quirks mode would be: kept when in doubt.
            if (!escaped && !required.empty() && !(c == '.' ? m_classes : m_ids).count(lowercase(required)))
                return false;
        } else if (c == ':') {
            while (at < selector.size() && selector[at] == ':')
                ++at;
            name();
        } else if (isNameChar(c)) {
            auto tag = lowercase(name());
            if (!escaped && !m_tags.count(tag))
                return false;
        } else {
            ++at;
        }
    }
    if (siblings && ++m_siblingSelectors > maximumSiblingSelectors)
        return false;
    return true;
}

}
