#pragma once

#include "platform/foundation/TextBuffer.h"
#include "platform/uikit/UIScrollView.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vesk::platform {

class TextBlock;

// Scrolling text that a person can edit while it is editable: typing goes to it once it is
// the first responder, which brings up the keyboard (UIKeyboard.h).
class UITextView : public UIScrollView {
public:
    using UIScrollView::UIScrollView;

    std::string_view text() const { return m_text ? m_text->text() : std::string_view(); }
    // The caret goes to the end of the new text.
    void setText(std::string text);
    // A text that is shared, not copied: one read from a big file is held once.
    const std::shared_ptr<const TextBuffer>& textBuffer() const { return m_text; }
    void setTextBuffer(std::shared_ptr<const TextBuffer> text);
    std::shared_ptr<UIFont> font() const;
    void setFont(std::shared_ptr<UIFont> font)
    {
        m_font = std::move(font);
        setNeedsDisplay();
    }
    std::shared_ptr<UIColor> textColor() const;
    void setTextColor(std::shared_ptr<UIColor> color)
    {
        m_textColor = std::move(color);
        setNeedsDisplay();
    }
    // Where typing goes: a byte offset of the text at the start of a character.
    std::size_t caretOffset() const { return m_caret; }
    void setCaretOffset(std::size_t offset);
    // Counts the changes of the text, so its layout is redone only when it changed.
    std::uint64_t textGeneration() const { return m_generation; }
    void drawRect(CGRect rect) override;
    // The text as the drawing lays it out. The view keeps it, so that the layout and the text
    // it holds go with the view.
    TextBlock& laidOutText();

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
    std::shared_ptr<const TextBuffer> m_text;
    std::shared_ptr<UIFont> m_font;
    std::shared_ptr<UIColor> m_textColor;
    bool m_editable = true;
    std::size_t m_caret = 0;
    std::uint64_t m_generation = 0;
    std::shared_ptr<TextBlock> m_laidOut;
};

}
