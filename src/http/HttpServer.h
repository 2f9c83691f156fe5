#pragma once

#include "http/HttpParser.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/Socket.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <shared_mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace vesk {

// Routes requests by pattern to handlers and runs the connections: one thread
// accepts, and every client gets a thread of its own.
class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    HttpServer();
    // Stops, then waits until every connection thread has ended.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // A sample server with one route for each kind of answer the library gives, and "/"
    // listing them all; "/resources/" serves the folder's files when a folder is given,
    // "/login" its "login.html". The server is not started.
    static std::unique_ptr<HttpServer> makeDemoServer(const std::optional<std::string>& folder = std::nullopt);

    // Adds a route; patterns are regular expressions searched anywhere in the
    // request path. A pattern that does not compile prints a diagnostic and adds
    // nothing; an empty handler adds nothing.
    void registerHandler(const std::string& pattern, Handler handler);
    // Always an empty handler: routes are written, never read back.
    Handler handlerForPath(const std::string& pattern) const;
    // The patterns in matching order: descending text order.
    std::vector<std::string> routes() const;

    // Stops whatever runs, then listens on the port; throws the SocketError of
    // making the listener.
    void start(uint16_t port = 8080, const std::string& address = "0.0.0.0");
    // Closes the listener and ends every connection; safe to call any time.
    void stop();
    // The port of the current run (the one chosen for port 0), or 0 when idle.
    uint16_t port() const;

    // Taken at the next start.
    void setLimits(const HttpLimits& limits);
    HttpLimits limits() const;

private:
    struct Route {
        std::string pattern;
        // Absent for a pattern without special characters, which is found as plain text.
        std::optional<std::regex> expression;
        Handler handler;
    };
    struct Run;

    void stopLocked();
    void acceptLoop(Run& run);
    void handleConnection(Socket client, HttpLimits limits);
    HttpResponse respond(HttpRequest& request);
    void writeResponse(const Socket& client, const HttpResponse& response, bool keepAlive) const;
    void endConnection(const Socket& client);

    mutable std::shared_mutex m_handlersLock;
    std::vector<Route> m_handlers;

    mutable std::mutex m_runLock;
    std::unique_ptr<Run> m_run;
    HttpLimits m_limits;

    std::mutex m_clientSocketsLock;
    std::unordered_set<Socket> m_clientSockets;
    size_t m_liveConnections { 0 };
    std::condition_variable m_connectionsChanged;
};

} // namespace vesk
