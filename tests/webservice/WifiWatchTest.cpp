// The Wi-Fi watch stepped one poll at a time against the real service, with the Wi-Fi link
// injected (loopback present or gone).

#include "webservice/WifiWatch.h"
#include "app/AppDelegate.h"
#include "app/AppTestSupport.h"
#include "screens/SettingsTableViewController.h"
#include "sdk/Analytics.h"
#include "webservice/VeskWebServices.h"

#include <gtest/gtest.h>

#include <atomic>

namespace vesk::test {
namespace {

    using Decision = WifiWatch::Decision;

    class WifiWatchTest : public AppTest {
    protected:
        void SetUp() override
        {
            // Before the service is first made: it takes its routes then.
            installWebServices(false);
            AppTest::SetUp();
            WifiWatch::shutDown();
        }
        void TearDown() override
        {
            WifiWatch::shutDown();
            AppTest::TearDown();
        }

        static VeskHTTPServer& service() { return VeskHTTPServer::sharedInstance(); }
        static WifiWatch& watch()
        {
            auto* launched = WifiWatch::launched();
            EXPECT_NE(launched, nullptr);
            return *launched;
        }

        // The poll's decision, after the main queue ran what it queued.
        Decision step()
        {
            auto decision = watch().poll();
            driver.drain();
            return decision;
        }

        static std::string staticBanner()
        {
            auto banner = VeskNotificationManager::staticNotification();
            return banner && banner->message() ? *banner->message() : "";
        }
        static std::optional<NotificationType> staticBannerType()
        {
            auto banner = VeskNotificationManager::staticNotification();
            return banner ? std::optional(banner->type()) : std::nullopt;
        }
        std::string runningBanner() const { return "Webserver: 127.0.0.1:" + std::to_string(port); }

        static std::vector<bool> serverStates()
        {
            std::vector<bool> states;
            for (auto& event : Analytics::recordedEvents())
                if (event.name == "HTTP-Server")
                    states.push_back(event.attributes.find("State") && event.attributes.find("State")->boolValue().value_or(false));
            return states;
        }
    };

    TEST_F(WifiWatchTest, FirstStartWithoutWifiPausesThenRestartsWhenTheAddressReturns)
    {
        wifiPresent() = false;
        VeskHTTPServer::start();
        driver.drain();
        EXPECT_TRUE(service().pShouldRun);
        EXPECT_FALSE(service().pIsRunning);
        EXPECT_EQ(VeskNotificationManager::staticNotification(), nullptr);
        EXPECT_TRUE(VeskNotificationManager::queue().empty());
        ASSERT_NE(WifiWatch::launched(), nullptr);

        EXPECT_EQ(step(), Decision::LostNotice);
        EXPECT_TRUE(service().pIsPaused);
        EXPECT_EQ(staticBanner(), "Webserver: No WiFi");
        EXPECT_EQ(staticBannerType(), NotificationType::Error);
        // Only the first poll without an address says so.
        EXPECT_EQ(step(), Decision::Nothing);
        EXPECT_EQ(step(), Decision::Nothing);

        wifiPresent() = true;
        EXPECT_EQ(step(), Decision::Restart);
        EXPECT_TRUE(service().pIsRunning);
        EXPECT_FALSE(service().pIsPaused);
        EXPECT_TRUE(service().pShouldRun);
        EXPECT_TRUE(isListening(port));
        EXPECT_EQ(staticBanner(), runningBanner());
        EXPECT_EQ(staticBannerType(), NotificationType::Server);
        EXPECT_EQ(serverStates(), (std::vector<bool> { false, true }));
        EXPECT_EQ(step(), Decision::Nothing);
    }

    TEST_F(WifiWatchTest, LosingWifiWhileRunningKeepsTheServerListening)
    {
        VeskHTTPServer::start();
        driver.drain();
        ASSERT_TRUE(service().pIsRunning);
        EXPECT_EQ(staticBanner(), runningBanner());
        EXPECT_EQ(step(), Decision::Nothing);

        wifiPresent() = false;
        EXPECT_EQ(step(), Decision::LostNotice);
        EXPECT_EQ(staticBanner(), "Webserver: No WiFi");
        EXPECT_TRUE(service().pIsRunning);
        EXPECT_TRUE(isListening(port));
        EXPECT_EQ(serverStates(), (std::vector<bool> { true }));
    }

