#include "platform/system/SingleInstance.h"

#include "platform/foundation/Digest.h"
#include "platform/foundation/Dispatch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vesk::platform {

namespace {

    // A request is two short lines; anything longer is not one of ours.
    constexpr std::size_t maxRequestBytes = 16 * 1024;
    // Each connection has this long to send its whole request.
    constexpr auto requestDeadline = std::chrono::seconds(1);
    // Connections read side by side; more wait in the listen backlog.
    constexpr std::size_t maxConnections = 128;
    // Between two tries of a later start while the running app is starting or ending.
    constexpr auto retryPause = std::chrono::milliseconds(50);

    struct FileDescriptor {
        int fd = -1;
        explicit FileDescriptor(int descriptor)
            : fd(descriptor)
        {
        }
        FileDescriptor(const FileDescriptor&) = delete;
        FileDescriptor& operator=(const FileDescriptor&) = delete;
        ~FileDescriptor()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };

    // A socket's address: a path, or an abstract name whose first byte is NUL.
    struct Address {
        sockaddr_un address {};
        socklen_t length = 0;
        const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
    };

    std::optional<Address> makeAddress(const std::string& name)
    {
        Address made;
        made.address.sun_family = AF_UNIX;
        if (name.empty() || name.size() >= sizeof(made.address.sun_path))
            return std::nullopt;
        std::memcpy(made.address.sun_path, name.data(), name.size());
        // A path ends with its NUL; an abstract name is exactly its bytes.
        made.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (name.front() == '\0' ? 0 : 1));
        return made;
    }

    bool sameUser(int socket)
    {
        ucred peer {};
        socklen_t length = sizeof peer;
        return ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::getuid();
    }

    // The home as the file system names it, so that every spelling of it finds the same socket.
    std::string canonicalHome(const std::string& home)
    {
        char* real = ::realpath(home.c_str(), nullptr);
        if (!real)
            return home;
        std::string canonical = real;
        std::free(real);
        return canonical;
    }

    // Where an app with this home listens, in the order to try: the path when it fits an
    // address, then a short abstract name of the user's. Anyone may bind an abstract name, so
    // both sides check the other's owner.
    std::vector<std::string> socketNames(const std::string& canonical)
    {
        std::vector<std::string> names;
        auto path = canonical + "/tmp/vesk.socket";
        if (path.size() < sizeof(sockaddr_un::sun_path))
            names.push_back(path);
        names.push_back(std::string(1, '\0') + "vesk-" + std::to_string(::getuid()) + "-" + sha1HexString(canonical).substr(0, 32));
        return names;
    }

    std::string describe(const std::string& what, const std::string& path, int error)
    {
        return what + " " + path + ": " + std::strerror(error);
    }

    bool writeAll(int fd, const std::string& text)
    {
        std::size_t done = 0;
        while (done < text.size()) {
            auto sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                return false;
            done += static_cast<std::size_t>(sent);
        }
        return true;
    }

    // Reads until the peer closes its side, the limit or the timeout; false on the last two.
    bool readAll(int fd, std::string& text, int timeoutMs)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buffer[1024];
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            pollfd waiting { fd, POLLIN, 0 };
            if (left <= 0 || ::poll(&waiting, 1, static_cast<int>(left)) == 0)
                return false;
            auto got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got < 0)
                return false;
            if (got == 0)
                return true;
            text.append(buffer, static_cast<std::size_t>(got));
            if (text.size() > maxRequestBytes)
                return false;
        }
    }

    enum class HandOver {
        Taken,
        NobodyListens,
        NotTaken, // a running app that is ending, or stuck
    };

    HandOver handOver(const std::vector<std::string>& names, const SingleInstance::Request& request, std::chrono::steady_clock::time_point deadline)
    {
        // Waited for to the end of the deadline, rounded up: a try sent with no time left to
        // hear its answer would hand the same request over a second time.
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return HandOver::NotTaken;
        for (auto& name : names) {
            auto address = makeAddress(name);
            if (!address)
                continue;
            FileDescriptor client { ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) };
            if (client.fd < 0)
                return HandOver::NobodyListens;
            // Bounds connecting to a listener whose backlog is full, and sending to one that
            // never reads.
            timeval bound { static_cast<time_t>(left / 1000), static_cast<suseconds_t>(left % 1000 * 1000) };
            ::setsockopt(client.fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
            // Another user's socket never hears what this one opens.
            if (::connect(client.fd, address->get(), address->length) != 0 || !sameUser(client.fd))
                continue;
            std::string text;
            if (!request.url.empty())
                text += "url " + request.url + "\n";
            if (!request.shortcutType.empty())
                text += "action " + request.shortcutType + "\n";
            std::string reply;
            if (!writeAll(client.fd, text) || ::shutdown(client.fd, SHUT_WR) != 0 || !readAll(client.fd, reply, static_cast<int>(left)))
                return HandOver::NotTaken;
            return reply == "ok\n" ? HandOver::Taken : HandOver::NotTaken;
        }
        return HandOver::NobodyListens;
    }

    // The lock file, opened; -1 with the reason when there is none to hold.
    int openLock(const std::string& path, std::string& failure)
    {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd < 0) {
            failure = describe("cannot open the lock", path, errno);
            return -1;
        }
        struct stat status { };
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(fd);
            failure = "the lock " + path + " is no plain file";
            return -1;
        }
        return fd;
    }

    // Whether the locked file is still the one at the path: a lock on a file removed meanwhile
    // keeps out nobody.
    bool stillAtPath(int fd, const std::string& path)
    {
        struct stat held { };
        struct stat named { };
        return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    }

    std::optional<SingleInstance::Request> parseRequest(const std::string& text)
    {
        SingleInstance::Request request;
        std::size_t start = 0;
        while (start < text.size()) {
            auto end = text.find('\n', start);
            if (end == std::string::npos)
                return std::nullopt;
            auto line = text.substr(start, end - start);
            start = end + 1;
            if (line.starts_with("url "))
                request.url = line.substr(4);
            else if (line.starts_with("action "))
                request.shortcutType = line.substr(7);
            else
                return std::nullopt;
        }
        return request;
    }

}

