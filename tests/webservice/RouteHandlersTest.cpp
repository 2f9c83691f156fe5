// The route handlers called in-process: what no client on the wire can send (a request without
// an address, methods outside ASCII), the blocked-client banner, and the route table.

#include "app/AppTestSupport.h"
#include "http/HttpParser.h"
#include "platform/foundation/JSON.h"
#include "webservice/VeskHTTPServer.h"
#include "webservice/VeskWebServices.h"

#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace vesk::test {
namespace {

    using platform::Value;

    class RouteHandlersTest : public AppTest {
    protected:
        void SetUp() override
        {
            // Before the service is first made: it takes its routes then.
            installWebServices(false);
            AppTest::SetUp();
        }

        static Value envelopeOf(const HttpResponse& response)
        {
            EXPECT_EQ(response.statusCode(), 200);
            auto body = response.body();
            if (!body)
                return {};
            auto parsed = platform::JSONObjectWithData(std::string(body->begin(), body->end()));
            return parsed ? (*parsed)["response"] : Value();
        }

        static HttpRequest request(std::string url, std::string method = "GET", std::optional<std::string> address = "127.0.0.1")
        {
            HttpRequest made;
            made.url = std::move(url);
            made.method = std::move(method);
            made.address = std::move(address);
            made.urlParams = extractUrlParams(made.url);
            return made;
        }

        static VeskHTTPServer& service() { return VeskHTTPServer::sharedInstance(); }
        // An envelope without "info".
        static Value outcome(int code, const char* phrase, const char* message)
        {
            return Value(platform::Dictionary { { "statuscode", Value(code) }, { "statusmessage", Value(phrase) }, { "message", Value(message) } });
        }
    };

    TEST_F(RouteHandlersTest, RoutesAreTheNineInRegistrationOrder)
    {
        std::vector<std::string> paths;
        for (auto& route : VeskHTTPServer::routeTable())
            paths.push_back(route.path);
        EXPECT_EQ(paths, (std::vector<std::string> { "/getBookmarks", "/getHomeDir", "/getDocDir", "/getFileInfo", "/getIcon", "/setFile", "/getFile", "/debug", "/" }));
        EXPECT_EQ(service().server().routes().size(), 9u);
    }

    TEST_F(RouteHandlersTest, ARequestWithoutAClientAddressIsRefused)
    {
        for (auto& [path, handler] : VeskHTTPServer::routeTable()) {
            auto envelope = envelopeOf(handler(service(), request(path + "?path=/&type=raw", path == "/setFile" ? "POST" : "GET", std::nullopt)));
            EXPECT_EQ(envelope, outcome(403, "Forbidden", "The client address could not be read!")) << path;
        }
        driver.drain();
        EXPECT_TRUE(VeskNotificationManager::queue().empty());
    }

    TEST_F(RouteHandlersTest, ABlockedClientIsNamedInAWarningBanner)
    {
        VeskHTTPServer::updateBlockedIP("10.0.0.9", "Kitchen tablet", false);
        for (auto& [path, handler] : VeskHTTPServer::routeTable()) {
            auto envelope = envelopeOf(handler(service(), request(path, "put", "10.0.0.9")));
            EXPECT_EQ(envelope["message"], Value("You have been banned!")) << path;
        }
        // A dual-stack socket shows an IPv4 client as "::ffff:a.b.c.d".
        EXPECT_EQ(envelopeOf(service().debug(request("/debug", "GET", "::ffff:10.0.0.9")))["message"], Value("You have been banned!"));
        // Another address is served.
        EXPECT_EQ(envelopeOf(service().debug(request("/debug", "GET", "10.0.0.90")))["statuscode"].integerValue(), 200);

        driver.drain();
        auto queue = VeskNotificationManager::queue();
        ASSERT_EQ(queue.size(), 2u) << "one banner per address; the repeats are merged into it";
        EXPECT_EQ(queue.front()->message(), std::optional<std::string>("Blocked request from \"Kitchen tablet\" (10.0.0.9)!"));
        EXPECT_EQ(queue.front()->type(), NotificationType::Warning);
        EXPECT_EQ(queue.front()->duration(), 3);
        EXPECT_EQ(queue.back()->message(), std::optional<std::string>("Blocked request from \"Kitchen tablet\" (::ffff:10.0.0.9)!"));
    }

