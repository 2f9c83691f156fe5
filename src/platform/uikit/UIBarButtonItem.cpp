#include "platform/uikit/UIBarButtonItem.h"

#include "platform/uikit/UIView.h"

namespace vesk::platform {

UIBarButtonItem::UIBarButtonItem(std::optional<std::string> title, UIBarButtonItemStyle style, Action action)
    : m_title(std::move(title))
    , m_style(style)
    , m_action(std::move(action))
{
}

UIBarButtonItem::UIBarButtonItem(std::shared_ptr<UIImage> image, UIBarButtonItemStyle style, Action action)
    : m_image(std::move(image))
    , m_style(style)
    , m_action(std::move(action))
{
}

UIBarButtonItem::UIBarButtonItem(UIBarButtonSystemItem systemItem, Action action)
    : m_systemItem(systemItem)
    , m_action(std::move(action))
{
}

UIBarButtonItem::UIBarButtonItem(std::shared_ptr<UIView> customView)
    : m_customView(std::move(customView))
{
}

void UIBarButtonItem::tap()
{
    if (!m_enabled || !m_action)
        return;
    // The action may drop the last other reference to the item.
    auto keep = weak_from_this().lock();
    auto action = m_action;
    action(*this);
}

}
