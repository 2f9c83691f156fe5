#pragma once

// Small loopback clients for the HTTP tests: raw descriptors, so the tests
// see exactly the bytes on the wire.

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace vesk::test {

class Client {
public:
    // Connects at once unless told not to; connect() needs no new descriptor.
    explicit Client(uint16_t port, bool connectNow = true)
        : m_port(port)
        , m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        if (connectNow)
            connect();
    }
    void connect()
    {
        sockaddr_in address { AF_INET, htons(m_port), { htonl(INADDR_LOOPBACK) }, {} };
        if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    int fd() const { return m_fd; }
    void close()
    {
        if (m_fd >= 0)
            ::close(std::exchange(m_fd, -1));
    }
    bool send(const std::string& bytes) { return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size()); }
    void endSending() { ::shutdown(m_fd, SHUT_WR); }
    // Closes with a reset instead of an orderly end.
    void reset()
    {
        linger option { 1, 0 };
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
        close();
    }

    // Everything until the server closes (or the timeout passes), after what an earlier
    // readResponse took in and left.
    std::string readAll(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::string data = take(m_pending.size());
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (auto chunk = readSome(deadline))
            data += *chunk;
        return data;
    }

    // The answer to a HEAD: its head alone, whatever Content-Length it gives.
    std::string readHeadAnswer(std::chrono::milliseconds timeout = std::chrono::seconds(10)) { return readResponse(timeout, false); }

    // True when the server has closed the connection (within the timeout),
    // whatever it sent before.
    bool closedByServer(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (readSome(deadline)) { }
        return m_closed;
    }

    // One response: the head, then Content-Length bytes of body unless it answers a HEAD.
    std::string readResponse(std::chrono::milliseconds timeout = std::chrono::seconds(10), bool withBody = true)
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        size_t headEnd;
        while ((headEnd = m_pending.find("\r\n\r\n")) == std::string::npos) {
            auto chunk = readSome(deadline);
            if (!chunk)
                return take(m_pending.size());
            m_pending += *chunk;
        }
        size_t length = 0;
        auto found = m_pending.find("Content-Length: ");
        if (withBody && found != std::string::npos && found < headEnd)
            length = std::stoul(m_pending.substr(found + 16));
        size_t total = headEnd + 4 + length;
        while (m_pending.size() < total) {
            auto chunk = readSome(deadline);
            if (!chunk)
                break;
            m_pending += *chunk;
        }
        return take(std::min(total, m_pending.size()));
    }

private:
    std::optional<std::string> readSome(std::chrono::steady_clock::time_point deadline)
    {
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0 || m_fd < 0)
                return std::nullopt;
            pollfd descriptor { m_fd, POLLIN, 0 };
            if (::poll(&descriptor, 1, static_cast<int>(left)) <= 0)
                continue;
            char buffer[65536];
            ssize_t received = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (received <= 0) {
                m_closed = true;
                return std::nullopt;
            }
            return std::string(buffer, static_cast<size_t>(received));
        }
    }

    std::string take(size_t count)
    {
        std::string result = m_pending.substr(0, count);
        m_pending.erase(0, count);
        return result;
    }

    uint16_t m_port { 0 };
    int m_fd { -1 };
    bool m_closed { false };
    std::string m_pending;
};

// Two connected descriptors. SOCK_SEQPACKET keeps each write a read of its
// own, so a test decides exactly where the reader's input is split.
struct SocketPair {
    explicit SocketPair(int type = SOCK_STREAM)
    {
        int fds[2];
        if (::socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds) != 0)
            throw std::runtime_error("socketpair");
        reader = fds[0];
        writer = fds[1];
    }
    ~SocketPair()
    {
        closeWriter();
        if (reader >= 0)
            ::close(reader);
    }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    void write(const std::string& bytes) const
    {
        if (::send(writer, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("short write");
    }
    void closeWriter()
    {
        if (writer >= 0)
            ::close(writer);
        writer = -1;
    }

    int reader { -1 };
    int writer { -1 };
};

} // namespace vesk::test
