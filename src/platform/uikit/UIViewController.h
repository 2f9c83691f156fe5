#pragma once

#include "platform/graphics/CGGeometry.h"
#include "platform/uikit/UIBarButtonItem.h"
#include "platform/uikit/UIView.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

class UINavigationController;
class UINavigationBar;
class UIToolbar;

enum class UIModalPresentationStyle {
    FullScreen = 0,
    PageSheet = 1,
    FormSheet = 2,
    CurrentContext = 3,
    Custom = 4,
    OverFullScreen = 5,
    OverCurrentContext = 6,
    Popover = 7,
};

// Where a popover (an action sheet on a pad) points.
class UIPopoverPresentationController {
public:
    std::shared_ptr<UIView> sourceView() const { return m_sourceView.lock(); }
    void setSourceView(const std::shared_ptr<UIView>& view) { m_sourceView = view; }
    CGRect sourceRect() const { return m_sourceRect; }
    void setSourceRect(CGRect rect) { m_sourceRect = rect; }
    std::shared_ptr<UIBarButtonItem> barButtonItem() const { return m_barButtonItem.lock(); }
    void setBarButtonItem(const std::shared_ptr<UIBarButtonItem>& item) { m_barButtonItem = item; }

private:
    std::weak_ptr<UIView> m_sourceView;
    CGRect m_sourceRect {};
    std::weak_ptr<UIBarButtonItem> m_barButtonItem;
};

class UINavigationItem {
public:
    const std::optional<std::string>& title() const { return m_title; }
    void setTitle(std::optional<std::string> title) { m_title = std::move(title); }
    std::shared_ptr<UIBarButtonItem> leftBarButtonItem() const { return m_left.empty() ? nullptr : m_left.front(); }
    void setLeftBarButtonItem(std::shared_ptr<UIBarButtonItem> item);
    const std::vector<std::shared_ptr<UIBarButtonItem>>& leftBarButtonItems() const { return m_left; }
    void setLeftBarButtonItems(std::vector<std::shared_ptr<UIBarButtonItem>> items) { m_left = std::move(items); }
    std::shared_ptr<UIBarButtonItem> rightBarButtonItem() const { return m_right.empty() ? nullptr : m_right.front(); }
    void setRightBarButtonItem(std::shared_ptr<UIBarButtonItem> item);
    const std::vector<std::shared_ptr<UIBarButtonItem>>& rightBarButtonItems() const { return m_right; }
    void setRightBarButtonItems(std::vector<std::shared_ptr<UIBarButtonItem>> items) { m_right = std::move(items); }
    std::shared_ptr<UIBarButtonItem> backBarButtonItem() const { return m_back; }
    void setBackBarButtonItem(std::shared_ptr<UIBarButtonItem> item) { m_back = std::move(item); }
    bool hidesBackButton() const { return m_hidesBackButton; }
    void setHidesBackButton(bool hides) { m_hidesBackButton = hides; }
    std::shared_ptr<UIView> titleView() const { return m_titleView; }
    void setTitleView(std::shared_ptr<UIView> view) { m_titleView = std::move(view); }
    // The line of text above the bar's title.
    const std::optional<std::string>& prompt() const { return m_prompt; }
    void setPrompt(std::optional<std::string> prompt) { m_prompt = std::move(prompt); }

private:
    std::optional<std::string> m_prompt;
    std::optional<std::string> m_title;
    std::vector<std::shared_ptr<UIBarButtonItem>> m_left;
    std::vector<std::shared_ptr<UIBarButtonItem>> m_right;
    std::shared_ptr<UIBarButtonItem> m_back;
    bool m_hidesBackButton = false;
    std::shared_ptr<UIView> m_titleView;
};

class UIViewController;

// Where the bars above a screen's content end, in its view.
struct UILayoutSupport {
    CGFloat length = 0;
};

