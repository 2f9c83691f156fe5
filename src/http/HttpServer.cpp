#include "http/HttpServer.h"

#include "http/ByteText.h"
#include "http/Diagnostics.h"
#include "http/RequestTarget.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <thread>

namespace vesk {

struct HttpServer::Run {
    Socket listener;
    HttpLimits limits;
    std::thread acceptThread;
    // Guarded by m_clientSocketsLock.
    bool stopping { false };
};

namespace {

    bool hasSpecialCharacters(const std::string& pattern)
    {
        return pattern.find_first_of("\\^$.|?*+()[]{}") != std::string::npos;
    }

    // Header text goes on the wire as given, less what would end the line early.
    std::string headerText(const std::string& text)
    {
        std::string clean;
        clean.reserve(text.size());
        for (char character : text) {
            if (character != '\r' && character != '\n' && character != '\0')
                clean.push_back(character);
        }
        return clean;
    }

    bool equalsIgnoringCase(const std::string& text, std::string_view lowerCase)
    {
        return std::equal(text.begin(), text.end(), lowerCase.begin(), lowerCase.end(),
            [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; });
    }

    // Accept errors that say nothing about the listener: the next accept may work.
    bool isTransientAcceptError(int error)
    {
        switch (error) {
        case ECONNABORTED:
        case EINTR:
        case EPROTO:
        case EAGAIN:
        case EPERM:
        case ENETDOWN:
        case ENOPROTOOPT:
        case EHOSTDOWN:
        case ENONET:
        case EHOSTUNREACH:
        case EOPNOTSUPP:
        case ENETUNREACH:
            return true;
        default:
            return false;
        }
    }

    void ignoreBrokenPipes()
    {
        static std::once_flag once;
        std::call_once(once, [] {
            struct sigaction current { };
            if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
                std::signal(SIGPIPE, SIG_IGN);
        });
    }

} // namespace

HttpServer::HttpServer() = default;

HttpServer::~HttpServer()
{
    stop();
    std::unique_lock lock(m_clientSocketsLock);
    m_connectionsChanged.wait(lock, [this] { return m_liveConnections == 0; });
}

void HttpServer::registerHandler(const std::string& pattern, Handler handler)
{
    Route route { pattern, std::nullopt, std::move(handler) };
    if (hasSpecialCharacters(pattern)) {
        try {
            route.expression.emplace(pattern, std::regex::ECMAScript);
        } catch (const std::regex_error& error) {
            printDiagnosticLine("Could not register handler for: " + pattern + ", error: " + error.what());
            return;
        }
    }
    if (!route.handler)
        return;
    std::unique_lock lock(m_handlersLock);
    m_handlers.push_back(std::move(route));
    std::stable_sort(m_handlers.begin(), m_handlers.end(), [](const Route& a, const Route& b) { return a.pattern > b.pattern; });
}

HttpServer::Handler HttpServer::handlerForPath(const std::string&) const
{
    return {};
}

std::vector<std::string> HttpServer::routes() const
{
    std::shared_lock lock(m_handlersLock);
    std::vector<std::string> patterns;
    for (auto& route : m_handlers)
        patterns.push_back(route.pattern);
    return patterns;
}

void HttpServer::setLimits(const HttpLimits& limits)
{
    std::lock_guard lock(m_runLock);
    m_limits = limits;
}

HttpLimits HttpServer::limits() const
{
    std::lock_guard lock(m_runLock);
    return m_limits;
}

uint16_t HttpServer::port() const
{
    std::lock_guard lock(m_runLock);
    return m_run ? m_run->listener.localPort() : 0;
}

void HttpServer::start(uint16_t port, const std::string& address)
{
    ignoreBrokenPipes();
    std::lock_guard lock(m_runLock);
    stopLocked();
    auto run = std::make_unique<Run>();
    run->listener = Socket::makeListeningSocket(port, 128, address);
    run->limits = m_limits;
    try {
        run->acceptThread = std::thread([this, &run = *run] { acceptLoop(run); });
    } catch (const std::system_error&) {
        run->listener.close();
        throw;
    }
    m_run = std::move(run);
}

void HttpServer::stop()
{
    std::lock_guard lock(m_runLock);
    stopLocked();
}

void HttpServer::stopLocked()
{
    if (!m_run)
        return;
    {
        std::lock_guard lock(m_clientSocketsLock);
        m_run->stopping = true;
        for (auto& client : m_clientSockets)
            client.shutdown();
        m_clientSockets.clear();
    }
    m_connectionsChanged.notify_all();
    // Shutting the listener down wakes the accept; the descriptor is closed only
    // once that loop has ended, so it can never close a reused number.
    m_run->listener.shutdown();
    m_run->acceptThread.join();
    m_run->listener.close();
    m_run.reset();
}

void HttpServer::acceptLoop(Run& run)
{
    for (;;) {
        Socket client;
        try {
            client = run.listener.acceptClient();
        } catch (const SocketError& error) {
            std::unique_lock lock(m_clientSocketsLock);
            if (run.stopping)
                return;
            if (!isTransientAcceptError(error.systemError())) {
                // Out of descriptors or memory: wait for connections to end.
                m_connectionsChanged.wait_for(lock, std::chrono::milliseconds(50), [&run] { return run.stopping; });
            }
            continue;
        }
        {
            std::lock_guard lock(m_clientSocketsLock);
            if (!run.stopping && m_liveConnections < run.limits.maxConnections) {
                m_clientSockets.insert(client);
                ++m_liveConnections;
                try {
                    std::thread([this, client, limits = run.limits] { handleConnection(client, limits); }).detach();
                    continue;
                } catch (const std::system_error&) {
                    m_clientSockets.erase(client);
                    --m_liveConnections;
                }
            }
        }
        // Stopped, or at the connection cap: closed without a response.
        client.close();
    }
}

void HttpServer::handleConnection(Socket client, HttpLimits limits)
{
    std::optional<std::string> address;
    try {
        address = client.peerName();
    } catch (const SocketError&) {
    }
    HttpParser parser(limits);
    for (;;) {
        HttpRequest request;
        try {
            request = parser.readHttpRequest(client);
        } catch (const std::exception&) {
            break;
        }
        bool keepAlive = parser.supportsKeepAlive(request.headers);
        request.address = address;
        std::optional<HttpResponse> response;
        try {
            response = respond(request);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "Handler failed: %s\n", error.what());
            break;
        } catch (...) {
            std::fprintf(stderr, "Handler failed\n");
            break;
        }
        try {
            writeResponse(client, *response, keepAlive);
        } catch (const std::exception& error) {
            printDiagnosticLine(std::string("Failed to send response: ") + error.what());
            break;
        }
        if (!keepAlive)
            break;
    }
    endConnection(client);
}

