#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/UINavigationBar.h"
#include "platform/uikit/UIToolbar.h"
#include "platform/uikit/UIViewController.h"
#include "platform/uikit/UIViewRendering.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform {

namespace {

    constexpr CGFloat edgeMargin = 16;
    constexpr CGFloat itemGap = 8;
    constexpr CGFloat glyphSize = 22;
    constexpr CGFloat slack = 6;

    std::optional<std::string> systemTitle(UIBarButtonSystemItem item)
    {
        switch (item) {
        case UIBarButtonSystemItem::Done:
            return "Done";
        case UIBarButtonSystemItem::Cancel:
            return "Cancel";
        case UIBarButtonSystemItem::Edit:
            return "Edit";
        case UIBarButtonSystemItem::Save:
            return "Save";
        case UIBarButtonSystemItem::Undo:
            return "Undo";
        case UIBarButtonSystemItem::Redo:
            return "Redo";
        default:
            return std::nullopt;
        }
    }

    bool isSpace(const UIBarButtonItem& item)
    {
        auto system = item.systemItem();
        return system && (*system == UIBarButtonSystemItem::FlexibleSpace || *system == UIBarButtonSystemItem::FixedSpace);
    }

    bool isBold(const UIBarButtonItem& item)
    {
        auto system = item.systemItem();
        return item.style() == UIBarButtonItemStyle::Done || (system && (*system == UIBarButtonSystemItem::Done || *system == UIBarButtonSystemItem::Save));
    }

    std::optional<std::string> itemText(const UIBarButtonItem& item)
    {
        if (item.image())
            return std::nullopt;
        if (auto system = item.systemItem())
            return systemTitle(*system);
        return item.title();
    }

    std::shared_ptr<UIFont> itemFont(const UIBarButtonItem& item)
    {
        return isBold(item) ? UIFont::boldSystemFontOfSize(17) : UIFont::systemFontOfSize(17);
    }

    // How wide the item is on its bar.
    CGFloat itemWidth(const UIBarButtonItem& item)
    {
        if (item.width() > 0)
            return item.width();
        if (auto custom = item.customView())
            return custom->frame().size.width;
        if (auto image = item.image())
            return std::max(image->size().width, glyphSize);
        if (auto text = itemText(item))
            return text::measure(*text, itemFont(item)).width;
        if (item.systemItem() && !isSpace(item))
            return glyphSize + 4;
        return 0;
    }

    std::string backTitleFor(const std::vector<std::shared_ptr<UIViewController>>& stack)
    {
        if (stack.size() < 2)
            return {};
        auto& previous = stack[stack.size() - 2];
        if (auto back = previous->navigationItem().backBarButtonItem(); back && back->title())
            return *back->title();
        if (auto title = previous->navigationItem().title())
            return *title;
        return "Back";
    }

    void strokeGlyph(cairo_t* cr, const UIColor& color)
    {
        drawing::setColor(cr, color);
        cairo_set_line_width(cr, 1.5);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_stroke(cr);
    }

