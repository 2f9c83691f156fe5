#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/UIAlertControllerView.h"
#include "platform/uikit/UIKeyboard.h"
#include "platform/uikit/UINavigationBar.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform {

namespace {

    constexpr CGFloat alertWidth = 270;
    constexpr CGFloat alertButtonHeight = 44;
    constexpr CGFloat sheetMargin = 10;
    constexpr CGFloat sheetButtonHeight = 57;
    constexpr CGFloat popoverWidth = 304;
    constexpr CGFloat popoverButtonHeight = 44;
    constexpr CGFloat fieldHeight = 26;
    constexpr CGFloat cornerRadius = 13;

    UIColor rgb(int red, int green, int blue, CGFloat alpha = 1)
    {
        return UIColor(red / 255.0, green / 255.0, blue / 255.0, alpha);
    }

    bool isCancel(const std::shared_ptr<UIAlertAction>& action)
    {
        return action && action->style() == UIAlertActionStyle::Cancel;
    }

    constexpr CGFloat buttonInset = 8;

    std::shared_ptr<UIFont> buttonFont(UIAlertController& alert, const std::shared_ptr<UIAlertAction>& action, bool sheet)
    {
        bool bold = isCancel(action) || action == alert.preferredAction();
        CGFloat size = sheet ? 20 : 17;
        return bold ? UIFont::boldSystemFontOfSize(size) : UIFont::systemFontOfSize(size);
    }

    CGFloat textHeight(const std::string& text, const std::shared_ptr<UIFont>& font, CGFloat width)
    {
        return text.empty() ? 0 : text::measure(text, font, width).height;
    }

    std::size_t alertSignature(UIAlertController& alert)
    {
        auto seed = drawing::hashText(alert.title().value_or("\x01"));
        seed = drawing::combine(seed, drawing::hashText(alert.message().value_or("\x01")));
        seed = drawing::combine(seed, std::hash<const void*> {}(alert.preferredAction().get()));
        seed = drawing::combine(seed, alert.textFields().size());
        for (auto& action : alert.actions()) {
            seed = drawing::combine(seed, drawing::hashText(action->title().value_or("\x01")));
            seed = drawing::combine(seed, action->isEnabled());
        }
        return seed;
    }

}

void UIAlertController::loadView()
{
    auto self = std::static_pointer_cast<UIAlertController>(shared_from_this());
    setView(std::make_shared<UIAlertControllerView>(self));
}

// Made over the whole screen, as any screen's view, before it is presented.
UIAlertControllerView::UIAlertControllerView(const std::shared_ptr<UIAlertController>& controller)
    : UIView(UIScreen::mainScreen().bounds())
    , m_controller(controller)
{
}

bool UIAlertControllerView::isSheet() const
{
    auto controller = m_controller.lock();
    return controller && controller->preferredStyle() == UIAlertControllerStyle::ActionSheet;
}

bool UIAlertControllerView::isPopover() const
{
    return isSheet() && UIDevice::currentDevice().userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
}

