#pragma once

#include "platform/uikit/UIBarButtonItem.h"
#include "platform/uikit/UIView.h"

#include <any>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

class UINavigationController;

inline constexpr const char* NSForegroundColorAttributeName = "NSForegroundColorAttributeName";

// One place on the bar: an item, or the back button, in the bar's coordinates.
struct UIBarSlot {
    std::shared_ptr<UIBarButtonItem> item;
    bool back = false;
    CGRect frame {};
};

// The bar at the top of a navigation controller: its colours and the title's text attributes
// (a UIColor under NSForegroundColorAttributeName colours the title). It shows the top
// screen's prompt, title, back button and bar button items.
class UINavigationBar : public UIView {
public:
    using UIView::UIView;
    using TextAttributes = std::map<std::string, std::any>;

    std::shared_ptr<UIColor> barTintColor() const { return m_barTintColor; }
    void setBarTintColor(std::shared_ptr<UIColor> color) { m_barTintColor = std::move(color); }
    const TextAttributes& titleTextAttributes() const { return m_titleTextAttributes; }
    void setTitleTextAttributes(TextAttributes attributes) { m_titleTextAttributes = std::move(attributes); }

    // Lays the bar out for the controller's top screen; its background reaches up over the
    // strip above it (the status bar) of the given height.
    void layoutForNavigationController(UINavigationController& navigation, CGFloat stripAbove);
    static CGFloat heightForPrompt(bool hasPrompt) { return hasPrompt ? 74 : 44; }
    const std::vector<UIBarSlot>& slots() const { return m_slots; }
    // What the back button reads, where one shows.
    const std::string& backTitle() const { return m_backTitle; }
    // The slot a tap at the point (in the bar) meets, if any.
    const UIBarSlot* slotAtPoint(CGPoint point) const;
    void drawRect(CGRect rect) override;

    // The navigation bar or toolbar under the view that shows the item, if one does.
    static std::shared_ptr<UIView> barShowing(const UIBarButtonItem& item, UIView& view);

private:
    CGFloat placeItems(const std::vector<std::shared_ptr<UIBarButtonItem>>& items, CGFloat x, CGFloat height, bool fromRight);

    std::shared_ptr<UIColor> m_barTintColor;
    TextAttributes m_titleTextAttributes;
    std::vector<UIBarSlot> m_slots;
    std::vector<std::shared_ptr<UIView>> m_placedViews;
    CGFloat m_stripAbove = 0;
    std::string m_backTitle;
    std::string m_title;
    std::optional<std::string> m_prompt;
    CGRect m_titleFrame {};
};

}
