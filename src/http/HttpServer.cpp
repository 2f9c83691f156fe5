#include "http/HttpServer.h"

#include "http/ByteText.h"
#include "http/Diagnostics.h"
#include "http/RequestTarget.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <list>
#include <malloc.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace vesk {

namespace {

    using Clock = std::chrono::steady_clock;

    constexpr int64_t noDeadline = INT64_MAX;
    // After the last answer to a client that may still be sending: how long its bytes are
    // taken and dropped, so that closing does not reset the connection under the answer.
    constexpr auto lingerTime = std::chrono::seconds(2);
    // Threads beyond the pool's base leave after this long without an event.
    constexpr int spareThreadIdleMilliseconds = 10000;
    // How long every thread may be busy, with none waiting for events, before one more is made.
    constexpr auto stallTime = std::chrono::milliseconds(10);
    // How long the listener rests after descriptors ran out.
    constexpr auto restTime = std::chrono::milliseconds(50);
    // Files up to this size are read and sent with their head in one write.
    constexpr size_t smallFileSize = 16 * 1024;
    // After an answer built in memory at least this large, what its making freed goes back to
    // the system; the allocator would otherwise keep the peak of every large listing.
    constexpr size_t trimAfterSize = 512 * 1024;
    // Descriptors kept free for the files that handlers open.
    constexpr size_t descriptorReserve = 256;

    int64_t ticks(Clock::time_point time)
    {
        return time.time_since_epoch().count();
    }

    int64_t fromNow(std::chrono::milliseconds span)
    {
        return ticks(Clock::now() + span);
    }

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

    // Raises the soft descriptor limit to the hard one; answers the limit in force.
    size_t raiseDescriptorLimit()
    {
        rlimit limit {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 1024;
        if (limit.rlim_cur < limit.rlim_max) {
            rlimit raised = limit;
            raised.rlim_cur = limit.rlim_max;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
                limit = raised;
        }
        return limit.rlim_cur == RLIM_INFINITY ? size_t(1) << 20 : static_cast<size_t>(limit.rlim_cur);
    }

    std::optional<std::string> numericHost(const sockaddr_storage& address, socklen_t length)
    {
        char host[NI_MAXHOST] = {};
        if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
            return std::nullopt;
        if (!platform::isValidUTF8(host))
            return std::nullopt;
        return std::string(host);
    }

    // The answer to a request that broke a limit or its framing; none for the rest.
    std::optional<HttpResponse> answerFor(HttpParserError::Code code)
    {
        switch (code) {
        case HttpParserError::Code::RequestLineTooLong:
            return HttpResponse::RAW(414, "URI Too Long");
        case HttpParserError::Code::HeaderLineTooLong:
        case HttpParserError::Code::TooManyHeaders:
        case HttpParserError::Code::HeadTooLarge:
            return HttpResponse::RAW(431, "Request Header Fields Too Large");
        case HttpParserError::Code::BodyTooLarge:
            return HttpResponse::RAW(413, "Content Too Large");
        case HttpParserError::Code::InvalidFraming:
        case HttpParserError::Code::InvalidRequestLine:
            return HttpResponse::BadRequest();
        default:
            return std::nullopt;
        }
    }

} // namespace

class HttpServer::Connection {
public:
    enum class State {
        Reading,
        Serving,
        Writing,
        Lingering,
    };
    enum class Flush {
        Done,
        Blocked,
        Failed,
    };

    Connection(int descriptor, std::optional<std::string> peer, const HttpLimits& limits)
        : socket(descriptor)
        , address(std::move(peer))
        , parser(limits)
    {
    }

    Flush flush(int& error, bool& progressed);
    // Without the body, the head is the one the body would have had.
    void prepare(const HttpResponse& response, bool keepAliveDecided, bool withBody = true);
    void clearOutput()
    {
        body = HttpBytes();
        file.reset();
        stream.reset();
        reader.reset();
        streamLeft = 0;
        held.reset();
    }

    Socket socket;
    std::optional<std::string> address;
    HttpParser parser;
    State state { State::Reading };
    // Held by the thread that saw its last event, or by the stop sequence; given up just before
    // it goes back to the epoll set, after which the last holder no longer touches it. The lock
    // orders the holders for the thread checker, which sees nothing of what epoll orders.
    std::mutex handoff;
    bool claimed { false };
    // When the connection is shut down unless it is done with what it waits for.
    std::atomic<int64_t> deadline { noDeadline };
    std::atomic<bool> expired { false };
    int64_t headDue { noDeadline };
    int64_t bodyDue { noDeadline };
    bool inEpollSet { false };
    // The epoll set of the group of threads that serves it.
    int epoll { -1 };
    // How many connections the group that serves it holds.
    std::atomic<int>* groupLoad { nullptr };
    std::mutex* clientSocketsLock { nullptr };
    std::unordered_map<Socket, std::unique_ptr<Connection>>* clientSockets { nullptr };

