#include "platform/uikit/ScreenLayout.h"

#include "platform/graphics/UIScreen.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIKeyboard.h"
#include "platform/uikit/UINavigationBar.h"
#include "platform/uikit/UITableView.h"
#include "platform/uikit/UIToolbar.h"
#include "platform/uikit/UIViewRendering.h"

#include <algorithm>

namespace vesk::platform {

namespace {

    constexpr CGFloat toolbarHeight = 44;

    // The views the layout put in a window for presented screens.
    struct Presentation {
        std::weak_ptr<UIView> view;
        std::weak_ptr<UIViewController> controller;
    };
    std::vector<Presentation>& presentations()
    {
        static auto* list = new std::vector<Presentation>;
        return *list;
    }

    bool isPad()
    {
        return UIDevice::currentDevice().userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
    }

    bool isSheetOnPad(UIViewController& controller)
    {
        if (!isPad() || dynamic_cast<UIAlertController*>(&controller))
            return false;
        auto style = controller.modalPresentationStyle();
        return style == UIModalPresentationStyle::FormSheet || style == UIModalPresentationStyle::PageSheet || style == UIModalPresentationStyle::Popover;
    }

    // A screen that hides everything beneath it.
    bool coversWindow(UIViewController& controller)
    {
        if (dynamic_cast<UIAlertController*>(&controller) || isSheetOnPad(controller))
            return false;
        auto style = controller.modalPresentationStyle();
        return style != UIModalPresentationStyle::OverFullScreen && style != UIModalPresentationStyle::OverCurrentContext && style != UIModalPresentationStyle::Custom;
    }

    // The container that is presented, or is the root, for a screen inside it.
    std::shared_ptr<UIViewController> outermost(UIViewController& controller)
    {
        auto current = controller.shared_from_this();
        while (auto parent = current->parentViewController())
            current = parent;
        return current;
    }

    std::shared_ptr<UIViewController> presentationShowing(const UIView& view)
    {
        for (auto& entry : presentations()) {
            if (entry.view.lock().get() == &view)
                return entry.controller.lock();
        }
        return nullptr;
    }

    void layoutController(UIViewController& controller)
    {
        if (auto* navigation = dynamic_cast<UINavigationController*>(&controller))
            screenLayout::layoutNavigationController(*navigation);
        else if (dynamic_cast<UIAlertController*>(&controller))
            controller.view()->layoutSubviews();
    }

    std::size_t structureSignature(UIWindow& window)
    {
        std::size_t seed = UIApplication::sharedApplication().isStatusBarHidden();
        // The caret moves with the typing.
        seed = drawing::combine(seed, std::hash<const void*> {}(UIKeyboard::firstResponder().get()));
        for (auto controller = window.rootViewController(); controller; controller = controller->presentedViewController()) {
            seed = drawing::combine(seed, std::hash<const void*> {}(controller.get()));
            if (auto* navigation = dynamic_cast<UINavigationController*>(controller.get())) {
                for (auto& child : navigation->viewControllers())
                    seed = drawing::combine(seed, std::hash<const void*> {}(child.get()));
                seed = drawing::combine(seed, navigation->isNavigationBarHidden() * 2 + navigation->isToolbarHidden());
                if (auto top = navigation->topViewController()) {
                    seed = drawing::combine(seed, top->navigationItem().prompt().has_value());
                    for (auto& item : top->toolbarItems())
                        seed = drawing::combine(seed, std::hash<const void*> {}(item.get()));
                }
            }
        }
        return seed;
    }

}

namespace screenLayout {

    void layoutNavigationController(UINavigationController& navigation)
    {
        auto view = navigation.view();
        auto size = view->frame().size;
        auto& application = UIApplication::sharedApplication();
        // A bar at the top of the window sits under the status bar, its colour reaching up.
        auto origin = view->convertRectToView(CGRectZero, nullptr).origin;
        CGFloat strip = origin.y <= 0 && !application.isStatusBarHidden() ? application.statusBarFrame().size.height : 0;
        auto top = navigation.topViewController();

        auto bar = navigation.navigationBar();
        bool barShown = !navigation.isNavigationBarHidden();
        CGFloat barHeight = UINavigationBar::heightForPrompt(top && top->navigationItem().prompt());
        bar->setHidden(!barShown);
        bar->setFrame(CGRectMake(0, strip, size.width, barHeight));
        auto toolbar = navigation.toolbar();
        bool toolbarShown = !navigation.isToolbarHidden();
        toolbar->setHidden(!toolbarShown);
        toolbar->setFrame(CGRectMake(0, size.height - toolbarHeight, size.width, toolbarHeight));

        std::shared_ptr<UIView> content = top ? top->view() : nullptr;
        // Screens that were on top before leave the container.
        auto subviews = view->subviews();
        for (auto& subview : subviews) {
            if (subview != bar && subview != toolbar && subview != content)
                subview->removeFromSuperview();
        }
        if (content) {
            if (content->superview() != view)
                view->insertSubviewAtIndex(content, 0);
            // The screen's view lies under the bars, as the platform's does; a table, whose
            // rows the platform keeps clear of the bars, lies between them.
            if (std::dynamic_pointer_cast<UITableView>(content)) {
                CGFloat contentTop = barShown ? strip + barHeight : 0;
                CGFloat contentBottom = toolbarShown ? size.height - toolbarHeight : size.height;
                content->setFrame(CGRectMake(0, contentTop, size.width, std::max(0.0, contentBottom - contentTop)));
            } else {
                content->setFrame(CGRectMake(0, 0, size.width, size.height));
            }
        }
        if (bar->superview() != view)
            view->addSubview(bar);
        if (toolbar->superview() != view)
            view->addSubview(toolbar);
        if (barShown)
            bar->layoutForNavigationController(navigation, strip);
    }

