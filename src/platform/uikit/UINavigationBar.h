#pragma once

#include "platform/uikit/UIView.h"

#include <any>
#include <map>
#include <string>

namespace vesk::platform {

inline constexpr const char* NSForegroundColorAttributeName = "NSForegroundColorAttributeName";

// The bar at the top of a navigation controller: its colours and the title's text attributes
// (a UIColor under NSForegroundColorAttributeName colours the title).
class UINavigationBar : public UIView {
public:
    using UIView::UIView;
    using TextAttributes = std::map<std::string, std::any>;

    std::shared_ptr<UIColor> barTintColor() const { return m_barTintColor; }
    void setBarTintColor(std::shared_ptr<UIColor> color) { m_barTintColor = std::move(color); }
    const TextAttributes& titleTextAttributes() const { return m_titleTextAttributes; }
    void setTitleTextAttributes(TextAttributes attributes) { m_titleTextAttributes = std::move(attributes); }

private:
    std::shared_ptr<UIColor> m_barTintColor;
    TextAttributes m_titleTextAttributes;
};

}
