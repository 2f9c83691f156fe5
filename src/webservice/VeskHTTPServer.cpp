#include "webservice/VeskHTTPServer.h"

#include "app/Utility.h"
#include "model/PlatformUtilities.h"
#include "model/SettingsKeys.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "sdk/Analytics.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <malloc.h>

namespace vesk {

using platform::Dictionary;
using platform::NSUserDefaults;
using platform::Value;

namespace {

    struct Plugs {
        std::mutex lock;
        std::vector<VeskHTTPServer::Route> routes;
        VeskHTTPServer::WifiWatchLauncher launcher;
    };

    Plugs& plugs()
    {
        static Plugs instance;
        return instance;
    }

    std::string frontEndFolder()
    {
        auto& bundle = platform::NSBundle::mainBundle();
        if (auto index = bundle.pathForResource("index", "html", "web"))
            return platform::stringByDeletingLastPathComponent(*index);
        return platform::stringByAppendingPathComponent(bundle.bundlePath(), "web");
    }

    bool isLoopbackAddress(const std::string& address)
    {
        in_addr v4 {};
        if (::inet_pton(AF_INET, address.c_str(), &v4) == 1)
            return (ntohl(v4.s_addr) >> 24) == 127;
        in6_addr v6 {};
        return ::inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
    }

    // The server answers on every interface; when the Wi-Fi stand-in is the loopback interface
    // there is no network to serve, so it stays on loopback.
    std::string listenAddressFor(const std::string& wifiAddress)
    {
        return isLoopbackAddress(wifiAddress) ? "127.0.0.1" : "0.0.0.0";
    }

    // "a.b.c.d" for "::ffff:a.b.c.d", the form an IPv4 client takes on a dual-stack socket.
    std::optional<std::string> ipv4OfMappedAddress(const std::string& address)
    {
        in6_addr v6 {};
        if (::inet_pton(AF_INET6, address.c_str(), &v6) != 1 || !IN6_IS_ADDR_V4MAPPED(&v6))
            return std::nullopt;
        char text[INET_ADDRSTRLEN] = {};
        if (!::inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text))
            return std::nullopt;
        return std::string(text);
    }

    std::string runningBannerText(const std::string& address, std::uint16_t port)
    {
        auto text = localizedFormat("Webserver: %@:8080", { address });
        if (port == 8080)
            return text;
        auto at = text.rfind(":8080");
        if (at != std::string::npos)
            text.replace(at, 5, ":" + std::to_string(port));
        return text;
    }

}

void VeskHTTPServer::setRoutes(std::vector<Route> routes)
{
    std::lock_guard lock(plugs().lock);
    plugs().routes = std::move(routes);
}

void VeskHTTPServer::setWifiWatchLauncher(WifiWatchLauncher launcher)
{
    std::lock_guard lock(plugs().lock);
    plugs().launcher = std::move(launcher);
}

VeskHTTPServer::VeskHTTPServer()
    : m_webPath(frontEndFolder())
{
    // Large answers (Base64 texts, decoded pictures) go into blocks the system takes back when
    // they are freed; otherwise freed blocks stay with the threads that used them and the
    // process keeps the peak of every burst.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
    replaceBlockedIPsFromDefaults();
    std::vector<Route> routes;
    {
        std::lock_guard lock(plugs().lock);
        routes = plugs().routes;
    }
    for (auto& route : routes) {
        if (!route.handler)
            continue;
        m_server.registerHandler(
            route.path, [this, handler = route.handler](const HttpRequest& request) {
                return handler(*this, request);
            },
            // No service reads a body's bytes, so none is held, and a blocked client is refused
            // before its body arrives.
            HttpServer::BodyUse::LengthOnly);
    }
}

VeskHTTPServer& VeskHTTPServer::sharedInstance()
{
    // Destroyed at exit before the statics it uses, which stops the server's threads first.
    static VeskHTTPServer instance;
    return instance;
}

std::uint16_t VeskHTTPServer::port()
{
    const char* text = std::getenv("VESK_PORT");
    if (!text || !*text)
        return 8080;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno || *end || value < 1 || value > 65535)
        return 8080;
    return static_cast<std::uint16_t>(value);
}