    // What the parser held at the last look, as counted in the run's total.
    size_t accounted { 0 };
    // What the parser gave up since, which goes to the housekeeper's count once it is freed.
    size_t released { 0 };
    bool keepAlive { false };
    bool lingerAfterWrite { false };
    bool trimAfterWrite { false };
    std::string head;
    size_t headSent { 0 };
    HttpBytes body;
    size_t bodySent { 0 };
    std::shared_ptr<const HttpFileBody> file;
    uint64_t fileSent { 0 };
    bool fileThroughBuffer { false };
    std::shared_ptr<const HttpStreamBody> stream;
    std::unique_ptr<HttpStreamBody::Reader> reader;
    uint64_t streamLeft { 0 };
    std::shared_ptr<const void> held;
};

void HttpServer::Connection::prepare(const HttpResponse& response, bool keepAliveDecided, bool withBody)
{
    keepAlive = keepAliveDecided;
    file = response.fileBody();
    stream = file ? nullptr : response.streamBody();
    reader.reset();
    streamLeft = 0;
    body = HttpBytes();
    if (!file && !stream) {
        if (auto bytes = response.body())
            body = std::move(*bytes);
    }
    uint64_t length = file ? file->length() : stream ? stream->length()
                                                     : body.size();
    trimAfterWrite = !file && !stream && body.size() >= trimAfterSize;
    if (!withBody) {
        // A file or stream body is never read.
        file.reset();
        stream.reset();
        body = HttpBytes();
    } else if (stream) {
        reader = stream->open();
        streamLeft = stream->length();
    } else if (file && file->length() <= smallFileSize) {
        // A small file goes in the same write as the head, read like a body.
        body.resize(static_cast<size_t>(file->length()));
        if (::pread(file->descriptor(), body.data(), body.size(), static_cast<off_t>(file->offset())) == static_cast<ssize_t>(body.size()))
            file.reset();
        else
            body.clear();
    }
    head.clear();
    head += "HTTP/1.1 ";
    head += std::to_string(response.statusCode());
    head += ' ';
    head += headerText(response.reasonPhrase());
    head += "\r\nContent-Length: ";
    head += std::to_string(length);
    head += "\r\n";
    // A client that hears nothing of the close would take the ending for a fault (RFC 9112, 9.6).
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    for (auto& [name, value] : response.headers()) {
        std::string cleanName = headerText(name);
        // The server alone frames the message.
        if (cleanName.empty() || equalsIgnoringCase(cleanName, "content-length") || equalsIgnoringCase(cleanName, "connection"))
            continue;
        head += cleanName;
        head += ": ";
        head += headerText(value);
        head += "\r\n";
    }
    head += "\r\n";
    headSent = bodySent = 0;
    fileSent = 0;
    fileThroughBuffer = false;
    held = withBody ? response.heldUntilSent() : nullptr;
}

HttpServer::Connection::Flush HttpServer::Connection::flush(int& error, bool& progressed)
{
    int descriptor = socket.descriptor();
    for (;;) {
        size_t headLeft = head.size() - headSent;
        size_t bodyLeft = body.size() - bodySent;
        uint64_t fileLeft = file ? file->length() - fileSent : streamLeft;
        if (headLeft + bodyLeft > 0) {
            // Head and body in one call.
            iovec parts[2];
            size_t count = 0;
            if (headLeft)
                parts[count++] = { head.data() + headSent, headLeft };
            if (bodyLeft)
                parts[count++] = { body.data() + bodySent, bodyLeft };
            msghdr message {};
            message.msg_iov = parts;
            message.msg_iovlen = count;
            // A file body goes in the same segments, right behind.
            ssize_t sent = ::sendmsg(descriptor, &message, MSG_NOSIGNAL | MSG_DONTWAIT | (fileLeft ? MSG_MORE : 0));
            if (sent < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    return Flush::Blocked;
                error = errno;
                return Flush::Failed;
            }
            progressed = true;
            size_t fromHead = std::min(static_cast<size_t>(sent), headLeft);
            headSent += fromHead;
            bodySent += static_cast<size_t>(sent) - fromHead;
            continue;
        }
        if (fileLeft == 0)
            return Flush::Done;
        if (reader) {
            // Made as it is taken, one small piece at a time: the piece is what a client that
            // reads slowly keeps waiting here, beside what the socket's own buffer holds.
            body.resize(static_cast<size_t>(std::min<uint64_t>(streamLeft, 16 * 1024)));
            bodySent = 0;
            ssize_t count = reader->read(body.data(), body.size());
            if (count <= 0) {
                body.clear();
                error = EIO;
                return Flush::Failed;
            }
            body.resize(static_cast<size_t>(count));
            streamLeft -= static_cast<uint64_t>(count);
            continue;
        }
        if (fileThroughBuffer) {
            body.resize(static_cast<size_t>(std::min<uint64_t>(fileLeft, 256 * 1024)));
            bodySent = 0;
            ssize_t count = ::pread(file->descriptor(), body.data(), body.size(), static_cast<off_t>(file->offset() + fileSent));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0) {
                body.clear();
                error = count == 0 ? EIO : errno;
                return Flush::Failed;
            }
            body.resize(static_cast<size_t>(count));
            fileSent += static_cast<uint64_t>(count);
            continue;
        }
        off_t offset = static_cast<off_t>(file->offset() + fileSent);
        ssize_t sent = ::sendfile(descriptor, file->descriptor(), &offset, static_cast<size_t>(std::min<uint64_t>(fileLeft, 1u << 30)));
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return Flush::Blocked;
            if (errno == EINVAL || errno == ENOSYS) {
                // Files sendfile cannot read from go through a bounded buffer instead.
                fileThroughBuffer = true;
                continue;
            }
            error = errno;
            return Flush::Failed;
        }
        // A file that ends early would leave the client waiting for the promised bytes.
        if (sent == 0) {
            error = EIO;
            return Flush::Failed;
        }
        progressed = true;
        fileSent += static_cast<uint64_t>(sent);
    }
}

