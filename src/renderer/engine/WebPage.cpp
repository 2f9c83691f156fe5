#include "renderer/engine/WebPage.h"
#include "renderer/engine/CSSColors.h"
#include "renderer/engine/ElementKinds.h"
#include "renderer/engine/FormControls.h"
#include "renderer/engine/InlineSVG.h"
#include "renderer/engine/StyleBounds.h"
#include "renderer/engine/TextElements.h"

#include "platform/foundation/NSURLConnection.h"
#include "platform/graphics/ImageDecoding.h"
#include "platform/graphics/TextLayout.h"
#include "platform/graphics/UIImage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <gio/gio.h>
#include <librsvg/rsvg.h>
#include <litehtml/litehtml.h>
#include <pango/pangocairo.h>
#include <set>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>

namespace vesk::platform {

namespace {

    // What a browser gives every page before its own styles.
    constexpr const char* userAgentStyles = R"css(
html, address, blockquote, body, dd, div, dl, dt, fieldset, form, frame, frameset, h1, h2, h3, h4, h5, h6,
noframes, ol, p, ul, center, dir, hr, menu, pre, article, aside, footer, header, main, nav, section, figure,
figcaption, details, summary, legend { display: block; }
head, script, style, title, template, noscript, link, meta, base, datalist { display: none; }
html { color: black; }
body { margin: 8px; }
li { display: list-item; }
table { display: table; border-collapse: separate; border-spacing: 2px; }
caption { display: table-caption; text-align: center; }
thead { display: table-header-group; vertical-align: middle; }
tbody { display: table-row-group; vertical-align: middle; }
tfoot { display: table-footer-group; vertical-align: middle; }
tr { display: table-row; vertical-align: inherit; }
td, th { display: table-cell; vertical-align: inherit; padding: 1px; }
th { font-weight: bold; text-align: center; }
col { display: table-column; }
colgroup { display: table-column-group; }
table[border] { border-style: outset; border-color: gray; }
table[border] > tr > td, table[border] > tr > th, table[border] > * > tr > td, table[border] > * > tr > th { border: 1px inset gray; }
table[border="0"] { border-style: none; }
table[border="0"] > tr > td, table[border="0"] > tr > th, table[border="0"] > * > tr > td, table[border="0"] > * > tr > th { border-style: none; border-width: medium; }
h1 { font-size: 2em; margin: .67em 0; font-weight: bold; }
h2 { font-size: 1.5em; margin: .83em 0; font-weight: bold; }
h3 { font-size: 1.17em; margin: 1em 0; font-weight: bold; }
h4 { margin: 1.33em 0; font-weight: bold; }
h5 { font-size: .83em; margin: 1.67em 0; font-weight: bold; }
h6 { font-size: .67em; margin: 2.33em 0; font-weight: bold; }
p, blockquote, dl, fieldset, ol, ul, dir, menu, figure, pre { margin: 1em 0; }
blockquote, figure { margin-left: 40px; margin-right: 40px; }
ol, ul, dir, menu { padding-left: 40px; }
ul { list-style-type: disc; }
ol { list-style-type: decimal; }
ul ul, ol ul { list-style-type: circle; }
ol ol ul, ol ul ul, ul ol ul, ul ul ul { list-style-type: square; }
dir dir, dir dl, dir menu, dir ol, dir ul, dl dir, dl dl, dl menu, dl ol, dl ul, menu dir, menu dl, menu menu, menu ol, menu ul,
ol dir, ol dl, ol menu, ol ol, ol ul, ul dir, ul dl, ul menu, ul ol, ul ul { margin-top: 0; margin-bottom: 0; }
dd { margin-left: 40px; }
b, strong { font-weight: bold; }
i, cite, em, var, address, dfn { font-style: italic; }
pre, tt, code, kbd, samp, listing, xmp, plaintext { font-family: monospace; }
pre, listing, xmp, plaintext { white-space: pre; }
big { font-size: 1.17em; }
small, sub, sup { font-size: .83em; }
sub { vertical-align: sub; }
sup { vertical-align: super; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
a:link, a[href] { color: #0066cc; text-decoration: underline; cursor: pointer; }
center { text-align: center; }
hr { border: 1px inset gray; margin: .5em auto; }
img, svg { display: inline-block; }
br { display: block; }
input, select, button, textarea { display: inline-block; font-family: sans-serif; font-size: 13px; font-weight: normal; font-style: normal; color: black;
    text-align: left; text-indent: 0; border: 1px solid #767676; padding: 1px 2px; background-color: white; vertical-align: baseline; }
textarea { font-family: monospace; white-space: pre-wrap; vertical-align: text-bottom; }
button, input[type="submit"], input[type="reset"], input[type="button"] { padding: 1px 6px; background-color: #efefef; text-align: center; }
input[type="checkbox"], input[type="radio"] { border: none; padding: 0; margin: 3px 3px 3px 4px; background-color: transparent; }
input[type="hidden"] { display: none; }
[hidden] { display: none; }
summary { display: block; }
details > summary:first-of-type { display: list-item; list-style: disc inside; }
)css";

    constexpr int defaultFontSize = 16;
    // How many style sheets a page may link and import together.
    constexpr std::size_t maximumStyleSheets = 64;
    // How many families of a font list are tried; pango would look each up for every font.
    constexpr std::size_t maximumFontFamilies = 16;
    constexpr const char* defaultFamily = "Liberation Sans";

    // Pango contexts belong to one thread; a page is laid out on one and drawn on another. Text is
    // measured in a context of its own: drawing sets its context to the target's scale and
    // options, and a font measured there after a draw would come out at other metrics.
    PangoContext* threadContext(bool drawing = false)
    {
        struct Holder {
            PangoFontMap* map = pango_cairo_font_map_new();
            PangoContext* measuring = newContext(map);
            PangoContext* drawing = newContext(map);
            static PangoContext* newContext(PangoFontMap* map)
            {
                auto* context = pango_font_map_create_context(map);
                pango_cairo_context_set_resolution(context, 72);
                auto* options = cairo_font_options_create();
                cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
                cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
                pango_cairo_context_set_font_options(context, options);
                cairo_font_options_destroy(options);
                return context;
            }
            ~Holder()
            {
                g_object_unref(drawing);
                g_object_unref(measuring);
                g_object_unref(map);
            }
        };
        thread_local Holder holder;
        return drawing ? holder.drawing : holder.measuring;
    }

    struct Font {
        PangoFontDescription* description = nullptr;
        unsigned decoration = 0;
        int ascent = 0;
        int descent = 0;
        // Widths of words already measured: a page repeats its words.
        std::unordered_map<std::string, int> widths;
        ~Font() { pango_font_description_free(description); }
    };

    std::string lowered(std::string_view text)
    {
        std::string lower(text);
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        return lower;
    }

    // The font families this machine has, by their names in lower case.
    const std::unordered_set<std::string>& installedFamilies()
    {
        thread_local std::unordered_set<std::string> names = [] {
            std::unordered_set<std::string> found;
            PangoFontFamily** list = nullptr;
            int count = 0;
            pango_font_map_list_families(pango_context_get_font_map(threadContext()), &list, &count);
            for (int index = 0; index < count; ++index)
                found.insert(lowered(pango_font_family_get_name(list[index])));
            g_free(list);
            return found;
        }();
        return names;
    }

    // The family a font list draws with, as pango reads it: the first the machine has (or
    // one it stands in with the same metrics, or a generic name), as a browser takes it. Only
    // that one is named: characters it lacks come from the fonts that cover them, and a colour
    // emoji font later in the list never draws digits and spaces.
    std::string families(const char* faceName)
    {
        std::string name;
        std::size_t count = 0;
        auto chosen = [&]() -> std::optional<std::string> {
            auto first = name.find_first_not_of(" \t\"'");
            auto last = name.find_last_not_of(" \t\"'");
            if (first == std::string::npos)
                return std::nullopt;
            ++count;
            auto family = name.substr(first, last - first + 1);
            auto lower = lowered(family);
            if (lower == "sans-serif" || lower == "system-ui" || lower == "-apple-system" || lower == "ui-sans-serif")
                return defaultFamily;
            if (lower == "monospace" || lower == "ui-monospace")
                return "Liberation Mono";
            if (lower == "serif" || lower == "ui-serif")
                return "Liberation Serif";
            static const std::unordered_set<std::string> standIns { "cursive", "fantasy", "emoji", "math", "arial", "helvetica", "times", "times new roman",
                "courier", "courier new", "arimo", "tinos", "cousine" };
            if (standIns.contains(lower) || installedFamilies().contains(lower))
                return family;
            return std::nullopt;
        };
        for (const char* c = faceName ? faceName : ""; *c && count < maximumFontFamilies; ++c) {
            if (*c != ',') {
                name += *c;
                continue;
            }
            if (auto family = chosen())
                return *family;
            name.clear();
        }
        if (count < maximumFontFamilies) {
            if (auto family = chosen())
                return *family;
        }
        return defaultFamily;
    }

    void setColor(cairo_t* cr, const litehtml::web_color& color)
    {
        cairo_set_source_rgba(cr, color.red / 255.0, color.green / 255.0, color.blue / 255.0, color.alpha / 255.0);
    }

    void fill(cairo_t* cr, int x, int y, int width, int height)
    {
        cairo_rectangle(cr, x, y, width, height);
        cairo_fill(cr);
    }

}

namespace {

    // Whether librsvg may read the pictures an SVG file references from its folder: not when
    // one of them is a device, a FIFO or a folder, which would block or never end, nor larger
    // than the loader would read.
    bool referencesOnlyFiles(std::string_view svg, const NSURL& file)
    {
        for (std::size_t at = 0; (at = svg.find("href", at)) != std::string_view::npos;) {
            at += 4;
            while (at < svg.size() && (svg[at] == ' ' || svg[at] == '='))
                ++at;
            if (at >= svg.size() || (svg[at] != '"' && svg[at] != '\''))
                continue;
            auto end = svg.find(svg[at], at + 1);
            if (end == std::string_view::npos)
                break;
            auto reference = svg.substr(at + 1, end - at - 1);
            at = end;
            if (reference.empty() || reference.front() == '#' || reference.starts_with("data:"))
                continue;
            auto url = URLByResolvingReference(reference, file);
            struct stat status { };
            if (url && url->isFileURL() && ::stat(url->path().c_str(), &status) == 0
                && (!S_ISREG(status.st_mode) || static_cast<std::uint64_t>(status.st_size) > NSURLConnection::maximumBodyBytes))
                return false;
        }
        return true;
    }

}

static std::shared_ptr<UIImage> fittedPicture(std::shared_ptr<UIImage> image, int pixelWidth)
{
    // Within half again its drawn size it stays as it is: shrinking it would save little.
    if (!image || pixelWidth <= 0 || image->pixelWidth() <= pixelWidth * 3 / 2)
        return image;
    int pixelHeight = std::max(1, static_cast<int>(std::lround(double(image->pixelHeight()) * pixelWidth / image->pixelWidth())));
    auto* surface = newImageSurface(pixelWidth, pixelHeight);
    if (!surface)
        return image;
    auto* cr = cairo_create(surface);
    cairo_scale(cr, double(pixelWidth) / image->pixelWidth(), double(pixelHeight) / image->pixelHeight());
    cairo_set_source_surface(cr, image->surface(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    // The same size in points: the layout sees no change.
    auto fitted = std::make_shared<UIImage>(surface, image->scale() * pixelWidth / image->pixelWidth());
    cairo_surface_destroy(surface);
    return fitted;
}

std::shared_ptr<UIImage> webPictureWithData(const std::vector<std::uint8_t>& data, CGFloat scale, const std::optional<NSURL>& file, CGFloat drawnWidth)
{
    int needed = drawnWidth > 0 && std::isfinite(drawnWidth * scale) ? static_cast<int>(std::min(double(kMaxImageSide), std::ceil(drawnWidth * std::max(1.0, scale)))) : 0;
    if (needed > 0 && data.size() > 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
        // Decoded no larger than it is drawn, never at its full size first.
        auto declared = declaredImageSize(data.data(), data.size());
        if (auto* surface = declared && declared->first > 0 ? decodeJPEG(data.data(), data.size(), static_cast<std::uint32_t>(needed)) : nullptr) {
            auto image = std::make_shared<UIImage>(surface, double(cairo_image_surface_get_width(surface)) / double(declared->first));
            cairo_surface_destroy(surface);
            return fittedPicture(std::move(image), needed);
        }
    }
    if (auto image = UIImage::imageWithData(data))
        return fittedPicture(std::move(image), needed);
    std::string_view head(reinterpret_cast<const char*>(data.data()), std::min<std::size_t>(data.size(), 4096));
    if (head.find("<svg") == std::string_view::npos)
        return nullptr;
    scale = std::isfinite(scale) ? std::clamp(scale, 1.0, 4.0) : 1;
    GError* error = nullptr;
    auto* handle = rsvg_handle_new_with_flags(RSVG_HANDLE_FLAGS_NONE);
    // CSS units: 96 pixels to the inch, where librsvg would take 90.
    rsvg_handle_set_dpi(handle, 96);
    // Its pictures come from its own folder; librsvg reads no other place, nor the network.
    if (file && file->isFileURL() && referencesOnlyFiles({ reinterpret_cast<const char*>(data.data()), data.size() }, *file)) {
        auto* base = g_file_new_for_path(file->path().c_str());
        rsvg_handle_set_base_gfile(handle, base);
        g_object_unref(base);
    }
    auto* stream = g_memory_input_stream_new_from_data(data.data(), static_cast<gssize>(data.size()), nullptr);
    bool read = rsvg_handle_read_stream_sync(handle, stream, nullptr, &error);
    g_object_unref(stream);
    if (!read) {
        g_clear_error(&error);
        g_object_unref(handle);
        return nullptr;
    }
    double width = 0, height = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height) || width <= 0 || height <= 0) {
        // Sized by its view box alone: as wide as a browser makes such a picture.
        gboolean hasViewBox = false;
        RsvgRectangle viewBox {};
        rsvg_handle_get_intrinsic_dimensions(handle, nullptr, nullptr, nullptr, nullptr, &hasViewBox, &viewBox);
        width = 300;
        height = hasViewBox && viewBox.width > 0 ? std::max(1.0, 300 * viewBox.height / viewBox.width) : 150;
    }
    // Drawn at the device's pixels, no more than it is drawn at (a filter's work grows with
    // them), within the pixel caps of the other pictures.
    double shrink = std::min({ scale, needed > 0 ? needed / width : scale, kMaxImageSide / width, kMaxImageSide / height, std::sqrt(kMaxImagePixels / (width * height)) });
    int pixelWidth = std::max(1, static_cast<int>(std::lround(width * shrink)));
    int pixelHeight = std::max(1, static_cast<int>(std::lround(height * shrink)));
    std::shared_ptr<UIImage> image;
    if (auto* surface = newImageSurface(pixelWidth, pixelHeight)) {
        auto* cr = cairo_create(surface);
        RsvgRectangle viewport { 0, 0, double(pixelWidth), double(pixelHeight) };
        bool drawn = rsvg_handle_render_document(handle, cr, &viewport, &error);
        g_clear_error(&error);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        if (drawn)
            image = std::make_shared<UIImage>(surface, pixelWidth / width);
        cairo_surface_destroy(surface);
    }
    g_object_unref(handle);
    return fittedPicture(std::move(image), needed);
}

struct WebPage::Engine final : litehtml::document_container, PageChanges {
    explicit Engine(const NSURL& URL)
        : base(URL)
    {
    }
    NSURL base;
    StyleSheetLoader loadStyleSheet;
    litehtml::context context;
    litehtml::document::ptr document;
    std::vector<NSURL> wanted;
    std::set<std::string> wantedSet;
    std::map<std::string, std::shared_ptr<UIImage>> pictures;
    std::optional<std::string> clicked;
    std::vector<std::string> resources;
    std::optional<std::string> baseReference;
    cairo_t* cr = nullptr;
    int width = 0;
    bool dirty = true;
    std::string caption;
    std::unique_ptr<StyleBounds> styleBounds;
    std::set<std::string> imported;
    bool customProperties = false;
    // The pixels each picture is drawn at, at most; a picture kept larger is shrunk to them.
    std::map<std::string, double> neededWidths;
    double deviceScale = 1;
    // Whether a picture, a drawn size or the layout changed since the pictures were shrunk.
    bool shrinkDue = false;
    InlineSVGs inlineSVGs { [](const char* list) { return families(list); } };

    void laidOutPictureWidths(const std::function<void(const std::string&, double)>& found) const
    {
        std::vector<litehtml::element::ptr> stack { document->root() };
        while (!stack.empty()) {
            auto element = std::move(stack.back());
            stack.pop_back();
            if (!element)
                continue;
            if (element->get_tagName() && std::string_view(element->get_tagName()) == "img") {
                auto* src = element->get_attr("src");
                auto url = src ? resolve(src, nullptr) : std::nullopt;
                // Its content's width: an unsized picture's margins, padding and borders alone
                // kept it at two pixels, drawn blurred at its own size.
                if (int width = element->get_position().width; url && width > 0)
                    found(url->absoluteString(), width);
            }
            for (auto index = element->get_children_count(); index > 0; --index)
                stack.push_back(element->get_child(static_cast<int>(index - 1)));
        }
    }

    // Pictures kept at more pixels than they are drawn at give up the rest.
    void shrinkPictures()
    {
        if (!std::exchange(shrinkDue, false))
            return;
        laidOutPictureWidths([&](const std::string& url, double width) {
            auto& needed = neededWidths[url];
            needed = std::max(needed, width * deviceScale);
        });
        for (auto& [url, picture] : pictures) {
            auto needed = neededWidths.find(url);
            if (picture && needed != neededWidths.end() && needed->second >= 1)
                picture = fittedPicture(picture, static_cast<int>(std::ceil(needed->second)));
        }
    }

    std::optional<NSURL> resolve(const char* reference, const char* baseURL, bool keepFragment = false) const
    {
        if (!reference || !*reference)
            return std::nullopt;
        NSURL against = base;
        if (baseURL && *baseURL) {
            if (auto given = URLByResolvingReference(baseURL, base))
                against = *given;
        }
        return URLByResolvingReference(reference, against, keepFragment);
    }

    std::shared_ptr<UIImage> picture(const char* src, const char* baseURL) const
    {
        auto url = resolve(src, baseURL);
        if (!url)
            return nullptr;
        auto found = pictures.find(url->absoluteString());
        return found == pictures.end() ? nullptr : found->second;
    }

    litehtml::uint_ptr create_font(const char* faceName, int size, int weight, litehtml::font_style italic, unsigned int decoration, litehtml::font_metrics* fm) override
    {
        auto* font = new Font;
        font->description = pango_font_description_new();
        pango_font_description_set_family(font->description, families(faceName).c_str());
        pango_font_description_set_absolute_size(font->description, std::max(1, size) * PANGO_SCALE);
        pango_font_description_set_weight(font->description, static_cast<PangoWeight>(std::clamp(weight, 100, 1000)));
        pango_font_description_set_style(font->description, italic == litehtml::fontStyleItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
        font->decoration = decoration;
        auto* metrics = pango_context_get_metrics(threadContext(), font->description, nullptr);
        font->ascent = static_cast<int>(std::lround(pango_font_metrics_get_ascent(metrics) / double(PANGO_SCALE)));
        font->descent = static_cast<int>(std::lround(pango_font_metrics_get_descent(metrics) / double(PANGO_SCALE)));
        pango_font_metrics_unref(metrics);
        if (fm) {
            fm->ascent = font->ascent;
            fm->descent = font->descent;
            fm->height = font->ascent + font->descent;
            fm->x_height = std::max(1, font->ascent / 2);
            fm->draw_spaces = (decoration & (litehtml::font_decoration_underline | litehtml::font_decoration_linethrough)) != 0;
        }
        return reinterpret_cast<litehtml::uint_ptr>(font);
    }

    void delete_font(litehtml::uint_ptr handle) override { delete reinterpret_cast<Font*>(handle); }

    static PangoLayout* layoutOf(PangoContext* pango, Font& font, const char* text)
    {
        auto* layout = pango_layout_new(pango);
        pango_layout_set_font_description(layout, font.description);
        pango_layout_set_text(layout, text, -1);
        return layout;
    }

    int text_width(const char* text, litehtml::uint_ptr handle) override
    {
        auto& font = *reinterpret_cast<Font*>(handle);
        auto [entry, added] = font.widths.try_emplace(text, 0);
        if (added) {
            auto* layout = layoutOf(threadContext(), font, text);
            int width = 0;
            pango_layout_get_size(layout, &width, nullptr);
            g_object_unref(layout);
            entry->second = static_cast<int>(std::lround(width / double(PANGO_SCALE)));
        }
        return entry->second;
    }

    void draw_text(litehtml::uint_ptr hdc, const char* text, litehtml::uint_ptr handle, litehtml::web_color color, const litehtml::position& pos) override
    {
        auto* target = reinterpret_cast<cairo_t*>(hdc);
        auto& font = *reinterpret_cast<Font*>(handle);
        auto* pango = threadContext(true);
        pango_cairo_update_context(target, pango);
        auto* layout = layoutOf(pango, font, text);
        int baseline = pango_layout_get_baseline(layout) / PANGO_SCALE;
        int width = 0;
        pango_layout_get_size(layout, &width, nullptr);
        double textWidth = width / double(PANGO_SCALE);
        double y = double(pos.y) + pos.height - font.descent;
        setColor(target, color);
        cairo_move_to(target, pos.x, y - baseline);
        pango_cairo_show_layout(target, layout);
        g_object_unref(layout);
        double thickness = std::max(1.0, font.ascent / 14.0);
        if (font.decoration & litehtml::font_decoration_underline) {
            cairo_rectangle(target, pos.x, y + thickness, textWidth, thickness);
            cairo_fill(target);
        }
        if (font.decoration & litehtml::font_decoration_linethrough) {
            cairo_rectangle(target, pos.x, y - font.ascent / 3.0, textWidth, thickness);
            cairo_fill(target);
        }
        if (font.decoration & litehtml::font_decoration_overline) {
            cairo_rectangle(target, pos.x, y - font.ascent, textWidth, thickness);
            cairo_fill(target);
        }
    }

    int pt_to_px(int pt) const override { return static_cast<int>(std::lround(pt * 96.0 / 72.0)); }
    int get_default_font_size() const override { return defaultFontSize; }
    const char* get_default_font_name() const override { return defaultFamily; }

    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override
    {
        auto* target = reinterpret_cast<cairo_t*>(hdc);
        auto& pos = marker.pos;
        if (marker.index == closedDisclosureMarker || marker.index == openDisclosureMarker) {
            setColor(target, marker.color);
            cairo_move_to(target, pos.x, pos.y);
            if (marker.index == closedDisclosureMarker) {
                cairo_line_to(target, pos.x + pos.width, pos.y + pos.height / 2.0);
                cairo_line_to(target, pos.x, pos.y + pos.height);
            } else {
                cairo_line_to(target, pos.x + pos.width, pos.y);
                cairo_line_to(target, pos.x + pos.width / 2.0, pos.y + pos.height);
            }
            cairo_close_path(target);
            cairo_fill(target);
            return;
        }
        if (!marker.image.empty()) {
            if (auto image = picture(marker.image.c_str(), marker.baseurl)) {
                drawPicture(target, *image, pos.x, pos.y, pos.width, pos.height);
                return;
            }
        }
        setColor(target, marker.color);
        double radius = std::min(pos.width, pos.height) / 2.0;
        switch (marker.marker_type) {
        case litehtml::list_style_type_circle:
            cairo_set_line_width(target, 1);
            cairo_arc(target, pos.x + radius, pos.y + radius, std::max(0.5, radius - 0.5), 0, 2 * M_PI);
            cairo_stroke(target);
            break;
        case litehtml::list_style_type_square:
            fill(target, pos.x, pos.y, pos.width, pos.height);
            break;
        default:
            cairo_arc(target, pos.x + radius, pos.y + radius, radius, 0, 2 * M_PI);
            cairo_fill(target);
            break;
        }
    }

    void load_image(const char* src, const char* baseURL, bool) override
    {
        auto url = resolve(src, baseURL);
        if (url && wantedSet.insert(url->absoluteString()).second)
            wanted.push_back(*url);
    }

    void get_image_size(const char* src, const char* baseURL, litehtml::size& size) override
    {
        size.width = size.height = 0;
        if (auto image = picture(src, baseURL)) {
            size.width = static_cast<int>(std::lround(image->size().width));
            size.height = static_cast<int>(std::lround(image->size().height));
        }
    }

    static void drawPicture(cairo_t* target, const UIImage& image, double x, double y, double width, double height)
    {
        if (width <= 0 || height <= 0 || image.pixelWidth() <= 0 || image.pixelHeight() <= 0)
            return;
        cairo_save(target);
        cairo_rectangle(target, x, y, width, height);
        cairo_clip(target);
        cairo_translate(target, x, y);
        cairo_scale(target, width / image.pixelWidth(), height / image.pixelHeight());
        cairo_set_source_surface(target, image.surface(), 0, 0);
        cairo_paint(target);
        cairo_restore(target);
    }

    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& paint) override
    {
        auto* target = reinterpret_cast<cairo_t*>(hdc);
        auto& clip = paint.clip_box;
        if (!paint.image.empty() && paint.image_size.width > 0) {
            if (auto url = resolve(paint.image.c_str(), paint.baseurl.c_str())) {
                auto& needed = neededWidths[url->absoluteString()];
                if (paint.image_size.width * deviceScale > needed) {
                    needed = paint.image_size.width * deviceScale;
                    shrinkDue = true;
                }
            }
        }
        cairo_save(target);
        cairo_rectangle(target, clip.x, clip.y, clip.width, clip.height);
        cairo_clip(target);
        if (paint.color.alpha) {
            setColor(target, paint.color);
            cairo_paint(target);
        }
        auto image = paint.image.empty() ? nullptr : picture(paint.image.c_str(), paint.baseurl.c_str());
        if (image && paint.image_size.width > 0 && paint.image_size.height > 0 && image->pixelWidth() > 0 && image->pixelHeight() > 0) {
            double width = paint.image_size.width, height = paint.image_size.height;
            if (paint.repeat == litehtml::background_repeat_no_repeat) {
                drawPicture(target, *image, paint.position_x, paint.position_y, width, height);
            } else {
                if (paint.repeat == litehtml::background_repeat_repeat_x) {
                    cairo_rectangle(target, clip.x, paint.position_y, clip.width, height);
                    cairo_clip(target);
                } else if (paint.repeat == litehtml::background_repeat_repeat_y) {
                    cairo_rectangle(target, paint.position_x, clip.y, width, clip.height);
                    cairo_clip(target);
                }
                auto* pattern = cairo_pattern_create_for_surface(image->surface());
                cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
                cairo_matrix_t matrix;
                cairo_matrix_init_scale(&matrix, image->pixelWidth() / width, image->pixelHeight() / height);
                cairo_matrix_translate(&matrix, -paint.position_x, -paint.position_y);
                cairo_pattern_set_matrix(pattern, &matrix);
                cairo_set_source(target, pattern);
                cairo_paint(target);
                cairo_pattern_destroy(pattern);
            }
        }
        cairo_restore(target);
    }

    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders, const litehtml::position& box, bool) override
    {
        auto* target = reinterpret_cast<cairo_t*>(hdc);
        // In doubles: a page's lengths can be anything an int holds, and their sums more.
        double x = box.x, y = box.y, width = box.width, height = box.height;
        // A side without a style takes no room, whatever width it was given.
        auto room = [](const litehtml::border& border) { return border.style > litehtml::border_style_hidden ? std::max(0, border.width) : 0; };
        double top = room(borders.top), bottom = room(borders.bottom), left = room(borders.left), right = room(borders.right);
        auto shown = [](const litehtml::border& border) { return border.width > 0 && border.style > litehtml::border_style_hidden && border.color.alpha; };
        // Each side is a trapezoid that meets its neighbours on the diagonals of the corners,
        // so that transparent sides leave triangles. Sides of one colour are filled as one
        // shape, with no seam where they meet.
        struct Side {
            const litehtml::border* border;
            std::array<std::pair<double, double>, 4> corners;
        };
        const std::array<Side, 4> sides { {
            { &borders.top, { { { x, y }, { x + width, y }, { x + width - right, y + top }, { x + left, y + top } } } },
            { &borders.right, { { { x + width, y }, { x + width, y + height }, { x + width - right, y + height - bottom }, { x + width - right, y + top } } } },
            { &borders.bottom, { { { x + width, y + height }, { x, y + height }, { x + left, y + height - bottom }, { x + width - right, y + height - bottom } } } },
            { &borders.left, { { { x, y + height }, { x, y }, { x + left, y + top }, { x + left, y + height - bottom } } } },
        } };
        std::array<bool, 4> done {};
        for (std::size_t index = 0; index < sides.size(); ++index) {
            if (done[index] || !shown(*sides[index].border))
                continue;
            auto& color = sides[index].border->color;
            for (std::size_t other = index; other < sides.size(); ++other) {
                auto& with = sides[other].border->color;
                if (done[other] || !shown(*sides[other].border) || with.red != color.red || with.green != color.green || with.blue != color.blue || with.alpha != color.alpha)
                    continue;
                done[other] = true;
                auto& corners = sides[other].corners;
                cairo_move_to(target, corners[0].first, corners[0].second);
                for (std::size_t corner = 1; corner < corners.size(); ++corner)
                    cairo_line_to(target, corners[corner].first, corners[corner].second);
                cairo_close_path(target);
            }
            setColor(target, color);
            cairo_set_fill_rule(target, CAIRO_FILL_RULE_WINDING);
            cairo_fill(target);
        }
    }

    void set_caption(const char* text) override { caption = text ? text : ""; }

    void set_base_url(const char* baseURL) override
    {
        if (auto url = resolve(baseURL, nullptr))
            base = *url;
    }

    void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override { }

    void on_anchor_click(const char* url, const litehtml::element::ptr&) override
    {
        if (url && *url)
            clicked = url;
    }

    void set_cursor(const char*) override { }

    // Text into words and spaces as the engine splits it, but a run of spaces is one space
    // element: each element costs about 300 bytes, and every space of indented or aligned text
    // was one. (As one, the run still collapses to a space where spaces collapse, and keeps its
    // width where they don't.) Han characters are words of their own, so that lines break
    // between them.
    void split_text(const char* text, const std::function<void(const char*)>& onWord, const std::function<void(const char*)>& onSpace) override
    {
        std::string_view rest(text ? text : "");
        std::string part;
        std::size_t word = 0;
        auto flushWord = [&](std::size_t end) {
            if (end > word) {
                part.assign(rest.substr(word, end - word));
                onWord(part.c_str());
            }
        };
        std::size_t at = 0;
        while (at < rest.size()) {
            auto c = static_cast<unsigned char>(rest[at]);
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
                flushWord(at);
                auto end = at + 1;
                while (c == ' ' && end < rest.size() && rest[end] == ' ')
                    ++end;
                part.assign(rest.substr(at, end - at));
                onSpace(part.c_str());
                word = at = end;
                continue;
            }
            // U+4E00 to U+9FCC, three bytes from E4 B8 80 to E9 BF 8C.
            if (c >= 0xE4 && c <= 0xE9 && at + 2 < rest.size()) {
                std::uint32_t code = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(rest[at + 1]) & 0x3Fu) << 6) | (static_cast<unsigned char>(rest[at + 2]) & 0x3Fu);
                if (code >= 0x4E00 && code <= 0x9FCC) {
                    flushWord(at);
                    part.assign(rest.substr(at, 3));
                    onWord(part.c_str());
                    word = at = at + 3;
                    continue;
                }
            }
            ++at;
        }
        flushWord(rest.size());
    }

