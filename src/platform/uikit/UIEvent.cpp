#include "platform/uikit/UIEvent.h"

#include "platform/foundation/NSTimer.h"
#include "platform/foundation/RunLoop.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/ScreenLayout.h"
#include "platform/uikit/TableGeometry.h"
#include "platform/uikit/UIAlertControllerView.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIKeyboard.h"
#include "platform/uikit/UINavigationBar.h"
#include "platform/uikit/UISegmentedControl.h"
#include "platform/uikit/UISwitch.h"
#include "platform/uikit/UITextView.h"
#include "platform/uikit/UIToolbar.h"
#include "platform/uikit/UIViewRendering.h"
#include "platform/uikit/UIWebView.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform {

namespace {

    // How far the pointer may move and still tap; and how far a sideways drag must go to
    // reveal or hide a row's actions.
    constexpr CGFloat tapSlop = 8;
    constexpr CGFloat swipeDistance = 30;

    // A drag let go faster than this coasts on, slowing as the phone's does: its speed falls
    // to 0.998 of itself every millisecond, and it stops below the last speed.
    constexpr CGFloat coastingSpeed = 100;
    constexpr CGFloat stoppingSpeed = 10;
    constexpr double decelerationPerMillisecond = 0.998;
    constexpr double coastingFrame = 1.0 / 60;
    // The speed is taken over the last moves this long before letting go; a pointer held
    // still longer than the last of these does not coast.
    constexpr double speedWindow = 0.1;
    constexpr double heldStill = 0.05;
    // Page Up and Page Down keep this much of the page in view; an arrow moves a page this far.
    constexpr CGFloat pageOverlap = 40;
    constexpr CGFloat arrowStep = 40;

    struct Hit {
        std::shared_ptr<UIView> view;
        CGPoint point;
    };

    CGPoint minus(CGPoint point, CGPoint origin)
    {
        return { point.x - origin.x, point.y - origin.y };
    }

    // Labels and image views take touches only when given a gesture of their own.
    bool takesTouches(UIView& view)
    {
        if (view.isHidden() || !view.isUserInteractionEnabled() || view.alpha() <= 0.01)
            return false;
        if (dynamic_cast<UILabel*>(&view) || dynamic_cast<UIImageView*>(&view))
            return !view.gestureRecognizers().empty();
        return true;
    }

    // A point of the table in its content, scrolled.
    CGPoint contentPoint(UITableView& table, CGPoint point)
    {
        auto offset = table.contentOffset();
        return { point.x + offset.x, point.y + offset.y };
    }

