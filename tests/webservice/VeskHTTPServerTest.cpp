#include "app/AppTestSupport.h"
#include "webservice/WebRouteTestSupport.h"

#include "app/AppDelegate.h"
#include "model/SettingsKeys.h"
#include "screens/SettingsTableViewController.h"
#include "sdk/Analytics.h"

#include <thread>

using namespace vesk;
using namespace vesk::platform;
using vesk::test::AppTest;
using vesk::test::isListening;
using vesk::test::wifiPresent;

namespace {

// The service answers with these routes in this process; they are handed over before the
// shared instance is first made, as the program does.
int launches = 0;
const bool installed = [] {
    VeskHTTPServer::setRoutes({
        { "/blocked", [](VeskHTTPServer& service, const HttpRequest& request) {
             bool blocked = request.address && service.isBlockedAddress(*request.address);
             return HttpResponse::RAW(200, "OK", std::nullopt, HttpBytes { static_cast<std::uint8_t>(blocked ? 'y' : 'n') });
         } },
        { "/web", [](VeskHTTPServer& service, const HttpRequest&) {
             auto path = service.webPath();
             return HttpResponse::RAW(200, "OK", std::nullopt, HttpBytes(path.begin(), path.end()));
         } },
    });
    VeskHTTPServer::setWifiWatchLauncher([](VeskHTTPServer&) { ++launches; });
    return true;
}();

// The body of a 200 answer to a GET on loopback, or absent.
std::optional<std::string> get(std::uint16_t port, const std::string& path)
{
    auto answer = vesk::test::httpGet(port, path);
    return answer.status == 200 ? std::optional(answer.body) : std::nullopt;
}

class VeskHTTPServerTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        launches = 0;
    }

    VeskHTTPServer& service() { return VeskHTTPServer::sharedInstance(); }

    std::vector<std::pair<std::string, Dictionary>> events()
    {
        std::vector<std::pair<std::string, Dictionary>> list;
        for (auto& event : Analytics::recordedEvents())
            list.emplace_back(event.name, event.attributes);
        return list;
    }

    std::optional<Value> storedList() { return NSUserDefaults::standardUserDefaults()->objectForKey(hashedDefaultsKey8()); }
};

TEST_F(VeskHTTPServerTest, StartListensAnnouncesItselfAndStopUndoesIt)
{
    ASSERT_TRUE(installed);
    VeskHTTPServer::start();
    EXPECT_TRUE(VeskHTTPServer::isRunning());
    EXPECT_TRUE(service().pShouldRun);
    EXPECT_TRUE(service().phasChecker);
    EXPECT_FALSE(service().pIsPaused);
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(get(port, "/blocked"), "n");

    auto banner = VeskNotificationManager::staticNotification();
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(banner->message(), "Webserver: 127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(banner->type(), NotificationType::Server);
    EXPECT_EQ(events(), (std::vector<std::pair<std::string, Dictionary>> { { "HTTP-Server", { { "State", Value(true) } } } }));

    VeskHTTPServer::stop();
    EXPECT_FALSE(VeskHTTPServer::isRunning());
    EXPECT_FALSE(service().pShouldRun);
    EXPECT_TRUE(service().phasChecker) << "the watch keeps running";
    EXPECT_FALSE(isListening(port));
    EXPECT_EQ(VeskNotificationManager::staticNotification(), nullptr);
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[1], (std::pair<std::string, Dictionary> { "HTTP-Server", { { "State", Value(false) } } }));

    // Again: the watch is launched by the first start only.
    VeskHTTPServer::start();
    EXPECT_TRUE(isListening(port));
    EXPECT_EQ(launches, 1);
}

TEST_F(VeskHTTPServerTest, TheRunningBannerOpensTheSettings)
{
    UIApplication::sharedApplication().launch(std::make_shared<AppDelegate>());
    VeskHTTPServer::start();
    auto banner = VeskNotificationManager::staticNotification();
    ASSERT_NE(banner, nullptr);
    ASSERT_TRUE(banner->isShowing());
    driver.tapView(*banner->notificationView());
    EXPECT_NE(driver.visible<SettingsTableViewController>(), nullptr);
}

TEST_F(VeskHTTPServerTest, ASecondStartOpensNoSecondSocketAndLeavesTheBannerDismissed)
{
    VeskHTTPServer::start();
    ASSERT_TRUE(isListening(port));
    VeskHTTPServer::start();
    EXPECT_TRUE(VeskHTTPServer::isRunning());
    EXPECT_TRUE(isListening(port));
    EXPECT_EQ(VeskNotificationManager::staticNotification(), nullptr);
    EXPECT_EQ(events().size(), 1u);
}