    void transform_text(litehtml::tstring& text, litehtml::text_transform transform) override
    {
        if (text.empty())
            return;
        gchar* changed = nullptr;
        if (transform == litehtml::text_transform_uppercase) {
            changed = g_utf8_strup(text.c_str(), -1);
        } else if (transform == litehtml::text_transform_lowercase) {
            changed = g_utf8_strdown(text.c_str(), -1);
        } else if (transform == litehtml::text_transform_capitalize) {
            auto* next = g_utf8_find_next_char(text.c_str(), nullptr);
            std::size_t first = next ? static_cast<std::size_t>(next - text.c_str()) : text.size();
            auto* upper = g_utf8_strup(text.c_str(), static_cast<gssize>(first));
            text = upper + text.substr(first);
            g_free(upper);
        }
        if (changed) {
            text = changed;
            g_free(changed);
        }
    }

    void import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseURL) override
    {
        auto resolved = resolve(url.c_str(), baseURL.c_str());
        if (!resolved || !loadStyleSheet)
            return;
        // Each sheet once: sheets that import each other end there, and so does the chain of
        // imports, as no more sheets than this come in.
        if (imported.size() >= maximumStyleSheets || !imported.insert(resolved->absoluteString()).second)
            return;
        // A style sheet that fails leaves the page as it is.
        if (auto sheet = loadStyleSheet(*resolved)) {
            text = styleBounds ? styleBounds->boundedSheet(sanitizedText(*sheet)) : sanitizedText(*sheet);
            customProperties = customProperties || text.find("var(") != std::string::npos;
            baseURL = resolved->absoluteString();
        }
    }

    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses&, bool validX, bool validY) override
    {
        if (!cr)
            return;
        cairo_save(cr);
        constexpr double far = 1e7;
        cairo_rectangle(cr, validX ? pos.x : -far, validY ? pos.y : -far, validX ? pos.width : 2 * far, validY ? pos.height : 2 * far);
        cairo_clip(cr);
    }

    void del_clip() override
    {
        if (cr)
            cairo_restore(cr);
    }

    void get_client_rect(litehtml::position& client) const override
    {
        client.x = client.y = 0;
        client.width = width;
        client.height = std::max(1, width * 16 / 9);
    }

    // Sees every element as the document is made (scripts are not kept in its tree): notes what
    // the element loads, and makes it.
    std::shared_ptr<litehtml::element> create_element(const char* tagName, const litehtml::string_map& attributes, const std::shared_ptr<litehtml::document>& owner) override
    {
        std::string tag = tagName ? tagName : "";
        auto take = [&](const char* name) {
            if (auto found = attributes.find(name); found != attributes.end() && !found->second.empty())
                resources.push_back(found->second);
        };
        if (tag == "img" || tag == "script" || tag == "audio" || tag == "source" || tag == "iframe") {
            take("src");
        } else if (tag == "video") {
            take("poster");
            take("src");
        } else if (tag == "link") {
            auto rel = attributes.find("rel");
            std::string tokens = rel == attributes.end() ? "" : rel->second;
            std::transform(tokens.begin(), tokens.end(), tokens.begin(), [](unsigned char c) { return std::tolower(c); });
            if (tokens.find("stylesheet") != std::string::npos || tokens.find("icon") != std::string::npos)
                take("href");
        } else if (tag == "base") {
            if (auto href = attributes.find("href"); href != attributes.end() && !baseReference)
                baseReference = href->second;
        } else if (tag == "body") {
            // The body's colour attributes, with the browser's own styles: any rule of the page
            // wins over them, however plain its selector (the engine applies those styles
            // after the tree is made).
            auto color = [&](const char* name) {
                auto found = attributes.find(name);
                return found == attributes.end() ? std::nullopt : cssFromLegacyColor(found->second);
            };
            std::string rules;
            if (auto background = color("bgcolor"))
                rules += "body { background-color: " + *background + " }\n";
            if (auto text = color("text"))
                rules += "body { color: " + *text + " }\n";
            if (auto link = color("link"))
                rules += "a:link, a[href] { color: " + *link + " }\n";
            if (!rules.empty())
                context.load_master_stylesheet(rules.c_str());
        }
        if (auto svg = inlineSVGs.newElement(tag, attributes, owner))
            return svg;
        if (auto control = newFormControl(tag, attributes, owner))
            return control;
        return newElement(tag, owner);
    }

    void get_media_features(litehtml::media_features& media) const override
    {
        litehtml::position client;
        get_client_rect(client);
        media.type = litehtml::media_type_screen;
        media.width = media.device_width = client.width;
        media.height = media.device_height = client.height;
        media.color = 8;
        media.monochrome = 0;
        media.color_index = 256;
        media.resolution = 96;
    }

    void layoutChanged() override { dirty = true; }
    bool usesCustomProperties() const override { return customProperties; }

    // The engine asks for the colours it can't read itself.
    litehtml::tstring resolve_color(const litehtml::tstring& color) const override { return rgbaFromHSL(color).value_or(""); }

    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override
    {
        language = "en";
        culture.clear();
    }
};