    // The platform's pictures for system items, in a 22-point box.
    void drawGlyph(cairo_t* cr, UIBarButtonSystemItem item, CGPoint origin, const UIColor& color)
    {
        cairo_save(cr);
        cairo_translate(cr, origin.x, origin.y);
        cairo_new_path(cr);
        switch (item) {
        case UIBarButtonSystemItem::Trash:
            cairo_move_to(cr, 2, 5);
            cairo_line_to(cr, 20, 5);
            cairo_move_to(cr, 8, 5);
            cairo_line_to(cr, 8, 2);
            cairo_line_to(cr, 14, 2);
            cairo_line_to(cr, 14, 5);
            cairo_move_to(cr, 4, 5);
            cairo_line_to(cr, 5, 21);
            cairo_line_to(cr, 17, 21);
            cairo_line_to(cr, 18, 5);
            cairo_move_to(cr, 9, 9);
            cairo_line_to(cr, 9, 17);
            cairo_move_to(cr, 13, 9);
            cairo_line_to(cr, 13, 17);
            break;
        case UIBarButtonSystemItem::Add:
            cairo_move_to(cr, 11, 2);
            cairo_line_to(cr, 11, 20);
            cairo_move_to(cr, 2, 11);
            cairo_line_to(cr, 20, 11);
            break;
        case UIBarButtonSystemItem::Action:
            cairo_move_to(cr, 7, 8);
            cairo_line_to(cr, 3, 8);
            cairo_line_to(cr, 3, 21);
            cairo_line_to(cr, 19, 21);
            cairo_line_to(cr, 19, 8);
            cairo_line_to(cr, 15, 8);
            cairo_move_to(cr, 11, 14);
            cairo_line_to(cr, 11, 1);
            cairo_move_to(cr, 7, 5);
            cairo_line_to(cr, 11, 1);
            cairo_line_to(cr, 15, 5);
            break;
        case UIBarButtonSystemItem::Compose:
            cairo_move_to(cr, 12, 4);
            cairo_line_to(cr, 2, 4);
            cairo_line_to(cr, 2, 20);
            cairo_line_to(cr, 18, 20);
            cairo_line_to(cr, 18, 10);
            cairo_move_to(cr, 9, 13);
            cairo_line_to(cr, 20, 2);
            break;
        case UIBarButtonSystemItem::Refresh:
            cairo_arc(cr, 11, 12, 8, -M_PI / 3, 1.6 * M_PI);
            cairo_move_to(cr, 13, 2);
            cairo_line_to(cr, 16, 5.5);
            cairo_line_to(cr, 12, 7);
            break;
        case UIBarButtonSystemItem::Stop:
            cairo_move_to(cr, 4, 4);
            cairo_line_to(cr, 18, 18);
            cairo_move_to(cr, 18, 4);
            cairo_line_to(cr, 4, 18);
            break;
        case UIBarButtonSystemItem::Search:
            cairo_arc(cr, 9, 9, 6.5, 0, 2 * M_PI);
            cairo_move_to(cr, 14, 14);
            cairo_line_to(cr, 20, 20);
            break;
        case UIBarButtonSystemItem::Bookmarks:
            cairo_move_to(cr, 11, 5);
            cairo_curve_to(cr, 8, 3, 4, 3, 1, 4);
            cairo_line_to(cr, 1, 19);
            cairo_curve_to(cr, 4, 18, 8, 18, 11, 20);
            cairo_curve_to(cr, 14, 18, 18, 18, 21, 19);
            cairo_line_to(cr, 21, 4);
            cairo_curve_to(cr, 18, 3, 14, 3, 11, 5);
            cairo_line_to(cr, 11, 20);
            break;
        case UIBarButtonSystemItem::Organize:
            cairo_move_to(cr, 1, 19);
            cairo_line_to(cr, 1, 4);
            cairo_line_to(cr, 8, 4);
            cairo_line_to(cr, 10, 7);
            cairo_line_to(cr, 21, 7);
            cairo_line_to(cr, 21, 19);
            cairo_close_path(cr);
            break;
        case UIBarButtonSystemItem::Reply:
            cairo_move_to(cr, 9, 3);
            cairo_line_to(cr, 2, 10);
            cairo_line_to(cr, 9, 17);
            cairo_move_to(cr, 2, 10);
            cairo_curve_to(cr, 12, 10, 19, 11, 20, 20);
            break;
        case UIBarButtonSystemItem::Camera:
            cairo_rectangle(cr, 1, 6, 20, 14);
            cairo_new_sub_path(cr);
            cairo_arc(cr, 11, 13, 4, 0, 2 * M_PI);
            cairo_move_to(cr, 7, 6);
            cairo_line_to(cr, 9, 3);
            cairo_line_to(cr, 13, 3);
            cairo_line_to(cr, 15, 6);
            break;
        case UIBarButtonSystemItem::Play:
            cairo_move_to(cr, 5, 3);
            cairo_line_to(cr, 19, 11);
            cairo_line_to(cr, 5, 19);
            cairo_close_path(cr);
            drawing::setColor(cr, color);
            cairo_fill(cr);
            cairo_restore(cr);
            return;
        case UIBarButtonSystemItem::Pause:
            cairo_rectangle(cr, 5, 3, 4, 16);
            cairo_rectangle(cr, 13, 3, 4, 16);
            drawing::setColor(cr, color);
            cairo_fill(cr);
            cairo_restore(cr);
            return;
        case UIBarButtonSystemItem::Rewind:
        case UIBarButtonSystemItem::FastForward: {
            bool back = item == UIBarButtonSystemItem::Rewind;
            for (CGFloat start : { 1.0, 11.0 }) {
                cairo_move_to(cr, back ? start + 10 : start, 5);
                cairo_line_to(cr, back ? start : start + 10, 11);
                cairo_line_to(cr, back ? start + 10 : start, 17);
                cairo_close_path(cr);
            }
            drawing::setColor(cr, color);
            cairo_fill(cr);
            cairo_restore(cr);
            return;
        }
        default:
            break;
        }
        strokeGlyph(cr, color);
        cairo_restore(cr);
    }

