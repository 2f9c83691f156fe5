#include "platform/uikit/UIViewController.h"

#include "platform/foundation/Dispatch.h"
#include "platform/graphics/UIScreen.h"
#include "platform/uikit/ScreenLayout.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UINavigationBar.h"
#include "platform/uikit/UIToolbar.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace vesk::platform {

namespace {

    std::atomic<UIForceTouchCapability> forceTouch { UIForceTouchCapability::Available };

    // Presentation belongs to the outermost container, as on the platform: a screen inside a
    // navigation controller presents through that controller.
    std::shared_ptr<UIViewController> presentationContext(std::shared_ptr<UIViewController> controller)
    {
        while (auto parent = controller->parentViewController())
            controller = parent;
        return controller;
    }

    void finish(bool animated, std::function<void()> completion)
    {
        if (!completion)
            return;
        if (animated)
            DispatchQueue::main().async(std::move(completion));
        else
            completion();
    }

}

void UINavigationItem::setLeftBarButtonItem(std::shared_ptr<UIBarButtonItem> item)
{
    m_left.clear();
    if (item)
        m_left.push_back(std::move(item));
}

void UINavigationItem::setRightBarButtonItem(std::shared_ptr<UIBarButtonItem> item)
{
    m_right.clear();
    if (item)
        m_right.push_back(std::move(item));
}

UIViewController::UIViewController() = default;
UIViewController::~UIViewController() = default;

std::shared_ptr<UIView> UIViewController::view()
{
    if (!m_view) {
        loadView();
        if (!m_view)
            UIViewController::loadView();
        viewDidLoad();
    }
    return m_view;
}

void UIViewController::loadView()
{
    // A scene's view: opaque, as big as its container makes it, and following its size.
    m_view = std::make_shared<UIView>(screenLayout::boundsForLoadingView(*this));
    m_view->setBackgroundColor(UIColor::whiteColor());
    m_view->setAutoresizingMask(UIViewAutoresizing::FlexibleWidth | UIViewAutoresizing::FlexibleHeight);
}

UILayoutSupport UIViewController::topLayoutGuide()
{
    return { screenLayout::topBarsHeight(*this) };
}

void UIViewController::setTitle(std::optional<std::string> title)
{
    m_title = title;
    m_navigationItem.setTitle(std::move(title));
}

void UIViewController::setToolbarItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool)
{
    m_toolbarItems = std::move(items);
}

void UIViewController::setEditing(bool editing, bool)
{
    m_editing = editing;
    if (m_editButtonItem)
        m_editButtonItem->setTitle(editing ? "Done" : "Edit");
}

std::shared_ptr<UIBarButtonItem> UIViewController::editButtonItem()
{
    if (!m_editButtonItem) {
        std::weak_ptr<UIViewController> weak = weak_from_this();
        m_editButtonItem = std::make_shared<UIBarButtonItem>(std::optional<std::string>("Edit"), UIBarButtonItemStyle::Plain,
            [weak](UIBarButtonItem&) {
                if (auto self = weak.lock())
                    self->setEditing(!self->isEditing(), true);
            });
    }
    return m_editButtonItem;
}

std::shared_ptr<UINavigationController> UIViewController::navigationController() const
{
    for (auto parent = m_parent.lock(); parent; parent = parent->parentViewController()) {
        if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(parent))
            return navigation;
    }
    return nullptr;
}

void UIViewController::beginAppearance(bool appearing, bool animated)
{
    if (appearing) {
        if (m_visible)
            return;
        view();
        viewWillAppear(animated);
    } else {
        if (!m_visible)
            return;
        viewWillDisappear(animated);
    }
}

void UIViewController::endAppearance(bool appearing, bool animated)
{
    if (appearing) {
        if (m_visible)
            return;
        m_visible = true;
        viewDidAppear(animated);
    } else {
        if (!m_visible)
            return;
        m_visible = false;
        viewDidDisappear(animated);
    }
}

