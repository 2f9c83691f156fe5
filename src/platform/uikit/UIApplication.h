#pragma once

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/graphics/CGGeometry.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

class UIApplication;
class UIView;
class UIWindow;

inline constexpr const char* UIApplicationDidChangeStatusBarFrameNotification = "UIApplicationDidChangeStatusBarFrameNotification";
inline constexpr const char* UIApplicationDidReceiveMemoryWarningNotification = "UIApplicationDidReceiveMemoryWarningNotification";
inline constexpr const char* UILocalNotificationDefaultSoundName = "UILocalNotificationDefaultSoundName";
// Launch options: a URL another app hands over (its text) and a chosen quick action (its type).
inline constexpr const char* UIApplicationLaunchOptionsURLKey = "UIApplicationLaunchOptionsURLKey";
inline constexpr const char* UIApplicationLaunchOptionsShortcutItemKey = "UIApplicationLaunchOptionsShortcutItemKey";

enum class UIApplicationState {
    Active,
    Inactive,
    Background,
};

enum class UIStatusBarAnimation {
    None,
    Fade,
    Slide,
};

class UIApplicationShortcutIcon {
public:
    static std::shared_ptr<UIApplicationShortcutIcon> iconWithTemplateImageName(std::string name);
    const std::string& templateImageName() const { return m_templateImageName; }

private:
    std::string m_templateImageName;
};

class UIApplicationShortcutItem {
public:
    UIApplicationShortcutItem(std::string type, std::string localizedTitle, std::optional<std::string> localizedSubtitle,
        std::shared_ptr<UIApplicationShortcutIcon> icon, std::optional<Value> userInfo);

    const std::string& type() const { return m_type; }
    const std::string& localizedTitle() const { return m_localizedTitle; }
    const std::optional<std::string>& localizedSubtitle() const { return m_localizedSubtitle; }
    std::shared_ptr<UIApplicationShortcutIcon> icon() const { return m_icon; }
    const std::optional<Value>& userInfo() const { return m_userInfo; }

private:
    std::string m_type;
    std::string m_localizedTitle;
    std::optional<std::string> m_localizedSubtitle;
    std::shared_ptr<UIApplicationShortcutIcon> m_icon;
    std::optional<Value> m_userInfo;
};

struct UILocalNotification {
    std::optional<std::string> alertBody;
    std::optional<std::string> alertAction;
    // On the main run loop's clock.
    std::optional<Clock::time_point> fireDate;
    std::optional<std::string> soundName;
};

using UIApplicationLaunchOptions = std::map<std::string, Value>;
using UIApplicationOpenURLOptions = std::map<std::string, Value>;

// The application's delegate; every call has the platform's default.
class UIApplicationDelegate {
public:
    virtual ~UIApplicationDelegate() = default;

    virtual std::shared_ptr<UIWindow> window() const { return m_window; }
    virtual void setWindow(std::shared_ptr<UIWindow> window) { m_window = std::move(window); }

    virtual bool didFinishLaunchingWithOptions(UIApplication&, const UIApplicationLaunchOptions&) { return true; }
    virtual void applicationWillResignActive(UIApplication&) { }
    virtual void applicationDidEnterBackground(UIApplication&) { }
    virtual void applicationWillEnterForeground(UIApplication&) { }
    virtual void applicationDidBecomeActive(UIApplication&) { }
    virtual void applicationWillTerminate(UIApplication&) { }
    virtual void applicationDidReceiveMemoryWarning(UIApplication&) { }
    // Answers whether the URL was opened; false when not implemented.
    virtual bool openURL(UIApplication&, const NSURL&, const UIApplicationOpenURLOptions&) { return false; }
    virtual void performActionForShortcutItem(UIApplication&, const UIApplicationShortcutItem&, std::function<void(bool)> completionHandler)
    {
        if (completionHandler)
            completionHandler(false);
    }

private:
    std::shared_ptr<UIWindow> m_window;
};

// The one application object. Lives on the main thread; the life-cycle calls stand in for
// what the platform delivers (the program's signals and options, or a test's driver).
class UIApplication {
public:
    static UIApplication& sharedApplication();