    bool collect(UIView& view, CGPoint point, std::vector<Hit>& path)
    {
        if (!takesTouches(view) || !view.pointInside(point))
            return false;
        path.push_back({ view.shared_from_this(), point });
        auto* table = dynamic_cast<UITableView*>(&view);
        // A scroll view's content lies moved by its offset.
        auto inner = point;
        if (auto* scroll = dynamic_cast<UIScrollView*>(&view))
            inner = { point.x + scroll->contentOffset().x, point.y + scroll->contentOffset().y };
        auto subviews = view.subviews();
        for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
            // A table's cells lie where its rows are drawn, below.
            if (table && dynamic_cast<UITableViewCell*>(it->get()))
                continue;
            if (collect(**it, minus(inner, (*it)->frame().origin), path))
                return true;
        }
        // A table's rows lie in it, moved by its scroll offset.
        if (table) {
            auto content = contentPoint(*table, point);
            if (auto row = TableGeometry::of(*table).rowAt(content.y)) {
                auto rect = TableGeometry::of(*table).rowRect(*row);
                if (auto cell = table->cellForRowAtIndexPath(*row)) {
                    tableDrawing::placeCell(*table, *cell, *row);
                    CGPoint inCell { content.x - rect.origin.x, content.y - rect.origin.y };
                    collect(*cell, inCell, path);
                }
            }
        }
        return true;
    }

    std::vector<Hit> hitPath(CGPoint point)
    {
        std::vector<Hit> path;
        auto window = UIApplication::sharedApplication().keyWindow();
        if (!window)
            return path;
        UIRenderer::layoutWindow(*window);
        collect(*window, point, path);
        // A presented screen is modal: beside a sheet that leaves the screens below in sight, a
        // touch reaches none of them, only what lies over the sheet (banners).
        auto top = window->rootViewController();
        while (top && top->presentedViewController())
            top = top->presentedViewController();
        if (top && top != window->rootViewController() && top->isViewLoaded() && path.size() > 1) {
            auto& subviews = window->subviews();
            auto sheet = std::find(subviews.begin(), subviews.end(), top->view());
            auto hit = std::find(subviews.begin(), subviews.end(), path[1].view);
            if (sheet != subviews.end() && hit < sheet)
                path.resize(1);
        }
        return path;
    }

    // The table and the row of a cell on the path, when the path goes through one.
    struct RowHit {
        std::shared_ptr<UITableView> table;
        std::optional<NSIndexPath> indexPath;
        std::shared_ptr<UITableViewCell> cell;
        CGPoint pointInCell {};
        CGPoint pointInTable {};
    };

    RowHit rowOf(const std::vector<Hit>& path)
    {
        RowHit hit;
        for (std::size_t index = path.size(); index-- > 0;) {
            if (auto table = std::dynamic_pointer_cast<UITableView>(path[index].view)) {
                hit.table = table;
                hit.pointInTable = path[index].point;
                if (index + 1 < path.size()) {
                    hit.cell = std::dynamic_pointer_cast<UITableViewCell>(path[index + 1].view);
                    if (hit.cell) {
                        hit.indexPath = table->indexPathForCell(*hit.cell);
                        hit.pointInCell = path[index + 1].point;
                    }
                }
                break;
            }
        }
        return hit;
    }

    // The view that takes the typing: the first responder, when it is on screen.
    std::shared_ptr<UIView> typingTarget()
    {
        // The window as it is now: a field whose alert went away takes no typing.
        if (auto window = UIApplication::sharedApplication().keyWindow())
            UIRenderer::layoutWindow(*window);
        auto responder = UIKeyboard::firstResponder();
        return responder && responder->window() ? responder : nullptr;
    }

    std::shared_ptr<UITextField> editedField()
    {
        return std::dynamic_pointer_cast<UITextField>(typingTarget());
    }

    std::shared_ptr<UITextView> editedTextView()
    {
        auto view = std::dynamic_pointer_cast<UITextView>(typingTarget());
        return view && view->isEditable() ? view : nullptr;
    }

    // The deepest view on the path that scrolls its content (a table aside), and the point in it.
    std::optional<Hit> pannedOn(const std::vector<Hit>& path)
    {
        for (std::size_t index = path.size(); index-- > 0;) {
            auto& view = path[index].view;
            if (std::dynamic_pointer_cast<UITableView>(view))
                return std::nullopt;
            if (std::dynamic_pointer_cast<UIScrollView>(view) || std::dynamic_pointer_cast<UIWebView>(view))
                return path[index];
        }
        return std::nullopt;
    }

    bool pan(UIView& view, CGFloat dx, CGFloat dy)
    {
        if (auto* scroll = dynamic_cast<UIScrollView*>(&view))
            return drawing::scrollBy(*scroll, dx, dy);
        if (auto* web = dynamic_cast<UIWebView*>(&view))
            return drawing::scrollWebView(*web, dx, dy);
        return false;
    }

    // The screen on top of the window: the last presented one, or the root.
    std::shared_ptr<UIViewController> topScreen()
    {
        auto window = UIApplication::sharedApplication().keyWindow();
        auto top = window ? window->rootViewController() : nullptr;
        while (top && top->presentedViewController())
            top = top->presentedViewController();
        return top;
    }

    std::shared_ptr<UINavigationController> navigationWithBar(UIView& bar)
    {
        auto window = UIApplication::sharedApplication().keyWindow();
        for (auto controller = window ? window->rootViewController() : nullptr; controller; controller = controller->presentedViewController()) {
            auto navigation = std::dynamic_pointer_cast<UINavigationController>(controller);
            if (navigation && navigation->navigationBar().get() == &bar)
                return navigation;
        }
        return nullptr;
    }

    void revealActions(UITableView& table, const NSIndexPath& indexPath)
    {
        auto& revealed = RevealedRowActions::current();
        revealed.close();
        auto actions = table.swipeRowAtIndexPath(indexPath);
        if (!actions.empty())
            revealed.reveal(table, indexPath, std::move(actions));
        markNeedsDisplay();
    }

    bool scrollTable(UITableView& table, CGFloat dy)
    {
        auto offset = table.contentOffset();
        auto limit = TableGeometry::of(table).maximumOffset(table.frame().size.height);
        auto y = std::clamp(offset.y + dy, 0.0, limit);
        if (y == offset.y)
            return false;
        table.setContentOffset({ offset.x, y });
        markNeedsDisplay();
        return true;
    }

    bool scrollContent(UIView& view, CGFloat dx, CGFloat dy)
    {
        if (auto* table = dynamic_cast<UITableView*>(&view))
            return scrollTable(*table, dy);
        return pan(view, dx, dy);
    }

    double secondsBetween(Clock::time_point from, Clock::time_point to)
    {
        return std::chrono::duration<double>(to - from).count();
    }

    // What the paging keys scroll: the largest table, scroll view or web view of the screen on
    // top, unless an alert is up.
    std::shared_ptr<UIView> pagedView(const std::shared_ptr<UIViewController>& top)
    {
        if (!top || std::dynamic_pointer_cast<UIAlertController>(top) || !top->isViewLoaded())
            return nullptr;
        std::shared_ptr<UIView> found;
        CGFloat largest = 0;
        std::function<void(const std::shared_ptr<UIView>&)> visit = [&](const std::shared_ptr<UIView>& view) {
            if (view->isHidden() || view->alpha() <= 0.01)
                return;
            bool scrolls = std::dynamic_pointer_cast<UIScrollView>(view) || std::dynamic_pointer_cast<UITableView>(view) || std::dynamic_pointer_cast<UIWebView>(view);
            auto size = view->frame().size;
            if (scrolls && size.width * size.height > largest) {
                largest = size.width * size.height;
                found = view;
            }
            for (auto& subview : view->subviews())
                visit(subview);
        };
        visit(top->view());
        return found && found->window() ? found : nullptr;
    }

    CGFloat pageOf(UIView& view)
    {
        auto height = view.frame().size.height;
        if (auto* scroll = dynamic_cast<UIScrollView*>(&view))
            height -= scroll->contentInset().top + scroll->contentInset().bottom;
        return std::max(height / 2, height - pageOverlap);
    }

    // Home and End, Page Up and Page Down on a view that is not being edited.
    void page(UIView& view, UIKey key)
    {
        constexpr CGFloat far = 1e15;
        CGFloat dy = 0;
        switch (key) {
        case UIKey::Home:
        case UIKey::TextStart:
            dy = -far;
            break;
        case UIKey::End:
        case UIKey::TextEnd:
            dy = far;
            break;
        case UIKey::PageUp:
            dy = -pageOf(view);
            break;
        case UIKey::PageDown:
            dy = pageOf(view);
            break;
        default:
            return;
        }
        if (auto* scroll = dynamic_cast<UIScrollView*>(&view)) {
            // The ends exactly: a text view at its end stays there as its lines are measured.
            if (dy == far || dy == -far)
                drawing::scrollTo(*scroll, dy > 0 ? INFINITY : -INFINITY);
            else
                drawing::scrollBy(*scroll, 0, dy);
            return;
        }
        scrollContent(view, 0, dy);
    }

    // The button that closes a presented screen: its Done or Cancel, as a tap on it does.
    std::shared_ptr<UIBarButtonItem> closingItem(UIViewController& screen)
    {
        auto& item = screen.navigationItem();
        auto items = item.leftBarButtonItems();
        auto right = item.rightBarButtonItems();
        items.insert(items.end(), right.begin(), right.end());
        for (auto& candidate : items) {
            auto system = candidate->systemItem();
            bool closes = candidate->style() == UIBarButtonItemStyle::Done || (system && (*system == UIBarButtonSystemItem::Done || *system == UIBarButtonSystemItem::Cancel));
            if (closes && candidate->isEnabled())
                return candidate;
        }
        return nullptr;
    }

    // Taps on a row with revealed actions: an action runs; anything else closes them.
    bool tapRevealed(const std::vector<Hit>& path)
    {
        auto& revealed = RevealedRowActions::current();
        if (!revealed.isOpen())
            return false;
        auto hit = rowOf(path);
        auto table = revealed.table.lock();
        auto actions = revealed.actions;
        auto indexPath = revealed.indexPath;
        revealed.close();
        markNeedsDisplay();
        if (!table || hit.table != table)
            return true;
        auto content = contentPoint(*table, hit.pointInTable);
        auto& geometry = TableGeometry::of(*table);
        if (geometry.rowAt(content.y) != indexPath)
            return true;
        // The buttons sit at the right edge of the row, the first action rightmost.
        auto widths = tableDrawing::actionWidths(actions);
        CGFloat x = geometry.rowRect(indexPath).size.width;
        for (std::size_t index = 0; index < actions.size(); ++index) {
            x -= widths[index];
            if (content.x >= x) {
                actions[index]->perform(indexPath);
                return true;
            }
        }
        return true;
    }

    void tapRow(const RowHit& hit)
    {
        if (!hit.table || !hit.indexPath || !hit.cell)
            return;
        auto type = hit.table->isEditing() ? hit.cell->editingAccessoryType() : hit.cell->accessoryType();
        bool detail = type == UITableViewCellAccessoryType::DetailButton || type == UITableViewCellAccessoryType::DetailDisclosureButton;
        auto width = hit.cell->frame().size.width;
        if (detail && hit.pointInCell.x >= width - tableDrawing::accessoryWidth(*hit.table, *hit.cell)) {
            hit.table->tapAccessoryAtIndexPath(*hit.indexPath);
            return;
        }
        hit.table->tapRowAtIndexPath(*hit.indexPath);
    }

}

