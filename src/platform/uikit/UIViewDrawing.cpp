#include "platform/foundation/RunLoop.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/graphics/UIScreen.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/ScreenLayout.h"
#include "platform/uikit/UIAlertControllerView.h"
#include "platform/uikit/UIScrollView.h"
#include "platform/uikit/UITableView.h"
#include "platform/uikit/UIViewRendering.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace vesk::platform {

namespace {

    std::atomic<std::uint64_t> displayGeneration { 1 };
    std::uint64_t drawnGeneration = 0;
    bool movingContent = false;
    // Only a drawing records the state it reads; layouts for input record nothing.
    bool recording = false;

    struct Watched {
        std::function<std::size_t()> signature;
        std::size_t value;
    };
    std::vector<Watched>& watchedState()
    {
        static auto* list = new std::vector<Watched>;
        return *list;
    }

    UIColor rgb(int red, int green, int blue)
    {
        return UIColor(red / 255.0, green / 255.0, blue / 255.0, 1);
    }

    text::Align alignment(NSTextAlignment alignment)
    {
        switch (alignment) {
        case NSTextAlignment::Center:
            return text::Align::Center;
        case NSTextAlignment::Right:
            return text::Align::Right;
        case NSTextAlignment::Left:
        case NSTextAlignment::Justified:
        case NSTextAlignment::Natural:
            break;
        }
        return text::Align::Left;
    }

    text::Wrap wrapping(NSLineBreakMode mode)
    {
        switch (mode) {
        case NSLineBreakMode::ByWordWrapping:
            return text::Wrap::WordWrap;
        case NSLineBreakMode::ByCharWrapping:
            return text::Wrap::CharWrap;
        case NSLineBreakMode::ByClipping:
            return text::Wrap::Clip;
        case NSLineBreakMode::ByTruncatingHead:
            return text::Wrap::TruncateHead;
        case NSLineBreakMode::ByTruncatingMiddle:
            return text::Wrap::TruncateMiddle;
        case NSLineBreakMode::ByTruncatingTail:
            break;
        }
        return text::Wrap::TruncateTail;
    }

    CGRect placeImage(UIViewContentMode mode, CGSize image, const CGRect& bounds)
    {
        auto w = bounds.size.width, h = bounds.size.height;
        switch (mode) {
        case UIViewContentMode::ScaleToFill:
        case UIViewContentMode::Redraw:
            return bounds;
        case UIViewContentMode::ScaleAspectFit:
            return AVMakeRectWithAspectRatioInsideRect(image, bounds);
        case UIViewContentMode::ScaleAspectFill: {
            auto scale = std::max(w / image.width, h / image.height);
            auto size = CGSizeMake(image.width * scale, image.height * scale);
            return CGRectMake((w - size.width) / 2, (h - size.height) / 2, size.width, size.height);
        }
        case UIViewContentMode::Center:
            return CGRectMake((w - image.width) / 2, (h - image.height) / 2, image.width, image.height);
        case UIViewContentMode::Top:
            return CGRectMake((w - image.width) / 2, 0, image.width, image.height);
        case UIViewContentMode::Bottom:
            return CGRectMake((w - image.width) / 2, h - image.height, image.width, image.height);
        case UIViewContentMode::Left:
            return CGRectMake(0, (h - image.height) / 2, image.width, image.height);
        case UIViewContentMode::Right:
            return CGRectMake(w - image.width, (h - image.height) / 2, image.width, image.height);
        }
        return bounds;
    }

    void drawLayerBackground(UIView& view, cairo_t* cr, const CGRect& bounds)
    {
        auto background = view.layer().presentationBackgroundColor();
        if (!background)
            return;
        auto radius = view.layer().cornerRadius();
        if (background->isPattern()) {
            if (auto image = background->patternImage()) {
                auto* pattern = cairo_pattern_create_for_surface(image->surface());
                cairo_matrix_t m;
                cairo_matrix_init_scale(&m, image->scale(), image->scale());
                cairo_pattern_set_matrix(pattern, &m);
                cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
                drawing::roundedRectPath(cr, bounds, radius);
                cairo_set_source(cr, pattern);
                cairo_fill(cr);
                cairo_pattern_destroy(pattern);
            }
            return;
        }
        drawing::roundedRectPath(cr, bounds, radius);
        drawing::setColor(cr, *background);
        cairo_fill(cr);
    }

