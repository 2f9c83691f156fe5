#include "renderer/engine/HTMLNesting.h"

#include "renderer/engine/HTMLText.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vesk::platform {

namespace {

    enum Kind : unsigned {
        Void = 1 << 0,
        Raw = 1 << 1,
        Formatting = 1 << 2,
        Special = 1 << 3,
        // Ends the scope an end tag looks for its element in; also where reopened formatting stops.
        Boundary = 1 << 4,
        Marker = 1 << 5,
        ClosesParagraph = 1 << 6,
        Heading = 1 << 7,
        TablePart = 1 << 8,
        LeavesForeign = 1 << 9,
        Ignored = 1 << 10,
        // Opens no formatting element again before it.
        KeepsFormattingClosed = 1 << 11,
    };

    unsigned kindOf(std::string_view name)
    {
        static const auto* kinds = [] {
            auto* map = new std::unordered_map<std::string_view, unsigned>;
            auto add = [&](std::initializer_list<std::string_view> names, unsigned kind) {
                for (auto name : names)
                    (*map)[name] |= kind;
            };
            add({ "area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "image", "img", "input", "keygen", "link", "meta", "param", "source", "track", "wbr" }, Void);
            add({ "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes", "plaintext" }, Raw);
            add({ "a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong", "tt", "u" }, Formatting);
            add({ "address", "applet", "area", "article", "aside", "base", "basefont", "bgsound", "blockquote", "body", "br", "button", "caption", "center", "col",
                    "colgroup", "dd", "details", "dir", "div", "dl", "dt", "embed", "fieldset", "figcaption", "figure", "footer", "form", "frame", "frameset", "h1",
                    "h2", "h3", "h4", "h5", "h6", "head", "header", "hgroup", "hr", "html", "iframe", "img", "input", "keygen", "li", "link", "listing", "main",
                    "marquee", "menu", "meta", "nav", "noembed", "noframes", "noscript", "object", "ol", "p", "param", "plaintext", "pre", "script", "section",
                    "select", "source", "style", "summary", "table", "tbody", "td", "template", "textarea", "tfoot", "th", "thead", "title", "tr", "track", "ul",
                    "wbr", "xmp", "mi", "mo", "mn", "ms", "mtext", "annotation-xml", "foreignobject", "desc" },
                Special);
            add({ "applet", "caption", "html", "table", "td", "th", "marquee", "object", "template", "mi", "mo", "mn", "ms", "mtext", "annotation-xml", "foreignobject", "desc", "title" }, Boundary);
            add({ "applet", "object", "marquee", "template", "td", "th", "caption" }, Marker);
            add({ "address", "article", "aside", "blockquote", "center", "details", "dialog", "dir", "div", "dl", "fieldset", "figcaption", "figure", "footer", "form",
                    "h1", "h2", "h3", "h4", "h5", "h6", "header", "hgroup", "hr", "main", "menu", "nav", "ol", "p", "pre", "section", "summary", "ul", "li", "dd", "dt",
                    "listing", "plaintext" },
                ClosesParagraph);
            add({ "h1", "h2", "h3", "h4", "h5", "h6" }, Heading);
            add({ "table", "tbody", "thead", "tfoot", "tr", "td", "th", "caption", "colgroup" }, TablePart);
            add({ "b", "big", "blockquote", "body", "br", "center", "code", "dd", "div", "dl", "dt", "em", "embed", "h1", "h2", "h3", "h4", "h5", "h6", "head", "hr",
                    "i", "img", "li", "listing", "menu", "meta", "nobr", "ol", "p", "pre", "ruby", "s", "small", "span", "strong", "strike", "sub", "sup", "table",
                    "tt", "u", "ul", "var" },
                LeavesForeign);
            add({ "html", "head", "body" }, Ignored);
            add({ "address", "article", "aside", "blockquote", "center", "details", "dialog", "dir", "div", "dl", "fieldset", "figcaption", "figure", "footer",
                    "header", "hgroup", "main", "menu", "nav", "ol", "p", "section", "summary", "ul", "h1", "h2", "h3", "h4", "h5", "h6", "pre", "listing", "form",
                    "li", "dd", "dt", "plaintext", "table", "hr", "textarea", "iframe", "noembed", "noscript", "caption", "col", "colgroup", "frame", "head", "tbody",
                    "td", "tfoot", "th", "thead", "tr", "base", "link", "meta", "script", "style", "title", "body", "html", "frameset", "rb", "rp", "rt", "rtc",
                    "param", "source", "track", "noframes", "basefont", "bgsound" },
                KeepsFormattingClosed);
            return map;
        }();
        auto found = kinds->find(name);
        return found == kinds->end() ? 0 : found->second;
    }

    // Where a tag's attributes end, after its '>', as the tokenizer reads them (a quoted value may
    // hold a '>'); npos when the markup ends first. Whether it ends in "/>" outside a value.
    std::size_t tagEnd(std::string_view html, std::size_t at, bool* selfClosing = nullptr)
    {
        enum { BeforeName,
            Name,
            AfterName,
            BeforeValue,
            Quoted,
            Unquoted,
            AfterQuoted } state
            = BeforeName;
        char quote = 0;
        // Whether the character before was a '/' outside a value.
        bool slash = false;
        auto ended = [&](std::size_t end, bool closes) {
            if (selfClosing)
                *selfClosing = closes;
            return end;
        };
        for (; at < html.size(); ++at) {
            char c = html[at];
            bool afterSlash = std::exchange(slash, false);
            switch (state) {
            case BeforeName:
            case AfterQuoted:
                if (c == '>')
                    return ended(at + 1, afterSlash);
                if (c == '/')
                    slash = true;
                else if (!isHTMLSpace(c))
                    state = Name;
                break;
            case Name:
            case AfterName:
                if (c == '>')
                    return ended(at + 1, false);
                if (c == '=') {
                    state = BeforeValue;
                } else if (isHTMLSpace(c)) {
                    state = AfterName;
                } else if (c == '/') {
                    state = BeforeName;
                    slash = true;
                } else {
                    state = Name;
                }
                break;
            case BeforeValue:
                if (c == '>')
                    return ended(at + 1, false);
                if (c == '"' || c == '\'') {
                    quote = c;
                    state = Quoted;
                } else if (!isHTMLSpace(c)) {
                    state = Unquoted;
                }
                break;
            case Quoted:
                if (c == quote)
                    state = AfterQuoted;
                break;
            case Unquoted:
                if (c == '>')
                    return ended(at + 1, false);
                if (isHTMLSpace(c))
                    state = BeforeName;
                break;
            }
        }
        return std::string_view::npos;
    }

    // Where the raw text of an element ends: at its end tag, the end tag's '>' included.
    std::size_t rawTextEnd(std::string_view html, std::size_t at, std::string_view name)
    {
        auto endTag = htmlRawTextEnd(html, at, name);
        if (endTag == html.size())
            return endTag;
        auto end = tagEnd(html, endTag + 2 + name.size());
        return end == std::string_view::npos ? html.size() : end;
    }

    // The open elements as a parser would hold them, with the formatting elements it would open
    // again where they were closed by another element's end ("ghosts"): each adds depth.
    class Tree {
    public:
        Tree(std::size_t limit, std::size_t elements)
            : m_limit(limit)
            , m_elements(elements)
        {
            m_scopes.push_back({});
        }

        std::size_t depth() const { return m_open.size() + m_ghosts; }
        bool full(std::size_t adding) const { return depth() + adding > m_limit; }

        // Answers false when the element would nest too deep and can't be put beside the deepest
        // one; it is then left out. Elements closed to make room are added to `closed`.
        bool start(std::string_view name, std::string_view attributes, bool selfClosing, std::vector<std::string>& closed)
        {
            unsigned kind = kindOf(name);
            bool foreign = !m_open.empty() && m_open.back().foreign && !(m_open.back().kind & Boundary);
            if ((kind & Ignored) && !foreign)
                return true;
            if (!m_elements && (foreign || !(kind & Raw)))
                return false;
            if (name == "table" && !foreign && std::count_if(m_open.begin(), m_open.end(), [](const Element& element) { return element.name == "table" && !element.foreign; }) >= static_cast<std::ptrdiff_t>(maximumTableNesting))
                return false;
            m_frames = m_frames || (name == "frameset" && !foreign);
            if (foreign && (kind & LeavesForeign) && (name != "font" || attributes.find_first_of("cfs") != std::string_view::npos)) {
                while (!m_open.empty() && m_open.back().foreign)
                    popTop();
                foreign = false;
            }
            foreign = foreign || name == "svg" || name == "math";
            if (!foreign)
                closeImplied(name, kind);
            std::vector<std::string_view> implied;
            if (!foreign && !m_open.empty()) {
                auto& top = m_open.back().name;
                if (name == "tr" && top == "table")
                    implied = { "tbody" };
                else if ((name == "td" || name == "th") && top == "table")
                    implied = { "tbody", "tr" };
                else if ((name == "td" || name == "th") && (top == "tbody" || top == "thead" || top == "tfoot"))
                    implied = { "tr" };
                else if (name == "col" && top == "table")
                    implied = { "colgroup" };
            }
            // In SVG and MathML a tag that ends in "/>" is the whole element.
            bool opens = foreign ? !selfClosing : !(kind & Void);
            if ((foreign || !(kind & Raw)) && full(implied.size() + opens)) {
                // As the big browsers do, an element past the bound goes beside the deepest one.
                if (!implied.empty() || m_open.empty())
                    return false;
                closed.push_back(m_open.back().name);
                popTop(false);
                if (full(opens))
                    return false;
                foreign = !m_open.empty() && m_open.back().foreign && !(m_open.back().kind & Boundary);
                foreign = foreign || name == "svg" || name == "math";
            }
            if (!foreign && name == "a")
                reopenedAnchor();
            if (foreign || !(kind & KeepsFormattingClosed))
                reopenFormatting();
            for (auto part : implied)
                push(part, {}, false);
            if (opens && (foreign || !(kind & Raw)))
                push(name, attributes, foreign);
            if (m_elements)
                --m_elements;
            return true;
        }

        void end(std::string_view name)
        {
            unsigned kind = kindOf(name);
            if (kind & Ignored)
                return;
            if (kind & Formatting) {
                adopt(name);
                return;
            }
            unsigned boundaries = Boundary;
            auto index = find(name, [&](const Element& element) {
                if (!(kind & Special))
                    return (element.kind & Special) && !element.foreign;
                if (kind & TablePart)
                    return element.name == "html" || element.name == "table" || element.name == "template";
                if (name == "p" && element.name == "button")
                    return true;
                if (name == "li" && (element.name == "ol" || element.name == "ul"))
                    return true;
                return (element.kind & boundaries) != 0;
            });
            if (index)
                popTo(*index);
        }

        // Text and start tags open again the formatting elements closed by another's end.
        void reopenFormatting()
        {
            auto ghosts = std::move(m_scopes.back().ghosts);
            m_ghosts -= m_scopes.back().total;
            m_scopes.back() = {};
            for (auto& [key, count] : ghosts) {
                auto space = key.find(' ');
                for (int i = 0; i < count; ++i)
                    push(std::string_view(key).substr(0, space), std::string_view(key).substr(space + 1), false);
            }
        }

        // Whether an element of raw text starts here: not in foreign content, nor in a page of frames.
        bool takesRawText() const { return !m_frames && (m_open.empty() || !m_open.back().foreign || (m_open.back().kind & Boundary)); }

    private:
        struct Element {
            std::string name;
            std::string key;
            unsigned kind = 0;
            bool foreign = false;
            bool math = false;
        };
        struct GhostScope {
            std::vector<std::pair<std::string, int>> ghosts;
            std::size_t total = 0;
        };

        void push(std::string_view name, std::string_view attributes, bool foreign)
        {
            Element element { std::string(name), {}, foreign ? 0 : kindOf(name), foreign };
            if (foreign) {
                bool math = name == "math" || (name != "svg" && !m_open.empty() && m_open.back().math);
                element.math = math;
                bool integration = math ? (name == "mi" || name == "mo" || name == "mn" || name == "ms" || name == "mtext" || name == "annotation-xml")
                                        : (name == "foreignobject" || name == "desc" || name == "title");
                if (integration)
                    element.kind = Boundary | Special;
            }
            if (element.kind & Formatting) {
                element.key = element.name;
                element.key += ' ';
                element.key += attributes;
            }
            if (element.kind & Marker)
                m_scopes.push_back({});
            m_open.push_back(std::move(element));
        }

        // Takes the top element off; a formatting element closed this way is opened again later.
        void popTop(bool ghost = true)
        {
            auto element = std::move(m_open.back());
            m_open.pop_back();
            if (element.kind & Marker) {
                m_ghosts -= m_scopes.back().total;
                m_scopes.pop_back();
            } else if (ghost && (element.kind & Formatting)) {
                addGhost(element.key);
            }
        }

        void addGhost(const std::string& key)
        {
            auto& scope = m_scopes.back();
            auto found = std::find_if(scope.ghosts.begin(), scope.ghosts.end(), [&](auto& ghost) { return ghost.first == key; });
            if (found == scope.ghosts.end())
                scope.ghosts.emplace_back(key, 0), found = scope.ghosts.end() - 1;
            // A parser keeps no more than three alike.
            if (found->second < 3) {
                ++found->second;
                ++scope.total;
                ++m_ghosts;
            }
        }

        bool removeGhost(std::string_view name)
        {
            auto& scope = m_scopes.back();
            for (auto& [key, count] : scope.ghosts) {
                if (count > 0 && key.size() > name.size() && key.compare(0, name.size(), name) == 0 && key[name.size()] == ' ') {
                    --count;
                    --scope.total;
                    --m_ghosts;
                    return true;
                }
            }
            return false;
        }

        void popTo(std::size_t index)
        {
            while (m_open.size() > index + 1)
                popTop();
            popTop(false);
        }

        template<typename Stops>
        std::optional<std::size_t> find(std::string_view name, Stops stops) const
        {
            for (std::size_t i = m_open.size(); i > 0; --i) {
                auto& element = m_open[i - 1];
                if (element.name == name)
                    return i - 1;
                if (stops(element))
                    return std::nullopt;
            }
            return std::nullopt;
        }

        void closeImplied(std::string_view name, unsigned kind)
        {
            auto topIs = [&](std::initializer_list<std::string_view> names) {
                return !m_open.empty() && !m_open.back().foreign && std::find(names.begin(), names.end(), m_open.back().name) != names.end();
            };
            if ((kind & ClosesParagraph) && topIs({ "p" }))
                popTop();
            if ((kind & Heading) && topIs({ "h1", "h2", "h3", "h4", "h5", "h6" }))
                popTop();
            if (name == "li" && topIs({ "li" }))
                popTop();
            if ((name == "dd" || name == "dt") && topIs({ "dd", "dt" }))
                popTop();
            if ((name == "option" || name == "optgroup") && topIs({ "option" }))
                popTop();
            if (name == "optgroup" && topIs({ "optgroup" }))
                popTop();
            if (name == "tr" || name == "td" || name == "th" || name == "tbody" || name == "thead" || name == "tfoot") {
                if (topIs({ "td", "th" }))
                    popTop();
                if (name != "td" && name != "th" && topIs({ "tr" }))
                    popTop();
                if ((name == "tbody" || name == "thead" || name == "tfoot") && topIs({ "tbody", "thead", "tfoot" }))
                    popTop();
            }
        }

        // A new link closes one still open.
        void reopenedAnchor()
        {
            auto index = find("a", [](const Element& element) { return (element.kind & Marker) != 0; });
            if (index) {
                adopt("a");
                if (auto again = find("a", [](const Element& element) { return (element.kind & Marker) != 0; }))
                    m_open.erase(m_open.begin() + static_cast<std::ptrdiff_t>(*again));
            } else {
                removeGhost("a");
            }
        }

        // The end of a formatting element, as the parser's adoption of misnested tags treats it:
        // elements opened inside it stay open when one of them is a block, and a copy of it
        // opens inside that block.
        void adopt(std::string_view name)
        {
            // The latest such element the parser knows is one closed by another's end.
            if (removeGhost(name))
                return;
            auto index = find(name, [](const Element& element) { return (element.kind & Boundary) != 0; });
            if (!index)
                return;
            bool block = std::any_of(m_open.begin() + static_cast<std::ptrdiff_t>(*index) + 1, m_open.end(), [](const Element& element) { return (element.kind & Special) != 0; });
            if (!block) {
                popTo(*index);
                return;
            }
            auto copy = m_open[*index];
            m_open.erase(m_open.begin() + static_cast<std::ptrdiff_t>(*index));
            m_open.push_back(std::move(copy));
        }

        std::size_t m_limit;
        std::size_t m_elements;
        std::vector<Element> m_open;
        std::vector<GhostScope> m_scopes;
        std::size_t m_ghosts = 0;
        // A page of frames ignores elements of raw text, and then reads the tags inside them.
        bool m_frames = false;
    };

}

std::size_t htmlTagEnd(std::string_view html, std::size_t at, bool* selfClosing)
{
    return tagEnd(html, at, selfClosing);
}

std::size_t htmlRawTextEnd(std::string_view html, std::size_t at, std::string_view name)
{
    if (name == "plaintext")
        return html.size();
    while ((at = html.find("</", at)) != std::string_view::npos) {
        std::size_t after = at + 2 + name.size();
        bool named = after <= html.size();
        for (std::size_t i = 0; named && i < name.size(); ++i)
            named = lowerASCII(html[at + 2 + i]) == name[i];
        if (named && (after == html.size() || isHTMLSpace(html[after]) || html[after] == '/' || html[after] == '>'))
            return at;
        at += 2;
    }
    return html.size();
}

std::string boundedHTMLNesting(std::string_view html, std::size_t maximumDepth, std::size_t maximumElements)
{
    std::string out;
    out.reserve(html.size());
    Tree tree(maximumDepth, maximumElements);
    // End tags of elements left out, or closed early, are left out too, innermost first.
    std::unordered_map<std::string, std::size_t> leftOut;
    std::vector<std::string> closed;
    std::size_t copied = 0, at = 0;
    auto skip = [&](std::size_t from, std::size_t to) {
        out.append(html.substr(copied, from - copied));
        copied = to;
    };
    std::string name;
    std::size_t text = 0;
    auto readText = [&](std::size_t to) {
        if (text < to)
            tree.reopenFormatting();
        text = to;
    };
    while ((at = html.find('<', at)) != std::string_view::npos) {
        std::size_t start = at;
        readText(start);
        if (html.compare(at, 4, "<!--") == 0) {
            std::size_t body = at + 4;
            if (html.compare(body, 1, ">") == 0 || html.compare(body, 2, "->") == 0) {
                text = at = html.find('>', body) + 1;
                continue;
            }
            auto end = std::min(html.find("-->", body), html.find("--!>", body));
            if (end == std::string_view::npos)
                break;
            text = at = html.find('>', end) + 1;
            continue;
        }
        if (at + 1 >= html.size())
            break;
        char next = html[at + 1];
        bool closing = next == '/';
        if (next == '!' || next == '?' || (closing && at + 2 < html.size() && !isASCIILetter(html[at + 2]) && html[at + 2] != '>')) {
            auto end = html.find('>', at + 1);
            if (end == std::string_view::npos)
                break;
            text = at = end + 1;
            continue;
        }
        std::size_t nameStart = at + (closing ? 2 : 1);
        if (nameStart >= html.size() || !isASCIILetter(html[nameStart])) {
            at = nameStart;
            continue;
        }
        std::size_t nameEnd = nameStart;
        while (nameEnd < html.size() && !isHTMLSpace(html[nameEnd]) && html[nameEnd] != '/' && html[nameEnd] != '>')
            ++nameEnd;
        name.clear();
        for (std::size_t i = nameStart; i < nameEnd; ++i)
            name += lowerASCII(html[i]);
        bool selfClosing = false;
        auto end = tagEnd(html, nameEnd, &selfClosing);
        if (end == std::string_view::npos)
            break;
        at = end;
        text = end;
        if (closing) {
            auto dropped = leftOut.find(name);
            if (dropped != leftOut.end() && dropped->second > 0) {
                --dropped->second;
                skip(start, end);
            } else {
                tree.end(name);
            }
            continue;
        }
        bool raw = (kindOf(name) & Raw) && tree.takesRawText();
        closed.clear();
        bool kept = tree.start(name, html.substr(nameEnd, end - nameEnd), selfClosing, closed);
        if (!closed.empty()) {
            skip(start, start);
            for (auto& element : closed) {
                out += "</" + element + ">";
                ++leftOut[element];
            }
        }
        if (!kept) {
            ++leftOut[name];
            skip(start, end);
            continue;
        }
        if (raw)
            text = at = rawTextEnd(html, at, name);
    }
    readText(html.size());
    out.append(html.substr(copied));
    return out;
}

std::size_t htmlFirstPartEnd(std::string_view html, std::size_t atLeast)
{
    if (html.size() / 2 < atLeast)
        return std::string_view::npos;
    // Scripts, styles and comments count for nothing: the part shows a screenful. A space in
    // text past the bound will do as well as a tag: a page may be one long text.
    std::size_t text = 0, skipped = 0;
    auto spaceIn = [&](std::size_t end) {
        for (auto at = std::max(text, atLeast + skipped); at < end; ++at) {
            if (isHTMLSpace(html[at]))
                return at;
        }
        return std::string_view::npos;
    };
    std::size_t at = 0;
    std::string name;
    while ((at = html.find('<', at)) != std::string_view::npos) {
        if (html.compare(at, 4, "<!--") == 0) {
            if (auto space = spaceIn(at); space != std::string_view::npos)
                return space;
            auto end = html.find("-->", at + 2);
            if (end == std::string_view::npos)
                return std::string_view::npos;
            skipped += end + 3 - at;
            text = at = end + 3;
            continue;
        }
        bool closing = at + 1 < html.size() && html[at + 1] == '/';
        std::size_t nameStart = at + (closing ? 2 : 1);
        if (nameStart >= html.size() || !isASCIILetter(html[nameStart])) {
            ++at;
            continue;
        }
        if (auto space = spaceIn(at); space != std::string_view::npos)
            return space;
        if (at >= atLeast + skipped)
            return at;
        std::size_t nameEnd = nameStart;
        name.clear();
        while (nameEnd < html.size() && !isHTMLSpace(html[nameEnd]) && html[nameEnd] != '/' && html[nameEnd] != '>')
            name += lowerASCII(html[nameEnd++]);
        auto end = tagEnd(html, nameEnd);
        if (end == std::string_view::npos)
            return std::string_view::npos;
        at = end;
        if (!closing && (kindOf(name) & Raw)) {
            auto stop = rawTextEnd(html, at, name);
            skipped += stop - at;
            at = stop;
        }
        text = at;
    }
    return spaceIn(html.size());
}

}
