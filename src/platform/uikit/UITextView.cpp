#include "platform/uikit/UITextView.h"

#include "platform/uikit/UIKeyboard.h"

namespace vesk::platform {

std::shared_ptr<UIFont> UITextView::font() const
{
    return m_font ? m_font : UIFont::systemFontOfSize(12);
}

std::shared_ptr<UIColor> UITextView::textColor() const
{
    return m_textColor ? m_textColor : UIColor::blackColor();
}

void UITextView::setEditable(bool editable)
{
    m_editable = editable;
    if (!editable)
        resignFirstResponder();
}

bool UITextView::becomeFirstResponder()
{
    if (!m_editable)
        return false;
    UIKeyboard::becomeFirstResponder(*this);
    return isFirstResponder();
}

bool UITextView::resignFirstResponder()
{
    UIKeyboard::resignFirstResponder(*this);
    return true;
}

bool UITextView::isFirstResponder() const
{
    return UIKeyboard::isFirstResponder(*this);
}

bool UITextView::typeText(std::string text)
{
    if (!m_editable)
        return false;
    m_text = std::move(text);
    return true;
}

}