std::string SingleInstance::socketPathForHome(const std::string& home)
{
    return socketNames(canonicalHome(home)).front();
}

struct SingleInstance::Wake {
    int fds[2] = { -1, -1 };
    Wake()
    {
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            fds[0] = fds[1] = -1;
    }
    Wake(const Wake&) = delete;
    Wake& operator=(const Wake&) = delete;
    ~Wake()
    {
        for (int fd : fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    // A full pipe already wakes the reader.
    void signal()
    {
        char byte = 0;
        [[maybe_unused]] auto written = ::write(fds[1], &byte, 1);
    }
    void drain()
    {
        char bytes[64];
        while (::read(fds[0], bytes, sizeof bytes) > 0) { }
    }
};

std::unique_ptr<SingleInstance> SingleInstance::claim(
    const std::string& home, const Request& request, Claim& outcome, std::string& failure, std::chrono::milliseconds patience)
{
    outcome = Claim::Failed;
    std::error_code error;
    auto folder = home + "/tmp";
    std::filesystem::create_directories(folder, error);
    if (error) {
        failure = "cannot make the folder " + folder + ": " + error.message();
        return nullptr;
    }
    auto canonical = canonicalHome(home);
    auto lockPath = canonical + "/tmp/vesk.lock";
    auto names = socketNames(canonical);
    // The running app holds the lock for as long as it runs; the socket alone proves nothing,
    // since an app that was killed leaves it behind.
    FileDescriptor lock { openLock(lockPath, failure) };
    if (lock.fd < 0)
        return nullptr;
    auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (::flock(lock.fd, LOCK_EX | LOCK_NB) == 0) {
            if (stillAtPath(lock.fd, lockPath))
                break;
            FileDescriptor reopened { openLock(lockPath, failure) };
            if (reopened.fd < 0)
                return nullptr;
            std::swap(lock.fd, reopened.fd);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            // Without a working lock nothing says whether an app runs: never risk a second one.
            failure = describe("cannot take the lock", lockPath, errno);
            return nullptr;
        }
        // An app runs: it may still be starting or already ending, so try until the deadline.
        if (handOver(names, request, deadline) == HandOver::Taken) {
            outcome = Claim::HandedOver;
            return nullptr;
        }
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            outcome = Claim::NotTaken;
            return nullptr;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(retryPause, deadline - now));
    }
    // An app whose lock file was removed while it ran still listens: never run beside it.
    switch (handOver(names, request, std::chrono::steady_clock::now() + patience)) {
    case HandOver::Taken:
        outcome = Claim::HandedOver;
        return nullptr;
    case HandOver::NotTaken:
        outcome = Claim::NotTaken;
        return nullptr;
    case HandOver::NobodyListens:
        break;
    }
    outcome = Claim::Running;
    std::unique_ptr<SingleInstance> instance(new SingleInstance);
    instance->m_lock = std::exchange(lock.fd, -1);
    int bindError = 0;
    for (auto& name : names) {
        auto address = makeAddress(name);
        bool isPath = name.front() != '\0';
        // No app holds the lock: what is left at the path is the socket of one that ended
        // without removing it.
        if (struct stat status {}; isPath && ::lstat(name.c_str(), &status) == 0 && S_ISSOCK(status.st_mode))
            ::unlink(name.c_str());
        int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (listener < 0) {
            bindError = errno;
            break;
        }
        if (::bind(listener, address->get(), address->length) == 0 && ::listen(listener, SOMAXCONN) == 0) {
            instance->m_socket = listener;
            if (isPath)
                instance->m_path = name;
            break;
        }
        bindError = errno;
        ::close(listener);
    }
    if (instance->m_socket < 0)
        failure = "no socket for later starts to hand over to: " + std::string(std::strerror(bindError));
    return instance;
}

