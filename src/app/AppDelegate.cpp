#include "app/AppDelegate.h"

#include "app/Utility.h"
#include "model/PlatformUtilities.h"
#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSThread.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/Haptics.h"
#include "platform/system/UIDevice.h"
#include "sdk/CrashReporter.h"
#include "sdk/Telemetry.h"
#include "webservice/VeskHTTPServer.h"

#include <array>
#include <cstdlib>
#include <limits>

namespace vesk {

using namespace platform;

namespace {

    // The system version as (major, minor, patch); missing parts read 0, like the platform's
    // comparison of operating-system versions.
    std::array<long, 3> systemVersion()
    {
        std::array<long, 3> parts { 0, 0, 0 };
        auto text = UIDevice::currentDevice().systemVersion();
        const char* cursor = text.c_str();
        for (auto& part : parts) {
            char* end = nullptr;
            part = std::strtol(cursor, &end, 10);
            if (end == cursor || *end != '.')
                break;
            cursor = end + 1;
        }
        return parts;
    }

    bool systemIsAtLeast(long major)
    {
        return systemVersion()[0] >= major;
    }

    std::string currentLanguageCode()
    {
        for (const char* name : { "LC_ALL", "LC_MESSAGES", "LANG" }) {
            const char* value = std::getenv(name);
            if (value && *value) {
                std::string text(value);
                return text.substr(0, text.find_first_of("_.@"));
            }
        }
        return {};
    }

    std::optional<std::int64_t> feedbackKind(const NSNotification& notification)
    {
        auto found = notification.userInfo.find(std::string(tapNotificationIDKey));
        if (found == notification.userInfo.end())
            return std::nullopt;
        auto& any = found->second;
        if (auto* value = std::any_cast<std::int32_t>(&any))
            return *value;
        if (auto* value = std::any_cast<std::int64_t>(&any))
            return *value;
        if (auto* value = std::any_cast<Value>(&any))
            return value->integerValue();
        return std::nullopt;
    }

}

AppDelegate::~AppDelegate()
{
    NSNotificationCenter::defaultCenter().removeObserver(this);
}

void AppDelegate::observeTap()
{
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    NSNotificationCenter::defaultCenter().addObserver(this, std::string(tapNotificationName), [weak](const NSNotification& notification) {
        if (auto self = weak.lock())
            self->tap(notification);
    });
}

bool AppDelegate::didFinishLaunchingWithOptions(UIApplication& application, const UIApplicationLaunchOptions&)
{
    Telemetry::with({ CrashReporter::init() });
    CrashReporter::sharedInstance()->setUserIdentifier(Utility::getADID());
    CrashReporter::sharedInstance()->setObjectValue(Value(Utility::isJailbroken()), "Jailbroken");

    application.setStatusBarHidden(true, UIStatusBarAnimation::None);
    application.setStatusBarHidden(false, UIStatusBarAnimation::None);

    if (!systemIsAtLeast(8)) {
        VeskNotificationManager::showNotification(localized("iOS 8 and up is required!!!"), NotificationType::Error, nullptr, nullptr, 20.0);
    } else if (systemIsAtLeast(9)) {
        auto bookmarks = std::make_shared<UIApplicationShortcutItem>(bookmarksShortcutType(), localized("Bookmarks"), std::string(),
            UIApplicationShortcutIcon::iconWithTemplateImageName("bookmarks-shortcut.png"), std::nullopt);
        auto server = std::make_shared<UIApplicationShortcutItem>(serverShortcutType(), localized("Start fileserver"), std::string(),
            UIApplicationShortcutIcon::iconWithTemplateImageName("httpServer-shortcut.png"), std::nullopt);
        if (application.shortcutItems())
            application.setShortcutItems(std::vector { bookmarks, server });
        else
            application.setShortcutItems(std::nullopt);
    }

    debugLog(currentLanguageCode(), __FILE__, __LINE__, __func__);
    observeTap();
    return true;
}

void AppDelegate::applicationWillResignActive(UIApplication&)
{
    NSNotificationCenter::defaultCenter().removeObserver(this);
}

void AppDelegate::applicationDidEnterBackground(UIApplication&)
{
    VeskHTTPServer::stop();

    UILocalNotification notification;
    notification.alertBody = localized("Webserver has stopped!");
    notification.alertAction = localized("Open");
    notification.fireDate = RunLoop::main().clock().now() + std::chrono::seconds(1);
    notification.soundName = UILocalNotificationDefaultSoundName;
    UIApplication::sharedApplication().scheduleLocalNotification(notification);

    VeskNotificationManager::clearQueue();
    VeskNotificationManager::dismissStaticNotification();
}

void AppDelegate::applicationWillEnterForeground(UIApplication&)
{
    observeTap();
}

void AppDelegate::applicationDidBecomeActive(UIApplication&)
{
    // Starting a server that already runs would only take its banner away, as when a later
    // start hands a file over without a trip to the background.
    if (NSUserDefaults::standardUserDefaults()->boolForKey(hashedDefaultsKey7()) && !VeskHTTPServer::isRunning())
        VeskHTTPServer::start();
}

void AppDelegate::applicationWillTerminate(UIApplication&)
{
}

bool AppDelegate::openURL(UIApplication&, const NSURL& url, const UIApplicationOpenURLOptions&)
{
    auto path = url.path();
    debugLog(path, __FILE__, __LINE__, __func__);
    if (path.empty())
        return true;
    auto file = VeskFile::initWithUrl(url);
    if (!NSFileManager::defaultManager().fileExistsAtPath(file->path())) {
        VeskNotificationManager::showNotification(localized("Invalide path"), NotificationType::Error, nullptr, nullptr, 3.0);
        return false;
    }
    Utility utility;
    auto top = utility.getTopMostViewController();
    if (!top)
        return false;
    auto bounds = UIScreen::mainScreen().bounds();
    utility.openItem(top, file, CGRectMake(bounds.size.width / 2, bounds.size.height / 2, 1, 1));
    return true;
}

void AppDelegate::performActionForShortcutItem(UIApplication&, const UIApplicationShortcutItem& item, std::function<void(bool)> completionHandler)
{
    Utility utility;
    if (item.type() == bookmarksShortcutType())
        utility.openBookmarks();
    else if (item.type() == serverShortcutType())
        NSUserDefaults::standardUserDefaults()->setBool(true, hashedDefaultsKey7());
    else
        debugLog(item.type() + " could not be found!", __FILE__, __LINE__, __func__);
    if (completionHandler)
        completionHandler(true);
}

void AppDelegate::tap(const NSNotification& notification)
{
    auto kind = feedbackKind(notification);
    if (!systemIsAtLeast(9)) {
        debugLog("Device is below iOS 9", __FILE__, __LINE__, __func__);
        return;
    }
    if (!UIDevice::currentDevice().supportsHapticFeedback()) {
        debugLog("Taptic engine is not available", __FILE__, __LINE__, __func__);
        return;
    }
    if (!kind || *kind < std::numeric_limits<std::int32_t>::min() || *kind > std::numeric_limits<std::int32_t>::max())
        return;
    auto feedback = static_cast<std::int32_t>(*kind);
    // The engine belongs to the main thread; a refused client posts from its connection thread.
    if (NSThread::isMainThread())
        TapticEngine::shared().actuateFeedback(feedback);
    else
        DispatchQueue::main().async([feedback] { TapticEngine::shared().actuateFeedback(feedback); });
}

}
