#include "platform/uikit/UIDriver.h"

#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/RendererProcess.h"
#include "platform/uikit/UIToolbar.h"
#include "platform/uikit/UIViewRendering.h"
#include "platform/uikit/UIWebView.h"

namespace vesk::platform {

UIDriver::UIDriver()
{
    RunLoop::main().useFakeClock();
}

std::vector<std::shared_ptr<UIViewController>> UIDriver::screenStack() const
{
    std::vector<std::shared_ptr<UIViewController>> stack;
    auto window = UIApplication::sharedApplication().keyWindow();
    if (!window)
        return stack;
    for (auto current = window->rootViewController(); current; current = current->presentedViewController())
        stack.push_back(current);
    return stack;
}

std::shared_ptr<UIViewController> UIDriver::topViewController() const
{
    auto stack = screenStack();
    return stack.empty() ? nullptr : stack.back();
}

std::shared_ptr<UIViewController> UIDriver::visibleScreen() const
{
    auto top = topViewController();
    if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(top))
        return navigation->topViewController();
    return top;
}

std::shared_ptr<UIAlertController> UIDriver::alert() const
{
    return std::dynamic_pointer_cast<UIAlertController>(topViewController());
}

bool UIDriver::chooseAlertAction(const std::string& title)
{
    auto shown = alert();
    if (!shown)
        return false;
    return shown->chooseAction(shown->actionWithTitle(title));
}

bool UIDriver::typeIntoField(std::size_t index, const std::string& text)
{
    auto shown = alert();
    if (!shown || index >= shown->textFields().size())
        return false;
    shown->textFields()[index]->typeText(text);
    return true;
}

void UIDriver::tapRow(UITableView& table, const NSIndexPath& indexPath)
{
    table.tapRowAtIndexPath(indexPath);
}

std::optional<NSIndexPath> UIDriver::rowWithText(UITableView& table, const std::string& text)
{
    for (int section = 0; section < table.numberOfSections(); ++section) {
        for (int row = 0; row < table.numberOfRowsInSection(section); ++row) {
            auto cell = table.cellForRowAtIndexPath({ section, row });
            if (cell && cell->textLabel()->text() == text)
                return NSIndexPath { section, row };
        }
    }
    return std::nullopt;
}

std::vector<std::string> UIDriver::rowTitles(UITableView& table, int section)
{
    std::vector<std::string> titles;
    for (int row = 0; row < table.numberOfRowsInSection(section); ++row) {
        auto cell = table.cellForRowAtIndexPath({ section, row });
        titles.push_back(cell ? cell->textLabel()->text().value_or("") : "");
    }
    return titles;
}

std::vector<std::string> UIDriver::swipeRow(UITableView& table, const NSIndexPath& indexPath)
{
    std::vector<std::string> titles;
    for (auto& action : table.swipeRowAtIndexPath(indexPath))
        titles.push_back(action->title());
    return titles;
}

bool UIDriver::chooseRowAction(UITableView& table, const NSIndexPath& indexPath, const std::string& title)
{
    for (auto& action : table.swipeRowAtIndexPath(indexPath)) {
        if (action->title() == title) {
            action->perform(indexPath);
            return true;
        }
    }
    return false;
}

std::shared_ptr<UIBarButtonItem> UIDriver::barButton(UIViewController& screen, const std::string& title) const
{
    std::vector<std::shared_ptr<UIBarButtonItem>> items = screen.toolbarItems();
    auto& navigation = screen.navigationItem();
    items.insert(items.end(), navigation.leftBarButtonItems().begin(), navigation.leftBarButtonItems().end());
    items.insert(items.end(), navigation.rightBarButtonItems().begin(), navigation.rightBarButtonItems().end());
    // Toolbars of the screen's own view.
    if (screen.isViewLoaded()) {
        std::vector<std::shared_ptr<UIView>> views { screen.view() };
        while (!views.empty()) {
            auto view = views.back();
            views.pop_back();
            if (auto toolbar = std::dynamic_pointer_cast<UIToolbar>(view))
                items.insert(items.end(), toolbar->items().begin(), toolbar->items().end());
            views.insert(views.end(), view->subviews().begin(), view->subviews().end());
        }
    }
    for (auto& item : items) {
        if (item && item->title() == title)
            return item;
    }
    return nullptr;
}