struct HttpServer::Run {
    // A thread with an epoll set of its own, which holds the connections it accepted: a
    // connection is read, served and answered by the thread that owns it, without a hand-off.
    // A group whose threads are all busy in handlers gets one more for its other connections.
    struct Shard {
        int epoll { -1 };
        // Changed under the threads' lock; read without it to see whether a helper may leave.
        std::atomic<size_t> threadCount { 0 };
        size_t baseThreads { 1 };
        std::atomic<int> waiting { 0 };
        std::atomic<int> serving { 0 };
        std::atomic<uint64_t> served { 0 };
        // The housekeeper's own: what it saw at its last look.
        uint64_t servedBefore { 0 };
        bool heldBefore { false };
        // The open connections the group accepted; the stop sequence and the deadline checks
        // walk them. One set a group, so that accepting and closing contend only within it.
        std::mutex clientSocketsLock;
        std::unordered_map<Socket, std::unique_ptr<Connection>> clientSockets;
        // The connections whose events come to this group's set.
        std::atomic<int> connectionCount { 0 };
    };

    HttpLimits limits;
    size_t maxConnections { 0 };
    std::vector<std::unique_ptr<Shard>> shards;
    int wake { -1 };
    std::atomic<bool> stopping { false };
    std::atomic<size_t> connections { 0 };
    // Bytes that ended connections and requests held; the housekeeper gives them back to the
    // system once they add up, or the process keeps the peak of every burst of clients.
    std::atomic<size_t> untrimmed { 0 };
    // What the parsers of all connections hold.
    std::atomic<size_t> heldRequestBytes { 0 };
    // The listener is out of the epoll sets while the connections are at their cap or
    // descriptors ran out; the lock keeps the flag and the sets' membership together.
    int listener { -1 };
    std::mutex listenerLock;
    std::atomic<bool> listenerResting { false };
    std::atomic<int64_t> restingSince { 0 };
    // Their addresses tell the listener and the wake-up descriptor apart from connections.
    char listenerTag {};
    char wakeTag {};

    std::mutex threadsLock;
    std::list<std::thread> threads;
    std::vector<std::thread::id> finished;
    // Of all groups.
    size_t threadCount { 0 };
    size_t baseThreads { 2 };

    // Deadlines, the resting listener, and one more thread when the others are all busy.
    std::thread housekeeper;
    std::mutex houseLock;
    std::condition_variable houseWake;
    // The housekeeper sleeps until its next sweep while nothing is served; the first request
    // after that wakes it, so that it looks at the groups often only while they work.
    std::atomic<bool> houseDozing { false };
    std::chrono::milliseconds sweepInterval { 1000 };

    ~Run()
    {
        for (auto& shard : shards) {
            if (shard->epoll >= 0)
                ::close(shard->epoll);
        }
        if (wake >= 0)
            ::close(wake);
    }

    bool arm(Connection& connection, uint32_t events)
    {
        int operation = std::exchange(connection.inEpollSet, true) ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
        epoll_event event {};
        event.events = events | EPOLLONESHOT;
        event.data.ptr = &connection;
        int epoll = connection.epoll;
        int descriptor = connection.socket.descriptor();
        {
            // Given up before the arming, so that a thread woken by it never waits for this one.
            std::lock_guard lock(connection.handoff);
            connection.claimed = false;
        }
        if (::epoll_ctl(epoll, operation, descriptor, &event) == 0)
            return true;
        std::lock_guard lock(connection.handoff);
        connection.claimed = true;
        return false;
    }