    void drawItem(cairo_t* cr, const UIBarButtonItem& item, const CGRect& frame, const UIColor& tint)
    {
        auto color = item.isEnabled() ? (item.tintColor() ? *item.tintColor() : tint) : drawing::disabledTint();
        if (auto image = item.image()) {
            auto size = image->size();
            CGRect place { { frame.origin.x + (frame.size.width - size.width) / 2, frame.origin.y + (frame.size.height - size.height) / 2 }, size };
            drawing::drawTemplateImage(cr, *image, place, color);
            return;
        }
        if (auto text = itemText(item)) {
            text::draw(cr, *text, frame, drawing::textStyle(itemFont(item), color, text::Align::Center));
            return;
        }
        if (auto system = item.systemItem())
            drawGlyph(cr, *system, { frame.origin.x + (frame.size.width - glyphSize) / 2, frame.origin.y + (frame.size.height - glyphSize) / 2 }, color);
    }

    std::size_t itemSignature(const UIBarButtonItem& item)
    {
        auto seed = std::hash<const void*> {}(&item);
        seed = drawing::combine(seed, item.isEnabled());
        seed = drawing::combine(seed, std::hash<const void*> {}(item.image().get()));
        seed = drawing::combine(seed, drawing::hashText(item.title().value_or("\x01")));
        seed = drawing::combine(seed, static_cast<std::size_t>(item.style()));
        return drawing::combine(seed, std::hash<const void*> {}(item.tintColor().get()));
    }

    std::shared_ptr<UIColor> titleColor(const UINavigationBar::TextAttributes& attributes)
    {
        auto found = attributes.find(NSForegroundColorAttributeName);
        if (found == attributes.end())
            return nullptr;
        auto* color = std::any_cast<std::shared_ptr<UIColor>>(&found->second);
        return color ? *color : nullptr;
    }

}

const UIBarSlot* UINavigationBar::slotAtPoint(CGPoint point) const
{
    const UIBarSlot* nearest = nullptr;
    CGFloat best = slack + 1;
    for (auto& slot : m_slots) {
        if (point.y < slot.frame.origin.y || point.y > CGRectGetMaxY(slot.frame))
            continue;
        CGFloat distance = 0;
        if (point.x < slot.frame.origin.x)
            distance = slot.frame.origin.x - point.x;
        else if (point.x > CGRectGetMaxX(slot.frame))
            distance = point.x - CGRectGetMaxX(slot.frame);
        if (distance <= slack && distance < best) {
            best = distance;
            nearest = &slot;
        }
    }
    return nearest;
}

std::shared_ptr<UIView> UINavigationBar::barShowing(const UIBarButtonItem& item, UIView& view)
{
    if (auto* bar = dynamic_cast<UINavigationBar*>(&view)) {
        for (auto& slot : bar->m_slots) {
            if (slot.item.get() == &item)
                return view.shared_from_this();
        }
    }
    if (auto* toolbar = dynamic_cast<UIToolbar*>(&view)) {
        for (auto& shown : toolbar->items()) {
            if (shown.get() == &item)
                return view.shared_from_this();
        }
    }
    for (auto& subview : view.subviews()) {
        if (auto found = barShowing(item, *subview))
            return found;
    }
    return nullptr;
}

CGFloat UINavigationBar::placeItems(const std::vector<std::shared_ptr<UIBarButtonItem>>& items, CGFloat x, CGFloat height, bool fromRight)
{
    bool first = true;
    for (auto& item : items) {
        if (!item || isSpace(*item))
            continue;
        auto width = itemWidth(*item);
        if (!first)
            x += fromRight ? -itemGap : itemGap;
        first = false;
        CGRect frame = CGRectMake(fromRight ? x - width : x, 0, width, height);
        x += fromRight ? -width : width;
        item->setFrame(frame);
        if (auto custom = item->customView()) {
            auto size = custom->frame().size;
            custom->setFrame(CGRectMake(frame.origin.x, (height - size.height) / 2, size.width, size.height));
            if (custom->superview().get() != this)
                addSubview(custom);
            m_placedViews.push_back(custom);
            continue;
        }
        m_slots.push_back({ item, false, frame });
    }
    return x;
}