void VeskHTTPServer::start()
{
    sharedInstance().startService();
}

void VeskHTTPServer::stop()
{
    sharedInstance().stopService();
}

void VeskHTTPServer::startService()
{
    loadBlockedIPs();
    pShouldRun = true;
    if (!phasChecker.exchange(true)) {
        WifiWatchLauncher launcher;
        {
            std::lock_guard lock(plugs().lock);
            launcher = plugs().launcher;
        }
        if (launcher)
            launcher(*this);
    }

    auto address = getWiFiAddress();
    if (!address)
        return;
    VeskNotificationManager::dismissStaticNotification();
    if (pIsRunning) {
        debugLog("The server is already running!", __FILE__, __LINE__, __func__);
        return;
    }

    auto listenPort = port();
    try {
        m_server.start(listenPort, listenAddressFor(*address));
        pIsRunning = true;
    } catch (const std::exception&) {
        pIsRunning = false;
    }

    if (pIsRunning) {
        VeskNotificationManager::showStaticNotification(runningBannerText(*address, listenPort), NotificationType::Server, nullptr, openSettingsOnClick);
        Analytics::logCustomEventWithName("HTTP-Server", { { "State", Value(true) } });
    } else {
        VeskNotificationManager::showNotification(localized("Error setting up Webserver!"), NotificationType::Error, nullptr, nullptr, 3.0);
        Analytics::logCustomEventWithName("Error starting HTTP-Server", { { "address", Value(*address) } });
    }
}

void VeskHTTPServer::stopService()
{
    pIsPaused = false;
    pShouldRun = false;
    pIsRunning = false;
    m_server.stop();
    VeskNotificationManager::dismissStaticNotification();
    Analytics::logCustomEventWithName("HTTP-Server", { { "State", Value(false) } });
}

void VeskHTTPServer::updateBlockedIP(const std::string& ip, const std::string& name, bool remove)
{
    auto& service = sharedInstance();
    Dictionary stored;
    {
        std::lock_guard lock(service.m_blockedLock);
        if (remove)
            service.blackListedIPs.erase(ip);
        else
            service.blackListedIPs.set(ip, Value(name));
        stored = service.blackListedIPs;
    }
    NSUserDefaults::standardUserDefaults()->setObject(Value(std::move(stored)), hashedDefaultsKey8());
}

void VeskHTTPServer::replaceBlockedIPsFromDefaults()
{
    auto stored = NSUserDefaults::standardUserDefaults()->dictionaryForKey(hashedDefaultsKey8());
    if (!stored)
        return;
    std::lock_guard lock(m_blockedLock);
    blackListedIPs = std::move(*stored);
}

Dictionary VeskHTTPServer::loadBlockedIPs()
{
    auto& service = sharedInstance();
    service.replaceBlockedIPsFromDefaults();
    return service.blockedIPs();
}

bool VeskHTTPServer::isRunning()
{
    return sharedInstance().pIsRunning;
}

void VeskHTTPServer::openSettingsOnClick()
{
    Utility().openSettings();
}

bool VeskHTTPServer::isBlockedAddress(const std::string& address) const
{
    return blockedName(address).has_value();
}

std::optional<std::string> VeskHTTPServer::blockedName(const std::string& address) const
{
    std::optional<std::string> mapped = ipv4OfMappedAddress(address);
    std::lock_guard lock(m_blockedLock);
    const Value* name = blackListedIPs.find(address);
    if (!name && mapped)
        name = blackListedIPs.find(*mapped);
    if (!name)
        return std::nullopt;
    return name->description();
}

Dictionary VeskHTTPServer::blockedIPs() const
{
    std::lock_guard lock(m_blockedLock);
    return blackListedIPs;
}

void VeskHTTPServer::reset()
{
    auto& service = sharedInstance();
    service.m_server.stop();
    service.pIsRunning = false;
    service.pIsPaused = false;
    service.pShouldRun = false;
    service.phasChecker = false;
    {
        std::lock_guard lock(service.m_blockedLock);
        service.blackListedIPs.clear();
    }
    service.m_blockedNotices->clear();
    service.replaceBlockedIPsFromDefaults();
}

}