    // Every set holds the listener, level-triggered and exclusive: a new client wakes one
    // waiting thread, which takes it and keeps it.
    bool addListener()
    {
        bool added = true;
        for (auto& shard : shards) {
            epoll_event event {};
            event.events = EPOLLIN | EPOLLEXCLUSIVE;
            event.data.ptr = &listenerTag;
            added = ::epoll_ctl(shard->epoll, EPOLL_CTL_ADD, listener, &event) == 0 && added;
        }
        return added;
    }

    void rest()
    {
        std::lock_guard lock(listenerLock);
        restingSince = ticks(Clock::now());
        if (listenerResting.exchange(true))
            return;
        for (auto& shard : shards)
            ::epoll_ctl(shard->epoll, EPOLL_CTL_DEL, listener, nullptr);
    }

    void resume()
    {
        std::lock_guard lock(listenerLock);
        if (listenerResting.exchange(false))
            addListener();
    }

    // Brings the total up to date with what the connection's parser holds now; false when it
    // grew and the total passed the cap.
    bool account(Connection& connection)
    {
        size_t now = connection.parser.footprint();
        size_t before = std::exchange(connection.accounted, now);
        if (now < before) {
            heldRequestBytes -= before - now;
            connection.released += before - now;
            return true;
        }
        return now == before || (heldRequestBytes += now - before) <= limits.maxHeldRequestBytes;
    }

    // What the connection's requests held while unfinished is freed: the next trim returns it.
    // Requests that came whole in one read held nothing, and cost no shared write here.
    void giveBack(Connection& connection)
    {
        if (connection.released > 0)
            untrimmed += std::exchange(connection.released, 0);
    }

    // The group of the thread that runs this; every thread of a run serves in one group.
    static inline thread_local Shard* currentShard = nullptr;

    // The group that serves a new client: the one that accepted it, unless another holds
    // clearly fewer connections. The listener wakes whichever thread waits first, so a burst
    // of clients would otherwise gather on a few threads for as long as they stay.
    Shard& groupFor(Shard& accepting)
    {
        Shard* lightest = &accepting;
        for (auto& shard : shards) {
            if (shard->connectionCount < lightest->connectionCount)
                lightest = shard.get();
        }
        return lightest->connectionCount + 1 < accepting.connectionCount ? *lightest : accepting;
    }

    // A thread goes into a handler.
    void noteServing()
    {
        currentShard->serving.fetch_add(1);
        if (houseDozing.load(std::memory_order_relaxed) && houseDozing.exchange(false)) {
            {
                std::lock_guard lock(houseLock);
            }
            houseWake.notify_one();
        }
    }
};

HttpServer::HttpServer() = default;

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::registerHandler(const std::string& pattern, Handler handler, BodyUse use)
{
    Route route { pattern, std::nullopt, std::move(handler), use };
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
    handlers.push_back(std::move(route));
    std::stable_sort(handlers.begin(), handlers.end(), [](const Route& a, const Route& b) { return a.pattern > b.pattern; });
}

HttpServer::Handler HttpServer::handlerForPath(const std::string&) const
{
    return {};
}

std::vector<std::string> HttpServer::routes() const
{
    std::shared_lock lock(m_handlersLock);
    std::vector<std::string> patterns;
    for (auto& route : handlers)
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
    return m_run ? listenSocket.localPort() : 0;
}