void UIAlertControllerView::layoutSubviews()
{
    m_groups.clear();
    m_arrow.clear();
    m_buttons.clear();
    auto controller = m_controller.lock();
    if (!controller)
        return;
    auto size = frame().size;
    m_title = controller->title().value_or("");
    m_message = controller->message().value_or("");
    bool sheet = isSheet(), popover = isPopover();
    CGFloat width = popover ? popoverWidth : sheet ? size.width - 2 * sheetMargin
                                                   : alertWidth;
    CGFloat buttonHeight = popover ? popoverButtonHeight : sheet ? sheetButtonHeight
                                                                 : alertButtonHeight;
    CGFloat inner = std::max(1.0, width - 32);

    // The header: title, message, text fields.
    auto titleFont = sheet ? UIFont::boldSystemFontOfSize(13) : UIFont::boldSystemFontOfSize(17);
    auto messageFont = UIFont::systemFontOfSize(13);
    // The window lays the screens out each time it looks for input, sixty times a second:
    // texts are measured again only when they or their width changed.
    if (!m_measured || m_measured->title != m_title || m_measured->message != m_message || m_measured->width != inner || m_measured->sheet != sheet)
        m_measured = Measured { m_title, m_message, inner, sheet, textHeight(m_title, titleFont, inner), textHeight(m_message, messageFont, inner) };
    CGFloat titleHeight = m_measured->titleHeight;
    CGFloat messageHeight = m_measured->messageHeight;
    auto& fields = controller->textFields();
    CGFloat pad = sheet ? 14 : 20;
    CGFloat header = 0;
    if (titleHeight > 0 || messageHeight > 0 || !fields.empty()) {
        header = pad + titleHeight + (titleHeight > 0 && messageHeight > 0 ? 4 : 0) + messageHeight;
        if (!fields.empty())
            header += 12 + fields.size() * (fieldHeight + 6) - 6;
        header += sheet ? pad : 20;
    }

    std::vector<std::shared_ptr<UIAlertAction>> ordered, cancels;
    for (auto& action : controller->actions())
        (isCancel(action) ? cancels : ordered).push_back(action);
    // A popover has no cancel button: a tap outside it cancels.
    bool cancelApart = sheet && !popover && !cancels.empty();
    // Two buttons sit side by side when both titles fit their half; else they stack.
    m_sideBySide = !sheet && controller->actions().size() == 2
        && std::all_of(controller->actions().begin(), controller->actions().end(), [&](auto& action) {
               return text::measure(action->title().value_or(""), buttonFont(*controller, action, false)).width <= width / 2 - 2 * buttonInset;
           });
    if (m_sideBySide)
        ordered.insert(ordered.begin(), cancels.begin(), cancels.end());
    else if (!sheet)
        ordered.insert(ordered.end(), cancels.begin(), cancels.end());
    CGFloat actionsHeight = m_sideBySide ? buttonHeight : ordered.size() * buttonHeight;
    CGFloat cancelHeight = cancelApart ? buttonHeight + 8 : 0;

    // Too much text to fit: the message gives way.
    CGFloat room = size.height - 40 - cancelHeight;
    CGFloat excess = header + actionsHeight - room;
    if (excess > 0) {
        auto cut = std::min(excess, messageHeight);
        messageHeight -= cut;
        header -= cut;
    }
    CGFloat height = header + actionsHeight;

    CGRect box;
    if (popover) {
        auto anchor = CGRectMake(size.width / 2, size.height / 2, 0, 0);
        auto& popoverController = controller->popoverPresentationController();
        auto item = popoverController.barButtonItem();
        auto bar = item && window() ? UINavigationBar::barShowing(*item, *window()) : nullptr;
        if (bar)
            anchor = bar->convertRectToView(item->frame(), nullptr);
        else if (auto source = popoverController.sourceView(); source && source->window())
            anchor = source->convertRectToView(popoverController.sourceRect(), nullptr);
        auto x = std::clamp(anchor.origin.x + anchor.size.width / 2 - width / 2, sheetMargin, std::max(sheetMargin, size.width - sheetMargin - width));
        auto y = CGRectGetMaxY(anchor) + 8;
        if (y + height > size.height - sheetMargin)
            y = anchor.origin.y - 8 - height;
        if (y < sheetMargin)
            y = std::max(sheetMargin, (size.height - height) / 2);
        box = CGRectMake(x, y, width, height);
        // The arrow comes out of the edge that faces the anchor, as far along as the corners allow.
        constexpr CGFloat arrowHalf = 9;
        auto tipX = std::clamp(anchor.origin.x + anchor.size.width / 2, x + cornerRadius + arrowHalf, x + width - cornerRadius - arrowHalf);
        if (y >= CGRectGetMaxY(anchor))
            m_arrow = { { tipX - arrowHalf, y }, { tipX, y - 8 }, { tipX + arrowHalf, y } };
        else if (y + height <= anchor.origin.y)
            m_arrow = { { tipX - arrowHalf, y + height }, { tipX, y + height + 8 }, { tipX + arrowHalf, y + height } };
    } else if (sheet) {
        box = CGRectMake(sheetMargin, size.height - sheetMargin - cancelHeight - height, width, height);
    } else {
        box = CGRectMake((size.width - width) / 2, (size.height - height) / 2, width, height);
    }
    m_groups.push_back(box);

    CGFloat y = box.origin.y + pad;
    m_titleFrame = CGRectMake(box.origin.x + 16, y, inner, titleHeight);
    y += titleHeight + (titleHeight > 0 && messageHeight > 0 ? 4 : 0);
    m_messageFrame = CGRectMake(box.origin.x + 16, y, inner, messageHeight);
    y += messageHeight + 12;
    for (auto& field : fields) {
        if (!field->font())
            field->setFont(UIFont::systemFontOfSize(13));
        field->setFrame(CGRectMake(box.origin.x + 16, y, inner, fieldHeight));
        if (field->superview().get() != this)
            addSubview(field);
        y += fieldHeight + 6;
    }
    // Typing goes to the first field when the alert comes up.
    if (!fields.empty() && window()) {
        auto responder = UIKeyboard::firstResponder();
        if (!responder || std::find(fields.begin(), fields.end(), responder) == fields.end())
            fields.front()->becomeFirstResponder();
    }

    placeAddedViews(box);

    CGFloat top = box.origin.y + header;
    for (std::size_t index = 0; index < ordered.size(); ++index) {
        CGRect frame = m_sideBySide ? CGRectMake(box.origin.x + index * width / 2, top, width / 2, buttonHeight)
                                    : CGRectMake(box.origin.x, top + index * buttonHeight, width, buttonHeight);
        m_buttons.push_back({ ordered[index], frame });
    }
    if (cancelApart) {
        CGRect cancel = CGRectMake(sheetMargin, size.height - sheetMargin - buttonHeight, width, buttonHeight);
        m_groups.push_back(cancel);
        m_buttons.push_back({ cancels.front(), cancel });
    }
}