    CGRect boundsForLoadingView(UIViewController& controller)
    {
        auto screen = UIScreen::mainScreen().bounds();
        auto frame = presentedFrame(*outermost(controller), screen);
        return CGRectMake(0, 0, frame.size.width, frame.size.height);
    }

    CGFloat topBarsHeight(UIViewController& controller)
    {
        auto& application = UIApplication::sharedApplication();
        CGFloat strip = isSheetOnPad(*outermost(controller)) || application.isStatusBarHidden() ? 0 : application.statusBarFrame().size.height;
        auto navigation = controller.navigationController();
        if (!navigation || navigation->isNavigationBarHidden())
            return strip;
        return strip + UINavigationBar::heightForPrompt(controller.navigationItem().prompt().has_value());
    }

    CGRect presentedFrame(UIViewController& controller, const CGRect& windowBounds)
    {
        if (!isSheetOnPad(controller))
            return windowBounds;
        auto width = std::min(540.0, windowBounds.size.width);
        auto height = std::min(620.0, windowBounds.size.height);
        return CGRectMake((windowBounds.size.width - width) / 2, (windowBounds.size.height - height) / 2, width, height);
    }

    std::size_t firstShownSubview(UIWindow& window)
    {
        std::size_t first = 0;
        auto& subviews = window.subviews();
        for (std::size_t index = 0; index < subviews.size(); ++index) {
            if (auto controller = presentationShowing(*subviews[index]); controller && coversWindow(*controller))
                first = index;
        }
        return first;
    }

    void drawPresentationBackdrop(UIWindow& window, UIView& subview, cairo_t* cr)
    {
        auto controller = presentationShowing(subview);
        if (!controller || !isSheetOnPad(*controller))
            return;
        drawing::fillRect(cr, window.bounds(), UIColor(0, 0, 0, 0.4));
        // A sheet as grey as the dimmed screen still shows its edges.
        auto frame = subview.frame();
        cairo_new_path(cr);
        cairo_rectangle(cr, frame.origin.x, frame.origin.y, frame.size.width, frame.size.height);
        drawing::shadowAround(cr);
        cairo_new_path(cr);
    }

}

void UIRenderer::layoutWindow(UIWindow& window)
{
    auto bounds = window.bounds();
    auto self = std::static_pointer_cast<UIWindow>(window.shared_from_this());
    auto root = window.rootViewController();
    std::vector<std::shared_ptr<UIViewController>> chain;
    std::shared_ptr<UIView> below;
    if (root) {
        below = root->view();
        if (below->superview() != self)
            window.insertSubviewAtIndex(below, 0);
        below->setFrame(bounds);
        layoutController(*root);
        for (auto presented = root->presentedViewController(); presented; presented = presented->presentedViewController())
            chain.push_back(presented);
    }

    // Dismissed screens leave the window.
    auto& records = presentations();
    for (auto it = records.begin(); it != records.end();) {
        auto view = it->view.lock();
        auto controller = it->controller.lock();
        bool shown = controller && std::find(chain.begin(), chain.end(), controller) != chain.end() && controller->isViewLoaded() && controller->view() == view;
        if (view && shown) {
            ++it;
            continue;
        }
        if (view && view->superview() == self) {
            // Typing into a screen that went away ends.
            if (auto responder = UIKeyboard::firstResponder(); responder && responder->isDescendantOfView(*view))
                UIKeyboard::resignFirstResponder(*responder);
            view->removeFromSuperview();
        }
        it = records.erase(it);
    }

    // Each presented screen lies just over its presenter, under the banners.
    for (auto& controller : chain) {
        auto view = controller->view();
        if (view->superview() != self) {
            auto& subviews = window.subviews();
            auto at = std::find(subviews.begin(), subviews.end(), below);
            window.insertSubviewAtIndex(view, at == subviews.end() ? subviews.size() : static_cast<std::size_t>(at - subviews.begin()) + 1);
            records.push_back({ view, controller });
        }
        view->setFrame(screenLayout::presentedFrame(*controller, bounds));
        layoutController(*controller);
        below = view;
    }

    std::weak_ptr<UIWindow> weak = self;
    drawing::watch([weak] {
        auto window = weak.lock();
        return window ? structureSignature(*window) : 0;
    });
}

}
