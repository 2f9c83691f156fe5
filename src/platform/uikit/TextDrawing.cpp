#include "platform/uikit/TextDrawing.h"

#include "platform/graphics/TextLayout.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vesk::platform::text {

namespace {

    // How much wider than its room a line drawn under a scaled context may come out and still
    // be taken as fitting: far more than the rounding, far less than a character.
    constexpr CGFloat fitSlack = 0.5;

    bool usable(const CGRect& rect)
    {
        return std::isfinite(rect.origin.x) && std::isfinite(rect.origin.y) && std::isfinite(rect.size.width)
            && std::isfinite(rect.size.height) && rect.size.width > 0 && rect.size.height > 0
            && rect.size.width * PANGO_SCALE < double(G_MAXINT) && rect.size.height * PANGO_SCALE < double(G_MAXINT);
    }

    PangoEllipsizeMode ellipsizing(Wrap wrap)
    {
        switch (wrap) {
        case Wrap::TruncateHead:
            return PANGO_ELLIPSIZE_START;
        case Wrap::TruncateMiddle:
            return PANGO_ELLIPSIZE_MIDDLE;
        case Wrap::TruncateTail:
        case Wrap::WordWrap:
        case Wrap::CharWrap:
            return PANGO_ELLIPSIZE_END;
        case Wrap::Clip:
            break;
        }
        return PANGO_ELLIPSIZE_NONE;
    }

    // One line that is not shortened with a "…" (clipped, or wrapping with no second line to
    // go to): it is laid out at its own width, since pango breaks any line it is given a width
    // for, and then placed and cut by the rectangle.
    bool unbroken(const Style& style)
    {
        return style.lines == 1 && (style.wrap == Wrap::Clip || style.wrap == Wrap::WordWrap || style.wrap == Wrap::CharWrap);
    }

    void configure(PangoLayout* layout, const CGRect& rect, const Style& style)
    {
        if (style.lines == 1) {
            // A line break in a name shows as a mark, never as a second line.
            pango_layout_set_single_paragraph_mode(layout, TRUE);
        }
        if (unbroken(style)) {
            pango_layout_set_width(layout, -1);
            pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_NONE);
            return;
        }
        pango_layout_set_width(layout, int(rect.size.width * PANGO_SCALE));
        pango_layout_set_alignment(layout, style.align == Align::Center ? PANGO_ALIGN_CENTER : style.align == Align::Right ? PANGO_ALIGN_RIGHT
                                                                                                                           : PANGO_ALIGN_LEFT);
        if (style.lines == 1) {
            pango_layout_set_ellipsize(layout, ellipsizing(style.wrap));
            return;
        }
        pango_layout_set_wrap(layout, style.wrap == Wrap::CharWrap ? PANGO_WRAP_CHAR : PANGO_WRAP_WORD_CHAR);
        pango_layout_set_ellipsize(layout, ellipsizing(style.wrap));
        // A negative height counts lines; a positive one is the room in pango units.
        if (style.lines > 1)
            pango_layout_set_height(layout, -style.lines);
        else
            pango_layout_set_height(layout, int(rect.size.height * PANGO_SCALE));
    }

    CGSize extent(PangoLayout* layout)
    {
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        return { CGFloat(logical.width) / PANGO_SCALE, CGFloat(logical.height) / PANGO_SCALE };
    }

    CGFloat lineWidth(cairo_t* cr, const std::string& text, const UIFont& font)
    {
        auto* layout = createTextLayout(cr, text, font);
        pango_layout_set_single_paragraph_mode(layout, TRUE);
        auto width = extent(layout).width;
        g_object_unref(layout);
        return width;
    }

    // The text with whole characters taken out of its middle for a "…", to fit the width.
    // Pango's own middle cut pads its "…" out to the full width, which leaves a gap after it.
    std::string middleCut(cairo_t* cr, const std::string& text, const UIFont& font, CGFloat width)
    {
        static const std::string ellipsis = "\xE2\x80\xA6";
        auto clean = sanitizedText(text);
        auto* layout = createTextLayout(cr, clean, font);
        pango_layout_set_single_paragraph_mode(layout, TRUE);
        auto total = extent(layout).width;
        // The places a cut may fall (between characters as a reader sees them) and how far
        // along the line each is.
        int count = 0;
        auto* attributes = pango_layout_get_log_attrs_readonly(layout, &count);
        std::vector<std::pair<std::size_t, CGFloat>> places;
        const char* start = clean.c_str();
        const char* at = start;
        for (int index = 0; index < count; ++index) {
            if (attributes[index].is_cursor_position) {
                PangoRectangle position;
                pango_layout_index_to_pos(layout, int(at - start), &position);
                places.push_back({ std::size_t(at - start), CGFloat(position.x) / PANGO_SCALE });
            }
            if (*at)
                at = g_utf8_next_char(at);
        }
        g_object_unref(layout);
        if (places.size() < 2 || total <= width)
            return clean;
        auto room = width - lineWidth(cr, ellipsis, font);
        // The head takes up to half the room, the tail what is left; kerning across the cut
        // may still overflow, and a character more goes then.
        std::size_t head = 0;
        while (head + 1 < places.size() && places[head + 1].second <= room / 2)
            ++head;
        std::size_t tail = places.size() - 1;
        while (tail > head && total - places[tail - 1].second <= room - places[head].second)
            --tail;
        for (;;) {
            auto cut = clean.substr(0, places[head].first) + ellipsis + clean.substr(places[tail].first);
            if (lineWidth(cr, cut, font) <= width || (head == 0 && tail + 1 >= places.size()))
                return cut;
            if (head > 0 && places[head].second >= total - places[tail].second)
                --head;
            else if (tail + 1 < places.size())
                ++tail;
            else
                --head;
        }
    }

}

