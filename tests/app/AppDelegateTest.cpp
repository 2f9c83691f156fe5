#include "app/AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/BookmarksController.h"
#include "app/Utility.h"
#include "app/VeskFileListController.h"
#include "model/PlatformUtilities.h"
#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "screens/SettingsTableViewController.h"
#include "sdk/Analytics.h"
#include "sdk/Telemetry.h"
#include "viewers/VeskFileViewController.h"

#include <thread>
#include <tuple>

using namespace vesk;
using namespace vesk::platform;
using vesk::test::AppTest;
using vesk::test::isListening;

namespace {

class AppDelegateTest : public AppTest {
protected:
    UIApplication& application() { return UIApplication::sharedApplication(); }

    std::shared_ptr<AppDelegate> launch(const UIApplicationLaunchOptions& options = {})
    {
        auto delegate = std::make_shared<AppDelegate>();
        EXPECT_TRUE(application().launch(delegate, options));
        return delegate;
    }

    bool serverSwitch() { return NSUserDefaults::standardUserDefaults()->boolForKey(hashedDefaultsKey7()); }

    std::vector<std::string> shortcutTitles()
    {
        std::vector<std::string> titles;
        if (application().shortcutItems()) {
            for (auto& item : *application().shortcutItems())
                titles.push_back(item->localizedTitle());
        }
        return titles;
    }

    // The visible screen of the one navigation controller presented over the first screen.
    template<typename Screen>
    std::shared_ptr<Screen> presented()
    {
        return driver.screenStack().size() == 2 ? driver.visible<Screen>() : nullptr;
    }

    std::vector<HapticEvent> haptics() { return HapticsRecorder::shared().events(); }

    std::size_t eventsNamed(const std::string& name)
    {
        std::size_t count = 0;
        for (auto& event : Analytics::recordedEvents())
            count += event.name == name;
        return count;
    }
};

TEST_F(AppDelegateTest, LaunchStartsTheSdkTagsReportsAndInstallsTheQuickActions)
{
    application().setShortcutItems(std::vector { std::make_shared<UIApplicationShortcutItem>("old", "Old", std::nullopt, nullptr, std::nullopt) });
    launch();

    auto telemetry = Telemetry::sharedInstance();
    ASSERT_NE(telemetry, nullptr);
    EXPECT_EQ(telemetry->kitIdentifiers(), (std::vector<std::string> { "CrashReporter", "Analytics" }));
    EXPECT_EQ(CrashReporter::sharedInstance()->userIdentifier(), deviceIdentity());
    bool jailbroken = ::getgid() < 11 || NSFileManager::defaultManager().fileExistsAtPath("/Applications/Cydia.app");
    EXPECT_EQ(CrashReporter::sharedInstance()->customKeys(), (std::map<std::string, std::string> { { "Jailbroken", jailbroken ? "1" : "0" } }));

    EXPECT_EQ(application().statusBarHiddenChanges(), (std::vector<bool> { true, false }));
    EXPECT_FALSE(application().isStatusBarHidden());

    ASSERT_EQ(shortcutTitles(), (std::vector<std::string> { "Bookmarks", "Start fileserver" }));
    const std::tuple<std::string, const char*, const char*> expected[] = {
        { bookmarksShortcutType(), "-Bookmarks", "bookmarks-shortcut.png" },
        { serverShortcutType(), "-Server", "httpServer-shortcut.png" },
    };
    for (std::size_t index = 0; auto& [type, suffix, icon] : expected) {
        auto& item = (*application().shortcutItems())[index++];
        EXPECT_EQ(item->type(), type);
        EXPECT_TRUE(item->type().ends_with(suffix)) << type;
        EXPECT_EQ(item->localizedSubtitle(), std::string()) << type;
        EXPECT_FALSE(item->userInfo()) << type;
        ASSERT_NE(item->icon(), nullptr) << type;
        EXPECT_EQ(item->icon()->templateImageName(), icon);
    }

    // The first screen: a navigation controller holding a file list nobody gave a folder,
    // which shows the root folder with the home button off.
    auto first = driver.visible<VeskFileListController>();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->file()->path(), "/");
    EXPECT_EQ(first->title(), "/");
    EXPECT_FALSE(first->homeButton()->isEnabled());
    EXPECT_TRUE(first->documentFolder()->isEnabled());
    EXPECT_TRUE(VeskNotificationManager::queue().empty());
}

