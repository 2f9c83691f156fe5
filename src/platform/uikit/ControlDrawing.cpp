#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/UIActivityIndicatorView.h"
#include "platform/uikit/UIControl.h"
#include "platform/uikit/UIProgressView.h"
#include "platform/uikit/UISegmentedControl.h"
#include "platform/uikit/UISwitch.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform {

namespace {

    constexpr CGFloat fieldInset = 6;

    UIColor rgb(int red, int green, int blue, CGFloat alpha = 1)
    {
        return UIColor(red / 255.0, green / 255.0, blue / 255.0, alpha);
    }

    cairo_t* currentCairo()
    {
        auto* context = UIGraphicsGetCurrentContext();
        return context ? context->cairo() : nullptr;
    }

    // A disabled control shows at half strength.
    struct Dimmed {
        Dimmed(cairo_t* cr, bool enabled)
            : m_cr(enabled ? nullptr : cr)
        {
            if (m_cr)
                cairo_push_group(m_cr);
        }
        ~Dimmed()
        {
            if (!m_cr)
                return;
            cairo_pop_group_to_source(m_cr);
            cairo_paint_with_alpha(m_cr, 0.5);
        }
        Dimmed(const Dimmed&) = delete;
        Dimmed& operator=(const Dimmed&) = delete;

    private:
        cairo_t* m_cr;
    };

    std::size_t characterCount(const std::string& text)
    {
        return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    }

}

void UIButton::drawRect(CGRect rect)
{
    auto* context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    auto* cr = context->cairo();
    auto state = !isEnabled() ? UIControlState::Disabled : isSelected() ? UIControlState::Selected
                                                                        : UIControlState::Normal;
    auto title = titleForState(state).value_or("");
    auto image = imageForState(state);
    auto font = UIFont::systemFontOfSize(15);
    auto color = titleColorForState(state);
    auto textColor = color ? *color : (isEnabled() ? drawing::tintOf(*this) : drawing::disabledTint());
    // Image and title side by side, centred together.
    CGSize imageSize = image ? image->size() : CGSizeZero;
    imageSize.width = std::min(imageSize.width, rect.size.width);
    imageSize.height = std::min(imageSize.height, rect.size.height);
    CGFloat textWidth = title.empty() ? 0 : std::min(text::measure(title, font).width, std::max(0.0, rect.size.width - imageSize.width));
    CGFloat x = (rect.size.width - imageSize.width - textWidth) / 2;
    if (image)
        drawing::drawImage(cr, *image, CGRectMake(x, (rect.size.height - imageSize.height) / 2, imageSize.width, imageSize.height), isEnabled() ? 1 : 0.5);
    if (!title.empty())
        text::draw(cr, title, CGRectMake(x + imageSize.width, 0, textWidth, rect.size.height), drawing::textStyle(font, textColor, text::Align::Center));
}

void UITextField::drawRect(CGRect rect)
{
    auto* context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    auto* cr = context->cairo();
    auto font = m_font ? m_font : UIFont::systemFontOfSize(17);
    auto area = rect.insetBy(fieldInset, 0);
    std::string shown = m_secure ? std::string() : m_text;
    if (m_secure) {
        for (std::size_t count = characterCount(m_text); count > 0; --count)
            shown += "\xE2\x80\xA2";
    }
    bool editing = isFirstResponder();
    // Typing goes to the end of the text, so the caret follows the text's end.
    CGFloat caretX = area.origin.x;
    if (shown.empty() && m_placeholder) {
        text::draw(cr, *m_placeholder, area, drawing::textStyle(font, UIColor(0.78, 0.78, 0.8, 1)));
    } else if (!shown.empty() && area.size.width > 0 && area.size.height > 0) {
        // One line, never wrapped: a text wider than the field slides left while typing, so
        // its end and the caret stay in sight; otherwise its start shows.
        auto width = text::measure(shown, font).width;
        CGFloat room = editing ? area.size.width - 2 : area.size.width;
        CGFloat x = area.origin.x - (editing ? std::max(0.0, width - room) : 0);
        caretX = x + width;
        auto style = drawing::textStyle(font, isEnabled() ? UIColor(0, 0, 0, 1) : drawing::secondaryTextColor());
        style.wrap = text::Wrap::Clip;
        cairo_save(cr);
        cairo_rectangle(cr, area.origin.x, rect.origin.y, area.size.width, rect.size.height);
        cairo_clip(cr);
        // Laid out at its whole width, it has no reason to wrap.
        text::draw(cr, shown, CGRectMake(x, area.origin.y, std::ceil(width) + 1, area.size.height), style);
        cairo_restore(cr);
    }
    if (editing) {
        auto x = std::min(caretX, CGRectGetMaxX(area) - 2);
        auto height = std::min(font->lineHeight(), area.size.height);
        drawing::fillRect(cr, CGRectMake(x, area.origin.y + (area.size.height - height) / 2, 2, height), drawing::tintOf(*this));
    }
}

