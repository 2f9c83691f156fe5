#include "platform/uikit/WebFetchPolicy.h"
#include "http/HttpServer.h"
#include "platform/foundation/NSURLCache.h"
#include "platform/foundation/NSURLConnection.h"
#include "platform/system/NetworkInterfaces.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>

using namespace vesk;
using namespace vesk::platform;

namespace {

sockaddr_storage socketAddress(const std::string& text)
{
    sockaddr_storage storage {};
    auto* four = reinterpret_cast<sockaddr_in*>(&storage);
    auto* six = reinterpret_cast<sockaddr_in6*>(&storage);
    if (::inet_pton(AF_INET, text.c_str(), &four->sin_addr) == 1)
        four->sin_family = AF_INET;
    else if (::inet_pton(AF_INET6, text.c_str(), &six->sin6_addr) == 1)
        six->sin6_family = AF_INET6;
    return storage;
}

bool allows(const WebFetchPolicy& policy, const std::string& url, const std::string& address)
{
    auto storage = socketAddress(address);
    return policy.allows(*NSURL::URLWithString(url), reinterpret_cast<const sockaddr&>(storage));
}

NSURLResponse servedFrom(const std::string& url, const std::string& address)
{
    NSURLResponse response(*NSURL::URLWithString(url));
    response.remoteAddress = address;
    return response;
}

// The machine's interfaces as the tests give them.
class WebFetchPolicyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setInterfaceSource([] {
            return std::vector<InterfaceAddress> {
                { "lo", AddressFamily::IPv4, "127.0.0.1", true, true, false },
                { "eth0", AddressFamily::IPv4, "198.51.100.9", true, false, false },
                { "eth0", AddressFamily::IPv6, "fe80::9%eth0", true, false, true },
            };
        });
    }
    void TearDown() override { setInterfaceSource({}); }
};

}

TEST(IPAddressTest, AddressesInsideTheMachineOrItsNetworksAreInternal)
{
    std::vector<IPAddress> machine { *IPAddress::fromText("203.0.113.7"), *IPAddress::fromText("2001:db8::7") };
    struct Case {
        const char* address;
        bool internal;
    };
    const Case cases[] {
        { "0.0.0.0", true },
        { "0.1.2.3", true },
        { "127.0.0.1", true },
        { "10.0.0.1", true },
        { "172.16.0.1", true },
        { "172.31.255.255", true },
        { "172.15.255.255", false },
        { "172.32.0.1", false },
        { "192.168.0.1", true },
        { "192.167.255.255", false },
        { "169.254.169.254", true },
        { "8.8.8.8", false },
        { "203.0.113.7", true },
        { "203.0.113.8", false },
        { "::", true },
        { "::1", true },
        { "::ffff:127.0.0.1", true },
        { "::ffff:10.1.2.3", true },
        { "::ffff:8.8.8.8", false },
        { "::127.0.0.1", true },
        { "::ffff:203.0.113.7", true },
        { "fe80::1", true },
        { "fe80::1%eth0", true },
        { "febf::1", true },
        { "fec0::1", false },
        { "fc00::1", true },
        { "fe00::1", false },
        { "2001:4860:4860::8888", false },
        { "2001:db8::7", true },
    };
    for (auto& test : cases) {
        auto address = IPAddress::fromText(test.address);
        ASSERT_TRUE(address) << test.address;
        EXPECT_EQ(isInternalAddress(*address, machine), test.internal) << test.address;
    }
    EXPECT_FALSE(IPAddress::fromText("localhost"));
    EXPECT_FALSE(IPAddress::fromText("127.1"));
}