std::shared_ptr<UIView> UIView::hitTest(CGPoint point)
{
    std::vector<Hit> path;
    if (!collect(*this, point, path))
        return nullptr;
    return path.back().view;
}

UIEventDispatcher& UIEventDispatcher::shared()
{
    static UIEventDispatcher dispatcher;
    return dispatcher;
}

void UIEventDispatcher::pointerDown(CGPoint point)
{
    // A press stops what coasts, as a finger does.
    stopCoasting();
    m_down = point;
    m_last = point;
    m_axis = Axis::None;
    m_table.reset();
    m_cell.reset();
    m_panned.reset();
    m_moves.clear();
    m_knobView.reset();
    m_knobMoved = false;
    auto path = hitPath(point);
    for (std::size_t index = path.size(); index-- > 0;) {
        auto scroll = std::dynamic_pointer_cast<UIScrollView>(path[index].view);
        if (!scroll)
            continue;
        if (auto grab = drawing::indicatorGrab(*scroll, path[index].point)) {
            m_knobView = scroll;
            m_knobGrab = *grab;
            m_knobViewTop = point.y - path[index].point.y;
            scroll->flashScrollIndicators();
        }
        break;
    }
}

void UIEventDispatcher::pointerMoved(CGPoint point)
{
    if (!m_down)
        return;
    CGFloat dx = point.x - m_down->x, dy = point.y - m_down->y;
    if (auto knob = m_knobView.lock()) {
        // The content follows the knob in proportion, from where it was taken.
        if (m_knobMoved || std::hypot(dx, dy) > tapSlop) {
            m_knobMoved = true;
            drawing::moveIndicator(*knob, point.y - m_knobViewTop - m_knobGrab);
        }
        return;
    }
    auto now = RunLoop::main().clock().now();
    m_moves.emplace_back(now, point);
    std::erase_if(m_moves, [&](auto& move) { return secondsBetween(move.first, now) > speedWindow; });
    if (m_axis == Axis::None && std::hypot(dx, dy) > tapSlop) {
        m_axis = std::abs(dx) > std::abs(dy) ? Axis::Horizontal : Axis::Vertical;
        auto path = hitPath(*m_down);
        auto hit = rowOf(path);
        m_table = hit.table;
        m_cell = hit.cell;
        if (auto panned = pannedOn(path))
            m_panned = panned->view;
        if (m_axis == Axis::Vertical && RevealedRowActions::current().isOpen()) {
            RevealedRowActions::current().close();
            markNeedsDisplay();
        }
    }
    // The content follows the pointer: a scroll view's both ways, a table's up and down.
    if (auto panned = m_panned.lock(); panned && m_axis != Axis::None)
        pan(*panned, m_last.x - point.x, m_last.y - point.y);
    else if (m_axis == Axis::Vertical) {
        if (auto table = m_table.lock())
            scrollTable(*table, m_last.y - point.y);
    }
    m_last = point;
}