// On the platform the alert's view is its box: what the app adds (a spinner, the bar of an
// unzip) is placed in the box's coordinates, and a view wider or lower than the box is
// fitted to its width and bottom edge.
void UIAlertControllerView::placeAddedViews(const CGRect& box)
{
    auto controller = m_controller.lock();
    std::vector<Placed> placed;
    for (auto& view : subviews()) {
        auto& fields = controller->textFields();
        if (std::find(fields.begin(), fields.end(), view) != fields.end())
            continue;
        auto frame = view->frame();
        auto known = std::find_if(m_placed.begin(), m_placed.end(), [&](const Placed& entry) { return entry.view.lock() == view; });
        // A frame the box set stands for the one the app gave; any other is the app's own.
        auto given = known != m_placed.end() && known->placed == frame ? known->given : frame;
        auto fitted = CGRectStandardize(given);
        if (!std::isfinite(fitted.origin.x + fitted.origin.y + fitted.size.width + fitted.size.height))
            continue;
        fitted.size.width = std::min(fitted.size.width, box.size.width);
        fitted.origin.x = std::clamp(fitted.origin.x, 0.0, box.size.width - fitted.size.width);
        fitted.origin.y = std::clamp(fitted.origin.y, 0.0, std::max(0.0, box.size.height - fitted.size.height));
        fitted = fitted.offsetBy(box.origin.x, box.origin.y);
        view->setFrame(fitted);
        placed.push_back({ view, given, fitted });
    }
    m_placed = std::move(placed);
}