void draw(cairo_t* cr, const std::string& text, const CGRect& rect, const Style& style)
{
    if (text.empty() || !style.font || !usable(rect))
        return;
    auto font = style.font;
    auto* layout = createTextLayout(cr, text, *font);
    configure(layout, rect, style);
    if (style.shrinkToFit && style.lines == 1) {
        // Whole steps down to a quarter of the size; beyond that it is truncated.
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_NONE);
        pango_layout_set_width(layout, -1);
        auto natural = extent(layout).width;
        if (natural > rect.size.width && natural > 0) {
            auto size = std::max(font->pointSize() / 4, std::floor(font->pointSize() * rect.size.width / natural));
            font = std::make_shared<UIFont>(font->fontName(), font->familyName(), font->isBold(), size);
            g_object_unref(layout);
            layout = createTextLayout(cr, text, *font);
        }
        configure(layout, rect, style);
    }
    // Pango places glyphs in device units: under a scaled context a line can come out a hair
    // wider than it measured at scale 1, and a text measured to fit must not lose its end.
    bool whole = unbroken(style);
    if (!whole && style.lines == 1 && pango_layout_is_ellipsized(layout)) {
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_NONE);
        pango_layout_set_width(layout, -1);
        whole = extent(layout).width <= rect.size.width + fitSlack;
        if (!whole)
            configure(layout, rect, style);
    }
    if (!whole && style.wrap == Wrap::TruncateMiddle && style.lines == 1 && pango_layout_is_ellipsized(layout)) {
        g_object_unref(layout);
        layout = createTextLayout(cr, middleCut(cr, text, *font, rect.size.width), *font);
        configure(layout, rect, style);
    }
    auto size = extent(layout);
    // Taller text than the rectangle starts at its top, as a label shows it.
    auto y = rect.origin.y + std::max(0.0, (rect.size.height - size.height) / 2);
    // An unbroken line is placed as pango places one too wide to break: by its alignment, even
    // when that puts its start before the rectangle's.
    auto x = rect.origin.x;
    if (whole && style.align != Align::Left)
        x += (rect.size.width - size.width) / (style.align == Align::Center ? 2 : 1);
    cairo_save(cr);
    cairo_rectangle(cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
    cairo_clip(cr);
    cairo_set_source_rgba(cr, style.color.red(), style.color.green(), style.color.blue(), style.color.alpha());
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    g_object_unref(layout);
}

std::string uppercased(const std::string& text)
{
    auto clean = sanitizedText(text);
    auto* upper = g_utf8_strup(clean.c_str(), static_cast<gssize>(clean.size()));
    std::string result = upper ? upper : clean;
    g_free(upper);
    return result;
}

CGSize measure(const std::string& text, const std::shared_ptr<UIFont>& font, CGFloat width)
{
    if (text.empty() || !font)
        return CGSizeZero;
    struct Scratch {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
        ~Scratch() { cairo_surface_destroy(surface); }
    };
    static thread_local Scratch scratch;
    auto* cr = cairo_create(scratch.surface);
    auto* layout = createTextLayout(cr, text, *font);
    if (width > 0 && width * PANGO_SCALE < double(G_MAXINT)) {
        pango_layout_set_width(layout, int(width * PANGO_SCALE));
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    } else {
        pango_layout_set_single_paragraph_mode(layout, TRUE);
    }
    auto size = extent(layout);
    g_object_unref(layout);
    cairo_destroy(cr);
    return size;
}

}