void UINavigationBar::layoutForNavigationController(UINavigationController& navigation, CGFloat stripAbove)
{
    m_stripAbove = stripAbove;
    m_slots.clear();
    m_placedViews.clear();
    m_backTitle.clear();
    m_title.clear();
    m_prompt.reset();
    auto top = navigation.topViewController();
    auto width = frame().size.width;
    if (top) {
        auto& item = top->navigationItem();
        m_prompt = item.prompt();
        // The prompt takes a strip above the row of buttons and title.
        CGFloat rowTop = m_prompt ? 30 : 0;
        CGFloat rowHeight = 44;
        CGFloat left = edgeMargin;
        auto& stack = navigation.viewControllers();
        CGFloat right = placeItems(item.rightBarButtonItems(), width - edgeMargin, rowHeight, true);
        auto titleView = item.titleView();
        if (!titleView)
            m_title = item.title().value_or(top->title().value_or(""));
        if (!item.leftBarButtonItems().empty()) {
            left = placeItems(item.leftBarButtonItems(), edgeMargin, rowHeight, false);
        } else if (stack.size() > 1 && !item.hidesBackButton()) {
            m_backTitle = backTitleFor(stack);
            auto font = UIFont::systemFontOfSize(17);
            // The previous screen's title when it fits beside this one's, whole; else "Back", as
            // the platform's bar shows it. A long one would crowd the bar whatever the title.
            auto titleWidth = titleView ? titleView->frame().size.width : text::measure(m_title, UIFont::boldSystemFontOfSize(17)).width;
            auto backWidth = text::measure(m_backTitle, font).width;
            if (backWidth > width / 3 || 26 + backWidth + itemGap + titleWidth > right - itemGap)
                m_backTitle = "Back";
            auto textWidth = text::measure(m_backTitle, font).width;
            m_slots.insert(m_slots.begin(), { nullptr, true, CGRectMake(8, 0, 18 + textWidth, rowHeight) });
            left = 26 + textWidth;
        }
        for (auto& slot : m_slots)
            slot.frame.origin.y = rowTop;
        for (auto& view : m_placedViews)
            view->setFrame(view->frame().offsetBy(0, rowTop - view->frame().origin.y + (rowHeight - view->frame().size.height) / 2));

        CGFloat minX = left + itemGap, maxX = right - itemGap;
        if (titleView) {
            auto size = titleView->frame().size;
            size.width = std::min(size.width, std::max(0.0, maxX - minX));
            auto x = std::clamp((width - size.width) / 2, minX, std::max(minX, maxX - size.width));
            titleView->setFrame(CGRectMake(x, rowTop + (rowHeight - size.height) / 2, size.width, size.height));
            if (titleView->superview().get() != this)
                addSubview(titleView);
            m_placedViews.push_back(titleView);
        } else {
            auto textWidth = std::min(text::measure(m_title, UIFont::boldSystemFontOfSize(17)).width, std::max(0.0, maxX - minX));
            // Centred on the bar where it fits, else next to the items that crowd it.
            auto x = std::clamp((width - textWidth) / 2, minX, std::max(minX, maxX - textWidth));
            m_titleFrame = CGRectMake(x, rowTop, textWidth, rowHeight);
        }
    }
    // Views of earlier screens leave the bar.
    auto subviews = this->subviews();
    for (auto& view : subviews) {
        if (std::find(m_placedViews.begin(), m_placedViews.end(), view) == m_placedViews.end())
            view->removeFromSuperview();
    }

    std::weak_ptr<UINavigationController> weakNavigation = std::static_pointer_cast<UINavigationController>(navigation.shared_from_this());
    std::weak_ptr<UIView> weakBar = weak_from_this();
    drawing::watch([weakNavigation, weakBar] {
        auto navigation = weakNavigation.lock();
        auto bar = std::static_pointer_cast<UINavigationBar>(weakBar.lock());
        auto top = navigation ? navigation->topViewController() : nullptr;
        if (!top || !bar)
            return std::size_t(0);
        auto& item = top->navigationItem();
        auto seed = drawing::combine(std::hash<const void*> {}(top.get()), drawing::hashText(item.title().value_or(top->title().value_or(""))));
        seed = drawing::combine(seed, drawing::hashText(item.prompt().value_or("\x01")));
        seed = drawing::combine(seed, item.hidesBackButton());
        seed = drawing::combine(seed, drawing::hashText(backTitleFor(navigation->viewControllers())));
        seed = drawing::combine(seed, std::hash<const void*> {}(item.titleView().get()));
        seed = drawing::combine(seed, std::hash<const void*> {}(bar->barTintColor().get()));
        seed = drawing::combine(seed, std::hash<const void*> {}(titleColor(bar->titleTextAttributes()).get()));
        for (auto* items : { &item.leftBarButtonItems(), &item.rightBarButtonItems() }) {
            for (auto& each : *items)
                seed = drawing::combine(seed, each ? itemSignature(*each) : 0);
        }
        return seed;
    });
}