    std::shared_ptr<UIApplicationDelegate> delegate() const { return m_delegate; }
    void setDelegate(std::shared_ptr<UIApplicationDelegate> delegate) { m_delegate = std::move(delegate); }
    std::shared_ptr<UIWindow> keyWindow() const { return m_keyWindow.lock(); }
    void setKeyWindow(const std::shared_ptr<UIWindow>& window) { m_keyWindow = window; }
    UIApplicationState applicationState() const { return m_state; }

    // The status bar's view: none here unless a test provides one.
    std::shared_ptr<UIView> statusBar() const { return m_statusBar; }
    void setStatusBar(std::shared_ptr<UIView> view) { m_statusBar = std::move(view); }
    CGRect statusBarFrame() const;
    bool isStatusBarHidden() const { return m_statusBarHidden; }
    void setStatusBarHidden(bool hidden, UIStatusBarAnimation animation = UIStatusBarAnimation::None);
    bool isNetworkActivityIndicatorVisible() const { return m_networkActivityIndicatorVisible; }
    void setNetworkActivityIndicatorVisible(bool visible) { m_networkActivityIndicatorVisible = visible; }
    // Each change of the status bar's visibility, in order, for tests.
    const std::vector<bool>& statusBarHiddenChanges() const { return m_statusBarChanges; }

    // Home-screen quick actions; none (nullopt) where the device has no such support.
    const std::optional<std::vector<std::shared_ptr<UIApplicationShortcutItem>>>& shortcutItems() const { return m_shortcutItems; }
    void setShortcutItems(std::optional<std::vector<std::shared_ptr<UIApplicationShortcutItem>>> items) { m_shortcutItems = std::move(items); }

    // Kept, and at its fire date shown as a desktop notification where the desktop has them.
    void scheduleLocalNotification(const UILocalNotification& notification);
    const std::vector<UILocalNotification>& scheduledLocalNotifications() const { return m_localNotifications; }

    // Outside pages and other apps: recorded, never opened.
    bool canOpenURL(const std::string& url) const;
    bool openURL(const std::string& url);
    const std::vector<std::string>& openedURLs() const { return m_openedURLs; }

    // The life cycle. launch makes the window from the storyboard "Main", asks the delegate to
    // finish launching and makes the app active. When the delegate answered true, a URL or a
    // quick action among the options is delivered before the app becomes active.
    bool launch(std::shared_ptr<UIApplicationDelegate> delegate, const UIApplicationLaunchOptions& options = {});
    void resignActive();
    void enterBackground(); // resigns active first when active
    void enterForeground();
    void becomeActive();
    void terminate();
    void receiveMemoryWarning();
    // A later start of the program hands over its file or quick action (the launch options'
    // keys): the app resigns active as when the person turns to the launcher, is handed the
    // URL and the quick action as at launch, and becomes active again.
    void handOver(const UIApplicationLaunchOptions& options);
    // Another app hands over a URL.
    bool deliverOpenURL(const NSURL& url, const UIApplicationOpenURLOptions& options = {});
    // The user chose a quick action; answers what the delegate's completion said.
    std::optional<bool> deliverShortcutItem(const UIApplicationShortcutItem& item);

    // Back to a new process's state, for tests.
    void reset();

private:
    UIApplication() = default;
    void deliverLaunchOptions(const UIApplicationLaunchOptions& options);

    std::shared_ptr<UIApplicationDelegate> m_delegate;
    std::weak_ptr<UIWindow> m_keyWindow;
    std::shared_ptr<UIWindow> m_window;
    UIApplicationState m_state = UIApplicationState::Inactive;
    std::shared_ptr<UIView> m_statusBar;
    bool m_statusBarHidden = false;
    bool m_networkActivityIndicatorVisible = false;
    std::vector<bool> m_statusBarChanges;
    std::optional<std::vector<std::shared_ptr<UIApplicationShortcutItem>>> m_shortcutItems { std::vector<std::shared_ptr<UIApplicationShortcutItem>> {} };
    std::vector<UILocalNotification> m_localNotifications;
    std::vector<std::string> m_openedURLs;
};

// The program's entry: launches the app with the delegate, runs the main run loop until it
// is stopped (memory warnings arriving as the system runs short of memory), then takes the app
// through the background and termination. Answers 0.
int UIApplicationMain(int argc, char** argv, std::shared_ptr<UIApplicationDelegate> delegate);
// The same, launching with the given options.
int UIApplicationMain(int argc, char** argv, std::shared_ptr<UIApplicationDelegate> delegate, const UIApplicationLaunchOptions& options);

}
