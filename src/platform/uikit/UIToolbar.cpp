#include "platform/uikit/UIToolbar.h"

#include "platform/uikit/DrawingSupport.h"

#include <algorithm>

namespace vesk::platform {

namespace {

    // Items take at least a finger's width, titled ones their title's and a little room.
    constexpr CGFloat minimumWidth = 44;
    constexpr CGFloat padding = 12;
    constexpr CGFloat margin = 8;

    bool isFlexible(const UIBarButtonItem& item)
    {
        return item.systemItem() == UIBarButtonSystemItem::FlexibleSpace;
    }

    CGFloat widthOf(const UIBarButtonItem& item)
    {
        if (item.width() > 0)
            return item.width();
        if (auto view = item.customView())
            return view->frame().size.width;
        if (item.systemItem() == UIBarButtonSystemItem::FixedSpace)
            return 0;
        return std::max(minimumWidth, drawing::barItemWidth(item) + padding);
    }

}

void UIToolbar::setItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool)
{
    std::erase(items, nullptr);
    m_items = std::move(items);
    layoutSubviews();
}

void UIToolbar::layoutSubviews()
{
    CGFloat fixed = 0;
    int flexible = 0;
    for (auto& item : m_items) {
        if (isFlexible(*item))
            ++flexible;
        else
            fixed += widthOf(*item);
    }
    CGFloat free = std::max<CGFloat>(0, frame().size.width - 2 * margin - fixed);
    CGFloat x = margin;
    CGFloat height = frame().size.height;
    std::vector<std::shared_ptr<UIView>> custom;
    for (auto& item : m_items) {
        CGFloat width = isFlexible(*item) ? free / flexible : widthOf(*item);
        item->setFrame(CGRectMake(x, 0, width, height));
        // A custom view is a subview in the item's place, so that taps reach it.
        if (auto view = item->customView()) {
            auto size = view->frame().size;
            view->setFrame(CGRectMake(x, (height - size.height) / 2, size.width, size.height));
            if (view->superview().get() != this)
                addSubview(view);
            custom.push_back(view);
        }
        x += width;
    }
    // Views of items that left the bar go with them.
    auto shown = subviews();
    for (auto& view : shown) {
        if (std::find(custom.begin(), custom.end(), view) == custom.end())
            view->removeFromSuperview();
    }
}

}