std::unique_ptr<WebPage> WebPage::create(std::string markup, const NSURL& URL, const StyleSheetLoader& loadStyleSheet)
{
    std::unique_ptr<WebPage> page(new WebPage);
    page->m_engine = std::make_unique<Engine>(URL);
    auto& engine = *page->m_engine;
    engine.loadStyleSheet = loadStyleSheet;
    engine.context.load_master_stylesheet(userAgentStyles);
    // Text for pango: valid UTF-8 without NULs. One copy of a page's text at a time: a long
    // page's text is megabytes.
    auto text = std::move(markup);
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        text = sanitizedText(text);
    text = engine.inlineSVGs.takenOut(std::move(text));
    engine.styleBounds = std::make_unique<StyleBounds>(text);
    text = engine.styleBounds->boundedMarkup(text);
    engine.customProperties = text.find("var(") != std::string::npos;
    // A page of more text than the engine could hold as words shows its preformatted lines whole.
    if (htmlTextElements(text) > maximumTextElements)
        text = htmlWithPreformattedLinesJoined(text);
    engine.document = litehtml::document::createFromUTF8(text.c_str(), &engine, &engine.context);
    if (!engine.document)
        return nullptr;
    return page;
}

WebPage::~WebPage()
{
    // The document lets go of its fonts through the engine: it goes first.
    if (m_engine)
        m_engine->document.reset();
}

