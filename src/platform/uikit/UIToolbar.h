#pragma once

#include "platform/uikit/UIBarButtonItem.h"
#include "platform/uikit/UIView.h"

#include <vector>

namespace vesk::platform {

// A bar of items; each item's frame is where it sits in the bar, flexible spaces sharing what
// the other items leave free.
class UIToolbar : public UIView {
public:
    using UIView::UIView;

    const std::vector<std::shared_ptr<UIBarButtonItem>>& items() const { return m_items; }
    void setItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool animated = false);
    std::shared_ptr<UIColor> barTintColor() const { return m_barTintColor; }
    void setBarTintColor(std::shared_ptr<UIColor> color) { m_barTintColor = std::move(color); }

    void layoutSubviews() override;
    void drawRect(CGRect rect) override;

private:
    std::vector<std::shared_ptr<UIBarButtonItem>> m_items;
    std::shared_ptr<UIColor> m_barTintColor;
};

}
