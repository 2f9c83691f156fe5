#include "platform/uikit/UITextView.h"

#include "platform/uikit/UIKeyboard.h"

#include <algorithm>

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

void UITextView::setText(std::string text)
{
    setTextBuffer(std::make_shared<const TextBuffer>(std::move(text)));
}

void UITextView::setTextBuffer(std::shared_ptr<const TextBuffer> text)
{
    m_text = std::move(text);
    m_caret = this->text().size();
    ++m_generation;
    setNeedsDisplay();
}

void UITextView::setCaretOffset(std::size_t offset)
{
    auto text = this->text();
    offset = std::min(offset, text.size());
    // Never inside a character.
    while (offset > 0 && offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80)
        --offset;
    if (offset != m_caret)
        setNeedsDisplay();
    m_caret = offset;
}

bool UITextView::typeText(std::string text)
{
    if (!m_editable)
        return false;
    setText(std::move(text));
    return true;
}

}
