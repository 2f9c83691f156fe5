#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/UIControl.h"

#include <algorithm>

namespace vesk::platform {

namespace {

    constexpr CGFloat fieldInset = 6;

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
    if (shown.empty() && m_placeholder) {
        text::draw(cr, *m_placeholder, area, drawing::textStyle(font, UIColor(0.78, 0.78, 0.8, 1)));
    } else if (!shown.empty()) {
        auto style = drawing::textStyle(font, isEnabled() ? UIColor(0, 0, 0, 1) : drawing::secondaryTextColor());
        style.wrap = text::Wrap::Clip;
        // While typing, a text wider than the field shows its end, where the caret is.
        if (editing && text::measure(shown, font).width > area.size.width - 2)
            style.align = text::Align::Right;
        text::draw(cr, shown, editing ? CGRectMake(area.origin.x, area.origin.y, area.size.width - 2, area.size.height) : area, style);
    }
    if (editing) {
        auto width = shown.empty() ? 0 : text::measure(shown, font).width;
        auto x = std::min(area.origin.x + width, CGRectGetMaxX(area) - 2);
        auto height = std::min(font->lineHeight(), area.size.height);
        drawing::fillRect(cr, CGRectMake(x, area.origin.y + (area.size.height - height) / 2, 2, height), drawing::tintOf(*this));
    }
}

}
