#include "platform/uikit/UIAlertController.h"

#include <algorithm>
#include <cstdio>

namespace vesk::platform {

std::shared_ptr<UIAlertAction> UIAlertAction::actionWithTitle(std::optional<std::string> title, UIAlertActionStyle style, Handler handler)
{
    auto action = std::make_shared<UIAlertAction>();
    action->m_title = std::move(title);
    action->m_style = style;
    action->m_handler = std::move(handler);
    return action;
}

void UIAlertAction::perform()
{
    if (m_handler)
        m_handler(*this);
}

UIAlertController::UIAlertController(std::optional<std::string> title, std::optional<std::string> message, UIAlertControllerStyle style)
    : m_message(std::move(message))
    , m_style(style)
{
    setTitle(std::move(title));
    // Action sheets on a pad show as popovers.
    if (style == UIAlertControllerStyle::ActionSheet)
        setModalPresentationStyle(UIModalPresentationStyle::Popover);
    else
        setModalPresentationStyle(UIModalPresentationStyle::OverFullScreen);
}

std::shared_ptr<UIAlertController> UIAlertController::alertControllerWithTitle(std::optional<std::string> title, std::optional<std::string> message, UIAlertControllerStyle style)
{
    return std::make_shared<UIAlertController>(std::move(title), std::move(message), style);
}

void UIAlertController::addAction(const std::shared_ptr<UIAlertAction>& action)
{
    if (!action)
        return;
    // The platform allows one cancel action.
    if (action->style() == UIAlertActionStyle::Cancel
        && std::any_of(m_actions.begin(), m_actions.end(), [](auto& existing) { return existing->style() == UIAlertActionStyle::Cancel; })) {
        std::fprintf(stderr, "an alert can have only one cancel action\n");
        return;
    }
    m_actions.push_back(action);
}

std::shared_ptr<UIAlertAction> UIAlertController::actionWithTitle(const std::string& title) const
{
    for (auto& action : m_actions) {
        if (action->title() == title)
            return action;
    }
    return nullptr;
}

void UIAlertController::addTextFieldWithConfigurationHandler(const std::function<void(UITextField&)>& configuration)
{
    if (m_style != UIAlertControllerStyle::Alert) {
        std::fprintf(stderr, "text fields can only be added to an alert\n");
        return;
    }
    auto field = std::make_shared<UITextField>();
    m_textFields.push_back(field);
    if (configuration)
        configuration(*field);
}

bool UIAlertController::chooseAction(const std::shared_ptr<UIAlertAction>& action)
{
    if (!action || !action->isEnabled())
        return false;
    auto keep = shared_from_this();
    dismissViewControllerAnimated(false);
    action->perform();
    return true;
}

}
