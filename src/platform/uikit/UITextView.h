#pragma once

#include "platform/uikit/UIScrollView.h"

#include <string>

namespace vesk::platform {

// Scrolling text that a person can edit while it is editable: typing goes to it once it is
// the first responder, which brings up the keyboard (UIKeyboard.h).
class UITextView : public UIScrollView {
public:
    using UIScrollView::UIScrollView;

    const std::string& text() const { return m_text; }
    void setText(std::string text) { m_text = std::move(text); }
    std::shared_ptr<UIFont> font() const;
    void setFont(std::shared_ptr<UIFont> font) { m_font = std::move(font); }
    std::shared_ptr<UIColor> textColor() const;
    void setTextColor(std::shared_ptr<UIColor> color) { m_textColor = std::move(color); }

    bool isEditable() const { return m_editable; }
    // A view that stops being editable gives up the typing.
    void setEditable(bool editable);

    // Only an editable view takes the typing; answers whether it holds it afterwards.
    bool becomeFirstResponder();
    bool resignFirstResponder();
    bool isFirstResponder() const;

    // What a person typing does: the text becomes the typed text, only while editable.
    bool typeText(std::string text);

private:
    std::string m_text;
    std::shared_ptr<UIFont> m_font;
    std::shared_ptr<UIColor> m_textColor;
    bool m_editable = true;
};

}