namespace {

    // Each of the document's elements in document order, parents before their children.
    void forEachInOrder(const litehtml::element::ptr& root, const std::function<void(const litehtml::element::ptr&)>& visit)
    {
        std::vector<litehtml::element::ptr> stack { root };
        while (!stack.empty()) {
            auto element = std::move(stack.back());
            stack.pop_back();
            if (!element)
                continue;
            visit(element);
            for (auto index = element->get_children_count(); index > 0; --index)
                stack.push_back(element->get_child(static_cast<int>(index - 1)));
        }
    }

    std::vector<litehtml::element::ptr> elementsInOrder(const litehtml::element::ptr& root)
    {
        std::vector<litehtml::element::ptr> elements;
        forEachInOrder(root, [&](const litehtml::element::ptr& element) { elements.push_back(element); });
        return elements;
    }

}

WebPage::References WebPage::references() const
{
    References references { m_engine->baseReference, m_engine->resources, {} };
    constexpr std::size_t maximumLinkText = 256;
    // Visited, not listed: a long page has millions of elements, most of them its words.
    forEachInOrder(m_engine->document->root(), [&](const litehtml::element::ptr& element) {
        std::string_view tag = element->get_tagName() ? element->get_tagName() : "";
        if (tag == "a") {
            if (auto* href = element->get_attr("href"); href && *href) {
                litehtml::tstring text;
                element->get_text(text);
                std::string collapsed;
                for (char c : text) {
                    if (collapsed.size() >= maximumLinkText)
                        break;
                    bool space = c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
                    if (!space)
                        collapsed += c;
                    else if (!collapsed.empty() && collapsed.back() != ' ')
                        collapsed += ' ';
                }
                if (!collapsed.empty() && collapsed.back() == ' ')
                    collapsed.pop_back();
                references.links.emplace_back(std::move(collapsed), href);
            }
        }
    });
    return references;
}