void UIEventDispatcher::pointerUp(CGPoint point)
{
    if (!m_down)
        return;
    auto down = *m_down;
    auto axis = m_axis;
    m_down.reset();
    m_axis = Axis::None;
    bool heldKnob = m_knobMoved;
    m_knobView.reset();
    m_knobMoved = false;
    if (heldKnob)
        return;
    if (axis == Axis::None) {
        tap(down);
        return;
    }
    // Let go while moving, the content coasts on at the speed of the last moves.
    auto moving = m_panned.lock();
    if (!moving && axis == Axis::Vertical)
        moving = m_table.lock();
    auto now = RunLoop::main().clock().now();
    if (moving && !m_moves.empty() && secondsBetween(m_moves.back().first, now) <= heldStill) {
        auto& [then, from] = m_moves.front();
        auto seconds = secondsBetween(then, now);
        if (seconds > 0) {
            CGPoint velocity { (from.x - point.x) / seconds, (from.y - point.y) / seconds };
            startCoasting(moving, velocity);
        }
    }
    m_moves.clear();
    auto table = m_table.lock();
    auto cell = std::dynamic_pointer_cast<UITableViewCell>(m_cell.lock());
    if (axis != Axis::Horizontal || !table || !cell)
        return;
    auto indexPath = table->indexPathForCell(*cell);
    if (!indexPath)
        return;
    CGFloat dx = point.x - down.x;
    if (dx <= -swipeDistance)
        revealActions(*table, *indexPath);
    else if (dx >= swipeDistance && RevealedRowActions::current().on(*table, *indexPath)) {
        RevealedRowActions::current().close();
        markNeedsDisplay();
    }
}

