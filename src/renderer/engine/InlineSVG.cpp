#include "renderer/engine/InlineSVG.h"

#include "renderer/engine/HTMLNesting.h"
#include "renderer/engine/HTMLText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <gio/gio.h>
#include <gumbo.h>
#include <librsvg/rsvg.h>
#include <limits>
#include <litehtml/el_image.h>
#include <optional>
#include <unordered_map>

namespace vesk::platform {

namespace {

    // The attribute that names the SVG taken out of an empty <svg> left in the markup.
    constexpr std::string_view takenAttribute = "vesk-svg";
    // How deep the elements of an SVG are written out for librsvg; the markup's nesting is bounded
    // well below.
    constexpr int maximumDepth = 512;
    // How many pixels an SVG drawn whole may keep while it shows, and all of them together in
    // bytes; one larger is drawn again for each frame, no more of it than shows.
    constexpr double maximumKeptPixels = 8 << 20;
    constexpr double maximumKeptBytes = 64 << 20;
    // How many pixels of SVG a frame may draw, past those kept: a page of SVGs on top of each
    // other draws only so many.
    constexpr double maximumFramePixels = 16 << 20;
    // How many elements one SVG may draw, its uses of others counted: more take librsvg seconds.
    constexpr double maximumInstances = 50000;

    bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names)
    {
        return std::find(names.begin(), names.end(), name) != names.end();
    }

    // Elements whose content the HTML parser reads as text up to their end tag.
    bool isRawText(std::string_view name)
    {
        return isOneOf(name, { "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes", "plaintext" });
    }

    struct Tag {
        std::size_t start = 0;
        // Past its '>' (or the markup's end).
        std::size_t end = 0;
        // In lower case; empty for a comment or a declaration.
        std::string name;
        bool closing = false;
        bool selfClosing = false;
    };

    // The tag, comment or declaration at the '<'; none when the '<' is text.
    std::optional<Tag> readTag(std::string_view html, std::size_t at, bool foreign)
    {
        auto until = [&](std::string_view end, std::size_t from) {
            auto found = html.find(end, from);
            return found == std::string_view::npos ? html.size() : found + end.size();
        };
        if (html.compare(at, 4, "<!--") == 0) {
            auto body = at + 4;
            if (html.compare(body, 1, ">") == 0 || html.compare(body, 2, "->") == 0)
                return Tag { at, until(">", body), {}, false, false };
            return Tag { at, std::min(until("-->", body), until("--!>", body)), {}, false, false };
        }
        if (foreign && html.compare(at, 9, "<![CDATA[") == 0)
            return Tag { at, until("]]>", at + 9), {}, false, false };
        if (at + 1 >= html.size())
            return std::nullopt;
        char next = html[at + 1];
        bool closing = next == '/';
        if (next == '!' || next == '?' || (closing && at + 2 < html.size() && !isASCIILetter(html[at + 2]) && html[at + 2] != '>'))
            return Tag { at, until(">", at + 1), {}, false, false };
        auto nameStart = at + (closing ? 2 : 1);
        if (nameStart >= html.size() || !isASCIILetter(html[nameStart]))
            return std::nullopt;
        Tag tag { at, 0, {}, closing, false };
        auto nameEnd = nameStart;
        while (nameEnd < html.size() && !isHTMLSpace(html[nameEnd]) && html[nameEnd] != '/' && html[nameEnd] != '>')
            tag.name += lowerASCII(html[nameEnd++]);
        auto end = htmlTagEnd(html, nameEnd, &tag.selfClosing);
        tag.end = end == std::string_view::npos ? html.size() : end;
        return tag;
    }

    // Start tags that end the SVG they are in, and take their place beside it.
    bool leavesSVG(const Tag& tag, std::string_view html)
    {
        if (tag.name == "font") {
            std::string attributes;
            for (auto at = tag.start + 5; at < tag.end; ++at)
                attributes += lowerASCII(html[at]);
            return attributes.find("color") != std::string::npos || attributes.find("face") != std::string::npos || attributes.find("size") != std::string::npos;
        }
        return isOneOf(tag.name,
            { "b", "big", "blockquote", "body", "br", "center", "code", "dd", "div", "dl", "dt", "em", "embed", "h1", "h2", "h3", "h4", "h5", "h6", "head",
                "hr", "i", "img", "li", "listing", "menu", "meta", "nobr", "ol", "p", "pre", "ruby", "s", "small", "span", "strong", "strike", "sub", "sup",
                "table", "tt", "u", "ul", "var" });
    }