// What a 3D-Touch peek asks of the screen that registered for previewing.
class UIViewControllerPreviewing {
public:
    std::shared_ptr<UIView> sourceView() const { return m_sourceView.lock(); }
    CGRect sourceRect() const { return m_sourceRect; }
    void setSourceRect(CGRect rect) { m_sourceRect = rect; }

private:
    friend class UIViewController;
    std::weak_ptr<UIView> m_sourceView;
    CGRect m_sourceRect {};
};

class UIViewControllerPreviewingDelegate {
public:
    virtual ~UIViewControllerPreviewingDelegate() = default;
    virtual std::shared_ptr<UIViewController> previewingContextViewControllerForLocation(UIViewControllerPreviewing& context, CGPoint location) = 0;
    virtual void previewingContextCommitViewController(UIViewControllerPreviewing& context, const std::shared_ptr<UIViewController>& controller) = 0;
};

enum class UIForceTouchCapability {
    Unknown,
    Unavailable,
    Available,
};

class UIViewController : public std::enable_shared_from_this<UIViewController> {
public:
    UIViewController();
    virtual ~UIViewController();
    UIViewController(const UIViewController&) = delete;
    UIViewController& operator=(const UIViewController&) = delete;

    // The view is made on first use: loadView, then viewDidLoad.
    std::shared_ptr<UIView> view();
    bool isViewLoaded() const { return m_view != nullptr; }
    void setView(std::shared_ptr<UIView> view) { m_view = std::move(view); }
    virtual void loadView();
    virtual void viewDidLoad() { }
    virtual void viewWillAppear(bool) { }
    virtual void viewDidAppear(bool) { }
    virtual void viewWillDisappear(bool) { }
    virtual void viewDidDisappear(bool) { }
    virtual void didReceiveMemoryWarning() { }
    // The status and navigation bars over the screen's view, as its container shows them.
    UILayoutSupport topLayoutGuide();
    // Whether the controller's view is on screen (between appearing and disappearing).
    bool isVisible() const { return m_visible; }

    const std::optional<std::string>& title() const { return m_title; }
    virtual void setTitle(std::optional<std::string> title);
    UINavigationItem& navigationItem() { return m_navigationItem; }
    const std::vector<std::shared_ptr<UIBarButtonItem>>& toolbarItems() const { return m_toolbarItems; }
    void setToolbarItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool animated = false);

    bool isEditing() const { return m_editing; }
    virtual void setEditing(bool editing, bool animated);
    // The platform's Edit/Done item, which toggles editing.
    std::shared_ptr<UIBarButtonItem> editButtonItem();

    std::shared_ptr<UINavigationController> navigationController() const;
    std::shared_ptr<UIViewController> parentViewController() const { return m_parent.lock(); }

    // Presentation: one presented controller at a time, as on the platform.
    void presentViewController(const std::shared_ptr<UIViewController>& controller, bool animated, std::function<void()> completion = {});
    // Dismisses what this controller presented, or, when it presented nothing, this
    // controller itself from its presenter.
    void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
    std::shared_ptr<UIViewController> presentedViewController() const { return m_presented; }
    std::shared_ptr<UIViewController> presentingViewController() const { return m_presenting.lock(); }
    UIModalPresentationStyle modalPresentationStyle() const { return m_modalPresentationStyle; }
    void setModalPresentationStyle(UIModalPresentationStyle style) { m_modalPresentationStyle = style; }
    UIPopoverPresentationController& popoverPresentationController() { return m_popover; }
    // The size a container (a peek, a popover) gives the screen; 0 leaves a side to the container.
    CGSize preferredContentSize() const { return m_preferredContentSize; }
    void setPreferredContentSize(CGSize size) { m_preferredContentSize = size; }
    // Pushes onto the navigation stack when there is one, presents otherwise.
    void showViewController(const std::shared_ptr<UIViewController>& controller);

    // 3D-Touch previewing.
    UIForceTouchCapability forceTouchCapability() const;
    // The device's answer for every screen; a setting for tests.
    static void setForceTouchCapability(UIForceTouchCapability capability);
    std::shared_ptr<UIViewControllerPreviewing> registerForPreviewingWithDelegate(
        const std::shared_ptr<UIViewControllerPreviewingDelegate>& delegate, const std::shared_ptr<UIView>& sourceView);
    void unregisterForPreviewing(const std::shared_ptr<UIViewControllerPreviewing>& context);
    struct PreviewRegistration {
        std::weak_ptr<UIViewControllerPreviewingDelegate> delegate;
        std::shared_ptr<UIViewControllerPreviewing> context;
    };
    const std::vector<PreviewRegistration>& previewRegistrations() const { return m_previewing; }

    // The storyboard identifier the controller was made under, if any.
    const std::string& storyboardIdentifier() const { return m_storyboardIdentifier; }
    void setStoryboardIdentifier(std::string identifier) { m_storyboardIdentifier = std::move(identifier); }

    // Appearance, sent by containers and presentations; forwarded to the visible child.
    virtual void beginAppearance(bool appearing, bool animated);
    virtual void endAppearance(bool appearing, bool animated);