void HttpServer::start(uint16_t port, const std::string& address)
{
    ignoreBrokenPipes();
    std::lock_guard lock(m_runLock);
    stopLocked();
    auto run = std::make_unique<Run>();
    run->limits = m_limits;
    size_t descriptors = raiseDescriptorLimit();
    run->maxConnections = m_limits.maxConnections ? m_limits.maxConnections
        : descriptors > 2 * descriptorReserve     ? descriptors - descriptorReserve
                                                  : descriptors / 2;
    Socket listener = Socket::makeListeningSocket(port, 128, address);
    size_t baseThreads = std::clamp<size_t>(std::thread::hardware_concurrency(), 2, std::max<size_t>(2, m_limits.maxWorkers));
    size_t groups = baseThreads;
    run->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    bool made = run->wake >= 0;
    for (size_t index = 0; index < groups; ++index) {
        auto shard = std::make_unique<Run::Shard>();
        shard->baseThreads = baseThreads / groups + (index < baseThreads % groups ? 1 : 0);
        shard->epoll = ::epoll_create1(EPOLL_CLOEXEC);
        epoll_event wakeEvent {};
        wakeEvent.events = EPOLLIN;
        wakeEvent.data.ptr = &run->wakeTag;
        made = made && shard->epoll >= 0 && ::epoll_ctl(shard->epoll, EPOLL_CTL_ADD, run->wake, &wakeEvent) == 0;
        run->shards.push_back(std::move(shard));
    }
    run->listener = listener.descriptor();
    made = made && ::fcntl(listener.descriptor(), F_SETFL, O_NONBLOCK) == 0 && run->addListener();
    if (!made) {
        int error = errno;
        listener.close();
        throw SocketError(SocketError::Code::SocketCreationFailed, SocketError::errnoMessage(error));
    }
    auto shortest = std::min({ m_limits.headerTimeout, m_limits.idleTimeout, m_limits.bodyTimeout, m_limits.sendTimeout });
    run->sweepInterval = std::clamp(shortest / 4, std::chrono::milliseconds(5), std::chrono::milliseconds(1000));
    run->baseThreads = baseThreads;
    listenSocket = listener;
    m_run = std::move(run);
    for (size_t group = 0; group < m_run->shards.size(); ++group) {
        for (size_t index = 0; index < m_run->shards[group]->baseThreads; ++index)
            addThread(*m_run, group);
    }
    m_run->housekeeper = std::thread([this, &run = *m_run] { keepHouse(run); });
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
    Run& run = *m_run;
    run.stopping = true;
    uint64_t one = 1;
    // Level-triggered: every thread waiting for events sees it.
    [[maybe_unused]] auto written = ::write(run.wake, &one, sizeof one);
    {
        std::lock_guard lock(run.houseLock);
    }
    run.houseWake.notify_all();
    {
        // What a handler still writes now fails at once, and answers waiting for the client
        // give back what they hold, which handlers may be waiting for.
        for (auto& shard : run.shards) {
            std::lock_guard lock(shard->clientSocketsLock);
            for (auto& [client, connection] : shard->clientSockets) {
                client.shutdown();
                std::lock_guard handoff(connection->handoff);
                if (!std::exchange(connection->claimed, true))
                    connection->clearOutput();
            }
        }
    }
    if (run.housekeeper.joinable())
        run.housekeeper.join();
    std::list<std::thread> threads;
    {
        std::lock_guard lock(run.threadsLock);
        threads.swap(run.threads);
    }
    for (auto& thread : threads)
        thread.join();
    {
        for (auto& shard : run.shards) {
            std::lock_guard lock(shard->clientSocketsLock);
            for (auto& [client, connection] : shard->clientSockets)
                ::close(client.descriptor());
            shard->clientSockets.clear();
        }
    }
    // The housekeeper is gone: what the run's connections held is given back here.
    bool trim = run.untrimmed + run.heldRequestBytes >= trimAfterSize;
    listenSocket.close();
    listenSocket = Socket();
    m_run.reset();
    if (trim)
        ::malloc_trim(0);
}

void HttpServer::addThread(Run& run, size_t group)
{
    auto& shard = *run.shards[group];
    std::lock_guard lock(run.threadsLock);
    // Threads that left for want of work are joined here, so their number stays small.
    for (auto id : run.finished) {
        auto found = std::find_if(run.threads.begin(), run.threads.end(), [id](const std::thread& thread) { return thread.get_id() == id; });
        if (found != run.threads.end()) {
            found->join();
            run.threads.erase(found);
        }
    }
    run.finished.clear();
    if (run.threadCount >= std::max(run.baseThreads, run.limits.maxWorkers) || run.stopping)
        return;
    try {
        run.threads.emplace_back([this, &run, group] { serveEvents(run, group); });
        ++run.threadCount;
        ++shard.threadCount;
    } catch (const std::system_error&) {
    }
}

void HttpServer::serveEvents(Run& run, size_t group)
{
    auto& shard = *run.shards[group];
    Run::currentShard = &shard;
    // One event at a time: an event taken would wait for this thread while a handler holds it,
    // where a helper could have served it.
    epoll_event event {};
    for (;;) {
        shard.waiting.fetch_add(1);
        int count = ::epoll_wait(shard.epoll, &event, 1, spareThreadIdleMilliseconds);
        shard.waiting.fetch_sub(1);
        if (run.stopping)
            return;
        if (count > 0 && event.data.ptr == &run.listenerTag)
            acceptClient(run);
        else if (count > 0 && event.data.ptr != &run.wakeTag)
            handleEvent(run, *static_cast<Connection*>(event.data.ptr));
        // A helper leaves once no thread of its group is held up in a handler, or after a while
        // without events; otherwise it would take events of connections their owner just armed.
        if ((count == 0 || shard.serving == 0) && shard.threadCount > shard.baseThreads) {
            std::lock_guard lock(run.threadsLock);
            if (shard.threadCount > shard.baseThreads) {
                --run.threadCount;
                --shard.threadCount;
                run.finished.push_back(std::this_thread::get_id());
                return;
            }
        }
    }
}