    bool isVoid(std::string_view name)
    {
        return isOneOf(name, { "area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param", "source", "track", "wbr" });
    }

    // Where the SVG whose start tag ends at `from` ends, as the HTML parser ends it: after its
    // end tag, or at a tag that closes it (an HTML element's start, an end tag of an element
    // around it), or at the markup's end. The content of its <foreignObject>, <desc> and <title>
    // is HTML, where such tags don't close it.
    std::size_t svgEnd(std::string_view html, std::size_t from)
    {
        std::vector<std::string> open { "svg" };
        // Where in `open` the HTML content starts, if it does.
        auto htmlFrom = std::string::npos;
        auto at = from;
        while ((at = html.find('<', at)) != std::string_view::npos) {
            auto tag = readTag(html, at, htmlFrom == std::string::npos);
            if (!tag) {
                ++at;
                continue;
            }
            at = tag->end;
            if (tag->name.empty())
                continue;
            bool inHTML = htmlFrom != std::string::npos;
            if (!tag->closing) {
                if (!inHTML && leavesSVG(*tag, html))
                    return tag->start;
                if (inHTML && isRawText(tag->name)) {
                    at = htmlRawTextEnd(html, at, tag->name);
                    continue;
                }
                if (tag->selfClosing || (inHTML && isVoid(tag->name)))
                    continue;
                if (!inHTML && isOneOf(tag->name, { "foreignobject", "desc", "title" }))
                    htmlFrom = open.size();
                open.push_back(std::move(tag->name));
                continue;
            }
            if (!inHTML && (tag->name == "p" || tag->name == "br"))
                return tag->start;
            auto found = std::find(open.rbegin(), open.rend(), tag->name);
            if (found == open.rend()) {
                // Stray inside HTML content; else it ends an element around the SVG.
                if (inHTML)
                    continue;
                return tag->start;
            }
            open.resize(static_cast<std::size_t>(open.rend() - found) - 1);
            if (htmlFrom != std::string::npos && open.size() <= htmlFrom)
                htmlFrom = std::string::npos;
            if (open.empty())
                return tag->end;
        }
        return html.size();
    }

