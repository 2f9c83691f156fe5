#include "model/VeskNotificationManager.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIScreen.h"
#include "platform/uikit/UIDriver.h"

#include <gtest/gtest.h>

#include <thread>

using namespace vesk;
using namespace vesk::platform;

namespace {

class BannerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UIApplication::sharedApplication().reset();
        VeskNotificationManager::reset();
        UIApplication::sharedApplication().launch(std::make_shared<UIApplicationDelegate>());
        window = UIApplication::sharedApplication().keyWindow();
    }
    void TearDown() override
    {
        VeskNotificationManager::reset();
        driver.drain();
        UIApplication::sharedApplication().reset();
        RunLoop::main().useSystemClock();
    }

    static void raise(const std::string& text, double duration = 3.0, std::function<void()> completion = {})
    {
        VeskNotificationManager::showNotification(text, NotificationType::Success, std::move(completion), nullptr, duration);
    }

    // The texts of the banners resting or moving in the window, bottom to top.
    std::vector<std::string> onScreen() const
    {
        std::vector<std::string> texts;
        for (auto& view : window->subviews()) {
            for (auto& child : view->subviews()) {
                if (auto label = std::dynamic_pointer_cast<UILabel>(child))
                    texts.push_back(label->text().value_or(""));
            }
        }
        return texts;
    }

    UIDriver driver;
    std::shared_ptr<UIWindow> window;
};

TEST_F(BannerTest, QueuedBannersShowOneAfterAnotherForTheirDurations)
{
    VeskNotificationManager::setKeepsHistory(true);
    testing::internal::CaptureStdout();
    raise("one");
    raise("two");
    raise("three");
    EXPECT_TRUE(onScreen().empty()); // the slide-in starts from the main queue
    driver.drain();
    EXPECT_EQ(onScreen(), std::vector<std::string> { "one" });
    driver.advance(0.25 + 2.9);
    EXPECT_EQ(onScreen(), std::vector<std::string> { "one" });
    driver.advance(0.1 + 0.25);
    EXPECT_EQ(onScreen(), std::vector<std::string> { "two" });
    driver.advance(3.5);
    EXPECT_EQ(onScreen(), std::vector<std::string> { "three" });
    driver.advance(3.5);
    EXPECT_TRUE(onScreen().empty());
    EXPECT_TRUE(VeskNotificationManager::queue().empty());
    EXPECT_EQ(VeskNotificationManager::historyViews().size(), 3u);
    // Without a static banner, the first banner and the empty queue each say so.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "There is no static notification!\nThere is no static notification!\n");
}

TEST_F(BannerTest, StaticBannerStepsAsideForQueuedBannersAndComesBack)
{
    int staticCompletions = 0;
    int staticClicks = 0;
    VeskNotificationManager::showStaticNotification(
        "Webserver: 127.0.0.1:8080", NotificationType::Server,
        [&] { ++staticCompletions; }, [&] { ++staticClicks; });
    driver.advance(60);
    EXPECT_EQ(onScreen(), std::vector<std::string> { "Webserver: 127.0.0.1:8080" });

    raise("saved");
    driver.advance(0.3);
    EXPECT_EQ(staticCompletions, 1);
    EXPECT_EQ(onScreen(), std::vector<std::string> { "saved" });
    driver.advance(3.3);
    EXPECT_EQ(onScreen(), std::vector<std::string> { "Webserver: 127.0.0.1:8080" });

    // A tap on the static banner only runs the caller's handler.
    driver.tapView(*VeskNotificationManager::staticNotification()->notificationView());
    driver.advance(1);
    EXPECT_EQ(staticClicks, 1);
    EXPECT_EQ(onScreen(), std::vector<std::string> { "Webserver: 127.0.0.1:8080" });

    testing::internal::CaptureStdout();
    VeskNotificationManager::showStaticNotification("other", NotificationType::Error, nullptr, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "There is already a static Notification!!!!\n");
}

TEST_F(BannerTest, BannerWithoutDurationStaysUntilTappedThenTheNextShows)
{
    raise("sticky", 0);
    raise("next");
    driver.advance(100);
    EXPECT_EQ(onScreen(), std::vector<std::string> { "sticky" });
    EXPECT_FALSE(VeskNotificationManager::queue().front()->hasTimer());
    driver.tapView(*VeskNotificationManager::queue().front()->notificationView());
    driver.advance(0.5);
    EXPECT_EQ(onScreen(), std::vector<std::string> { "next" });
}

TEST_F(BannerTest, ABannerIsTakenAwayOncePerShowingWhateverComesFirst)
{
    int completions = 0;
    VeskNotificationManager::setKeepsHistory(true);
    testing::internal::CaptureStdout();
    raise("first", 3.0, [&] { ++completions; });
    raise("waiting");
    driver.advance(1);
    auto first = VeskNotificationManager::queue().front();
    // A tap and a queue clear in the same turn, then the old timer's time passes.
    driver.tapView(*first->notificationView());
    VeskNotificationManager::clearQueue();
    driver.advance(10);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(onScreen().empty());
    EXPECT_TRUE(VeskNotificationManager::queue().empty());
    // The waiting banner was dropped without ever showing, but stays in the history.
    EXPECT_EQ(VeskNotificationManager::historyViews().size(), 2u);
}