void HttpServer::endConnection(const Socket& client)
{
    {
        // Out of the set before the descriptor is closed: once closed, its number
        // may belong to the next client.
        std::lock_guard lock(m_clientSocketsLock);
        m_clientSockets.erase(client);
    }
    client.close();
    std::lock_guard lock(m_clientSocketsLock);
    --m_liveConnections;
    m_connectionsChanged.notify_all();
}

HttpResponse HttpServer::respond(HttpRequest& request)
{
    auto path = requestPath(request.url);
    if (!path)
        return HttpResponse::NotFound();
    Handler handler;
    {
        std::shared_lock lock(m_handlersLock);
        for (auto& route : m_handlers) {
            if (!route.expression) {
                if (path->find(route.pattern) == std::string::npos)
                    continue;
            } else {
                std::smatch match;
                if (!std::regex_search(*path, match, *route.expression))
                    continue;
                for (size_t group = 1; group < match.size(); ++group) {
                    if (!match[group].matched)
                        continue;
                    if (auto decoded = removingPercentEncoding(match[group].str()))
                        request.capturedUrlGroups.push_back(std::move(*decoded));
                }
            }
            handler = route.handler;
            break;
        }
    }
    if (!handler)
        return HttpResponse::NotFound();
    return handler(request);
}

void HttpServer::writeResponse(const Socket& client, const HttpResponse& response, bool keepAlive) const
{
    auto file = response.fileBody();
    std::optional<HttpBytes> body;
    if (!file)
        body = response.body();
    uint64_t length = file ? file->length() : body ? body->size()
                                                   : 0;
    std::string head = "HTTP/1.1 " + std::to_string(response.statusCode()) + " " + headerText(response.reasonPhrase()) + "\r\n";
    head += "Content-Length: " + std::to_string(length) + "\r\n";
    if (keepAlive)
        head += "Connection: keep-alive\r\n";
    for (auto& [name, value] : response.headers()) {
        std::string cleanName = headerText(name);
        // The server alone frames the message.
        if (cleanName.empty() || equalsIgnoringCase(cleanName, "content-length") || equalsIgnoringCase(cleanName, "connection"))
            continue;
        head += cleanName + ": " + headerText(value) + "\r\n";
    }
    head += "\r\n";
    // Small bodies travel in the same write as the head.
    constexpr size_t inlineBodyLimit = 64 * 1024;
    if (body && body->size() <= inlineBodyLimit) {
        head.append(body->begin(), body->end());
        client.writeString(head);
        return;
    }
    client.writeString(head);
    if (file)
        client.writeFile(file->descriptor(), file->length(), file->offset());
    else if (body)
        client.writeBytes(*body);
}

} // namespace vesk
