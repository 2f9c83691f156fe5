#pragma once

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIImage.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vesk::platform {

class UIView;
class UIColor;

enum class UIBarButtonSystemItem {
    Done,
    Cancel,
    Edit,
    Save,
    Add,
    FlexibleSpace,
    FixedSpace,
    Compose,
    Reply,
    Action,
    Organize,
    Bookmarks,
    Search,
    Refresh,
    Stop,
    Camera,
    Trash,
    Play,
    Pause,
    Rewind,
    FastForward,
    Undo,
    Redo,
};

enum class UIBarButtonItemStyle {
    Plain,
    Bordered,
    Done,
};

class UIBarButtonItem : public UIImageSettable, public std::enable_shared_from_this<UIBarButtonItem> {
public:
    using Action = std::function<void(UIBarButtonItem&)>;

    UIBarButtonItem(std::optional<std::string> title, UIBarButtonItemStyle style, Action action);
    UIBarButtonItem(std::shared_ptr<UIImage> image, UIBarButtonItemStyle style, Action action);
    UIBarButtonItem(UIBarButtonSystemItem systemItem, Action action);
    explicit UIBarButtonItem(std::shared_ptr<UIView> customView);

    const std::optional<std::string>& title() const { return m_title; }
    void setTitle(std::optional<std::string> title) { m_title = std::move(title); }
    std::shared_ptr<UIImage> image() const { return m_image; }
    void setImage(std::shared_ptr<UIImage> image) override { m_image = std::move(image); }
    std::optional<UIBarButtonSystemItem> systemItem() const { return m_systemItem; }
    UIBarButtonItemStyle style() const { return m_style; }
    void setStyle(UIBarButtonItemStyle style) { m_style = style; }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    CGFloat width() const { return m_width; }
    void setWidth(CGFloat width) { m_width = width; }
    std::shared_ptr<UIView> customView() const { return m_customView; }
    std::shared_ptr<UIColor> tintColor() const { return m_tintColor; }
    void setTintColor(std::shared_ptr<UIColor> color) { m_tintColor = std::move(color); }
    void setAction(Action action) { m_action = std::move(action); }
    bool hasAction() const { return static_cast<bool>(m_action); }

    // Where the item sits on screen, in its bar's coordinates; a popover points at it.
    CGRect frame() const { return m_frame; }
    void setFrame(CGRect frame) { m_frame = frame; }

    // What a tap does: runs the action when the item is enabled.
    void tap();

private:
    std::optional<std::string> m_title;
    std::shared_ptr<UIImage> m_image;
    std::optional<UIBarButtonSystemItem> m_systemItem;
    UIBarButtonItemStyle m_style = UIBarButtonItemStyle::Plain;
    Action m_action;
    bool m_enabled = true;
    int m_tag = 0;
    CGFloat m_width = 0;
    std::shared_ptr<UIView> m_customView;
    std::shared_ptr<UIColor> m_tintColor;
    CGRect m_frame {};
};

// An action that calls the member on the target while the target lives: items are held by
// their screen, so they hold it weakly.
template<typename Target>
UIBarButtonItem::Action actionOf(const std::shared_ptr<Target>& target, void (Target::*member)(UIBarButtonItem&))
{
    return [weak = std::weak_ptr<Target>(target), member](UIBarButtonItem& sender) {
        if (auto strong = weak.lock())
            (strong.get()->*member)(sender);
    };
}

}