TEST_F(BannerTest, WithoutTheTestHistoryNoBannerOutlivesItsShowing)
{
    raise("shown");
    raise("dropped");
    driver.drain();
    std::weak_ptr<VeskNotification> shown = VeskNotificationManager::queue().front();
    std::weak_ptr<VeskNotification> dropped = VeskNotificationManager::queue().back();
    driver.advance(1);
    VeskNotificationManager::clearQueue();
    EXPECT_TRUE(dropped.expired()) << "a banner dropped unseen is let go at once";
    driver.advance(1);
    EXPECT_TRUE(shown.expired()) << "a banner is let go once it has left the screen";
    for (int index = 0; index < 100; ++index)
        raise("again " + std::to_string(index), 0.1);
    driver.advance(100);
    EXPECT_TRUE(VeskNotificationManager::queue().empty());
    EXPECT_TRUE(VeskNotificationManager::historyViews().empty());
}

TEST_F(BannerTest, ClearingPresentsTheStaticBannerAfterTheSlideOut)
{
    VeskNotificationManager::showStaticNotification("static", NotificationType::Server, nullptr, nullptr);
    raise("a");
    raise("b");
    driver.advance(1);
    VeskNotificationManager::clearQueue();
    driver.advance(1);
    driver.advance(10);
    EXPECT_EQ(onScreen(), std::vector<std::string> { "static" });
}

TEST_F(BannerTest, StepsThatNeedAStaticBannerSayWhenThereIsNone)
{
    testing::internal::CaptureStdout();
    VeskNotificationManager::dismissStaticNotification();
    VeskNotificationManager::presentStaticNotification();
    VeskNotificationManager::clearQueue();
    driver.advance(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "There is no static notification!\nThere is no static notification!\n");
    EXPECT_TRUE(onScreen().empty());
    EXPECT_TRUE(VeskNotificationManager::historyViews().empty());
}

TEST_F(BannerTest, ShowingFromAnotherThreadIsRefused)
{
    testing::internal::CaptureStdout();
    std::thread([] {
        raise("from a worker");
        VeskNotificationManager::showStaticNotification("static", NotificationType::Server, nullptr, nullptr);
    }).join();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Only from Mainthread!\nOnly from Mainthread!\n");
    EXPECT_TRUE(VeskNotificationManager::queue().empty());
    EXPECT_EQ(VeskNotificationManager::staticNotification(), nullptr);
}

TEST_F(BannerTest, LooksFollowTheTypeAndTheStatusBar)
{
    auto statusBar = std::make_shared<UIView>(CGRectMake(0, 0, 375, 44));
    UIApplication::sharedApplication().setStatusBar(statusBar);
    VeskNotificationManager::showNotification("abc", NotificationType::Debug, nullptr, nullptr, 3.0);
    auto banner = VeskNotificationManager::queue().front();
    EXPECT_EQ(banner->label()->text(), "\xF0\x9F\x94\xA8 abc");
    EXPECT_TRUE(banner->label()->textColor()->isEqual(*UIColor::greenColor()));
    EXPECT_EQ(banner->notificationView()->frame(), CGRectMake(0, -44, 375, 44));
    driver.advance(0.25);
    EXPECT_EQ(banner->notificationView()->frame().origin.y, 0);
    EXPECT_EQ(statusBar->frame().origin.y, -44);

    // A taller status bar while the banner rests resizes it in place.
    statusBar->setFrame(CGRectMake(0, -44, 375, 64));
    NSNotificationCenter::defaultCenter().postNotificationName(UIApplicationDidChangeStatusBarFrameNotification);
    EXPECT_EQ(banner->label()->frame(), CGRectMake(2, 0, 371, 64));
    driver.advance(4);
    EXPECT_EQ(statusBar->frame().origin.y, 0);
}

TEST_F(BannerTest, WithoutAStatusBarABannerIsAStripAboveTheScreen)
{
    VeskNotificationManager::showNotification(std::nullopt, NotificationType::Info, nullptr, nullptr, 3.0);
    auto banner = VeskNotificationManager::queue().front();
    EXPECT_EQ(banner->notificationView()->frame(), CGRectMake(0, -20, UIScreen::mainScreen().bounds().size.width, 20));
    // An absent message leaves the label without text.
    EXPECT_EQ(banner->label()->text(), std::nullopt);
}

TEST_F(BannerTest, EchoedBannersReachStandardErrorOnceEach)
{
    VeskNotificationManager::setEchoToStandardError(true);
    testing::internal::CaptureStderr();
    VeskNotificationManager::showStaticNotification("Webserver: No WiFi", NotificationType::Error, nullptr, nullptr);
    raise("one");
    raise("two");
    driver.advance(20);
    VeskNotificationManager::setEchoToStandardError(false);
    raise("quiet");
    driver.advance(5);
    // The static banner comes back after the queue, but says so only once.
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
        "Banner (Error): Webserver: No WiFi\nBanner (Success): one\nBanner (Success): two\n");
}

TEST_F(BannerTest, WithoutAWindowTheQueueStillAdvances)
{
    UIApplication::sharedApplication().delegate()->setWindow(nullptr);
    raise("one");
    raise("two");
    driver.advance(3.6);
    EXPECT_EQ(VeskNotificationManager::queue().size(), 1u);
    driver.advance(3.6);
    EXPECT_TRUE(VeskNotificationManager::queue().empty());
}

}