TEST_F(VeskHTTPServerTest, AFailedStartIsReportedAndLeavesTheServiceWanted)
{
    // Somebody else holds the port.
    int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = vesk::test::loopbackAddress(port);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);

    VeskHTTPServer::start();
    ::close(holder);
    EXPECT_FALSE(VeskHTTPServer::isRunning());
    EXPECT_TRUE(service().pShouldRun);
    EXPECT_EQ(VeskNotificationManager::staticNotification(), nullptr);
    auto queue = VeskNotificationManager::queue();
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue[0]->message(), "Error setting up Webserver!");
    EXPECT_EQ(queue[0]->type(), NotificationType::Error);
    EXPECT_EQ(queue[0]->duration(), 3.0);
    EXPECT_EQ(events(), (std::vector<std::pair<std::string, Dictionary>> { { "Error starting HTTP-Server", { { "address", Value("127.0.0.1") } } } }));
}

TEST_F(VeskHTTPServerTest, StopIsSafeToRepeatOnAStoppedService)
{
    VeskHTTPServer::stop();
    VeskHTTPServer::stop();
    EXPECT_FALSE(VeskHTTPServer::isRunning());
    EXPECT_EQ(events().size(), 2u);
    VeskHTTPServer::start();
    EXPECT_TRUE(isListening(port));
}

TEST_F(VeskHTTPServerTest, TheBlockedListIsStoredWholeOnEveryChange)
{
    VeskHTTPServer::updateBlockedIP("10.0.0.2", "phone", false);
    VeskHTTPServer::updateBlockedIP("10.0.0.3", "laptop", false);
    VeskHTTPServer::updateBlockedIP("10.0.0.2", "tablet", false);
    Dictionary expected { { "10.0.0.2", Value("tablet") }, { "10.0.0.3", Value("laptop") } };
    EXPECT_EQ(storedList(), Value(expected));
    EXPECT_EQ(VeskHTTPServer::loadBlockedIPs(), expected);
    EXPECT_TRUE(service().isBlockedAddress("10.0.0.3"));

    VeskHTTPServer::updateBlockedIP("10.9.9.9", "", true);
    EXPECT_EQ(storedList(), Value(expected)) << "unblocking an unlisted address rewrites the list unchanged";
    VeskHTTPServer::updateBlockedIP("10.0.0.2", "", true);
    VeskHTTPServer::updateBlockedIP("10.0.0.3", "ignored", true);
    EXPECT_EQ(storedList(), Value(Dictionary {}));
    EXPECT_FALSE(service().isBlockedAddress("10.0.0.3"));

    // The copy handed out is not the service's own list.
    auto copy = VeskHTTPServer::loadBlockedIPs();
    copy.set("1.2.3.4", Value("x"));
    EXPECT_FALSE(service().isBlockedAddress("1.2.3.4"));

    // Loading keeps the list when nothing usable is stored.
    VeskHTTPServer::updateBlockedIP("10.0.0.2", "phone", false);
    NSUserDefaults::standardUserDefaults()->removeObjectForKey(hashedDefaultsKey8());
    EXPECT_EQ(VeskHTTPServer::loadBlockedIPs(), (Dictionary { { "10.0.0.2", Value("phone") } }));
    NSUserDefaults::standardUserDefaults()->setObject(Value("not a dictionary"), hashedDefaultsKey8());
    EXPECT_EQ(VeskHTTPServer::loadBlockedIPs().size(), 1u);
}

TEST_F(VeskHTTPServerTest, AStoredBlockIsInForceForTheFirstRequestAndAChangeForTheNext)
{
    NSUserDefaults::standardUserDefaults()->setObject(Value(Dictionary { { "127.0.0.1", Value("me") } }), hashedDefaultsKey8());
    VeskHTTPServer::reset();
    VeskHTTPServer::start();
    // On one kept-alive connection: the answer, then the block for the next request.
    vesk::test::Client client(port);
    for (auto [answer, block] : { std::pair('y', false), std::pair('n', true), std::pair('y', false) }) {
        client.send("GET /blocked HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
        EXPECT_EQ(client.readResponse().back(), answer);
        VeskHTTPServer::updateBlockedIP("127.0.0.1", "me", !block);
    }
    EXPECT_EQ(get(port, "/web"), service().webPath());
    EXPECT_FALSE(service().webPath().empty());
}

TEST_F(VeskHTTPServerTest, ConnectionsReadTheBlockedListWhileTheScreenEditsIt)
{
    VeskHTTPServer::start();
    std::atomic<bool> done { false };
    std::vector<std::thread> clients;
    for (int index = 0; index < 3; ++index) {
        clients.emplace_back([&] {
            while (!done) {
                auto answer = get(port, "/blocked");
                EXPECT_TRUE(answer == "y" || answer == "n");
                service().blockedIPs();
            }
        });
    }
    for (int index = 0; index < 200; ++index) {
        VeskHTTPServer::updateBlockedIP("127.0.0.1", "me", index % 2 == 1);
        VeskHTTPServer::updateBlockedIP("10.0.0." + std::to_string(index % 7), "other", false);
        VeskHTTPServer::loadBlockedIPs();
    }
    done = true;
    for (auto& client : clients)
        client.join();
    EXPECT_FALSE(service().isBlockedAddress("127.0.0.1"));
}

}