void HttpServer::keepHouse(Run& run)
{
    std::unique_lock lock(run.houseLock);
    auto nextSweep = Clock::now() + run.sweepInterval;
    while (!run.stopping) {
        bool busy = std::any_of(run.shards.begin(), run.shards.end(),
            [](auto& shard) { return shard->serving > 0 || shard->served != shard->servedBefore; });
        if (busy) {
            // A sleep rather than a wait: looking often under load costs no futex calls, and a
            // stop waits at most this long for it.
            lock.unlock();
            std::this_thread::sleep_until(std::min(nextSweep, Clock::now() + stallTime));
            lock.lock();
        } else {
            run.houseDozing = true;
            // A request that began before the flag was up has not looked for it.
            if (std::none_of(run.shards.begin(), run.shards.end(), [](auto& shard) { return shard->serving > 0; }))
                run.houseWake.wait_until(lock, nextSweep, [&] { return run.stopping || !run.houseDozing; });
            run.houseDozing = false;
        }
        if (run.stopping)
            break;
        auto now = Clock::now();
        for (size_t group = 0; group < run.shards.size(); ++group) {
            auto& shard = *run.shards[group];
            uint64_t served = shard.served;
            // Held up: at this look and the last, every thread of the group was in a handler,
            // and none finished a request in between.
            bool held = shard.waiting == 0 && shard.serving > 0;
            bool stalled = held && shard.heldBefore && served == shard.servedBefore;
            shard.heldBefore = held;
            shard.servedBefore = served;
            if (stalled) {
                lock.unlock();
                addThread(run, group);
                lock.lock();
            }
        }
        if (now < nextSweep)
            continue;
        nextSweep = now + run.sweepInterval;
        lock.unlock();
        if (run.untrimmed.load() >= trimAfterSize) {
            run.untrimmed = 0;
            ::malloc_trim(0);
        }
        {
            for (auto& shard : run.shards) {
                std::lock_guard clients(shard->clientSocketsLock);
                for (auto& [client, connection] : shard->clientSockets) {
                    // Its thread sees the shutdown as an event and closes it.
                    if (connection->deadline.load() <= ticks(now) && !connection->expired.exchange(true))
                        client.shutdown();
                }
            }
        }
        if (run.listenerResting && now - Clock::time_point(Clock::duration(run.restingSince.load())) >= restTime)
            run.resume();
        lock.lock();
    }
}

void HttpServer::acceptClient(Run& run)
{
    for (;;) {
        // At the cap the listener rests: clients wait in the backlog until a connection ends.
        if (run.connections >= run.maxConnections) {
            run.rest();
            if (run.connections < run.maxConnections) {
                run.resume();
                continue;
            }
            return;
        }
        sockaddr_storage peer {};
        socklen_t length = sizeof peer;
        // One client an event; the level-triggered listener brings the next one to whichever thread waits.
        int descriptor = ::accept4(run.listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            if (isTransientAcceptError(errno))
                continue;
            // Out of descriptors or memory: the listener rests and tries again shortly.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                run.rest();
            return;
        }
        int one = 1;
        // Keep-alive clients would otherwise wait on delayed acknowledgements.
        ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto made = std::make_unique<Connection>(descriptor, numericHost(peer, length), run.limits);
        Connection& connection = *made;
        connection.parser.setBodyPolicy([this](const HttpRequest& head) { return routeReadsBody(head.url); });
        auto& shard = *Run::currentShard;
        auto& group = run.groupFor(shard);
        ++group.connectionCount;
        connection.groupLoad = &group.connectionCount;
        connection.epoll = group.epoll;
        connection.clientSocketsLock = &shard.clientSocketsLock;
        connection.clientSockets = &shard.clientSockets;
        connection.claimed = true;
        // The first request's head is due from the connection's start.
        connection.headDue = fromNow(run.limits.headerTimeout);
        connection.deadline = connection.headDue;
        {
            std::lock_guard lock(shard.clientSocketsLock);
            shard.clientSockets.emplace(Socket(descriptor), std::move(made));
        }
        ++run.connections;
        // Its request has often arrived with it already.
        readRequests(run, connection);
        return;
    }
}