bool UIDriver::tapBarButton(UIViewController& screen, const std::string& title)
{
    auto item = barButton(screen, title);
    if (!item)
        return false;
    item->tap();
    return true;
}

std::shared_ptr<UIViewController> UIDriver::peek(UIViewController& screen, CGPoint location)
{
    for (auto& registration : screen.previewRegistrations()) {
        if (auto delegate = registration.delegate.lock())
            return delegate->previewingContextViewControllerForLocation(*registration.context, location);
    }
    return nullptr;
}

void UIDriver::pop(UIViewController& screen, const std::shared_ptr<UIViewController>& preview)
{
    for (auto& registration : screen.previewRegistrations()) {
        if (auto delegate = registration.delegate.lock()) {
            delegate->previewingContextCommitViewController(*registration.context, preview);
            return;
        }
    }
}

void UIDriver::tapView(UIView& view)
{
    // Tap recognizers on one view compete: the first enabled one wins the tap.
    auto recognizers = view.gestureRecognizers();
    for (auto& recognizer : recognizers) {
        if (std::dynamic_pointer_cast<UITapGestureRecognizer>(recognizer) && recognizer->isEnabled()) {
            recognizer->recognize();
            return;
        }
    }
}

bool UIDriver::tapLink(UIWebView& webView, const std::string& text)
{
    for (auto& link : webView.links()) {
        if (link.text == text) {
            auto chosen = link;
            webView.followLink(chosen);
            return true;
        }
    }
    return false;
}

void UIDriver::advance(double seconds)
{
    RunLoop::main().advanceSeconds(seconds);
}

namespace {

    // Renderer processes count as work under way until they have answered.
    bool drainAll()
    {
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            bool drained = RunLoop::main().drain();
            if (!RendererProcess::anyBusy())
                return drained;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !RunLoop::main().runUntil([] { return !RendererProcess::anyBusy(); }, left))
                return false;
        }
    }

}

bool UIDriver::drain()
{
    return drainAll();
}

std::shared_ptr<UIImage> UIDriver::render(CGFloat scale) const
{
    auto window = UIApplication::sharedApplication().keyWindow();
    if (!window)
        return nullptr;
    auto asked = RendererProcess::viewportsAsked();
    auto image = UIRenderer::imageOfWindow(*window, scale);
    // A web view asks its renderer for the pixels of what it shows as it draws: once they have
    // come (their frame may already be in, its pixels queued for the main thread), the window
    // is drawn again.
    for (int round = 0; round < 4 && (RendererProcess::anyBusy() || RendererProcess::viewportsAsked() != asked); ++round) {
        asked = RendererProcess::viewportsAsked();
        drainAll();
        image = UIRenderer::imageOfWindow(*window, scale);
    }
    return image;
}

void UIDriver::tapAt(CGPoint point)
{
    auto& events = UIEventDispatcher::shared();
    events.pointerDown(point);
    events.pointerUp(point);
}

void UIDriver::dragFrom(CGPoint from, CGPoint to)
{
    dragFrom(from, to, 0);
}

void UIDriver::dragFrom(CGPoint from, CGPoint to, double seconds)
{
    auto& events = UIEventDispatcher::shared();
    events.pointerDown(from);
    // In steps, as a hand moves.
    constexpr int steps = 8;
    for (int step = 1; step <= steps; ++step) {
        if (seconds > 0)
            advance(seconds / steps);
        events.pointerMoved({ from.x + (to.x - from.x) * step / steps, from.y + (to.y - from.y) * step / steps });
    }
    events.pointerUp(to);
}

}