TEST_F(AppDelegateTest, QuickActionsFollowTheSystemVersionAndTheDevicesSupport)
{
    application().setShortcutItems(std::nullopt);
    launch();
    EXPECT_FALSE(application().shortcutItems()) << "no support: nothing is written";

    application().reset();
    UIDevice::currentDevice().setSystemVersion("8.4");
    launch();
    EXPECT_TRUE(shortcutTitles().empty());
    EXPECT_TRUE(VeskNotificationManager::queue().empty());

    application().reset();
    UIDevice::currentDevice().setSystemVersion("7.1.2");
    launch();
    EXPECT_TRUE(shortcutTitles().empty());
    auto queue = VeskNotificationManager::queue();
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue[0]->message(), "iOS 8 and up is required!!!");
    EXPECT_EQ(queue[0]->type(), NotificationType::Error);
    EXPECT_EQ(queue[0]->duration(), 20.0);
}

TEST_F(AppDelegateTest, OnLinuxTheLaunchCheckPassesWhateverTheSystemNumbers)
{
    // Rolling systems number no release; Alpine's numbers are below the phone's.
    for (auto release : { "NAME=\"Arch Linux\"\nBUILD_ID=rolling\n", "NAME=\"Alpine Linux\"\nVERSION_ID=3.19\n", "NAME=Void\nVERSION_ID=\n" }) {
        application().reset();
        VeskNotificationManager::reset();
        UIDevice::currentDevice().setOsRelease(makeFile("os-release", release));
        launch();
        EXPECT_EQ(shortcutTitles(), (std::vector<std::string> { "Bookmarks", "Start fileserver" })) << release;
        EXPECT_TRUE(VeskNotificationManager::queue().empty()) << release;
    }
}

TEST_F(AppDelegateTest, BackgroundEntryStopsTheServerSchedulesTheNoticeAndClearsTheBanners)
{
    NSUserDefaults::standardUserDefaults()->setBool(true, hashedDefaultsKey7());
    launch();
    ASSERT_TRUE(VeskHTTPServer::isRunning());
    ASSERT_TRUE(isListening(port));
    ASSERT_NE(VeskNotificationManager::staticNotification(), nullptr);
    VeskNotificationManager::showNotification("queued", NotificationType::Info, nullptr, nullptr, 3.0);
    VeskNotificationManager::showNotification("waiting", NotificationType::Info, nullptr, nullptr, 3.0);

    auto before = RunLoop::main().clock().now();
    application().enterBackground();

    EXPECT_FALSE(VeskHTTPServer::isRunning());
    EXPECT_FALSE(isListening(port));
    EXPECT_TRUE(VeskNotificationManager::queue().empty());
    EXPECT_EQ(VeskNotificationManager::staticNotification(), nullptr);
    ASSERT_EQ(application().scheduledLocalNotifications().size(), 1u);
    auto& notice = application().scheduledLocalNotifications()[0];
    EXPECT_EQ(notice.alertBody, "Webserver has stopped!");
    EXPECT_EQ(notice.alertAction, "Open");
    EXPECT_EQ(notice.fireDate, before + std::chrono::seconds(1));
    EXPECT_EQ(notice.soundName, UILocalNotificationDefaultSoundName);
    EXPECT_TRUE(serverSwitch()) << "the switch is not changed";
    driver.advance(0.9);
    EXPECT_TRUE(desktop->notifications().empty());
    driver.advance(0.1);
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return !desktop->notifications().empty(); })) << "the desktop shows it when due";
    EXPECT_EQ(desktop->notifications(), std::vector<std::string> { "Webserver has stopped!" });

    // Back in front, the server starts again; a second trip schedules a second notice even
    // with the server stopped.
    application().becomeActive();
    EXPECT_TRUE(isListening(port));
    VeskHTTPServer::stop();
    application().enterBackground();
    EXPECT_EQ(application().scheduledLocalNotifications().size(), 2u);
}

