#pragma once

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/uikit/UIApplication.h"

#include <memory>

namespace vesk {

// The app's entry into the application life cycle: sets up the SDK, the status bar and the
// quick actions at launch, runs the web file service while active with the server switch on,
// opens files handed over by other apps and turns the "tap" notification into haptic feedback.
class AppDelegate : public platform::UIApplicationDelegate, public std::enable_shared_from_this<AppDelegate> {
public:
    AppDelegate() = default;
    ~AppDelegate() override;

    bool didFinishLaunchingWithOptions(platform::UIApplication& application, const platform::UIApplicationLaunchOptions& options) override;
    void applicationWillResignActive(platform::UIApplication& application) override;
    void applicationDidEnterBackground(platform::UIApplication& application) override;
    void applicationWillEnterForeground(platform::UIApplication& application) override;
    void applicationDidBecomeActive(platform::UIApplication& application) override;
    void applicationWillTerminate(platform::UIApplication& application) override;
    bool openURL(platform::UIApplication& application, const platform::NSURL& url, const platform::UIApplicationOpenURLOptions& options) override;
    void performActionForShortcutItem(platform::UIApplication& application, const platform::UIApplicationShortcutItem& item,
        std::function<void(bool)> completionHandler) override;

    // The observer of "tap"; runs on the poster's thread, the feedback itself on the main thread.
    void tap(const platform::NSNotification& notification);

private:
    void observeTap();
};

}
