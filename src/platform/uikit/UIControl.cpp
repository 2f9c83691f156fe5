#include "platform/uikit/UIControl.h"

#include "platform/uikit/UIKeyboard.h"

namespace vesk::platform {

void UIControl::setEnabled(bool enabled)
{
    if (m_enabled != enabled)
        setNeedsDisplay();
    m_enabled = enabled;
}

void UIControl::setSelected(bool selected)
{
    if (m_selected != selected)
        setNeedsDisplay();
    m_selected = selected;
}

void UIControl::addTarget(UIControlEvent event, Action action)
{
    m_actions.emplace_back(event, std::move(action));
}

void UIControl::sendActionsForControlEvents(UIControlEvent event)
{
    // Copied: an action may add or remove targets.
    auto actions = m_actions;
    for (auto& [kind, action] : actions) {
        if (kind == event && action)
            action(*this);
    }
}

namespace {

    // A state without a value of its own takes the normal state's.
    template<typename Value>
    Value valueForState(const std::map<UIControlState, Value>& values, UIControlState state)
    {
        auto it = values.find(state);
        if (it == values.end() && state != UIControlState::Normal)
            it = values.find(UIControlState::Normal);
        return it != values.end() ? it->second : Value {};
    }

}

std::optional<std::string> UIButton::titleForState(UIControlState state) const
{
    return valueForState(m_titles, state);
}

void UIButton::setTitle(std::optional<std::string> title, UIControlState state)
{
    m_titles[state] = std::move(title);
    setNeedsDisplay();
}

std::shared_ptr<UIImage> UIButton::imageForState(UIControlState state) const
{
    return valueForState(m_images, state);
}

void UIButton::setImage(std::shared_ptr<UIImage> image, UIControlState state)
{
    m_images[state] = std::move(image);
    setNeedsDisplay();
}

std::shared_ptr<UIColor> UIButton::titleColorForState(UIControlState state) const
{
    return valueForState(m_titleColors, state);
}

void UIButton::setTitleColor(std::shared_ptr<UIColor> color, UIControlState state)
{
    m_titleColors[state] = std::move(color);
    setNeedsDisplay();
}

void UITextField::typeText(std::string text)
{
    m_text = std::move(text);
    setNeedsDisplay();
    sendActionsForControlEvents(UIControlEvent::EditingChanged);
}

bool UITextField::becomeFirstResponder()
{
    if (!isEnabled())
        return false;
    UIKeyboard::becomeFirstResponder(*this);
    return isFirstResponder();
}

bool UITextField::resignFirstResponder()
{
    UIKeyboard::resignFirstResponder(*this);
    return true;
}

bool UITextField::isFirstResponder() const
{
    return UIKeyboard::isFirstResponder(*this);
}

void UITextField::setText(std::string text)
{
    m_text = std::move(text);
    setNeedsDisplay();
}

void UITextField::setPlaceholder(std::optional<std::string> placeholder)
{
    m_placeholder = std::move(placeholder);
    setNeedsDisplay();
}

void UITextField::setSecureTextEntry(bool secure)
{
    m_secure = secure;
    setNeedsDisplay();
}

void UITextField::setFont(std::shared_ptr<UIFont> font)
{
    m_font = std::move(font);
    setNeedsDisplay();
}

}