    void drawLayerBorder(UIView& view, cairo_t* cr, const CGRect& bounds)
    {
        auto width = view.layer().borderWidth();
        auto color = view.layer().borderColor();
        if (width <= 0 || !std::isfinite(width))
            return;
        // The border lies inside the bounds.
        drawing::roundedRectPath(cr, bounds.insetBy(width / 2, width / 2), std::max(0.0, view.layer().cornerRadius() - width / 2));
        drawing::setColor(cr, color ? *color : UIColor(0, 0, 0, 1));
        cairo_set_line_width(cr, width);
        cairo_stroke(cr);
    }

}

void markNeedsDisplay()
{
    displayGeneration.fetch_add(1, std::memory_order_relaxed);
}

void UIView::setNeedsDisplay()
{
    markNeedsDisplay();
}

void UIView::drawRect(CGRect)
{
}

namespace drawing {

    UIColor defaultTint()
    {
        return rgb(0, 122, 255);
    }
    UIColor disabledTint()
    {
        return rgb(199, 199, 204);
    }
    UIColor separatorColor()
    {
        return rgb(200, 199, 204);
    }
    UIColor barColor()
    {
        return rgb(247, 247, 247);
    }
    UIColor barHairlineColor()
    {
        return rgb(178, 178, 178);
    }
    UIColor groupedBackgroundColor()
    {
        return rgb(239, 239, 244);
    }
    UIColor secondaryTextColor()
    {
        return rgb(142, 142, 147);
    }
    UIColor destructiveColor()
    {
        return rgb(255, 59, 48);
    }
    UIColor selectionColor()
    {
        return rgb(217, 217, 217);
    }

    UIColor tintOf(const UIView& view)
    {
        if (auto tint = view.tintColor())
            return *tint;
        for (auto parent = view.superview(); parent; parent = parent->superview()) {
            if (auto tint = parent->tintColor())
                return *tint;
        }
        return defaultTint();
    }

    void setColor(cairo_t* cr, const UIColor& color, CGFloat alpha)
    {
        cairo_set_source_rgba(cr, color.red(), color.green(), color.blue(), color.alpha() * alpha);
    }

