#include "platform/uikit/UIApplication.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/DesktopServices.h"
#include "platform/system/MemoryPressure.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIView.h"
#include "platform/uikit/UIViewController.h"

#include <algorithm>

namespace vesk::platform {

std::shared_ptr<UIApplicationShortcutIcon> UIApplicationShortcutIcon::iconWithTemplateImageName(std::string name)
{
    auto icon = std::make_shared<UIApplicationShortcutIcon>();
    icon->m_templateImageName = std::move(name);
    return icon;
}

UIApplicationShortcutItem::UIApplicationShortcutItem(std::string type, std::string localizedTitle, std::optional<std::string> localizedSubtitle,
    std::shared_ptr<UIApplicationShortcutIcon> icon, std::optional<Value> userInfo)
    : m_type(std::move(type))
    , m_localizedTitle(std::move(localizedTitle))
    , m_localizedSubtitle(std::move(localizedSubtitle))
    , m_icon(std::move(icon))
    , m_userInfo(std::move(userInfo))
{
}

UIApplication& UIApplication::sharedApplication()
{
    static UIApplication application;
    return application;
}

CGRect UIApplication::statusBarFrame() const
{
    if (m_statusBar)
        return m_statusBar->frame();
    if (m_statusBarHidden)
        return CGRectZero;
    return CGRectMake(0, 0, UIScreen::mainScreen().bounds().size.width, 20);
}

void UIApplication::setStatusBarHidden(bool hidden, UIStatusBarAnimation)
{
    m_statusBarHidden = hidden;
    m_statusBarChanges.push_back(hidden);
    if (m_statusBar)
        m_statusBar->setHidden(hidden);
}

void UIApplication::scheduleLocalNotification(const UILocalNotification& notification)
{
    m_localNotifications.push_back(notification);
    if (!notification.alertBody)
        return;
    double delay = 0;
    if (notification.fireDate)
        delay = std::max(0.0, std::chrono::duration<double>(*notification.fireDate - RunLoop::main().clock().now()).count());
    // Shown by the desktop when it has a notification service; one that is due after the app
    // has ended is not shown.
    DispatchQueue::main().after(delay, [text = *notification.alertBody, sound = notification.soundName.has_value(), action = notification.alertAction.value_or("")] {
        DispatchQueue::global(QualityOfService::Utility).async([text, sound, action] { DesktopServices::shared()->postNotification(text, sound, action); });
    });
}

bool UIApplication::canOpenURL(const std::string& url) const
{
    return !url.empty();
}

bool UIApplication::openURL(const std::string& url)
{
    if (!canOpenURL(url))
        return false;
    m_openedURLs.push_back(url);
    return true;
}

bool UIApplication::launch(std::shared_ptr<UIApplicationDelegate> delegate, const UIApplicationLaunchOptions& options)
{
    m_delegate = std::move(delegate);
    m_state = UIApplicationState::Inactive;
    auto window = std::make_shared<UIWindow>(UIScreen::mainScreen().bounds());
    m_window = window;
    if (auto root = UIStoryboard::storyboardWithName("Main").instantiateInitialViewController())
        window->setRootViewController(root);
    if (m_delegate)
        m_delegate->setWindow(window);
    window->makeKeyAndVisible();
    bool answer = m_delegate ? m_delegate->didFinishLaunchingWithOptions(*this, options) : true;
    if (auto root = window->rootViewController()) {
        root->beginAppearance(true, false);
        root->endAppearance(true, false);
    }
    if (answer)
        deliverLaunchOptions(options);
    becomeActive();
    return answer;
}

void UIApplication::resignActive()
{
    if (m_state != UIApplicationState::Active)
        return;
    m_state = UIApplicationState::Inactive;
    if (m_delegate)
        m_delegate->applicationWillResignActive(*this);
}

void UIApplication::enterBackground()
{
    if (m_state == UIApplicationState::Background)
        return;
    resignActive();
    m_state = UIApplicationState::Background;
    if (m_delegate)
        m_delegate->applicationDidEnterBackground(*this);
}

void UIApplication::enterForeground()
{
    if (m_state != UIApplicationState::Background)
        return;
    m_state = UIApplicationState::Inactive;
    if (m_delegate)
        m_delegate->applicationWillEnterForeground(*this);
}

void UIApplication::becomeActive()
{
    if (m_state == UIApplicationState::Active)
        return;
    if (m_state == UIApplicationState::Background)
        enterForeground();
    m_state = UIApplicationState::Active;
    if (m_delegate)
        m_delegate->applicationDidBecomeActive(*this);
}

void UIApplication::terminate()
{
    if (m_delegate)
        m_delegate->applicationWillTerminate(*this);
}

void UIApplication::receiveMemoryWarning()
{
    // Every screen of the window hears of it, those under others too.
    std::function<void(const std::shared_ptr<UIViewController>&)> warn = [&warn](const std::shared_ptr<UIViewController>& controller) {
        if (!controller)
            return;
        controller->didReceiveMemoryWarning();
        if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(controller)) {
            for (auto& child : navigation->viewControllers())
                warn(child);
        }
        warn(controller->presentedViewController());
    };
    if (auto window = keyWindow())
        warn(window->rootViewController());
    if (m_delegate)
        m_delegate->applicationDidReceiveMemoryWarning(*this);
    NSNotificationCenter::defaultCenter().postNotificationName(UIApplicationDidReceiveMemoryWarningNotification);
}