    // Whether the name can be written in XML as it is: ASCII letters, digits, '-', '_' and '.',
    // not starting with a digit, '-' or '.'.
    bool isXMLName(std::string_view name)
    {
        if (name.empty() || !(isASCIILetter(name[0]) || name[0] == '_'))
            return false;
        return std::all_of(name.begin(), name.end(), [](char c) { return isASCIILetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.'; });
    }

    // Text for XML: markup characters escaped, control characters XML forbids left out.
    void appendEscaped(std::string& out, std::string_view text, bool attribute)
    {
        for (char c : text) {
            auto byte = static_cast<unsigned char>(c);
            if (c == '&')
                out += "&amp;";
            else if (c == '<')
                out += "&lt;";
            else if (c == '>')
                out += "&gt;";
            else if (attribute && c == '"')
                out += "&quot;";
            else if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r')
                continue;
            else
                out += c;
        }
    }

    std::string elementName(const GumboElement& element)
    {
        if (element.tag == GUMBO_TAG_SVG)
            return "svg";
        GumboStringPiece original = element.original_tag;
        if (!original.data || !original.length)
            return element.tag == GUMBO_TAG_UNKNOWN ? "" : gumbo_normalized_tagname(element.tag);
        gumbo_tag_from_original_text(&original);
        std::string name(original.data, original.length);
        std::transform(name.begin(), name.end(), name.begin(), lowerASCII);
        GumboStringPiece lower { name.data(), name.size() };
        if (auto* adjusted = gumbo_normalize_svg_tagname(&lower))
            return adjusted;
        return name;
    }

    using Attributes = std::vector<std::pair<std::string, std::string>>;

    // The element in XML: SVG elements only (the HTML of a <foreignObject> is never drawn), their
    // attributes as the parser adjusted them. The outermost takes its size from the layout and
    // what it inherits from the page, where it doesn't say otherwise.
    void appendElement(std::string& out, const GumboNode& node, int depth, const Attributes* root)
    {
        auto& element = node.v.element;
        if (depth > maximumDepth || element.tag_namespace != GUMBO_NAMESPACE_SVG)
            return;
        auto name = elementName(element);
        if (!isXMLName(name) || name == "script")
            return;
        out += '<';
        out += name;
        Attributes attributes;
        for (unsigned index = 0; index < element.attributes.length; ++index) {
            auto& attribute = *static_cast<const GumboAttribute*>(element.attributes.data[index]);
            std::string_view local = attribute.name;
            if (!isXMLName(local) || local == "xmlns")
                continue;
            std::string qualified;
            switch (attribute.attr_namespace) {
            case GUMBO_ATTR_NAMESPACE_XLINK:
                qualified = "xlink:";
                break;
            case GUMBO_ATTR_NAMESPACE_XML:
                qualified = "xml:";
                break;
            case GUMBO_ATTR_NAMESPACE_XMLNS:
                continue;
            case GUMBO_ATTR_NAMESPACE_NONE:
                break;
            }
            qualified += local;
            if (root && (qualified == "width" || qualified == "height"))
                continue;
            attributes.emplace_back(std::move(qualified), attribute.value);
        }
        if (root) {
            out += " xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\"";
            for (auto& given : *root) {
                if (std::none_of(attributes.begin(), attributes.end(), [&](auto& own) { return own.first == given.first; }))
                    attributes.push_back(given);
            }
        }
        for (auto& [attribute, value] : attributes) {
            out += ' ';
            out += attribute;
            out += "=\"";
            appendEscaped(out, value, true);
            out += '"';
        }
        out += '>';
        for (unsigned index = 0; index < element.children.length; ++index) {
            auto& child = *static_cast<const GumboNode*>(element.children.data[index]);
            if (child.type == GUMBO_NODE_ELEMENT)
                appendElement(out, child, depth + 1, nullptr);
            else if (child.type == GUMBO_NODE_TEXT || child.type == GUMBO_NODE_WHITESPACE || child.type == GUMBO_NODE_CDATA)
                appendEscaped(out, child.v.text.text, false);
        }
        out += "</";
        out += name;
        out += '>';
    }

    const GumboNode* findSVG(const GumboNode& node, int depth)
    {
        if (node.type != GUMBO_NODE_ELEMENT || depth > maximumDepth)
            return nullptr;
        if (node.v.element.tag == GUMBO_TAG_SVG && node.v.element.tag_namespace == GUMBO_NAMESPACE_SVG)
            return &node;
        for (unsigned index = 0; index < node.v.element.children.length; ++index) {
            if (auto* found = findSVG(*static_cast<const GumboNode*>(node.v.element.children.data[index]), depth + 1))
                return found;
        }
        return nullptr;
    }

    // How many elements an SVG draws, each <use> counting the elements it draws again: a few
    // uses of uses draw billions, which librsvg would walk for seconds before it refuses them.
    class Instances {
    public:
        explicit Instances(const GumboNode& svg) { collect(svg, 0); }

        double of(const GumboNode& node, int depth)
        {
            constexpr double endless = std::numeric_limits<double>::infinity();
            auto [known, added] = m_counts.try_emplace(&node, -1);
            if (!added)
                return known->second < 0 ? endless : known->second;
            if (depth > maximumDepth)
                return endless;
            auto& element = node.v.element;
            double count = 1;
            if (std::string_view(elementName(element)) == "use") {
                auto* href = gumbo_get_attribute(&element.attributes, "href");
                if (href && href->value[0] == '#') {
                    if (auto target = m_ids.find(href->value + 1); target != m_ids.end())
                        count += of(*target->second, depth + 1);
                }
            }
            for (unsigned index = 0; index < element.children.length && count < endless; ++index) {
                auto& child = *static_cast<const GumboNode*>(element.children.data[index]);
                if (child.type == GUMBO_NODE_ELEMENT)
                    count += of(child, depth + 1);
            }
            m_counts[&node] = count;
            return count;
        }

    private:
        void collect(const GumboNode& node, int depth)
        {
            if (node.type != GUMBO_NODE_ELEMENT || depth > maximumDepth)
                return;
            if (auto* id = gumbo_get_attribute(&node.v.element.attributes, "id"))
                m_ids.try_emplace(id->value, &node);
            for (unsigned index = 0; index < node.v.element.children.length; ++index)
                collect(*static_cast<const GumboNode*>(node.v.element.children.data[index]), depth + 1);
        }

        std::unordered_map<std::string_view, const GumboNode*> m_ids;
        std::unordered_map<const GumboNode*, double> m_counts;
    };

    // The SVG's markup as an XML document of its own, as the HTML parser reads it.
    std::string svgDocument(std::string_view markup, const Attributes& root)
    {
        GumboOptions options = kGumboDefaultOptions;
        options.fragment_context = GUMBO_TAG_DIV;
        options.fragment_namespace = GUMBO_NAMESPACE_HTML;
        options.max_errors = 0;
        auto* output = gumbo_parse_with_options(&options, markup.data(), markup.size());
        std::string document;
        if (!output)
            return document;
        if (auto* svg = findSVG(*output->root, 0); svg && Instances(*svg).of(*svg, 0) <= maximumInstances) {
            document.reserve(markup.size() + 256);
            appendElement(document, *svg, 0, &root);
        }
        gumbo_destroy_output(&options, output);
        return document;
    }

    // The numbers of a view box: four, the last two its size, which must be more than nothing.
    std::optional<double> viewBoxRatio(std::string_view value)
    {
        std::array<double, 4> numbers {};
        std::size_t count = 0, at = 0;
        while (count < numbers.size()) {
            while (at < value.size() && (isHTMLSpace(value[at]) || value[at] == ','))
                ++at;
            if (at >= value.size())
                break;
            if (value[at] == '+')
                ++at;
            auto [end, error] = std::from_chars(value.data() + at, value.data() + value.size(), numbers[count]);
            if (error != std::errc())
                return std::nullopt;
            at = static_cast<std::size_t>(end - value.data());
            ++count;
        }
        if (count < numbers.size() || !(numbers[2] > 0) || !(numbers[3] > 0) || !std::isfinite(numbers[2] / numbers[3]) || numbers[2] / numbers[3] <= 0)
            return std::nullopt;
        return numbers[2] / numbers[3];
    }

}

// What the inline SVGs of a page share: the pixels they keep drawn, those drawn for the frame
// being drawn, and the fonts of the page's text.
struct InlineSVGs::Budget {
    double keptBytes = 0;
    double framePixels = 0;
    FontFamily fontFamily;

    // Whether a frame may draw that many more pixels of SVG; counts them when it may.
    bool draws(double pixels)
    {
        if (framePixels + pixels > maximumFramePixels)
            return false;
        framePixels += pixels;
        return true;
    }
};

struct InlineSVGs::Picture {
    std::string markup;
    std::shared_ptr<Budget> budget;
    RsvgHandle* handle = nullptr;
    // The size and inherited style the handle was made for.
    std::string madeFor;
    // The whole SVG drawn, kept while it shows, what for and at how many pixels to the page's.
    cairo_surface_t* pixels = nullptr;
    std::string pixelsFor;
    double pixelScaleX = 1, pixelScaleY = 1;
    // Drawn whole at fewer pixels than it shows at: librsvg could not draw it at them.
    bool reduced = false;
    bool drawn = false;
    // librsvg could not read or draw it (or refused, past its own bounds): it is not tried again.
    bool broken = false;

    Picture(std::string_view markup, std::shared_ptr<Budget> budget)
        : markup(markup)
        , budget(std::move(budget))
    {
    }
    ~Picture() { release(); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    void release()
    {
        releasePixels();
        releaseHandle();
    }

    void releaseHandle()
    {
        if (handle)
            g_object_unref(handle);
        handle = nullptr;
        madeFor.clear();
    }

    void releasePixels()
    {
        if (pixels) {
            budget->keptBytes -= bytesOf(pixels);
            cairo_surface_destroy(pixels);
        }
        pixels = nullptr;
        pixelsFor.clear();
    }

    static double bytesOf(cairo_surface_t* surface)
    {
        return double(cairo_image_surface_get_stride(surface)) * cairo_image_surface_get_height(surface);
    }

    bool parse(const Attributes& root, const std::string& key)
    {
        releaseHandle();
        auto document = svgDocument(markup, root);
        if (document.empty())
            return false;
        auto* made = rsvg_handle_new_with_flags(RSVG_HANDLE_FLAGS_NONE);
        rsvg_handle_set_dpi(made, 96);
        auto* stream = g_memory_input_stream_new_from_data(document.data(), static_cast<gssize>(document.size()), nullptr);
        GError* error = nullptr;
        bool read = rsvg_handle_read_stream_sync(made, stream, nullptr, &error);
        g_clear_error(&error);
        g_object_unref(stream);
        if (!read) {
            g_object_unref(made);
            return false;
        }
        handle = made;
        madeFor = key;
        return true;
    }

    // Draws the SVG into pixels of their own, `matrix` taking the page's coordinates to them; none
    // when librsvg fails (or refuses, past its own bounds).
    cairo_surface_t* rendered(const litehtml::position& box, int width, int height, const cairo_matrix_t& matrix)
    {
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            return nullptr;
        }
        auto* drawing = cairo_create(surface);
        cairo_set_matrix(drawing, &matrix);
        RsvgRectangle viewport { double(box.x), double(box.y), double(box.width), double(box.height) };
        GError* error = nullptr;
        bool done = rsvg_handle_render_document(handle, drawing, &viewport, &error);
        g_clear_error(&error);
        cairo_destroy(drawing);
        cairo_surface_flush(surface);
        if (!done) {
            cairo_surface_destroy(surface);
            return nullptr;
        }
        return surface;
    }

    // The whole SVG drawn `scale` pixels to the page's pixel, kept while it shows; false when
    // librsvg fails.
    bool keepWhole(const litehtml::position& box, double scaleX, double scaleY, const std::string& madeFor)
    {
        cairo_matrix_t matrix;
        cairo_matrix_init(&matrix, scaleX, 0, 0, scaleY, -box.x * scaleX, -box.y * scaleY);
        pixels = rendered(box, static_cast<int>(std::ceil(box.width * scaleX)), static_cast<int>(std::ceil(box.height * scaleY)), matrix);
        if (!pixels)
            return false;
        pixelsFor = madeFor;
        pixelScaleX = scaleX;
        pixelScaleY = scaleY;
        budget->keptBytes += bytesOf(pixels);
        // Its pixels are all it needs now.
        releaseHandle();
        return true;
    }

    void paintKept(cairo_t* cr, const litehtml::position& box)
    {
        cairo_save(cr);
        cairo_rectangle(cr, box.x, box.y, box.width, box.height);
        cairo_clip(cr);
        cairo_translate(cr, box.x, box.y);
        cairo_scale(cr, 1 / pixelScaleX, 1 / pixelScaleY);
        cairo_set_source_surface(cr, pixels, 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
    }

    // Draws the part of the SVG that shows into pixels of its own, for this frame alone: what
    // librsvg keeps for its groups is no larger, however large the SVG. False when librsvg fails.
    bool drawPart(cairo_t* cr, const litehtml::position& box)
    {
        double left = box.x, top = box.y, right = box.x + double(box.width), bottom = box.y + double(box.height);
        double clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;
        cairo_clip_extents(cr, &clipLeft, &clipTop, &clipRight, &clipBottom);
        left = std::max(left, clipLeft);
        top = std::max(top, clipTop);
        right = std::min(right, clipRight);
        bottom = std::min(bottom, clipBottom);
        if (right <= left || bottom <= top)
            return true;
        cairo_user_to_device(cr, &left, &top);
        cairo_user_to_device(cr, &right, &bottom);
        double x = std::floor(std::min(left, right)), y = std::floor(std::min(top, bottom));
        int width = static_cast<int>(std::ceil(std::max(left, right)) - x), height = static_cast<int>(std::ceil(std::max(top, bottom)) - y);
        if (width <= 0 || height <= 0 || !budget->draws(double(width) * height))
            return true;
        cairo_matrix_t matrix;
        cairo_get_matrix(cr, &matrix);
        matrix.x0 -= x;
        matrix.y0 -= y;
        auto* part = rendered(box, width, height, matrix);
        if (!part)
            return false;
        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_set_source_surface(cr, part, x, y);
        cairo_paint(cr);
        cairo_restore(cr);
        cairo_surface_destroy(part);
        return true;
    }

    void draw(cairo_t* cr, const litehtml::position& box, const Attributes& inherited)
    {
        drawn = true;
        if (broken)
            return;
        // Laid out at another size, it is made again at that size: its content is drawn at the
        // scale a browser draws it, a view box fitted into the box, other lengths in CSS pixels.
        Attributes root { { "width", std::to_string(box.width) }, { "height", std::to_string(box.height) } };
        root.insert(root.end(), inherited.begin(), inherited.end());
        std::string key;
        for (auto& [name, value] : root)
            key += name + '=' + value + ';';
        cairo_matrix_t matrix;
        cairo_get_matrix(cr, &matrix);
        auto atScale = key + std::to_string(matrix.xx) + ',' + std::to_string(matrix.yy);
        if (pixels && pixelsFor != (reduced ? key : atScale)) {
            releasePixels();
            reduced = false;
        }
        if (pixels) {
            paintKept(cr, box);
            return;
        }
        if (key != madeFor && !parse(root, key)) {
            broken = true;
            return;
        }
        // Drawn whole once and kept while it shows, when there is room: a frame scrolled along
        // draws it again from its pixels. Else the part that shows, for each frame.
        double whole = std::ceil(box.width * matrix.xx) * std::ceil(box.height * matrix.yy);
        bool upright = matrix.xy == 0 && matrix.yx == 0 && matrix.xx > 0 && matrix.yy > 0;
        if (!reduced && upright && whole <= maximumKeptPixels && budget->keptBytes + whole * 4 <= maximumKeptBytes) {
            if (!budget->draws(whole))
                return;
            if (keepWhole(box, matrix.xx, matrix.yy, atScale)) {
                paintKept(cr, box);
                return;
            }
            reduced = true;
        }
        if (!reduced && drawPart(cr, box))
            return;
        // librsvg draws the filters of one that large no smaller than the whole of them: it is
        // drawn whole at fewer pixels, as a picture that large is kept.
        reduced = true;
        double scale = std::min(std::max(matrix.xx, matrix.yy), std::sqrt(maximumKeptPixels / (double(box.width) * box.height)));
        if (!budget->draws(maximumKeptPixels))
            return;
        if (!keepWhole(box, scale, scale, key)) {
            broken = true;
            return;
        }
        paintKept(cr, box);
    }
};

namespace {

    // An <svg> laid out as a picture: the size its width and height give it, or what the shape
    // of its view box makes of one of them; with neither, as wide as its container when it has a
    // view box, else 300 by 150 pixels, as browsers size it.
    class InlineSVGElement final : public litehtml::el_image {
    public:
        InlineSVGElement(const std::shared_ptr<litehtml::document>& document, std::shared_ptr<InlineSVGs::Picture> picture, std::optional<double> ratio)
            : el_image(document)
            , m_picture(std::move(picture))
            , m_ratio(ratio)
        {
        }

        int render(int x, int y, int maxWidth, bool secondPass) override
        {
            calc_outlines(maxWidth);
            auto cssWidth = m_css_width, cssHeight = m_css_height;
            int fixedHeight = 0;
            bool autoWidth = m_css_width.is_predefined(), autoHeight = !get_predefined_height(fixedHeight);
            double width = autoWidth ? 0 : m_css_width.calc_percent(maxWidth), height = fixedHeight;
            auto within = [&](double value) {
                if (!m_css_max_width.is_predefined())
                    value = std::min(value, double(m_css_max_width.calc_percent(maxWidth)));
                if (!m_css_min_width.is_predefined())
                    value = std::max(value, double(m_css_min_width.calc_percent(maxWidth)));
                return value;
            };
            if (autoWidth && autoHeight) {
                width = within(m_ratio ? maxWidth - content_margins_left() - content_margins_right() : 300);
                height = m_ratio ? width / *m_ratio : 150;
            } else if (autoWidth) {
                width = within(m_ratio ? height * *m_ratio : 300);
            } else {
                width = within(width);
                if (autoHeight)
                    height = m_ratio ? width / *m_ratio : 150;
            }
            // No larger than any page is drawn.
            constexpr double largest = 1e7;
            m_css_width.set_value(static_cast<float>(std::clamp(std::round(width), 0.0, largest)), litehtml::css_units_px);
            m_css_height.set_value(static_cast<float>(std::clamp(std::round(height), 0.0, largest)), litehtml::css_units_px);
            int laidOut = el_image::render(x, y, maxWidth, secondPass);
            m_css_width = cssWidth;
            m_css_height = cssHeight;
            return laidOut;
        }

        void draw(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip) override
        {
            // Its background and borders.
            el_image::draw(hdc, x, y, clip);
            litehtml::position box = m_pos;
            box.x += x;
            box.y += y;
            if (box.width <= 0 || box.height <= 0 || (clip && !box.does_intersect(clip)))
                return;
            m_picture->draw(reinterpret_cast<cairo_t*>(hdc), box, inherited());
        }

    private:
        // What the SVG's content inherits from the page: its text colour (for currentColor), its
        // font, and the fill and stroke the page's styles give it.
        Attributes inherited()
        {
            auto color = get_color("color", true, litehtml::web_color(0, 0, 0));
            Attributes attributes { { "color", "rgba(" + std::to_string(color.red) + "," + std::to_string(color.green) + "," + std::to_string(color.blue) + "," + std::to_string(color.alpha / 255.0) + ")" },
                { "font-size", std::to_string(get_font_size()) } };
            auto* families = get_style_property("font-family", true, nullptr);
            attributes.emplace_back("font-family", m_picture->budget->fontFamily(families ? families : ""));
            for (auto* name : { "font-weight", "font-style", "fill", "stroke" }) {
                if (auto* value = get_style_property(name, true, nullptr); value && *value)
                    attributes.emplace_back(name, value);
            }
            return attributes;
        }

        std::shared_ptr<InlineSVGs::Picture> m_picture;
        std::optional<double> m_ratio;
    };

}

InlineSVGs::InlineSVGs(FontFamily fontFamily)
    : m_budget(std::make_shared<Budget>())
{
    m_budget->fontFamily = std::move(fontFamily);
}

InlineSVGs::~InlineSVGs() = default;

std::string InlineSVGs::takenOut(std::string markup)
{
    std::string_view html = markup;
    std::string out;
    std::size_t copied = 0, at = 0;
    while ((at = html.find('<', at)) != std::string_view::npos) {
        auto tag = readTag(html, at, false);
        if (!tag) {
            ++at;
            continue;
        }
        at = tag->end;
        if (tag->name.empty() || tag->closing)
            continue;
        if (isRawText(tag->name)) {
            at = htmlRawTextEnd(html, at, tag->name);
            continue;
        }
        if (tag->name != "svg")
            continue;
        auto end = tag->selfClosing ? tag->end : svgEnd(html, tag->end);
        auto svg = html.substr(tag->start, end - tag->start);
        if (out.empty())
            out.reserve(html.size());
        out.append(html.substr(copied, tag->start - copied));
        out += "<svg";
        if (m_pictures.size() < maximumInlineSVGs && svg.size() <= maximumInlineSVGBytes && m_bytes + svg.size() <= maximumInlineSVGsBytes) {
            out += ' ';
            out += takenAttribute;
            out += "=\"" + std::to_string(m_pictures.size()) + '"';
            m_pictures.push_back(std::make_shared<Picture>(svg, m_budget));
            m_bytes += svg.size();
        }
        // Its own attributes after: the first of two alike is the one the parser keeps.
        out.append(html.substr(tag->start + 4, tag->end - tag->start - 4));
        if (!tag->selfClosing)
            out += "</svg>";
        copied = at = end;
    }
    if (copied == 0)
        return markup;
    out.append(html.substr(copied));
    return out;
}

std::shared_ptr<litehtml::element> InlineSVGs::newElement(const std::string& tag, const litehtml::string_map& attributes, const std::shared_ptr<litehtml::document>& document)
{
    if (tag != "svg")
        return nullptr;
    auto taken = attributes.find(std::string(takenAttribute));
    if (taken == attributes.end())
        return nullptr;
    std::size_t index = 0;
    auto& text = taken->second;
    if (auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), index); error != std::errc() || end != text.data() + text.size() || index >= m_pictures.size())
        return nullptr;
    auto viewBox = attributes.find("viewBox");
    if (viewBox == attributes.end())
        viewBox = attributes.find("viewbox");
    return std::make_shared<InlineSVGElement>(document, m_pictures[index], viewBox == attributes.end() ? std::nullopt : viewBoxRatio(viewBox->second));
}

void InlineSVGs::frameDrawn()
{
    m_budget->framePixels = 0;
    for (auto& picture : m_pictures) {
        if (!picture->drawn)
            picture->release();
        picture->drawn = false;
    }
}

}