void UIEventDispatcher::cancelGesture()
{
    m_down.reset();
    m_axis = Axis::None;
    m_moves.clear();
    m_knobView.reset();
    m_knobMoved = false;
}

void UIEventDispatcher::startCoasting(const std::shared_ptr<UIView>& view, CGPoint velocity)
{
    stopCoasting();
    if (std::hypot(velocity.x, velocity.y) < coastingSpeed)
        return;
    m_coasting = view;
    m_velocity = velocity;
    m_coastedAt = RunLoop::main().clock().now();
    m_coastTimer = NSTimer::scheduledTimerWithTimeInterval(coastingFrame, true, [this](NSTimer&) { coast(); });
}

void UIEventDispatcher::coast()
{
    auto view = m_coasting.lock();
    auto now = RunLoop::main().clock().now();
    auto seconds = secondsBetween(m_coastedAt, now);
    m_coastedAt = now;
    if (!view || !view->window()) {
        stopCoasting();
        return;
    }
    // The distance is the speed's integral over the frame, so it does not hang on the frame rate.
    auto milliseconds = seconds * 1000;
    auto factor = std::pow(decelerationPerMillisecond, milliseconds);
    auto travelled = (factor - 1) / std::log(decelerationPerMillisecond) / 1000;
    bool moved = scrollContent(*view, m_velocity.x * travelled, m_velocity.y * travelled);
    m_velocity = { m_velocity.x * factor, m_velocity.y * factor };
    if (!moved || std::hypot(m_velocity.x, m_velocity.y) < stoppingSpeed)
        stopCoasting();
}

void UIEventDispatcher::stopCoasting()
{
    m_coasting.reset();
    if (auto timer = std::move(m_coastTimer))
        timer->invalidate();
}

void UIEventDispatcher::secondaryClick(CGPoint point)
{
    auto hit = rowOf(hitPath(point));
    if (!hit.table || !hit.indexPath)
        return;
    if (RevealedRowActions::current().on(*hit.table, *hit.indexPath)) {
        RevealedRowActions::current().close();
        markNeedsDisplay();
        return;
    }
    revealActions(*hit.table, *hit.indexPath);
}