    void fillRect(cairo_t* cr, const CGRect& rect, const UIColor& color)
    {
        cairo_rectangle(cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
        setColor(cr, color);
        cairo_fill(cr);
    }

    void shadowAround(cairo_t* cr)
    {
        auto* outline = cairo_copy_path(cr);
        cairo_save(cr);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        // Rings of faint shade, overlapping more toward the edge: darkest at the edge, gone
        // twelve points out. The inner half of each lies under the sheet.
        for (int ring = 12; ring >= 1; --ring) {
            cairo_new_path(cr);
            cairo_append_path(cr, outline);
            cairo_set_line_width(cr, 2.0 * ring);
            cairo_set_source_rgba(cr, 0, 0, 0, 0.035);
            cairo_stroke(cr);
        }
        cairo_new_path(cr);
        cairo_append_path(cr, outline);
        cairo_set_line_width(cr, 2);
        cairo_set_source_rgba(cr, 0, 0, 0, 0.3);
        cairo_stroke(cr);
        cairo_restore(cr);
        cairo_new_path(cr);
        cairo_append_path(cr, outline);
        cairo_path_destroy(outline);
    }

    void roundedRectPath(cairo_t* cr, const CGRect& rect, CGFloat radius)
    {
        auto r = CGRectStandardize(rect);
        radius = std::clamp(radius, 0.0, std::min(r.size.width, r.size.height) / 2);
        cairo_new_path(cr);
        if (radius <= 0) {
            cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
            return;
        }
        auto x0 = r.origin.x, y0 = r.origin.y, x1 = x0 + r.size.width, y1 = y0 + r.size.height;
        cairo_arc(cr, x1 - radius, y0 + radius, radius, -M_PI / 2, 0);
        cairo_arc(cr, x1 - radius, y1 - radius, radius, 0, M_PI / 2);
        cairo_arc(cr, x0 + radius, y1 - radius, radius, M_PI / 2, M_PI);
        cairo_arc(cr, x0 + radius, y0 + radius, radius, M_PI, 3 * M_PI / 2);
        cairo_close_path(cr);
    }

    void hairline(cairo_t* cr, CGFloat x0, CGFloat x1, CGFloat y, const UIColor& color)
    {
        double pixelX = 1, pixelY = 1;
        cairo_device_to_user_distance(cr, &pixelX, &pixelY);
        fillRect(cr, CGRectMake(x0, y, x1 - x0, std::abs(pixelY)), color);
    }

    void drawImage(cairo_t* cr, const UIImage& image, const CGRect& rect, CGFloat alpha)
    {
        if (image.pixelWidth() == 0 || image.pixelHeight() == 0 || rect.size.width <= 0 || rect.size.height <= 0)
            return;
        cairo_save(cr);
        cairo_translate(cr, rect.origin.x, rect.origin.y);
        cairo_scale(cr, rect.size.width / image.pixelWidth(), rect.size.height / image.pixelHeight());
        cairo_set_source_surface(cr, image.surface(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_rectangle(cr, 0, 0, image.pixelWidth(), image.pixelHeight());
        cairo_clip(cr);
        cairo_paint_with_alpha(cr, alpha);
        cairo_restore(cr);
    }

    void drawTemplateImage(cairo_t* cr, const UIImage& image, const CGRect& rect, const UIColor& color)
    {
        if (image.pixelWidth() == 0 || image.pixelHeight() == 0 || rect.size.width <= 0 || rect.size.height <= 0)
            return;
        cairo_save(cr);
        setColor(cr, color);
        cairo_translate(cr, rect.origin.x, rect.origin.y);
        cairo_scale(cr, rect.size.width / image.pixelWidth(), rect.size.height / image.pixelHeight());
        cairo_mask_surface(cr, image.surface(), 0, 0);
        cairo_restore(cr);
    }

    void chevron(cairo_t* cr, CGPoint tip, CGFloat height, bool pointsLeft, CGFloat width, const UIColor& color)
    {
        auto back = pointsLeft ? height / 2 : -height / 2;
        cairo_new_path(cr);
        cairo_move_to(cr, tip.x + back, tip.y - height / 2);
        cairo_line_to(cr, tip.x, tip.y);
        cairo_line_to(cr, tip.x + back, tip.y + height / 2);
        cairo_set_line_width(cr, width);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        setColor(cr, color);
        cairo_stroke(cr);
    }

    text::Style textStyle(std::shared_ptr<UIFont> font, const UIColor& color, text::Align align)
    {
        text::Style style;
        style.font = std::move(font);
        style.color = color;
        style.align = align;
        return style;
    }

    void watch(std::function<std::size_t()> signature)
    {
        if (!recording)
            return;
        auto value = signature();
        watchedState().push_back({ std::move(signature), value });
    }

    std::size_t combine(std::size_t seed, std::size_t value)
    {
        return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
    }

    std::size_t hashText(const std::string& text)
    {
        return std::hash<std::string> {}(text);
    }

    void noteMovingContent()
    {
        movingContent = true;
    }

    double now()
    {
        return std::chrono::duration<double>(RunLoop::main().clock().now().time_since_epoch()).count();
    }

}

void UILabel::drawRect(CGRect rect)
{
    auto* context = UIGraphicsGetCurrentContext();
    if (!m_text || m_text->empty() || !context)
        return;
    text::Style style;
    style.font = font();
    style.color = *textColor();
    style.align = alignment(m_textAlignment);
    style.lines = std::max(0, m_numberOfLines);
    style.wrap = wrapping(m_lineBreakMode);
    style.shrinkToFit = m_adjustsFontSize;
    text::draw(context->cairo(), *m_text, rect, style);
}

void UIImageView::drawRect(CGRect rect)
{
    auto* context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    auto shown = m_image;
    if (m_animating && !m_animationImages.empty()) {
        auto count = m_animationImages.size();
        // The platform's default is thirty frames a second.
        auto duration = m_animationDuration > 0 ? m_animationDuration : count / 30.0;
        auto elapsed = std::max(0.0, drawing::now() - m_animationStart);
        auto cycles = elapsed / duration;
        if (m_animationRepeatCount <= 0 || cycles < m_animationRepeatCount) {
            auto frame = static_cast<std::size_t>(std::fmod(elapsed, duration) / duration * double(count)) % count;
            shown = m_animationImages[frame];
            drawing::noteMovingContent();
        }
    }
    // An animated image plays its frames from the moment it was set.
    if (shown && !shown->images().empty()) {
        auto& frames = shown->images();
        auto duration = shown->duration() > 0 ? shown->duration() : frames.size() / 30.0;
        auto elapsed = std::max(0.0, drawing::now() - m_animationStart);
        shown = frames[static_cast<std::size_t>(std::fmod(elapsed, duration) / duration * double(frames.size())) % frames.size()];
        if (frames.size() > 1)
            drawing::noteMovingContent();
    }
    if (!shown || shown->size().width <= 0 || shown->size().height <= 0)
        return;
    drawing::drawImage(context->cairo(), *shown, placeImage(m_contentMode, shown->size(), rect));
}

void UIRenderer::drawView(UIView& view, cairo_t* cr)
{
    if (view.isHidden())
        return;
    auto opacity = std::clamp(view.layer().presentationOpacity(), 0.0, 1.0);
    if (opacity <= 0.01)
        return;
    auto frame = view.layer().presentationFrame();
    if (!std::isfinite(frame.origin.x) || !std::isfinite(frame.origin.y) || !std::isfinite(frame.size.width) || !std::isfinite(frame.size.height))
        return;
    CGRect bounds { {}, frame.size };
    cairo_save(cr);
    cairo_translate(cr, frame.origin.x, frame.origin.y);
    if (opacity < 1)
        cairo_push_group(cr);
    drawLayerBackground(view, cr, bounds);
    if (auto* table = dynamic_cast<UITableView*>(&view)) {
        drawing::drawTable(*table, cr);
    } else if (auto* context = UIGraphicsGetCurrentContext()) {
        // Each view draws with the context's state as it was, whatever the last one set.
        CGContextSaveGState(context);
        view.drawRect(bounds);
        CGContextRestoreGState(context);
    }
    if (!view.subviews().empty()) {
        cairo_save(cr);
        // A scroll view shows its content through its bounds, moved by the offset.
        auto* scroll = dynamic_cast<UIScrollView*>(&view);
        if (view.layer().masksToBounds() || scroll) {
            drawing::roundedRectPath(cr, bounds, view.layer().cornerRadius());
            cairo_clip(cr);
        }
        if (scroll)
            cairo_translate(cr, -scroll->contentOffset().x, -scroll->contentOffset().y);
        if (auto* alert = dynamic_cast<UIAlertControllerView*>(&view))
            alert->clipToBoxes(cr);
        // Copied: drawing may make a cell, whose set-up may change the views.
        auto subviews = view.subviews();
        bool table = dynamic_cast<UITableView*>(&view);
        for (auto& subview : subviews) {
            // A table's cells were drawn at their rows, scrolled.
            if (!table || !dynamic_cast<UITableViewCell*>(subview.get()))
                drawView(*subview, cr);
        }
        cairo_restore(cr);
    }
    if (auto* scroll = dynamic_cast<UIScrollView*>(&view))
        drawing::drawScrollIndicator(*scroll, cr);
    drawLayerBorder(view, cr, bounds);
    if (opacity < 1) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, opacity);
    }
    cairo_restore(cr);
}

void UIRenderer::renderWindow(UIWindow& window, cairo_t* cr)
{
    watchedState().clear();
    movingContent = false;
    recording = true;
    layoutWindow(window);

    CGContext context(cr);
    UIGraphicsPushContext(&context);
    cairo_save(cr);
    auto bounds = window.bounds();
    auto background = window.backgroundColor();
    // Screens from the storyboard show white where nothing is drawn.
    drawing::fillRect(cr, bounds, background ? *background : UIColor(1, 1, 1, 1));
    auto subviews = window.subviews();
    auto first = screenLayout::firstShownSubview(window);
    for (std::size_t index = first; index < subviews.size(); ++index) {
        screenLayout::drawPresentationBackdrop(window, *subviews[index], cr);
        drawView(*subviews[index], cr);
    }
    cairo_restore(cr);
    UIGraphicsPopContext();
    recording = false;
    // What the layout and the cells made for this drawing changed is in it.
    drawnGeneration = displayGeneration.load(std::memory_order_relaxed);
}

std::shared_ptr<UIImage> UIRenderer::imageOfWindow(UIWindow& window, CGFloat scale)
{
    if (!(scale > 0) || !std::isfinite(scale))
        scale = UIScreen::mainScreen().scale();
    auto size = window.bounds().size;
    int width = std::max(1, int(std::ceil(size.width * scale)));
    int height = std::max(1, int(std::ceil(size.height * scale)));
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    auto* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    renderWindow(window, cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    auto image = std::make_shared<UIImage>(surface, scale);
    cairo_surface_destroy(surface);
    return image;
}

bool UIRenderer::needsDisplay()
{
    if (displayGeneration.load(std::memory_order_relaxed) != drawnGeneration || movingContent || UIView::areAnimationsRunning())
        return true;
    for (auto& watched : watchedState()) {
        if (watched.signature() != watched.value)
            return true;
    }
    return false;
}

}