TEST_F(AppDelegateTest, StartFileserverOnlySetsTheSwitchAndTheNextActivationStartsTheServer)
{
    launch();
    EXPECT_FALSE(VeskHTTPServer::isRunning()) << "switch off: nothing starts";

    auto handled = application().deliverShortcutItem(*(*application().shortcutItems())[1]);
    EXPECT_EQ(handled, true);
    EXPECT_TRUE(serverSwitch());
    EXPECT_FALSE(VeskHTTPServer::isRunning());
    EXPECT_FALSE(isListening(port));
    EXPECT_EQ(driver.screenStack().size(), 1u);

    // Each background entry stops the service, running or not; each stop and start is logged.
    application().enterBackground();
    EXPECT_EQ(eventsNamed("HTTP-Server"), 1u);
    application().becomeActive();
    EXPECT_TRUE(VeskHTTPServer::isRunning());
    EXPECT_TRUE(isListening(port));
    EXPECT_NE(VeskNotificationManager::staticNotification(), nullptr);
    EXPECT_TRUE(serverSwitch());
    EXPECT_EQ(eventsNamed("HTTP-Server"), 2u);
}

TEST_F(AppDelegateTest, AHandOverKeepsTheServersBannerWhileTheServerRuns)
{
    NSUserDefaults::standardUserDefaults()->setBool(true, hashedDefaultsKey7());
    launch();
    driver.drain();
    auto banner = VeskNotificationManager::staticNotification();
    ASSERT_NE(banner, nullptr);
    auto text = banner->message();
    EXPECT_NE(text.value_or("").find("Webserver: "), std::string::npos);
    auto path = makeFile("notes.txt", "x");
    for (auto& options : std::vector<UIApplicationLaunchOptions> {
             { { UIApplicationLaunchOptionsURLKey, Value(NSURL::fileURLWithPath(path).absoluteString()) } },
             { { UIApplicationLaunchOptionsShortcutItemKey, Value(serverShortcutType()) } },
             {},
         }) {
        application().handOver(options);
        driver.drain();
        EXPECT_TRUE(isListening(port));
        auto after = VeskNotificationManager::staticNotification();
        ASSERT_NE(after, nullptr) << "the banner stays set";
        EXPECT_EQ(after->message(), text);
        EXPECT_NE(after->notificationView()->superview(), nullptr) << "and on screen";
    }
    EXPECT_EQ(eventsNamed("HTTP-Server"), 1u) << "one start, no stop";
}

TEST_F(AppDelegateTest, AQuickActionAtLaunchArrivesBeforeTheAppBecomesActive)
{
    launch({ { UIApplicationLaunchOptionsShortcutItemKey, Value(serverShortcutType()) } });
    EXPECT_TRUE(serverSwitch());
    EXPECT_TRUE(isListening(port));
}

TEST_F(AppDelegateTest, BookmarksQuickActionPresentsTheBookmarksOnceAndUnknownTypesAreOnlyLogged)
{
    launch();
    auto bookmarks = *(*application().shortcutItems())[0];
    EXPECT_EQ(application().deliverShortcutItem(bookmarks), true);
    auto screen = presented<BookmarksController>();
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(driver.topViewController()->modalPresentationStyle(), UIModalPresentationStyle::FullScreen);

    EXPECT_EQ(application().deliverShortcutItem(bookmarks), true);
    EXPECT_EQ(driver.screenStack().size(), 2u) << "already in front: nothing more is presented";
    EXPECT_EQ(driver.visibleScreen(), screen);

    UIApplicationShortcutItem other("org.vesk.Vesk-Other", "Other", std::nullopt, nullptr, std::nullopt);
    EXPECT_EQ(application().deliverShortcutItem(other), true);
    EXPECT_EQ(driver.screenStack().size(), 2u);
    EXPECT_FALSE(serverSwitch());
}

TEST_F(AppDelegateTest, OpenSettingsAndBookmarksLookOnlyAtTheFrontNavigationStack)
{
    UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
    launch();
    Utility utility;
    utility.openSettings();
    ASSERT_NE(presented<SettingsTableViewController>(), nullptr);
    EXPECT_EQ(driver.topViewController()->modalPresentationStyle(), UIModalPresentationStyle::FormSheet);
    utility.openSettings();
    EXPECT_EQ(driver.screenStack().size(), 2u);

    // A viewer in front sits in its own stack: the settings screen comes over it.
    driver.topViewController()->dismissViewControllerAnimated(false);
    driver.drain();
    ASSERT_EQ(driver.screenStack().size(), 1u);
    utility.openText(VeskFile::initWithPath(makeFile("notes.txt")), driver.topViewController());
    utility.openSettings();
    EXPECT_EQ(driver.screenStack().size(), 3u);
    EXPECT_NE(driver.visible<SettingsTableViewController>(), nullptr);
}