    TEST_F(RouteHandlersTest, AnAddressRaisesANewBannerOnceItsBannerHasGone)
    {
        VeskHTTPServer::updateBlockedIP("10.0.0.9", "Kitchen tablet", false);
        auto refuse = [&] { service().debug(request("/debug", "GET", "10.0.0.9")); };
        auto bannersAfterRefusals = [&] {
            refuse();
            refuse();
            driver.drain();
            return VeskNotificationManager::queue().size();
        };
        EXPECT_EQ(bannersAfterRefusals(), 1u);
        // Refused again while it shows, then after it has slid out.
        driver.advance(2);
        EXPECT_EQ(bannersAfterRefusals(), 1u);
        driver.advance(2);
        EXPECT_TRUE(VeskNotificationManager::queue().empty());
        EXPECT_EQ(bannersAfterRefusals(), 1u);
        // A banner cleared away (the app going to the background) frees its address too, also
        // one that was still waiting behind another.
        VeskNotificationManager::showNotification("first", NotificationType::Info, nullptr, nullptr, 30);
        driver.advance(1);
        EXPECT_EQ(bannersAfterRefusals(), 2u);
        VeskNotificationManager::clearQueue();
        driver.advance(1);
        EXPECT_EQ(bannersAfterRefusals(), 1u);
    }

    TEST_F(RouteHandlersTest, RefusalsOnManyThreadsQueueOneBlockPerAddressForTheMainQueue)
    {
        VeskHTTPServer::updateBlockedIP("10.0.0.9", "Kitchen tablet", false);
        VeskHTTPServer::updateBlockedIP("10.0.0.10", "Hall tablet", false);
        std::vector<std::thread> clients;
        for (int thread = 0; thread < 8; ++thread) {
            clients.emplace_back([thread] {
                for (int index = 0; index < 500; ++index)
                    service().debug(request("/debug", "GET", thread % 2 ? "10.0.0.9" : "10.0.0.10"));
            });
        }
        for (auto& client : clients)
            client.join();
        EXPECT_EQ(platform::RunLoop::main().pendingBlockCount(), 2u);
        driver.drain();
        std::set<std::string> shown;
        for (auto& banner : VeskNotificationManager::queue())
            shown.insert(banner->message().value_or(""));
        EXPECT_EQ(shown, (std::set<std::string> { "Blocked request from \"Kitchen tablet\" (10.0.0.9)!", "Blocked request from \"Hall tablet\" (10.0.0.10)!" }));
    }

    TEST_F(RouteHandlersTest, AnEmptyPathValueIsNotFoundWithoutInfo)
    {
        // No target on the wire decodes to an empty value the server lets through.
        HttpRequest made = request("/getFile");
        made.urlParams = { { "path", "" }, { "type", "raw" } };
        EXPECT_EQ(envelopeOf(service().getFile(made)), outcome(404, "Not Found", "The path parameter is empty!"));
    }

    TEST_F(RouteHandlersTest, MethodsAreUpperCasedAsText)
    {
        // Request bytes are characters of their own code points: "été" in Latin-1.
        auto envelope = envelopeOf(service().getDocDir(request("/getDocDir", "\xE9t\xE9")));
        EXPECT_EQ(envelope["message"], Value("\"\xC3\x89T\xC3\x89\" is not supported, please use \"GET\""));
        envelope = envelopeOf(service().debug(request("/debug", "stra\xDF"
                                                                "e")));
        EXPECT_EQ(envelope["message"], Value("\"STRASSE\" is not supported, please use GET"));
    }

}
}