void UISwitch::drawRect(CGRect rect)
{
    auto* cr = currentCairo();
    if (!cr)
        return;
    Dimmed dimmed(cr, isEnabled());
    // The platform's switch is 51 x 31 points, centred in a larger frame.
    auto width = std::min(51.0, rect.size.width), height = std::min(31.0, rect.size.height);
    auto track = CGRectMake((rect.size.width - width) / 2, (rect.size.height - height) / 2, width, height);
    auto radius = height / 2;
    drawing::roundedRectPath(cr, track, radius);
    if (isOn()) {
        drawing::setColor(cr, rgb(76, 217, 100));
        cairo_fill(cr);
    } else {
        drawing::setColor(cr, UIColor(1, 1, 1, 1));
        cairo_fill_preserve(cr);
        cairo_set_line_width(cr, 1.5);
        drawing::setColor(cr, rgb(229, 229, 234));
        cairo_stroke(cr);
    }
    auto knob = radius - 2;
    auto x = isOn() ? CGRectGetMaxX(track) - radius : track.origin.x + radius;
    cairo_new_path(cr);
    cairo_arc(cr, x, track.origin.y + radius, knob, 0, 2 * M_PI);
    drawing::setColor(cr, UIColor(1, 1, 1, 1));
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 0.5);
    drawing::setColor(cr, UIColor(0, 0, 0, 0.25));
    cairo_stroke(cr);
}

std::optional<int> UISegmentedControl::segmentAtPoint(CGPoint point) const
{
    auto size = frame().size;
    if (numberOfSegments() == 0 || point.x < 0 || point.y < 0 || point.x >= size.width || point.y >= size.height)
        return std::nullopt;
    return std::min(numberOfSegments() - 1, static_cast<int>(point.x / (size.width / numberOfSegments())));
}

void UISegmentedControl::drawRect(CGRect rect)
{
    auto* cr = currentCairo();
    if (!cr)
        return;
    Dimmed dimmed(cr, isEnabled());
    auto tint = drawing::tintOf(*this);
    auto box = rect.insetBy(0.5, 0.5);
    int count = numberOfSegments();
    CGFloat width = count > 0 ? box.size.width / count : box.size.width;
    auto font = UIFont::systemFontOfSize(13);
    if (count > 0 && selectedSegmentIndex() >= 0) {
        // The selected segment is filled, its outer corners rounded with the control's.
        cairo_save(cr);
        drawing::roundedRectPath(cr, box, 4);
        cairo_clip(cr);
        drawing::fillRect(cr, CGRectMake(box.origin.x + selectedSegmentIndex() * width, box.origin.y, width, box.size.height), tint);
        cairo_restore(cr);
    }
    drawing::roundedRectPath(cr, box, 4);
    cairo_set_line_width(cr, 1);
    drawing::setColor(cr, tint);
    cairo_stroke(cr);
    for (int index = 0; index < count; ++index) {
        auto segment = CGRectMake(box.origin.x + index * width, box.origin.y, width, box.size.height);
        if (index > 0)
            drawing::fillRect(cr, CGRectMake(segment.origin.x - 0.5, segment.origin.y, 1, segment.size.height), tint);
        auto color = index == selectedSegmentIndex() ? UIColor(1, 1, 1, 1) : tint;
        text::draw(cr, titleForSegmentAtIndex(index).value_or(""), segment.insetBy(4, 0), drawing::textStyle(font, color, text::Align::Center));
    }
}

void UIProgressView::drawRect(CGRect rect)
{
    auto* cr = currentCairo();
    if (!cr)
        return;
    // The default bar has a grey track; the bar style only its progress.
    if (progressViewStyle() == UIProgressViewStyle::Default)
        drawing::fillRect(cr, rect, rgb(183, 183, 183));
    drawing::fillRect(cr, CGRectMake(0, 0, rect.size.width * progress(), rect.size.height), drawing::tintOf(*this));
}

void UIActivityIndicatorView::drawRect(CGRect rect)
{
    auto* cr = currentCairo();
    if (!cr || !isAnimating())
        return;
    auto color = m_color ? *m_color : (m_style == UIActivityIndicatorViewStyle::Gray ? rgb(142, 142, 147) : UIColor(1, 1, 1, 1));
    // Twelve spokes, the brightest turning once a second on the main run loop's clock.
    constexpr int spokes = 12;
    auto side = std::min(rect.size.width, rect.size.height);
    auto lead = static_cast<int>(std::floor(drawing::now() * spokes)) % spokes;
    cairo_save(cr);
    cairo_translate(cr, rect.size.width / 2, rect.size.height / 2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, side * 0.09);
    for (int spoke = 0; spoke < spokes; ++spoke) {
        auto angle = spoke * 2 * M_PI / spokes - M_PI / 2;
        auto age = (lead - spoke + spokes) % spokes;
        cairo_new_path(cr);
        cairo_move_to(cr, std::cos(angle) * side * 0.22, std::sin(angle) * side * 0.22);
        cairo_line_to(cr, std::cos(angle) * side * 0.45, std::sin(angle) * side * 0.45);
        drawing::setColor(cr, color, 1.0 - age * 0.07);
        cairo_stroke(cr);
    }
    cairo_restore(cr);
    drawing::noteMovingContent();
}

}