// Who asks decides what inside addresses are open: a person the host they named, a page from
// inside its own origin at its own address, anything else none.
TEST_F(WebFetchPolicyTest, EachAddressIsJudgedByWhoAsks)
{
    auto filePage = WebFetchPolicy::forPage(NSURLResponse(NSURL::fileURLWithPath("/tmp/page.html")));
    auto outsidePage = WebFetchPolicy::forPage(servedFrom("http://example.org/page.html", "93.184.216.34"));
    auto insidePage = WebFetchPolicy::forPage(servedFrom("http://LocalHost:8080/page.html", "127.0.0.1"));
    auto lanPage = WebFetchPolicy::forPage(servedFrom("http://printer.lan/", "192.168.1.20"));
    auto person = WebFetchPolicy::forNavigation(*NSURL::URLWithString("http://printer.lan/setup"));
    struct Case {
        const char* name;
        const WebFetchPolicy& policy;
        const char* url;
        const char* address;
        bool allowed;
    };
    const Case cases[] {
        { "file page, outside", filePage, "http://example.org/a.png", "93.184.216.34", true },
        { "file page, loopback", filePage, "http://127.0.0.1:8080/getFile", "127.0.0.1", false },
        { "file page, machine's own address", filePage, "http://198.51.100.9:8080/getFile", "198.51.100.9", false },
        { "file page, its link-local address", filePage, "http://[fe80::9]:8080/", "fe80::9", false },
        { "outside page, a name pointing at loopback", outsidePage, "http://example.org/a.png", "127.0.0.1", false },
        { "outside page, mapped loopback", outsidePage, "http://example.org/a.png", "::ffff:127.0.0.1", false },
        { "outside page, private network", outsidePage, "http://10.0.0.1/", "10.0.0.1", false },
        { "outside page, unspecified", outsidePage, "http://0.0.0.0:8080/", "0.0.0.0", false },
        { "inside page, own origin", insidePage, "http://localhost:8080/a.png", "127.0.0.1", true },
        { "inside page, own origin by the default spelling", insidePage, "HTTP://LOCALHOST:8080/a.png", "127.0.0.1", true },
        { "inside page, own origin at another address", insidePage, "http://localhost:8080/a.png", "::1", false },
        { "inside page, another port", insidePage, "http://localhost:8081/a.png", "127.0.0.1", false },
        { "inside page, another scheme", insidePage, "https://localhost:8080/a.png", "127.0.0.1", false },
        { "inside page, another name for the address", insidePage, "http://127.0.0.1:8080/a.png", "127.0.0.1", false },
        { "LAN page, own origin with its default port", lanPage, "http://printer.lan:80/status", "192.168.1.20", true },
        { "LAN page, another host of its network", lanPage, "http://router.lan/", "192.168.1.1", false },
        { "person, the host named", person, "http://printer.lan/", "192.168.1.20", true },
        { "person, the host named on another scheme and port", person, "https://printer.lan:8443/", "192.168.1.20", true },
        { "person, led elsewhere inside", person, "http://127.0.0.1:8080/getFile", "127.0.0.1", false },
        { "person, led outside", person, "http://example.org/", "93.184.216.34", true },
    };
    for (auto& test : cases)
        EXPECT_EQ(allows(test.policy, test.url, test.address), test.allowed) << test.name;
}

// Through the loader: every hop of a redirect is judged before it connects, and a refused one
// fails the load with its own error; nothing stored from an earlier load stands in for it.
TEST(WebFetchPolicyLoadTest, EachRedirectIsJudgedBeforeItConnects)
{
    std::atomic<int> reached { 0 };
    HttpServer target;
    target.registerHandler("^/secret$", [&](const HttpRequest&) {
        ++reached;
        std::string body = "secret";
        return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", "text/plain" } }, HttpBytes(body.begin(), body.end()));
    });
    target.start(0, "127.0.0.1");
    auto secret = "http://127.0.0.1:" + std::to_string(target.port()) + "/secret";
    HttpServer site;
    site.registerHandler("^/away$", [&](const HttpRequest&) { return HttpResponse::MovedPermanently(secret); });
    site.registerHandler("^/elsewhere$", [&](const HttpRequest&) { return HttpResponse::MovedPermanently("http://localhost:" + std::to_string(target.port()) + "/secret"); });
    site.start(0, "127.0.0.1");
    auto origin = "http://127.0.0.1:" + std::to_string(site.port());
    auto load = [](const WebFetchPolicy& policy, const std::string& url, NSURLResponse* response = nullptr, NSError* error = nullptr) {
        return NSURLConnection::sendSynchronousRequest(policy.checked(NSURLRequest(*NSURL::URLWithString(url), 10)), response, error).has_value();
    };

    auto page = WebFetchPolicy::forPage(servedFrom(origin + "/page.html", "127.0.0.1"));
    NSError error;
    EXPECT_FALSE(load(page, origin + "/away", nullptr, &error));
    EXPECT_EQ(error.code, NSURLErrorCannotConnectToHost);
    EXPECT_EQ(error.localizedDescription, "The address may not be reached from here.");
    EXPECT_FALSE(load(page, secret));
    // A person's load may go on where the host they named leads, and no further.
    NSURLResponse response(*NSURL::URLWithString(origin));
    EXPECT_TRUE(load(WebFetchPolicy::forNavigation(*NSURL::URLWithString(origin + "/away")), origin + "/away", &response));
    EXPECT_EQ(response.URL.absoluteString(), secret);
    EXPECT_EQ(response.remoteAddress, "127.0.0.1");
    EXPECT_EQ(reached, 1);
    EXPECT_FALSE(load(WebFetchPolicy::forNavigation(*NSURL::URLWithString(origin + "/elsewhere")), origin + "/elsewhere"));

    // Stored by an unchecked load, the response is still not handed to a checked one.
    auto folder = std::filesystem::temp_directory_path() / ("vesk-policy-cache-" + std::to_string(::getpid()));
    NSURLCache::setSharedURLCache(std::make_shared<NSURLCache>(1 << 20, 1 << 20, folder.string()));
    EXPECT_TRUE(NSURLConnection::sendSynchronousRequest(NSURLRequest(*NSURL::URLWithString(secret)), nullptr, nullptr));
    EXPECT_FALSE(load(page, secret));
    NSURLCache::setSharedURLCache(nullptr);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(reached, 2);
    site.stop();
    target.stop();
}