protected:
    friend class UINavigationController;
    void setParent(const std::shared_ptr<UIViewController>& parent) { m_parent = parent; }

private:
    std::shared_ptr<UIView> m_view;
    std::optional<std::string> m_title;
    UINavigationItem m_navigationItem;
    std::vector<std::shared_ptr<UIBarButtonItem>> m_toolbarItems;
    std::shared_ptr<UIBarButtonItem> m_editButtonItem;
    bool m_editing = false;
    bool m_visible = false;
    std::weak_ptr<UIViewController> m_parent;
    std::shared_ptr<UIViewController> m_presented;
    std::weak_ptr<UIViewController> m_presenting;
    UIModalPresentationStyle m_modalPresentationStyle = UIModalPresentationStyle::FullScreen;
    UIPopoverPresentationController m_popover;
    CGSize m_preferredContentSize {};
    std::vector<PreviewRegistration> m_previewing;
    std::string m_storyboardIdentifier;
};

class UINavigationController : public UIViewController {
public:
    UINavigationController();
    static std::shared_ptr<UINavigationController> initWithRootViewController(const std::shared_ptr<UIViewController>& root);

    const std::vector<std::shared_ptr<UIViewController>>& viewControllers() const { return m_stack; }
    void setViewControllers(std::vector<std::shared_ptr<UIViewController>> controllers, bool animated = false);
    std::shared_ptr<UIViewController> topViewController() const { return m_stack.empty() ? nullptr : m_stack.back(); }
    // The top controller, or what it presented.
    std::shared_ptr<UIViewController> visibleViewController() const;

    void pushViewController(const std::shared_ptr<UIViewController>& controller, bool animated);
    std::shared_ptr<UIViewController> popViewControllerAnimated(bool animated);
    std::vector<std::shared_ptr<UIViewController>> popToRootViewControllerAnimated(bool animated);
    std::vector<std::shared_ptr<UIViewController>> popToViewController(const std::shared_ptr<UIViewController>& controller, bool animated);

    bool isToolbarHidden() const { return m_toolbarHidden; }
    void setToolbarHidden(bool hidden, bool animated = false);
    bool isNavigationBarHidden() const { return m_navigationBarHidden; }
    void setNavigationBarHidden(bool hidden, bool animated = false);
    // The bars, made on first use. The toolbar shows the top screen's toolbar items.
    std::shared_ptr<UINavigationBar> navigationBar() const;
    std::shared_ptr<UIToolbar> toolbar() const;

    void beginAppearance(bool appearing, bool animated) override;
    void endAppearance(bool appearing, bool animated) override;

private:
    void adopt(const std::shared_ptr<UIViewController>& controller);
    void showTop(const std::shared_ptr<UIViewController>& previous, bool animated);

    std::vector<std::shared_ptr<UIViewController>> m_stack;
    bool m_toolbarHidden = true;
    bool m_navigationBarHidden = false;
    mutable std::shared_ptr<UINavigationBar> m_navigationBar;
    mutable std::shared_ptr<UIToolbar> m_toolbar;
};

}