    TEST_F(WifiWatchTest, SwitchedOffWithoutWifiTheStopRepeatsAtEveryPoll)
    {
        VeskHTTPServer::start();
        wifiPresent() = false;
        EXPECT_EQ(step(), Decision::LostNotice);
        VeskHTTPServer::stop();
        driver.drain();
        EXPECT_FALSE(isListening(port));

        for (int poll = 0; poll < 3; ++poll)
            EXPECT_EQ(step(), Decision::Stop);
        EXPECT_FALSE(service().pShouldRun);
        EXPECT_FALSE(service().pIsRunning);
        EXPECT_FALSE(service().pIsPaused);
        EXPECT_EQ(VeskNotificationManager::staticNotification(), nullptr);
        // One "State" = false per stop: the switch, then each poll.
        EXPECT_EQ(serverStates(), (std::vector<bool> { true, false, false, false, false }));

        // Off while Wi-Fi is present: nothing happens.
        wifiPresent() = true;
        EXPECT_EQ(step(), Decision::Nothing);
        EXPECT_FALSE(service().pIsRunning);
    }

    TEST_F(WifiWatchTest, AFailedStartIsRetriedOnlyAfterWifiWentAndCame)
    {
        // Someone else holds the port.
        int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        auto address = loopbackAddress(port);
        ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(holder, 4), 0);

        VeskHTTPServer::start();
        driver.drain();
        EXPECT_FALSE(service().pIsRunning);
        EXPECT_TRUE(service().pShouldRun);
        EXPECT_EQ(step(), Decision::Nothing);

        ::close(holder);
        wifiPresent() = false;
        EXPECT_EQ(step(), Decision::LostNotice);
        wifiPresent() = true;
        EXPECT_EQ(step(), Decision::Restart);
        EXPECT_TRUE(service().pIsRunning);
        EXPECT_TRUE(isListening(port));
    }

    TEST_F(WifiWatchTest, AnEmptyAddressNeitherPausesNorRestarts)
    {
        std::atomic<bool> empty { true };
        WifiWatch own(service(), [&]() -> std::optional<std::string> {
            if (empty)
                return std::string();
            return std::nullopt;
        });
        VeskHTTPServer::start();
        EXPECT_EQ(own.poll(), Decision::Nothing);
        empty = false;
        EXPECT_EQ(own.poll(), Decision::LostNotice);
        empty = true;
        EXPECT_EQ(own.poll(), Decision::Nothing);
        EXPECT_TRUE(service().pIsPaused);
        driver.drain();
    }

    TEST_F(WifiWatchTest, TappingTheNoWifiBannerOpensTheSettings)
    {
        ASSERT_TRUE(platform::UIApplication::sharedApplication().launch(std::make_shared<AppDelegate>(), {}));
        driver.drain();
        wifiPresent() = false;
        VeskHTTPServer::start();
        EXPECT_EQ(step(), Decision::LostNotice);
        auto banner = VeskNotificationManager::staticNotification();
        ASSERT_NE(banner, nullptr);
        banner->clickedOnNotification();
        driver.drain();
        EXPECT_NE(driver.visible<SettingsTableViewController>(), nullptr);
    }

    TEST_F(WifiWatchTest, ItsThreadPollsUntilStoppedAndAStopWakesItsSleep)
    {
        std::atomic<int> polls { 0 };
        WifiWatch own(service(), [&]() -> std::optional<std::string> {
            ++polls;
            return std::string("127.0.0.1");
        });
        own.run(std::chrono::milliseconds(2));
        EXPECT_TRUE(platform::RunLoop::main().runUntil([&] { return polls >= 3; }));
        own.stop();
        int after = polls;
        // A whole-hour interval: the stop must not wait it out.
        own.run(std::chrono::hours(1));
        auto began = std::chrono::steady_clock::now();
        own.stop();
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(30));
        EXPECT_LE(polls, after + 1) << "at most the new run's first poll";
        EXPECT_FALSE(own.isRunning());
    }

}
}