const std::vector<NSURL>& WebPage::pictureURLs() const
{
    return m_engine->wanted;
}

void WebPage::setPicture(const NSURL& URL, std::shared_ptr<UIImage> picture)
{
    m_engine->pictures[URL.absoluteString()] = std::move(picture);
    m_engine->dirty = true;
    m_engine->shrinkDue = true;
}

void WebPage::layout(CGFloat width)
{
    int pixels = std::max(1, static_cast<int>(std::lround(width)));
    if (!m_engine->dirty && pixels == m_engine->width)
        return;
    m_engine->width = pixels;
    m_engine->dirty = false;
    m_engine->document->media_changed();
    m_engine->document->render(pixels);
    // Drawn sizes start again: the new width may draw pictures larger.
    m_engine->neededWidths.clear();
    m_engine->shrinkDue = true;
}

bool WebPage::needsLayout() const
{
    return m_engine->dirty;
}

std::map<std::string, CGFloat> WebPage::pictureWidths() const
{
    std::map<std::string, CGFloat> widths;
    m_engine->laidOutPictureWidths([&](const std::string& url, double width) {
        auto& known = widths[url];
        known = std::max(known, width);
    });
    return widths;
}

std::string WebPage::title() const
{
    return m_engine->caption;
}

CGFloat WebPage::height() const
{
    return m_engine->document->height();
}

