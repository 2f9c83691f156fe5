#include "platform/graphics/NSStringDrawing.h"

#include "platform/graphics/CGContext.h"
#include "platform/graphics/TextLayout.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIGraphics.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform {

const NSParagraphStyle& NSParagraphStyle::defaultParagraphStyle()
{
    static const NSParagraphStyle style;
    return style;
}

namespace {

    void applyParagraph(PangoLayout* layout, const NSParagraphStyle& style, CGFloat width)
    {
        if (std::isfinite(width) && width > 0 && width * PANGO_SCALE < double(G_MAXINT)) {
            pango_layout_set_width(layout, int(width * PANGO_SCALE));
            pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        }
        switch (style.alignment) {
        case NSTextAlignmentCenter:
            pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
            break;
        case NSTextAlignmentRight:
            pango_layout_set_alignment(layout, PANGO_ALIGN_RIGHT);
            break;
        case NSTextAlignmentJustified:
            pango_layout_set_justify(layout, TRUE);
            pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT);
            break;
        case NSTextAlignmentLeft:
        case NSTextAlignmentNatural:
            pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT);
            break;
        }
    }

    std::shared_ptr<UIFont> fontOf(const NSStringAttributes& attributes)
    {
        return attributes.font ? attributes.font : defaultTextFont();
    }

    // Measures on a scratch surface, so measuring works without a current context.
    template<typename Use>
    auto withScratchContext(Use use)
    {
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
        auto* cr = cairo_create(surface);
        auto result = use(cr);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        return result;
    }

    CGSize layoutSize(PangoLayout* layout)
    {
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        return { CGFloat(logical.width) / PANGO_SCALE, CGFloat(logical.height) / PANGO_SCALE };
    }

}

CGRect boundingRectWithSize(const std::string& text, CGSize size, unsigned options, const NSStringAttributes& attributes)
{
    if (text.empty())
        return CGRectZero;
    auto font = fontOf(attributes);
    return withScratchContext([&](cairo_t* cr) {
        auto* layout = createTextLayout(cr, text, *font);
        // Without the line-fragment origin the text is measured as one line.
        bool multiLine = options & NSStringDrawingUsesLineFragmentOrigin;
        applyParagraph(layout, attributes.paragraphStyle, multiLine ? size.width : 0);
        if (!multiLine)
            pango_layout_set_single_paragraph_mode(layout, TRUE);
        auto measured = layoutSize(layout);
        g_object_unref(layout);
        return CGRectMake(0, 0, measured.width, measured.height);
    });
}

CGSize sizeWithAttributes(const std::string& text, const NSStringAttributes& attributes)
{
    return boundingRectWithSize(text, { 0, 0 }, 0, attributes).size;
}

namespace {

    void drawLayoutText(const std::string& text, CGPoint origin, CGFloat width, const NSStringAttributes& attributes)
    {
        auto* c = UIGraphicsGetCurrentContext();
        if (!c || text.empty() || !std::isfinite(origin.x) || !std::isfinite(origin.y))
            return;
        auto font = fontOf(attributes);
        auto* cr = c->cairo();
        auto* layout = createTextLayout(cr, text, *font);
        applyParagraph(layout, attributes.paragraphStyle, width);
        cairo_save(cr);
        auto color = attributes.foregroundColor ? *attributes.foregroundColor : UIColor(0, 0, 0, 1);
        if (color.isPattern() && !color.patternImage())
            color = UIColor(0, 0, 0, 1);
        c->setSource(color, std::clamp(c->state().alpha, 0.0, 1.0));
        cairo_new_path(cr);
        cairo_move_to(cr, origin.x, origin.y);
        pango_cairo_show_layout(cr, layout);
        cairo_restore(cr);
        g_object_unref(layout);
    }

}

void drawInRect(const std::string& text, const CGRect& rect, const NSStringAttributes& attributes)
{
    auto r = CGRectStandardize(rect);
    drawLayoutText(text, r.origin, r.size.width, attributes);
}

void drawAtPoint(const std::string& text, CGPoint point, const NSStringAttributes& attributes)
{
    drawLayoutText(text, point, 0, attributes);
}

}
