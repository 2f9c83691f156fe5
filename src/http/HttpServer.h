#pragma once

#include "http/HttpParser.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/Socket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace vesk {

// Routes requests by pattern to handlers and runs the connections. Each thread has an
// epoll set of its own that holds the connections it accepted, and reads, serves and
// answers them itself, so requests of different connections run in parallel without
// hand-offs. A thread busy in a handler for long gets a helper for its other connections.
class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    // What a route's handler takes of a request body: its bytes, or only its announced length.
    // A route of the second kind is served as soon as the head is in; the body's bytes are
    // dropped as they arrive and never held (see HttpRequest::unreadBodyLength).
    enum class BodyUse {
        Bytes,
        LengthOnly,
    };

    HttpServer();
    // Stops, which ends every connection and waits for the server's threads.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // A sample server with one route for each kind of answer the library gives, and "/"
    // listing them all; "/resources/" serves the folder's files when a folder is given,
    // "/login" its "login.html". The server is not started.
    static std::unique_ptr<HttpServer> makeDemoServer(const std::optional<std::string>& folder = std::nullopt);

    // Adds a route; patterns are regular expressions searched anywhere in the
    // request path. A HEAD request reaches its handler as GET, and its answer goes out
    // without the body bytes, which a file body is then never read for. A pattern that does not compile prints a diagnostic and adds
    // nothing; an empty handler adds nothing.
    void registerHandler(const std::string& pattern, Handler handler, BodyUse use = BodyUse::Bytes);
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
        BodyUse use { BodyUse::Bytes };
    };
    class Connection;
    struct Run;

    void stopLocked();
    // Threads serve in groups, each with an epoll set of its own.
    void addThread(Run& run, size_t group);
    void serveEvents(Run& run, size_t group);
    void keepHouse(Run& run);
    void acceptClient(Run& run);
    void handleEvent(Run& run, Connection& connection);
    void readRequests(Run& run, Connection& connection);
    void serve(Run& run, Connection& connection, HttpRequest request);
    void answerMalformed(Run& run, Connection& connection, const HttpParserError& error);
    // Answers and closes, whatever the connection holds.
    void refuse(Run& run, Connection& connection, const HttpResponse& answer);
    void write(Run& run, Connection& connection);
    // Writes what the connection holds; false when the rest waits for the client or the
    // connection has ended.
    bool send(Run& run, Connection& connection);
    // After an answer: the next request when it is here already; otherwise the connection
    // goes back to the epoll set, lingers or closes.
    std::optional<HttpRequest> nextRequest(Run& run, Connection& connection);
    void linger(Run& run, Connection& connection);
    void close(Run& run, Connection& connection);
    HttpResponse respond(HttpRequest& request);
    bool routeReadsBody(const std::string& url) const;

    mutable std::shared_mutex m_handlersLock;
    std::vector<Route> handlers;

    mutable std::mutex m_runLock;
    std::unique_ptr<Run> m_run;
    HttpLimits m_limits;
    Socket listenSocket;
};

} // namespace vesk