void UINavigationBar::drawRect(CGRect rect)
{
    auto* cr = UIGraphicsGetCurrentContext() ? UIGraphicsGetCurrentContext()->cairo() : nullptr;
    if (!cr)
        return;
    // The background covers the status bar above the bar too.
    drawing::fillRect(cr, CGRectMake(0, -m_stripAbove, rect.size.width, rect.size.height + m_stripAbove), m_barTintColor ? *m_barTintColor : drawing::barColor());
    drawing::hairline(cr, 0, rect.size.width, rect.size.height, drawing::barHairlineColor());
    auto tint = drawing::tintOf(*this);
    auto color = titleColor(m_titleTextAttributes);
    auto textColor = color ? *color : UIColor(0, 0, 0, 1);
    if (m_prompt)
        text::draw(cr, *m_prompt, CGRectMake(edgeMargin, 0, rect.size.width - 2 * edgeMargin, 30),
            drawing::textStyle(UIFont::systemFontOfSize(13), textColor, text::Align::Center));
    if (!m_title.empty()) {
        // A title that is a path keeps its last part in sight.
        auto style = drawing::textStyle(UIFont::boldSystemFontOfSize(17), textColor, text::Align::Center);
        if (m_title.find('/') != std::string::npos)
            style.wrap = text::Wrap::TruncateMiddle;
        text::draw(cr, m_title, m_titleFrame, style);
    }
    for (auto& slot : m_slots) {
        if (slot.back) {
            auto midY = slot.frame.origin.y + slot.frame.size.height / 2;
            drawing::chevron(cr, { slot.frame.origin.x + 1.5, midY }, 21, true, 3, tint);
            text::draw(cr, m_backTitle, CGRectMake(slot.frame.origin.x + 18, slot.frame.origin.y, slot.frame.size.width - 18, slot.frame.size.height),
                drawing::textStyle(UIFont::systemFontOfSize(17), tint));
        } else if (slot.item) {
            drawItem(cr, *slot.item, slot.frame, tint);
        }
    }
}

void UIToolbar::drawRect(CGRect rect)
{
    auto* cr = UIGraphicsGetCurrentContext() ? UIGraphicsGetCurrentContext()->cairo() : nullptr;
    if (!cr)
        return;
    drawing::fillRect(cr, rect, m_barTintColor ? *m_barTintColor : drawing::barColor());
    drawing::hairline(cr, 0, rect.size.width, 0, drawing::barHairlineColor());
    auto tint = drawing::tintOf(*this);
    for (auto& item : m_items) {
        // A custom view is a subview, drawn as one.
        if (!isSpace(*item) && !item->customView()) {
            drawItem(cr, *item, item->frame(), tint);
        }
    }
    std::weak_ptr<UIView> weak = weak_from_this();
    drawing::watch([weak] {
        auto toolbar = std::static_pointer_cast<UIToolbar>(weak.lock());
        if (!toolbar)
            return std::size_t(0);
        std::size_t seed = toolbar->items().size();
        for (auto& item : toolbar->items())
            seed = drawing::combine(seed, itemSignature(*item));
        return drawing::combine(seed, std::hash<const void*> {}(toolbar->barTintColor().get()));
    });
}

CGFloat drawing::barItemWidth(const UIBarButtonItem& item)
{
    return itemWidth(item);
}

std::shared_ptr<UIBarButtonItem> drawing::toolbarItemAt(UIToolbar& toolbar, CGPoint point)
{
    for (auto& item : toolbar.items()) {
        if (isSpace(*item) || item->customView())
            continue;
        if (CGRectContainsPoint(item->frame().insetBy(-slack / 2, 0), point))
            return item;
    }
    return nullptr;
}

}