CGFloat WebPage::width() const
{
    return std::max(m_engine->width, m_engine->document->width());
}

void WebPage::draw(cairo_t* cr, CGRect visible)
{
    litehtml::position clip(static_cast<int>(std::floor(visible.origin.x)), static_cast<int>(std::floor(visible.origin.y)),
        static_cast<int>(std::ceil(visible.size.width)) + 1, static_cast<int>(std::ceil(visible.size.height)) + 1);
    m_engine->cr = cr;
    cairo_save(cr);
    // The root's background, or the body's when it has none, covers the whole canvas: beside
    // and below the page too. White when neither has one.
    litehtml::web_color canvas(255, 255, 255);
    auto root = m_engine->document->root();
    auto* background = root ? root->get_background(false) : nullptr;
    if (background && background->m_color.alpha)
        canvas = background->m_color;
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, visible.origin.x, visible.origin.y, visible.size.width, visible.size.height);
    cairo_fill_preserve(cr);
    setColor(cr, canvas);
    cairo_fill_preserve(cr);
    // So do its tiles, from the page's corner on.
    auto tile = background && !background->m_image.empty() && background->m_repeat == litehtml::background_repeat_repeat
        ? m_engine->picture(background->m_image.c_str(), background->m_baseurl.c_str())
        : nullptr;
    if (tile && tile->size().width >= 1 && tile->size().height >= 1 && tile->pixelWidth() > 0 && tile->pixelHeight() > 0) {
        auto* pattern = cairo_pattern_create_for_surface(tile->surface());
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
        cairo_matrix_t matrix;
        cairo_matrix_init_scale(&matrix, tile->pixelWidth() / tile->size().width, tile->pixelHeight() / tile->size().height);
        cairo_pattern_set_matrix(pattern, &matrix);
        cairo_set_source(cr, pattern);
        cairo_fill_preserve(cr);
        cairo_pattern_destroy(pattern);
    }
    cairo_new_path(cr);
    double pixel = 1, unused = 0;
    cairo_user_to_device_distance(cr, &pixel, &unused);
    auto scale = std::clamp(std::abs(pixel), 1.0, 4.0);
    m_engine->shrinkDue = m_engine->shrinkDue || scale != m_engine->deviceScale;
    m_engine->deviceScale = scale;
    m_engine->document->draw(reinterpret_cast<litehtml::uint_ptr>(cr), 0, 0, &clip);
    m_engine->inlineSVGs.frameDrawn();
    cairo_restore(cr);
    m_engine->cr = nullptr;
    m_engine->shrinkPictures();
}

