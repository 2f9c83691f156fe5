#pragma once

#include "platform/uikit/UIView.h"

#include <cstdint>
#include <map>

namespace vesk::platform {

enum class UIControlEvent : std::uint32_t {
    TouchUpInside = 1u << 6,
    ValueChanged = 1u << 12,
    EditingDidBegin = 1u << 16,
    EditingChanged = 1u << 17,
    EditingDidEnd = 1u << 18,
};

enum class UIControlState {
    Normal,
    Highlighted,
    Disabled,
    Selected,
};

class UIControl : public UIView {
public:
    using Action = std::function<void(UIControl&)>;
    using UIView::UIView;

    void addTarget(UIControlEvent event, Action action);
    void removeAllTargets() { m_actions.clear(); }
    // Runs the actions for the event, in the order they were added.
    void sendActionsForControlEvents(UIControlEvent event);

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

private:
    std::vector<std::pair<UIControlEvent, Action>> m_actions;
    bool m_enabled = true;
    bool m_selected = false;
};

class UIButton : public UIControl {
public:
    using UIControl::UIControl;

    std::optional<std::string> titleForState(UIControlState state) const;
    void setTitle(std::optional<std::string> title, UIControlState state);
    std::shared_ptr<UIImage> imageForState(UIControlState state) const;
    void setImage(std::shared_ptr<UIImage> image, UIControlState state);
    std::shared_ptr<UIColor> titleColorForState(UIControlState state) const;
    void setTitleColor(std::shared_ptr<UIColor> color, UIControlState state);
    void drawRect(CGRect rect) override;

private:
    std::map<UIControlState, std::optional<std::string>> m_titles;
    std::map<UIControlState, std::shared_ptr<UIImage>> m_images;
    std::map<UIControlState, std::shared_ptr<UIColor>> m_titleColors;
};

enum class UIKeyboardType {
    Default,
    ASCIICapable,
    NumbersAndPunctuation,
    URL,
    NumberPad,
    PhonePad,
    NamePhonePad,
    EmailAddress,
    DecimalPad,
};

enum class UITextAutocorrectionType {
    Default,
    No,
    Yes,
};

enum class UITextAutocapitalizationType {
    None,
    Words,
    Sentences,
    AllCharacters,
};

enum class UITextFieldViewMode {
    Never,
    WhileEditing,
    UnlessEditing,
    Always,
};

class UITextField : public UIControl {
public:
    using UIControl::UIControl;

    const std::string& text() const { return m_text; }
    // Setting the text from code sends no events; typing does (see typeText).
    void setText(std::string text);
    // What a person typing does: replaces the text and sends EditingChanged.
    void typeText(std::string text);
    const std::optional<std::string>& placeholder() const { return m_placeholder; }
    void setPlaceholder(std::optional<std::string> placeholder);

    bool isSecureTextEntry() const { return m_secure; }
    void setSecureTextEntry(bool secure);
    UIKeyboardType keyboardType() const { return m_keyboardType; }
    void setKeyboardType(UIKeyboardType type) { m_keyboardType = type; }
    UITextAutocorrectionType autocorrectionType() const { return m_autocorrection; }
    void setAutocorrectionType(UITextAutocorrectionType type) { m_autocorrection = type; }
    UITextAutocapitalizationType autocapitalizationType() const { return m_autocapitalization; }
    void setAutocapitalizationType(UITextAutocapitalizationType type) { m_autocapitalization = type; }
    UITextFieldViewMode clearButtonMode() const { return m_clearButtonMode; }
    void setClearButtonMode(UITextFieldViewMode mode) { m_clearButtonMode = mode; }
    // None: the platform's 17-point system font.
    std::shared_ptr<UIFont> font() const { return m_font; }
    void setFont(std::shared_ptr<UIFont> font);
    void drawRect(CGRect rect) override;

    // Typing goes to the first responder; taking the role brings up the keyboard (UIKeyboard.h).
    bool becomeFirstResponder();
    bool resignFirstResponder();
    bool isFirstResponder() const;

private:
    std::string m_text;
    std::optional<std::string> m_placeholder;
    bool m_secure = false;
    UIKeyboardType m_keyboardType = UIKeyboardType::Default;
    UITextAutocorrectionType m_autocorrection = UITextAutocorrectionType::Default;
    UITextAutocapitalizationType m_autocapitalization = UITextAutocapitalizationType::Sentences;
    UITextFieldViewMode m_clearButtonMode = UITextFieldViewMode::Never;
    std::shared_ptr<UIFont> m_font;
};

}