void UIEventDispatcher::scroll(CGPoint point, CGFloat dx, CGFloat dy)
{
    auto path = hitPath(point);
    if (auto panned = pannedOn(path)) {
        pan(*panned->view, dx, dy);
        return;
    }
    auto hit = rowOf(path);
    if (!hit.table)
        return;
    if (RevealedRowActions::current().isOpen()) {
        RevealedRowActions::current().close();
        markNeedsDisplay();
    }
    scrollTable(*hit.table, dy);
}

void UIEventDispatcher::zoom(CGPoint point, CGFloat factor)
{
    auto path = hitPath(point);
    for (std::size_t index = path.size(); index-- > 0;) {
        if (auto scroll = std::dynamic_pointer_cast<UIScrollView>(path[index].view)) {
            drawing::zoomAt(*scroll, path[index].point, factor);
            return;
        }
    }
}

void UIEventDispatcher::tap(CGPoint point)
{
    auto path = hitPath(point);
    if (tapRevealed(path))
        return;
    for (std::size_t index = path.size(); index-- > 0;) {
        auto& [view, local] = path[index];
        if (auto field = std::dynamic_pointer_cast<UITextField>(view)) {
            if (field->isEnabled())
                field->becomeFirstResponder();
            return;
        }
        if (auto text = std::dynamic_pointer_cast<UITextView>(view)) {
            if (text->isEditable() && text->becomeFirstResponder())
                textEditing::placeCaret(*text, local);
            return;
        }
        if (auto web = std::dynamic_pointer_cast<UIWebView>(view)) {
            drawing::tapWebView(*web, local);
            return;
        }
        if (auto knob = std::dynamic_pointer_cast<UISwitch>(view)) {
            knob->flip();
            return;
        }
        if (auto segments = std::dynamic_pointer_cast<UISegmentedControl>(view)) {
            if (auto index = segments->segmentAtPoint(local))
                segments->tapSegment(*index);
            return;
        }
        if (auto control = std::dynamic_pointer_cast<UIControl>(view)) {
            // A disabled control takes the tap and does nothing.
            if (control->isEnabled())
                control->sendActionsForControlEvents(UIControlEvent::TouchUpInside);
            return;
        }
        auto recognizers = view->gestureRecognizers();
        for (auto& recognizer : recognizers) {
            if (std::dynamic_pointer_cast<UITapGestureRecognizer>(recognizer) && recognizer->isEnabled()) {
                recognizer->recognize();
                return;
            }
        }
        if (auto bar = std::dynamic_pointer_cast<UINavigationBar>(view)) {
            if (auto* slot = bar->slotAtPoint(local)) {
                if (slot->back) {
                    if (auto navigation = navigationWithBar(*bar))
                        navigation->popViewControllerAnimated(true);
                } else if (slot->item) {
                    slot->item->tap();
                }
            }
            return;
        }
        if (auto toolbar = std::dynamic_pointer_cast<UIToolbar>(view)) {
            if (auto item = drawing::toolbarItemAt(*toolbar, local))
                item->tap();
            return;
        }
        if (auto alert = std::dynamic_pointer_cast<UIAlertControllerView>(view)) {
            auto controller = alert->controller();
            if (auto action = alert->actionAtPoint(local); action && controller)
                controller->chooseAction(action);
            return;
        }
        if (std::dynamic_pointer_cast<UITableView>(view)) {
            tapRow(rowOf(path));
            return;
        }
    }
}

void UIEventDispatcher::insertText(const std::string& text)
{
    if (auto field = editedField(); field && field->isEnabled())
        field->typeText(field->text() + text);
    else if (auto view = editedTextView())
        textEditing::insert(*view, text);
}

