#pragma once

// Black-box helpers: the real `vesk` program started on loopback with a home of its own, and a
// small HTTP/1.1 client that reads one whole answer.

#include "platform/foundation/JSON.h"
#include "platform/foundation/Value.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vesk::test {

inline std::uint16_t unusedLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

inline int connectLoopback(std::uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    timeval timeout { 20, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

inline bool sendAll(int fd, const std::string& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t count = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        sent += static_cast<size_t>(count);
    }
    return true;
}

// One answer as it came off the wire.
struct HttpAnswer {
    int status = 0;
    std::string reason;
    std::map<std::string, std::string> headers; // names lower-cased
    std::string body;
    bool complete = false; // the whole Content-Length arrived

    bool hasHeader(const std::string& name) const { return headers.count(name) != 0; }
    // The "response" object of a JSON envelope; null when the body is no envelope.
    platform::Value envelope() const
    {
        auto parsed = platform::JSONObjectWithData(body);
        return parsed ? (*parsed)["response"] : platform::Value();
    }
};

// Sends the raw request and reads the answer: head, then Content-Length bytes or up to the
// end of the stream.
inline HttpAnswer httpExchange(std::uint16_t port, const std::string& request)
{
    HttpAnswer answer;
    int fd = connectLoopback(port);
    if (fd < 0 || !sendAll(fd, request)) {
        if (fd >= 0)
            ::close(fd);
        return answer;
    }
    std::string received;
    char buffer[65536];
    size_t headEnd = std::string::npos;
    std::optional<size_t> length;
    for (;;) {
        if (headEnd != std::string::npos && length && received.size() - headEnd >= *length)
            break;
        ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        received.append(buffer, static_cast<size_t>(count));
        if (headEnd == std::string::npos) {
            auto at = received.find("\r\n\r\n");
            if (at == std::string::npos)
                continue;
            headEnd = at + 4;
            std::string head = received.substr(0, at);
            auto lineEnd = head.find("\r\n");
            std::string statusLine = head.substr(0, lineEnd);
            auto firstSpace = statusLine.find(' ');
            auto secondSpace = statusLine.find(' ', firstSpace + 1);
            answer.status = std::atoi(statusLine.substr(firstSpace + 1, secondSpace - firstSpace - 1).c_str());
            answer.reason = secondSpace == std::string::npos ? "" : statusLine.substr(secondSpace + 1);
            size_t at2 = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
            while (at2 < head.size()) {
                auto end = head.find("\r\n", at2);
                if (end == std::string::npos)
                    end = head.size();
                std::string line = head.substr(at2, end - at2);
                auto colon = line.find(':');
                if (colon != std::string::npos) {
                    std::string name = line.substr(0, colon);
                    for (auto& c : name)
                        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                    std::string value = line.substr(colon + 1);
                    while (!value.empty() && value.front() == ' ')
                        value.erase(0, 1);
                    answer.headers[name] = value;
                }
                at2 = end + 2;
            }
            if (answer.hasHeader("content-length"))
                length = std::stoull(answer.headers["content-length"]);
        }
    }
    ::close(fd);
    if (headEnd != std::string::npos) {
        answer.body = received.substr(headEnd);
        answer.complete = length && answer.body.size() == *length;
    }
    return answer;
}

inline HttpAnswer httpGet(std::uint16_t port, const std::string& target, const std::string& method = "GET")
{
    return httpExchange(port, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

// The `vesk` program with the server switch on, serving 127.0.0.1 on a port of its own.
class VeskProcess {
public:
    // `home` is VESK_HOME; what the home must hold (settings, bookmarks) is made beforehand.
    void start(const std::string& home, const std::string& logPath, const std::string& bundle = {})
    {
        port = unusedLoopbackPort();
        m_logPath = logPath;
        std::string program = std::string(VESK_BINARY_DIR) + "/vesk";
        m_pid = ::fork();
        if (m_pid == 0) {
            ::setenv("VESK_HOME", home.c_str(), 1);
            ::setenv("VESK_WIFI_INTERFACE", "lo", 1);
            ::setenv("VESK_PORT", std::to_string(port).c_str(), 1);
            if (!bundle.empty())
                ::setenv("VESK_BUNDLE", bundle.c_str(), 1);
            int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(log, 1);
            ::dup2(log, 2);
            ::execl(program.c_str(), program.c_str(), "--quick-action", "fileserver", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ASSERT_GT(m_pid, 0);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            int fd = connectLoopback(port);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                FAIL() << "vesk ended before it listened; its output:\n"
                       << log();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        FAIL() << "vesk did not listen on port " << port << "; its output:\n"
               << log();
    }

    // SIGTERM, then the exit status.
    int stop()
    {
        if (m_pid <= 0)
            return -1;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    ~VeskProcess() { stop(); }

    // What the program wrote on standard output and error so far.
    std::string log() const
    {
        std::string text;
        if (FILE* file = std::fopen(m_logPath.c_str(), "r")) {
            char buffer[4096];
            size_t count;
            while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
                text.append(buffer, count);
            std::fclose(file);
        }
        return text;
    }

    std::uint16_t port = 0;

private:
    pid_t m_pid = -1;
    std::string m_logPath;
};

// Writes the file with the bytes given (created or truncated).
inline void writeBytes(const std::string& path, const std::string& bytes)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

}