void HttpServer::handleEvent(Run& run, Connection& connection)
{
    {
        std::lock_guard lock(connection.handoff);
        // Already the stop sequence's.
        if (std::exchange(connection.claimed, true))
            return;
    }
    if (connection.expired) {
        if (connection.state == Connection::State::Writing) {
            printDiagnosticLine(std::string("Failed to send response: ") + SocketError(SocketError::Code::WriteFailed, SocketError::errnoMessage(ETIMEDOUT)).what());
            // Reset: what the client never took is dropped at once instead of lingering in
            // the system's buffers.
            ::linger reset { 1, 0 };
            ::setsockopt(connection.socket.descriptor(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        close(run, connection);
        return;
    }
    switch (connection.state) {
    case Connection::State::Reading:
        readRequests(run, connection);
        return;
    case Connection::State::Writing:
        write(run, connection);
        return;
    case Connection::State::Lingering:
        linger(run, connection);
        return;
    case Connection::State::Serving:
        return;
    }
}

void HttpServer::readRequests(Run& run, Connection& connection)
{
    char buffer[16384];
    // Bounded per event: a body that is dropped unread has no length cap, and a client that
    // keeps sending one must not hold the thread from the other connections.
    for (int reads = 0; reads < 64; ++reads) {
        ssize_t count = ::recv(connection.socket.descriptor(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (count < 0) {
            close(run, connection);
            return;
        }
        std::optional<HttpRequest> request;
        try {
            if (count == 0)
                connection.parser.endOfStream();
            request = connection.parser.parse(std::string_view(buffer, static_cast<size_t>(count)));
        } catch (const HttpParserError& error) {
            answerMalformed(run, connection, error);
            return;
        }
        bool withinCap = run.account(connection);
        if (request) {
            serve(run, connection, std::move(*request));
            return;
        }
        if (count == 0) {
            close(run, connection);
            return;
        }
        if (!withinCap) {
            refuse(run, connection, HttpResponse::RAW(503, "Service Unavailable"));
            return;
        }
        auto now = Clock::now();
        if (connection.parser.readsBody()) {
            if (connection.bodyDue == noDeadline)
                connection.bodyDue = ticks(now + run.limits.bodyTimeout);
            connection.deadline = std::min(connection.bodyDue, ticks(now + run.limits.idleTimeout));
        } else if (!connection.parser.awaitsRequest()) {
            if (connection.headDue == noDeadline)
                connection.headDue = ticks(now + run.limits.headerTimeout);
            connection.deadline = connection.headDue;
        }
        if (static_cast<size_t>(count) < sizeof buffer)
            break;
    }
    if (!run.arm(connection, EPOLLIN))
        close(run, connection);
}

void HttpServer::serve(Run& run, Connection& connection, HttpRequest request)
{
    // One pass per request: requests sent ahead on the connection are served in turn.
    for (;;) {
        connection.state = Connection::State::Serving;
        connection.deadline = noDeadline;
        connection.headDue = connection.bodyDue = noDeadline;
        bool keepAlive = connection.parser.supportsKeepAlive(request.headers);
        // HEAD is served as the GET it stands for, and answered with that head alone (RFC 9110,
        // 9.3.2): every route answers it alike, and no body bytes reach a client that expects none.
        bool headOnly = request.method == "HEAD";
        if (headOnly)
            request.method = "GET";
        request.address = connection.address;
        run.noteServing();
        std::optional<HttpResponse> response;
        try {
            response = respond(request);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "Handler failed: %s\n", error.what());
        } catch (...) {
            std::fprintf(stderr, "Handler failed\n");
        }
        Run::currentShard->serving.fetch_sub(1);
        Run::currentShard->served.fetch_add(1);
        // The request's bytes are no longer the parser's, and go before the answer is sent.
        run.account(connection);
        request = HttpRequest();
        run.giveBack(connection);
        if (!response) {
            close(run, connection);
            return;
        }
        connection.prepare(*response, keepAlive, !headOnly);
        // What the answer's body was made from goes before the bytes are sent.
        response.reset();
        connection.lingerAfterWrite = false;
        if (!send(run, connection))
            return;
        auto next = nextRequest(run, connection);
        if (!next)
            return;
        request = std::move(*next);
    }
}

void HttpServer::answerMalformed(Run& run, Connection& connection, const HttpParserError& error)
{
    auto answer = answerFor(error.code());
    if (!answer) {
        close(run, connection);
        return;
    }
    refuse(run, connection, *answer);
}

void HttpServer::refuse(Run& run, Connection& connection, const HttpResponse& answer)
{
    // Nothing more is read as a request: what the parser held goes at once, not with the
    // connection after it lingers. Counted first: the bytes of the refused read never were.
    run.account(connection);
    connection.parser = HttpParser(run.limits);
    run.account(connection);
    run.giveBack(connection);
    connection.state = Connection::State::Serving;
    connection.prepare(answer, false);
    connection.lingerAfterWrite = true;
    if (send(run, connection))
        nextRequest(run, connection);
}

void HttpServer::write(Run& run, Connection& connection)
{
    if (!send(run, connection))
        return;
    if (auto next = nextRequest(run, connection))
        serve(run, connection, std::move(*next));
}

bool HttpServer::send(Run& run, Connection& connection)
{
    int error = 0;
    bool progressed = false;
    switch (connection.flush(error, progressed)) {
    case Connection::Flush::Done:
        return true;
    case Connection::Flush::Blocked:
        // The rest waits in the epoll set; a client that takes nothing for a while loses it.
        if (progressed || connection.state != Connection::State::Writing)
            connection.deadline = fromNow(run.limits.sendTimeout);
        connection.state = Connection::State::Writing;
        if (!run.arm(connection, EPOLLOUT))
            close(run, connection);
        return false;
    case Connection::Flush::Failed:
        printDiagnosticLine(std::string("Failed to send response: ") + SocketError(SocketError::Code::WriteFailed, SocketError::errnoMessage(error)).what());
        close(run, connection);
        return false;
    }
    return false;
}

std::optional<HttpRequest> HttpServer::nextRequest(Run& run, Connection& connection)
{
    connection.clearOutput();
    // The housekeeper trims at its next sweep: malloc_trim walks the whole heap under the
    // allocator's locks, too slow for every large answer on a serving thread.
    if (std::exchange(connection.trimAfterWrite, false))
        run.untrimmed += trimAfterSize;
    if (!connection.keepAlive) {
        if (!connection.lingerAfterWrite && !connection.parser.holdsUnusedBytes()) {
            close(run, connection);
            return std::nullopt;
        }
        ::shutdown(connection.socket.descriptor(), SHUT_WR);
        connection.state = Connection::State::Lingering;
        connection.deadline = ticks(Clock::now() + lingerTime);
        linger(run, connection);
        return std::nullopt;
    }
    connection.state = Connection::State::Reading;
    std::optional<HttpRequest> next;
    try {
        // The next request may be here already, sent before this answer.
        next = connection.parser.parse();
    } catch (const HttpParserError& error) {
        answerMalformed(run, connection, error);
        return std::nullopt;
    }
    if (next)
        return next;
    if (connection.parser.readsBody()) {
        // The rest of a body the route did not read.
        connection.bodyDue = fromNow(run.limits.bodyTimeout);
        connection.deadline = std::min(connection.bodyDue, fromNow(run.limits.idleTimeout));
    } else if (connection.parser.awaitsRequest()) {
        connection.deadline = fromNow(run.limits.idleTimeout);
    } else {
        connection.headDue = fromNow(run.limits.headerTimeout);
        connection.deadline = connection.headDue;
    }
    if (!run.arm(connection, EPOLLIN))
        close(run, connection);
    return std::nullopt;
}

void HttpServer::linger(Run& run, Connection& connection)
{
    char buffer[16384];
    // Bounded per event, so a client that keeps sending cannot hold the thread.
    for (int reads = 0; reads < 64; ++reads) {
        ssize_t count = ::recv(connection.socket.descriptor(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (count > 0 || (count < 0 && errno == EINTR))
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        close(run, connection);
        return;
    }
    if (!run.arm(connection, EPOLLIN))
        close(run, connection);
}

void HttpServer::close(Run& run, Connection& connection)
{
    std::unique_ptr<Connection> owned;
    {
        // Out of the set before the descriptor is closed: once closed, its number may
        // belong to the next client.
        std::lock_guard lock(*connection.clientSocketsLock);
        auto node = connection.clientSockets->extract(connection.socket);
        if (!node.empty())
            owned = std::move(node.mapped());
    }
    // All the connection held, however it ended; counted once it is freed, so that no trim
    // comes between.
    size_t held = sizeof(Connection) + connection.head.capacity() + connection.body.capacity() + connection.parser.footprint() + connection.released;
    run.heldRequestBytes -= connection.accounted;
    ::close(connection.socket.descriptor());
    --*connection.groupLoad;
    --run.connections;
    owned.reset();
    run.untrimmed += held;
    if (run.listenerResting)
        run.resume();
}

bool HttpServer::routeReadsBody(const std::string& url) const
{
    auto path = requestPath(url);
    if (!path)
        return false;
    std::shared_lock lock(m_handlersLock);
    for (auto& route : handlers) {
        bool found = route.expression ? std::regex_search(*path, *route.expression) : path->find(route.pattern) != std::string::npos;
        if (found)
            return route.use == BodyUse::Bytes;
    }
    // The server's own 404 reads nothing.
    return false;
}

HttpResponse HttpServer::respond(HttpRequest& request)
{
    auto path = requestPath(request.url);
    if (!path)
        return HttpResponse::NotFound();
    Handler handler;
    {
        std::shared_lock lock(m_handlersLock);
        for (auto& route : handlers) {
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

} // namespace vesk