void UIViewController::presentViewController(const std::shared_ptr<UIViewController>& controller, bool animated, std::function<void()> completion)
{
    if (!controller)
        return;
    auto presenter = presentationContext(shared_from_this());
    if (presenter->m_presented) {
        std::fprintf(stderr, "Warning: attempt to present a screen on one that is already presenting\n");
        return;
    }
    presenter->m_presented = controller;
    controller->m_presenting = presenter;
    bool coversPresenter = controller->m_modalPresentationStyle == UIModalPresentationStyle::FullScreen;
    if (coversPresenter)
        presenter->beginAppearance(false, animated);
    controller->beginAppearance(true, animated);
    if (coversPresenter)
        presenter->endAppearance(false, animated);
    controller->endAppearance(true, animated);
    finish(animated, std::move(completion));
}

void UIViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion)
{
    auto context = presentationContext(shared_from_this());
    std::shared_ptr<UIViewController> presenter;
    if (context->m_presented)
        presenter = context;
    else
        presenter = context->m_presenting.lock();
    if (!presenter || !presenter->m_presented) {
        finish(animated, std::move(completion));
        return;
    }
    // Everything above the presenter goes, the topmost first.
    std::vector<std::shared_ptr<UIViewController>> chain;
    for (auto current = presenter->m_presented; current; current = current->m_presented)
        chain.push_back(current);
    bool uncoversPresenter = chain.front()->m_modalPresentationStyle == UIModalPresentationStyle::FullScreen;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        (*it)->beginAppearance(false, animated);
    if (uncoversPresenter)
        presenter->beginAppearance(true, animated);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        (*it)->endAppearance(false, animated);
        (*it)->m_presented.reset();
        (*it)->m_presenting.reset();
    }
    presenter->m_presented.reset();
    if (uncoversPresenter)
        presenter->endAppearance(true, animated);
    finish(animated, std::move(completion));
}

void UIViewController::showViewController(const std::shared_ptr<UIViewController>& controller)
{
    if (auto navigation = navigationController())
        navigation->pushViewController(controller, true);
    else if (auto self = std::dynamic_pointer_cast<UINavigationController>(shared_from_this()))
        self->pushViewController(controller, true);
    else
        presentViewController(controller, true);
}

UIForceTouchCapability UIViewController::forceTouchCapability() const
{
    return forceTouch.load();
}

void UIViewController::setForceTouchCapability(UIForceTouchCapability capability)
{
    forceTouch.store(capability);
}

std::shared_ptr<UIViewControllerPreviewing> UIViewController::registerForPreviewingWithDelegate(
    const std::shared_ptr<UIViewControllerPreviewingDelegate>& delegate, const std::shared_ptr<UIView>& sourceView)
{
    auto context = std::make_shared<UIViewControllerPreviewing>();
    context->m_sourceView = sourceView;
    if (sourceView)
        context->m_sourceRect = sourceView->bounds();
    m_previewing.push_back({ delegate, context });
    return context;
}

void UIViewController::unregisterForPreviewing(const std::shared_ptr<UIViewControllerPreviewing>& context)
{
    m_previewing.erase(std::remove_if(m_previewing.begin(), m_previewing.end(),
                           [&](const PreviewRegistration& entry) { return entry.context == context; }),
        m_previewing.end());
}

UINavigationController::UINavigationController() = default;

std::shared_ptr<UINavigationController> UINavigationController::initWithRootViewController(const std::shared_ptr<UIViewController>& root)
{
    auto navigation = std::make_shared<UINavigationController>();
    navigation->pushViewController(root, false);
    return navigation;
}

void UINavigationController::adopt(const std::shared_ptr<UIViewController>& controller)
{
    if (auto old = controller->navigationController(); old && old.get() != this) {
        auto& stack = old->m_stack;
        stack.erase(std::remove(stack.begin(), stack.end(), controller), stack.end());
    }
    controller->setParent(std::static_pointer_cast<UIViewController>(shared_from_this()));
}

std::shared_ptr<UIViewController> UINavigationController::visibleViewController() const
{
    auto top = topViewController();
    if (auto presented = presentedViewController())
        return presented;
    return top;
}