std::optional<NSURL> WebPage::linkAt(CGPoint point)
{
    int x = static_cast<int>(std::lround(point.x)), y = static_cast<int>(std::lround(point.y));
    litehtml::position::vector redraw;
    m_engine->clicked.reset();
    m_engine->document->on_lbutton_down(x, y, x, y, redraw);
    m_engine->document->on_lbutton_up(x, y, x, y, redraw);
    m_engine->document->on_mouse_leave(redraw);
    auto href = std::exchange(m_engine->clicked, std::nullopt);
    return href ? m_engine->resolve(href->c_str(), nullptr, true) : std::nullopt;
}

std::optional<CGFloat> WebPage::anchorTop(const std::string& fragment)
{
    auto decoded = percentDecode(fragment).value_or(fragment);
    auto elements = elementsInOrder(m_engine->document->root());
    auto find = [&](const std::string& name) -> std::optional<std::size_t> {
        std::optional<std::size_t> named;
        for (std::size_t index = 0; index < elements.size(); ++index) {
            auto& element = elements[index];
            if (auto* id = element->get_attr("id"); id && name == id)
                return index;
            if (!named && element->get_tagName() && std::string_view(element->get_tagName()) == "a") {
                if (auto* anchor = element->get_attr("name"); anchor && name == anchor)
                    named = index;
            }
        }
        return named;
    };
    auto target = find(fragment);
    if (!target && decoded != fragment)
        target = find(decoded);
    if (!target) {
        if (decoded.empty() || g_ascii_strcasecmp(decoded.c_str(), "top") == 0)
            return 0;
        return std::nullopt;
    }
    // An empty anchor has no box of its own: what follows it shows where it is.
    for (auto index = *target; index < elements.size(); ++index) {
        auto& element = elements[index];
        auto place = element->get_placement();
        if (place.width > 0 || place.height > 0)
            return std::max(0, place.y - element->padding_top() - element->border_top());
    }
    return std::max(0, elements[*target]->get_placement().y);
}

}