void UIApplication::handOver(const UIApplicationLaunchOptions& options)
{
    resignActive();
    deliverLaunchOptions(options);
    becomeActive();
}

void UIApplication::deliverLaunchOptions(const UIApplicationLaunchOptions& options)
{
    if (auto url = options.find(UIApplicationLaunchOptionsURLKey); url != options.end() && url->second.string()) {
        if (auto parsed = NSURL::URLWithString(*url->second.string()))
            deliverOpenURL(*parsed);
    }
    if (auto chosen = options.find(UIApplicationLaunchOptionsShortcutItemKey); chosen != options.end() && chosen->second.string()) {
        auto& type = *chosen->second.string();
        std::shared_ptr<UIApplicationShortcutItem> item;
        if (m_shortcutItems) {
            for (auto& installed : *m_shortcutItems) {
                if (installed && installed->type() == type)
                    item = installed;
            }
        }
        if (!item)
            item = std::make_shared<UIApplicationShortcutItem>(type, type, std::nullopt, nullptr, std::nullopt);
        deliverShortcutItem(*item);
    }
}

bool UIApplication::deliverOpenURL(const NSURL& url, const UIApplicationOpenURLOptions& options)
{
    return m_delegate ? m_delegate->openURL(*this, url, options) : false;
}

std::optional<bool> UIApplication::deliverShortcutItem(const UIApplicationShortcutItem& item)
{
    if (!m_delegate)
        return std::nullopt;
    // The completion may be kept and called later.
    auto answer = std::make_shared<std::optional<bool>>();
    m_delegate->performActionForShortcutItem(*this, item, [answer](bool handled) { *answer = handled; });
    return *answer;
}

void UIApplication::reset()
{
    m_delegate.reset();
    m_keyWindow.reset();
    m_window.reset();
    m_state = UIApplicationState::Inactive;
    m_statusBar.reset();
    m_statusBarHidden = false;
    m_networkActivityIndicatorVisible = false;
    m_statusBarChanges.clear();
    m_shortcutItems = std::vector<std::shared_ptr<UIApplicationShortcutItem>> {};
    m_localNotifications.clear();
    m_openedURLs.clear();
}

int UIApplicationMain(int argc, char** argv, std::shared_ptr<UIApplicationDelegate> delegate)
{
    return UIApplicationMain(argc, argv, std::move(delegate), {});
}

int UIApplicationMain(int, char**, std::shared_ptr<UIApplicationDelegate> delegate, const UIApplicationLaunchOptions& options)
{
    auto& application = UIApplication::sharedApplication();
    application.launch(std::move(delegate), options);
    {
        MemoryPressureWatch pressure(MemoryPressureWatch::systemSources(), [&application] { application.receiveMemoryWarning(); });
        RunLoop::main().run();
    }
    application.enterBackground();
    // Let what the background entry queued finish before the process ends.
    RunLoop::main().drain(std::chrono::seconds(5));
    application.terminate();
    return 0;
}

}