SingleInstance::~SingleInstance()
{
    m_stopping = true;
    if (m_wake)
        m_wake->signal();
    if (m_thread.joinable())
        m_thread.join();
    if (m_socket >= 0) {
        ::close(m_socket);
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    // Last: a later start takes over as soon as the lock is free.
    if (m_lock >= 0)
        ::close(m_lock);
}

void SingleInstance::listen(Handler handler)
{
    if (m_socket < 0 || m_thread.joinable())
        return;
    auto wake = std::make_shared<Wake>();
    if (wake->fds[0] < 0)
        return;
    m_wake = std::move(wake);
    m_handler = std::move(handler);
    m_thread = std::thread([this] { serve(); });
}

namespace {

    struct Connection {
        explicit Connection(int fd)
            : socket(fd)
            , deadline(std::chrono::steady_clock::now() + requestDeadline)
        {
        }
        FileDescriptor socket;
        std::string text;
        std::chrono::steady_clock::time_point deadline; // for the whole request
        // Set once the request has gone to the main run loop.
        std::shared_ptr<std::atomic<int>> verdict;
    };

    // What became of a request sent to the main run loop.
    enum Verdict : int {
        Waiting, // for the main run loop
        Handling, // the handler runs
        Taken,
        Refused,
        Abandoned, // its later start gave up and left before the handler ran
    };

    enum class Read {
        More,
        Complete,
        Over, // closed early, too long, or broken
    };

    Read readAvailable(Connection& connection)
    {
        char buffer[1024];
        for (;;) {
            auto got = ::recv(connection.socket.fd, buffer, sizeof buffer, 0);
            if (got > 0) {
                connection.text.append(buffer, static_cast<std::size_t>(got));
                if (connection.text.size() > maxRequestBytes)
                    return Read::Over;
                continue;
            }
            if (got == 0)
                return Read::Complete; // the later start has shut its side down
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? Read::More : Read::Over;
        }
    }

}

void SingleInstance::serve()
{
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<pollfd> polled;
    while (!m_stopping) {
        auto now = std::chrono::steady_clock::now();
        bool accepting = connections.size() < maxConnections;
        polled.assign({ { m_wake->fds[0], POLLIN, 0 }, { accepting ? m_socket : -1, POLLIN, 0 } });
        int timeout = -1;
        for (auto& connection : connections) {
            bool reading = !connection->verdict;
            // A request waiting for the main run loop is watched only for its later start
            // hanging up.
            bool waiting = !reading && connection->verdict->load() == Waiting;
            polled.push_back({ reading || waiting ? connection->socket.fd : -1, static_cast<short>(reading ? POLLIN : 0), 0 });
            if (!reading)
                continue;
            auto left = std::chrono::ceil<std::chrono::milliseconds>(connection->deadline - now).count();
            left = std::max<decltype(left)>(left, 0);
            timeout = timeout < 0 ? static_cast<int>(left) : std::min(timeout, static_cast<int>(left));
        }
        if (::poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR)
            return;
        if (polled[0].revents)
            m_wake->drain();
        if (m_stopping)
            return;
        now = std::chrono::steady_clock::now();
        std::vector<std::unique_ptr<Connection>> kept;
        for (std::size_t index = 0; index < connections.size(); ++index) {
            auto& connection = *connections[index];
            if (connection.verdict) {
                int verdict = connection.verdict->load();
                // A later start that has given up said so and ended: carried out now, its
                // request would be done behind the person's back, and again if they retry.
                if (verdict == Waiting && (polled[index + 2].revents & (POLLHUP | POLLERR))
                    && connection.verdict->compare_exchange_strong(verdict, Abandoned))
                    continue;
                if (verdict == Taken)
                    writeAll(connection.socket.fd, "ok\n");
                if (verdict == Waiting || verdict == Handling)
                    kept.push_back(std::move(connections[index]));
                continue;
            }
            auto read = polled[index + 2].revents ? readAvailable(connection) : Read::More;
            if (read == Read::Complete) {
                auto request = parseRequest(connection.text);
                if (!request)
                    continue;
                connection.verdict = std::make_shared<std::atomic<int>>(Waiting);
                DispatchQueue::main().async([handler = m_handler, request = *request, verdict = connection.verdict, wake = m_wake] {
                    int waiting = Waiting;
                    if (!verdict->compare_exchange_strong(waiting, Handling))
                        return;
                    verdict->store(handler(request) ? Taken : Refused);
                    wake->signal();
                });
            } else if (read == Read::Over || now >= connection.deadline) {
                continue;
            }
            kept.push_back(std::move(connections[index]));
        }
        connections = std::move(kept);
        if (!accepting || !(polled[1].revents & POLLIN))
            continue;
        while (connections.size() < maxConnections) {
            int client = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0)
                break;
            auto connection = std::make_unique<Connection>(client);
            // Only the same user's starts hand over.
            if (sameUser(client))
                connections.push_back(std::move(connection));
        }
    }
}

}