void UIAlertControllerView::drawRect(CGRect rect)
{
    auto* context = UIGraphicsGetCurrentContext();
    auto controller = m_controller.lock();
    if (!context || !controller)
        return;
    auto* cr = context->cairo();
    bool sheet = isSheet(), popover = isPopover();
    drawing::fillRect(cr, rect, UIColor(0, 0, 0, popover ? 0.2 : 0.4));
    auto arrowPath = [&] {
        cairo_move_to(cr, m_arrow[0].x, m_arrow[0].y);
        for (auto& point : m_arrow)
            cairo_line_to(cr, point.x, point.y);
        cairo_close_path(cr);
    };
    if (popover) {
        // Shaded as one outline, before any part is filled, so no shade falls on the popover.
        std::vector<cairo_path_t*> parts;
        for (auto& group : m_groups) {
            drawing::roundedRectPath(cr, group, cornerRadius);
            parts.push_back(cairo_copy_path(cr));
        }
        cairo_new_path(cr);
        for (auto* part : parts) {
            cairo_append_path(cr, part);
            cairo_path_destroy(part);
        }
        if (!m_arrow.empty())
            arrowPath();
        drawing::shadowAround(cr);
        cairo_new_path(cr);
    }
    for (auto& group : m_groups) {
        drawing::roundedRectPath(cr, group, cornerRadius);
        drawing::setColor(cr, rgb(248, 248, 248));
        cairo_fill(cr);
    }
    if (!m_arrow.empty()) {
        cairo_new_path(cr);
        arrowPath();
        cairo_fill(cr);
    }
    auto gray = drawing::secondaryTextColor();
    auto titleStyle = drawing::textStyle(sheet ? UIFont::boldSystemFontOfSize(13) : UIFont::boldSystemFontOfSize(17), sheet ? gray : UIColor(0, 0, 0, 1), text::Align::Center);
    titleStyle.lines = 0;
    titleStyle.wrap = text::Wrap::WordWrap;
    auto messageStyle = drawing::textStyle(UIFont::systemFontOfSize(13), sheet ? gray : UIColor(0, 0, 0, 1), text::Align::Center);
    messageStyle.lines = 0;
    messageStyle.wrap = text::Wrap::WordWrap;
    text::draw(cr, m_title, m_titleFrame, titleStyle);
    text::draw(cr, m_message, m_messageFrame, messageStyle);
    auto separator = rgb(200, 199, 204);
    for (auto& field : controller->textFields()) {
        auto frame = field->frame();
        cairo_rectangle(cr, frame.origin.x - 0.5, frame.origin.y - 0.5, frame.size.width + 1, frame.size.height + 1);
        drawing::setColor(cr, UIColor(1, 1, 1, 1));
        cairo_fill_preserve(cr);
        cairo_set_line_width(cr, 1);
        drawing::setColor(cr, separator);
        cairo_stroke(cr);
    }

    auto tint = drawing::tintOf(*this);
    for (std::size_t index = 0; index < m_buttons.size(); ++index) {
        auto& [action, frame] = m_buttons[index];
        bool separateCancel = sheet && isCancel(action) && m_groups.size() > 1 && index == m_buttons.size() - 1;
        bool besideAnother = m_sideBySide && index > 0;
        if (!separateCancel && (frame.origin.y > m_groups.front().origin.y || besideAnother))
            drawing::hairline(cr, frame.origin.x, CGRectGetMaxX(frame), frame.origin.y, separator);
        if (besideAnother)
            drawing::fillRect(cr, CGRectMake(frame.origin.x, frame.origin.y, 0.5, frame.size.height), separator);
        auto font = buttonFont(*controller, action, sheet);
        auto color = !action->isEnabled() ? drawing::disabledTint() : action->style() == UIAlertActionStyle::Destructive ? drawing::destructiveColor()
                                                                                                                         : tint;
        text::draw(cr, action->title().value_or(""), frame.insetBy(buttonInset, 0), drawing::textStyle(font, color, text::Align::Center));
    }

    std::weak_ptr<UIAlertController> weak = controller;
    drawing::watch([weak] {
        auto alert = weak.lock();
        return alert ? alertSignature(*alert) : 0;
    });
}

void UIAlertControllerView::clipToBoxes(cairo_t* cr) const
{
    std::vector<cairo_path_t*> paths;
    for (auto& group : m_groups) {
        drawing::roundedRectPath(cr, group, cornerRadius);
        paths.push_back(cairo_copy_path(cr));
    }
    cairo_new_path(cr);
    for (auto* path : paths) {
        cairo_append_path(cr, path);
        cairo_path_destroy(path);
    }
    cairo_clip(cr);
}

std::shared_ptr<UIAlertAction> UIAlertControllerView::actionAtPoint(CGPoint point) const
{
    for (auto& [action, frame] : m_buttons) {
        if (CGRectContainsPoint(frame, point))
            return action->isEnabled() ? action : nullptr;
    }
    if (isPopover()) {
        for (auto& group : m_groups) {
            if (CGRectContainsPoint(group, point))
                return nullptr;
        }
        return cancelAction();
    }
    return nullptr;
}

std::shared_ptr<UIAlertAction> UIAlertControllerView::returnAction() const
{
    auto controller = m_controller.lock();
    if (!controller)
        return nullptr;
    if (auto preferred = controller->preferredAction(); preferred && preferred->isEnabled())
        return preferred;
    std::shared_ptr<UIAlertAction> only;
    for (auto& action : controller->actions()) {
        if (isCancel(action) || !action->isEnabled())
            continue;
        if (only)
            return nullptr;
        only = action;
    }
    return only;
}

std::shared_ptr<UIAlertAction> UIAlertControllerView::cancelAction() const
{
    auto controller = m_controller.lock();
    if (!controller)
        return nullptr;
    for (auto& action : controller->actions()) {
        if (isCancel(action))
            return action;
    }
    return nullptr;
}

std::shared_ptr<UIAlertAction> UIAlertControllerView::escapeAction() const
{
    if (auto cancel = cancelAction())
        return cancel;
    auto controller = m_controller.lock();
    if (!controller)
        return nullptr;
    for (auto& action : controller->actions()) {
        if (!action->hasHandler() && action->isEnabled())
            return action;
    }
    return nullptr;
}

}