void UIEventDispatcher::pressKey(UIKey key)
{
    // A key stops what coasts.
    stopCoasting();
    if (auto view = editedTextView()) {
        using Move = textEditing::Move;
        switch (key) {
        case UIKey::Backspace:
            textEditing::deleteBackward(*view);
            return;
        case UIKey::Return:
            textEditing::insert(*view, "\n");
            return;
        case UIKey::Left:
        case UIKey::Right:
        case UIKey::Up:
        case UIKey::Down:
            textEditing::moveCaret(*view, key == UIKey::Left ? Move::Left : key == UIKey::Right ? Move::Right
                    : key == UIKey::Up                                                          ? Move::Up
                                                                                                : Move::Down);
            return;
        case UIKey::Home:
            textEditing::moveCaret(*view, Move::LineStart);
            return;
        case UIKey::End:
            textEditing::moveCaret(*view, Move::LineEnd);
            return;
        case UIKey::PageUp:
            textEditing::moveCaret(*view, Move::PageUp);
            return;
        case UIKey::PageDown:
            textEditing::moveCaret(*view, Move::PageDown);
            return;
        case UIKey::TextStart:
            textEditing::moveCaret(*view, Move::TextStart);
            return;
        case UIKey::TextEnd:
            textEditing::moveCaret(*view, Move::TextEnd);
            return;
        case UIKey::Escape:
        case UIKey::Tab:
        case UIKey::BackTab:
            break;
        }
    }
    auto field = editedField();
    auto alert = field ? std::dynamic_pointer_cast<UIAlertControllerView>(field->superview()) : nullptr;
    auto alertFields = alert && alert->controller() ? alert->controller()->textFields() : std::vector<std::shared_ptr<UITextField>> {};
    auto at = std::find(alertFields.begin(), alertFields.end(), field);
    // Tab and Shift-Tab go round an alert's fields.
    auto moveTo = [&](std::ptrdiff_t step) {
        auto count = static_cast<std::ptrdiff_t>(alertFields.size());
        if (at == alertFields.end() || count < 2)
            return;
        alertFields[static_cast<std::size_t>(((at - alertFields.begin()) + step + count) % count)]->becomeFirstResponder();
        markNeedsDisplay();
    };
    switch (key) {
    case UIKey::Left:
    case UIKey::Right:
    case UIKey::Up:
    case UIKey::Down:
        // A web page moves with them, as a browser's does.
        if (field)
            return;
        if (auto web = std::dynamic_pointer_cast<UIWebView>(pagedView(topScreen()))) {
            bool sideways = key == UIKey::Left || key == UIKey::Right;
            CGFloat step = key == UIKey::Left || key == UIKey::Up ? -arrowStep : arrowStep;
            drawing::scrollWebView(*web, sideways ? step : 0, sideways ? 0 : step);
        }
        return;
    case UIKey::Home:
    case UIKey::End:
    case UIKey::PageUp:
    case UIKey::PageDown:
    case UIKey::TextStart:
    case UIKey::TextEnd:
        // A field being typed into keeps them; otherwise they page the screen on top.
        if (field)
            return;
        if (auto paged = pagedView(topScreen()))
            page(*paged, key);
        return;
    case UIKey::Backspace:
        if (field && field->isEnabled() && !field->text().empty()) {
            // One character: the last UTF-8 sequence, continuation bytes and all.
            auto text = field->text();
            auto end = text.size() - 1;
            while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
                --end;
            text.erase(end);
            field->typeText(text);
        }
        return;
    case UIKey::Tab:
    case UIKey::BackTab:
        moveTo(key == UIKey::Tab ? 1 : -1);
        return;
    case UIKey::Return:
        // Return in any but the last field goes on to the next, as Tab does.
        if (at != alertFields.end() && at + 1 != alertFields.end()) {
            moveTo(1);
            return;
        }
        if (alert) {
            auto controller = alert->controller();
            if (auto action = alert->returnAction(); action && controller)
                controller->chooseAction(action);
        }
        return;
    case UIKey::Escape: {
        auto top = topScreen();
        if (auto alert = std::dynamic_pointer_cast<UIAlertController>(top)) {
            if (auto view = std::dynamic_pointer_cast<UIAlertControllerView>(alert->view()))
                alert->chooseAction(view->escapeAction());
            return;
        }
        // Back one screen: a pushed screen is popped unless it hides the way back; a presented
        // one closes through its Done or Cancel button, so it asks what that asks first.
        auto navigation = std::dynamic_pointer_cast<UINavigationController>(top);
        auto screen = navigation ? navigation->topViewController() : top;
        if (navigation && navigation->viewControllers().size() >= 2) {
            if (!screen->navigationItem().hidesBackButton())
                navigation->popViewControllerAnimated(true);
            return;
        }
        if (!screen || !top->presentingViewController())
            return;
        if (auto close = closingItem(*screen))
            close->tap();
        return;
    }
    }
}

bool UIEventDispatcher::acceptsText() const
{
    auto field = editedField();
    return (field && field->isEnabled()) || editedTextView();
}

}