TEST_F(AppDelegateTest, OpenSettingsDoesNothingWhenAnAlertIsInFront)
{
    launch();
    auto alert = UIAlertController::alertControllerWithTitle("Rename", "", UIAlertControllerStyle::Alert);
    alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel, nullptr));
    driver.topViewController()->presentViewController(alert, false);
    ASSERT_NE(driver.alert(), nullptr);

    Utility utility;
    utility.openSettings();
    utility.openBookmarks();
    EXPECT_EQ(driver.screenStack().size(), 2u);
    EXPECT_EQ(driver.alert(), alert);

    // The server's banner opens the settings the same way: nothing happens over the alert.
    VeskHTTPServer::openSettingsOnClick();
    EXPECT_EQ(driver.screenStack().size(), 2u);
}

TEST_F(AppDelegateTest, AHandedOverFileOpensInItsViewerOrRaisesInvalidePath)
{
    launch();
    auto path = makeFile("report.json", "{}");
    EXPECT_TRUE(application().deliverOpenURL(NSURL::fileURLWithPath(path)));
    auto viewer = presented<TextViewController>();
    ASSERT_NE(viewer, nullptr);
    ASSERT_NE(viewer->file(), nullptr);
    EXPECT_EQ(viewer->file()->path(), path);
    driver.topViewController()->dismissViewControllerAnimated(false);
    driver.drain();

    EXPECT_FALSE(application().deliverOpenURL(NSURL::fileURLWithPath(root() + "/gone.txt")));
    EXPECT_EQ(driver.screenStack().size(), 1u);
    auto queue = VeskNotificationManager::queue();
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue[0]->message(), "Invalide path");
    EXPECT_EQ(queue[0]->type(), NotificationType::Error);
    EXPECT_EQ(queue[0]->duration(), 3.0);

    // A URL without a path is taken and ignored.
    EXPECT_TRUE(application().deliverOpenURL(*NSURL::URLWithString("vesk://")));
    EXPECT_EQ(driver.screenStack().size(), 1u);

    // A folder goes by the extension of its name, like a file.
    EXPECT_TRUE(application().deliverOpenURL(NSURL::fileURLWithPath(makeFolder("Pictures"))));
    EXPECT_NE(presented<UnknownViewController>(), nullptr);
}

TEST_F(AppDelegateTest, AFileGivenAtLaunchOpensOverTheFirstScreen)
{
    auto path = makeFile("my shot #1.png");
    launch({ { UIApplicationLaunchOptionsURLKey, Value(NSURL::fileURLWithPath(path).absoluteString()) } });
    auto viewer = presented<ImageViewController>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->file()->path(), path);
}

TEST_F(AppDelegateTest, TapGivesFeedbackOnTheMainThreadWhileObserved)
{
    UIDevice::currentDevice().setSupportsHapticFeedback(true);
    launch();
    postTapNotification();
    ASSERT_EQ(haptics().size(), 1u);
    EXPECT_EQ(haptics()[0].kind, HapticEvent::Kind::TapticFeedback);
    EXPECT_EQ(haptics()[0].value, 2);

    // From a connection thread: nothing moves until the main queue runs.
    std::thread server([] { postTapNotification(); });
    server.join();
    EXPECT_EQ(haptics().size(), 1u);
    driver.drain();
    ASSERT_EQ(haptics().size(), 2u);
    EXPECT_EQ(haptics()[1].value, 2);

    // Resigning active without a trip to the background ends the observation for good.
    application().resignActive();
    application().becomeActive();
    postTapNotification();
    EXPECT_EQ(haptics().size(), 2u);
    application().enterBackground();
    application().becomeActive();
    postTapNotification();
    EXPECT_EQ(haptics().size(), 3u);
}

TEST_F(AppDelegateTest, TapGivesNoFeedbackWithoutTheEngineOrBelowNine)
{
    launch();
    postTapNotification();
    EXPECT_TRUE(haptics().empty());

    UIDevice::currentDevice().setSupportsHapticFeedback(true);
    UIDevice::currentDevice().setSystemVersion("8.4");
    postTapNotification();
    EXPECT_TRUE(haptics().empty());

    UIDevice::currentDevice().setSystemVersion("9.0");
    NSNotificationCenter::defaultCenter().postNotificationName("tap");
    EXPECT_TRUE(haptics().empty()) << "no ID: nothing to give";
    postTapNotification();
    EXPECT_EQ(haptics().size(), 1u);
}

}
