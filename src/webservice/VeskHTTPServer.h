#pragma once

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpServer.h"
#include "platform/foundation/Value.h"
#include "webservice/BlockedNotices.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vesk {

// The app's web file service: one shared object that owns the HTTP server and its routes,
// keeps the blocked client addresses (stored in the user defaults), announces the server with
// a static banner and analytics events, and launches the Wi-Fi watch on its first start.
//
// Threads: start, stop, updateBlockedIP and loadBlockedIPs run on the main thread. Route
// handlers run on connection threads and the Wi-Fi watch on a thread of its own; they read the
// blocked list through isBlockedAddress / blockedIPs (guarded) and the flags (atomics).
//
// Plugging in: the route handlers and the Wi-Fi watch are defined in files of their own. Those
// files hand them over with setRoutes and setWifiWatchLauncher, from one function of theirs that
// the program and tests call at start, before the shared instance is first used. The routes are
// registered on the HTTP server, in the order given, when the shared instance is made; the
// launcher runs once, on the first start of the process. Without routes the server answers
// every request with 404.
class VeskHTTPServer {
public:
    // Answers one request; runs on the request's connection thread, in parallel with others.
    using RouteHandler = std::function<HttpResponse(VeskHTTPServer& service, const HttpRequest& request)>;
    struct Route {
        std::string path; // the route's pattern (a regular expression, see HttpServer)
        RouteHandler handler;
    };
    // Starts the Wi-Fi watch for the rest of the process (it must not block the caller).
    using WifiWatchLauncher = std::function<void(VeskHTTPServer& service)>;

    static void setRoutes(std::vector<Route> routes);
    static void setWifiWatchLauncher(WifiWatchLauncher launcher);

    // Made once, on first use, from any thread: the blocked list is loaded, then the routes
    // are registered. Lives as long as the process.
    static VeskHTTPServer& sharedInstance();

    // Class-level operations on the shared instance; main thread.
    static void start();
    static void stop();
    static void updateBlockedIP(const std::string& ip, const std::string& name, bool remove);
    // Reloads the blocked list from the user defaults (when a dictionary is stored there) and
    // answers a copy of it: connection threads read the list at the same time, so a caller
    // reads it again after each change.
    static platform::Dictionary loadBlockedIPs();
    static bool isRunning();

    // The click handler of the service's static banners: presents the settings screen.
    static void openSettingsOnClick();

    // The port the service listens on: VESK_PORT when it holds a port number, else 8080.
    static std::uint16_t port();

    // The nine routes, in registration order; installWebServices hands them over.
    static std::vector<Route> routeTable();

    // The route handlers; each runs on its request's connection thread, answers refusals and
    // outcomes in the JSON envelope, and never throws.
    HttpResponse getBookmarks(const HttpRequest& request);
    HttpResponse getHomeDir(const HttpRequest& request);
    HttpResponse getDocDir(const HttpRequest& request);
    HttpResponse getFileInfo(const HttpRequest& request);
    HttpResponse getIcon(const HttpRequest& request);
    HttpResponse setFile(const HttpRequest& request);
    HttpResponse getFile(const HttpRequest& request);
    HttpResponse debug(const HttpRequest& request);
    HttpResponse generalRequest(const HttpRequest& request);
    // The warning banner about a refused blocked client; main queue only. The banner holds the
    // address's slot until it has left the screen or been dropped.
    static void blockedRequest(const std::string& name, const std::string& address, std::shared_ptr<BlockedNotices::Slot> slot = nullptr);

    // The Wi-Fi watch: polls the Wi-Fi address once a second, on a thread of its own, until
    // the process ends (or WifiWatch::shutDown).
    static void wifiChecker(VeskHTTPServer& service);
    // What a poll of the watch queues on the main queue.
    static void wifiRestart();
    static void wifiLostNotice();
    static void wifiStop();

    // For route handlers, from any thread. A client on a dual-stack socket ("::ffff:a.b.c.d")
    // matches the entry of its IPv4 address.
    bool isBlockedAddress(const std::string& address) const;
    // The name the address was blocked under, read as text; absent when it is not blocked.
    std::optional<std::string> blockedName(const std::string& address) const;
    platform::Dictionary blockedIPs() const;
    // The addresses whose blocked-client banner waits or shows.
    BlockedNotices& blockedNotices() const { return *m_blockedNotices; }
    // The folder of the bundle's web front end (the one holding "index.html"); the bundle's
    // "web" folder when the bundle lacks the page, never empty.
    const std::string& webPath() const { return m_webPath; }
    HttpServer& server() { return m_server; }

    // The service's state, shared with the Wi-Fi watch's thread.
    std::atomic<bool> pIsRunning { false }; // listening after a successful start
    std::atomic<bool> pIsPaused { false }; // no Wi-Fi while wanted; set by the watch only
    std::atomic<bool> pShouldRun { false }; // wanted: from a start until the next stop
    std::atomic<bool> phasChecker { false }; // the watch has been launched

    // Back to a new process's state, for tests: stopped, all four flags false, the blocked list
    // read again from the user defaults. The routes stay registered.
    static void reset();

    VeskHTTPServer(const VeskHTTPServer&) = delete;
    VeskHTTPServer& operator=(const VeskHTTPServer&) = delete;

private:
    VeskHTTPServer();
    void startService();
    void stopService();
    void replaceBlockedIPsFromDefaults();

    HttpServer m_server;
    std::string m_webPath;
    mutable std::mutex m_blockedLock;
    platform::Dictionary blackListedIPs; // address -> name; guarded by m_blockedLock
    std::shared_ptr<BlockedNotices> m_blockedNotices = std::make_shared<BlockedNotices>();
};

}
