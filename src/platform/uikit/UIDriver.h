#pragma once

#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIEvent.h"
#include "platform/uikit/UITableView.h"

#include <memory>
#include <string>
#include <vector>

namespace vesk::platform {

class UIWebView;

// Acts as a person on the headless screens: taps, swipes, choices and typing, and lets time
// pass on the main run loop's fake clock. Main thread only.
class UIDriver {
public:
    // Puts a fake clock under the main run loop.
    UIDriver();

    // The presentation chain from the key window's root, the root first.
    std::vector<std::shared_ptr<UIViewController>> screenStack() const;
    // The last controller of the chain.
    std::shared_ptr<UIViewController> topViewController() const;
    // The screen a person sees: the top of the top navigation controller, or the top controller.
    std::shared_ptr<UIViewController> visibleScreen() const;
    template<typename T>
    std::shared_ptr<T> visible() const { return std::dynamic_pointer_cast<T>(visibleScreen()); }
    // The alert or action sheet on top, if one is.
    std::shared_ptr<UIAlertController> alert() const;

    // Alerts: answers whether the action was there and ran.
    bool chooseAlertAction(const std::string& title);
    bool typeIntoField(std::size_t index, const std::string& text);

    // Tables.
    void tapRow(UITableView& table, const NSIndexPath& indexPath);
    void tapRow(UITableView& table, int row, int section = 0) { tapRow(table, NSIndexPath { section, row }); }
    // The first row whose cell's text is the given text.
    std::optional<NSIndexPath> rowWithText(UITableView& table, const std::string& text);
    std::vector<std::string> rowTitles(UITableView& table, int section = 0);
    std::vector<std::string> swipeRow(UITableView& table, const NSIndexPath& indexPath);
    bool chooseRowAction(UITableView& table, const NSIndexPath& indexPath, const std::string& title);

    // Bar buttons: by item, or by title among a screen's navigation and toolbar items and the
    // items of the toolbars in its view.
    void tapBarButton(UIBarButtonItem& item) { item.tap(); }
    std::shared_ptr<UIBarButtonItem> barButton(UIViewController& screen, const std::string& title) const;
    bool tapBarButton(UIViewController& screen, const std::string& title);

    // 3D Touch: a firm press at a point of the screen's previewing source view answers the
    // screen its previewing delegate offers (none when refused or not registered); pressing on
    // commits that screen.
    std::shared_ptr<UIViewController> peek(UIViewController& screen, CGPoint location);
    void pop(UIViewController& screen, const std::shared_ptr<UIViewController>& preview);

    // Views and controls.
    void tapView(UIView& view);
    void tapButton(UIControl& control) { control.sendActionsForControlEvents(UIControlEvent::TouchUpInside); }
    // Follows the first link of the page whose text is the given text; answers whether one was.
    bool tapLink(UIWebView& webView, const std::string& text);

    // Time and queues.
    void advance(double seconds);
    bool drain();

    // What the key window shows, as the desktop window would (scale 0: the screen's).
    std::shared_ptr<UIImage> render(CGFloat scale = 0) const;
    // The pointer and keys, at points of the key window.
    void tapAt(CGPoint point);
    void dragFrom(CGPoint from, CGPoint to);
    // A drag that takes the time, let go as it ends: fast enough, what it moved coasts on.
    void dragFrom(CGPoint from, CGPoint to, double seconds);
    void rightClickAt(CGPoint point) { UIEventDispatcher::shared().secondaryClick(point); }
    void scrollAt(CGPoint point, CGFloat dy) { UIEventDispatcher::shared().scroll(point, dy); }
    void scrollAt(CGPoint point, CGFloat dx, CGFloat dy) { UIEventDispatcher::shared().scroll(point, dx, dy); }
    void typeText(const std::string& text) { UIEventDispatcher::shared().insertText(text); }
    void pressKey(UIKey key) { UIEventDispatcher::shared().pressKey(key); }
};

}
