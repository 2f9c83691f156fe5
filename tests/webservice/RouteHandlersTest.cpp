// The route handlers called in-process: what no client on the wire can send (a request without
// an address, methods outside ASCII), the blocked-client banner, and the route table.

#include "app/AppTestSupport.h"
#include "http/HttpParser.h"
#include "platform/foundation/JSON.h"
#include "webservice/VeskHTTPServer.h"
#include "webservice/VeskWebServices.h"

#include <gtest/gtest.h>

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
        ASSERT_EQ(queue.size(), 10u) << "one notice per refused request";
        EXPECT_EQ(queue.front()->message(), std::optional<std::string>("Blocked request from \"Kitchen tablet\" (10.0.0.9)!"));
        EXPECT_EQ(queue.front()->type(), NotificationType::Warning);
        EXPECT_EQ(queue.front()->duration(), 3);
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