void UINavigationController::showTop(const std::shared_ptr<UIViewController>& previous, bool animated)
{
    auto top = topViewController();
    if (!isVisible() || previous == top)
        return;
    if (previous)
        previous->beginAppearance(false, animated);
    if (top)
        top->beginAppearance(true, animated);
    if (previous)
        previous->endAppearance(false, animated);
    if (top)
        top->endAppearance(true, animated);
}

void UINavigationController::pushViewController(const std::shared_ptr<UIViewController>& controller, bool animated)
{
    if (!controller || std::find(m_stack.begin(), m_stack.end(), controller) != m_stack.end())
        return;
    auto previous = topViewController();
    adopt(controller);
    m_stack.push_back(controller);
    showTop(previous, animated);
}

std::shared_ptr<UIViewController> UINavigationController::popViewControllerAnimated(bool animated)
{
    if (m_stack.size() < 2)
        return nullptr;
    auto popped = m_stack.back();
    m_stack.pop_back();
    showTop(popped, animated);
    popped->setParent(nullptr);
    return popped;
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::popToRootViewControllerAnimated(bool animated)
{
    if (m_stack.empty())
        return {};
    return popToViewController(m_stack.front(), animated);
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::popToViewController(const std::shared_ptr<UIViewController>& controller, bool animated)
{
    auto it = std::find(m_stack.begin(), m_stack.end(), controller);
    if (it == m_stack.end())
        return {};
    std::vector<std::shared_ptr<UIViewController>> popped(it + 1, m_stack.end());
    if (popped.empty())
        return popped;
    auto previous = topViewController();
    m_stack.erase(it + 1, m_stack.end());
    showTop(previous, animated);
    for (auto& gone : popped)
        gone->setParent(nullptr);
    return popped;
}

void UINavigationController::setViewControllers(std::vector<std::shared_ptr<UIViewController>> controllers, bool animated)
{
    auto previous = topViewController();
    for (auto& old : m_stack) {
        if (std::find(controllers.begin(), controllers.end(), old) == controllers.end())
            old->setParent(nullptr);
    }
    m_stack.clear();
    for (auto& controller : controllers) {
        if (!controller || std::find(m_stack.begin(), m_stack.end(), controller) != m_stack.end())
            continue;
        adopt(controller);
        m_stack.push_back(controller);
    }
    showTop(previous, animated);
}

void UINavigationController::setToolbarHidden(bool hidden, bool)
{
    m_toolbarHidden = hidden;
}

void UINavigationController::setNavigationBarHidden(bool hidden, bool)
{
    m_navigationBarHidden = hidden;
}

std::shared_ptr<UINavigationBar> UINavigationController::navigationBar() const
{
    if (!m_navigationBar) {
        auto screen = UIScreen::mainScreen().bounds();
        m_navigationBar = std::make_shared<UINavigationBar>(CGRectMake(0, 20, screen.size.width, 44));
    }
    return m_navigationBar;
}

std::shared_ptr<UIToolbar> UINavigationController::toolbar() const
{
    if (!m_toolbar) {
        auto screen = UIScreen::mainScreen().bounds();
        m_toolbar = std::make_shared<UIToolbar>(CGRectMake(0, screen.size.height - 44, screen.size.width, 44));
    }
    auto top = topViewController();
    m_toolbar->setItems(top ? top->toolbarItems() : std::vector<std::shared_ptr<UIBarButtonItem>> {});
    return m_toolbar;
}

void UINavigationController::beginAppearance(bool appearing, bool animated)
{
    bool wasVisible = isVisible();
    UIViewController::beginAppearance(appearing, animated);
    if (appearing != wasVisible) {
        if (auto top = topViewController())
            top->beginAppearance(appearing, animated);
    }
}

void UINavigationController::endAppearance(bool appearing, bool animated)
{
    bool wasVisible = isVisible();
    UIViewController::endAppearance(appearing, animated);
    if (appearing != wasVisible) {
        if (auto top = topViewController())
            top->endAppearance(appearing, animated);
    }
}

}
