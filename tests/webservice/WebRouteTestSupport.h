#pragma once

// Black-box helpers: a small HTTP/1.1 client that reads one whole answer.

#include "app/LoopbackPorts.h"
#include "e2e/VeskProcess.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/Value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace vesk::test {

// Connected to the port with a receive timeout, so a server that leaves a client hanging
// fails the test instead of stalling it; -1 when nothing listens.
inline int connectLoopback(std::uint16_t port)
{
    int fd = connectToLoopback(port);
    timeval timeout { 20, 0 };
    if (fd >= 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

inline bool sendAll(int fd, const std::string& bytes)
{
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
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
    if (fd < 0)
        return answer;
    std::string received;
    char buffer[65536];
    size_t headEnd = std::string::npos;
    std::optional<size_t> length;
    ssize_t count = sendAll(fd, request) ? 1 : 0;
    while (count > 0 && !(length && received.size() - headEnd >= *length)) {
        if ((count = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            received.append(buffer, static_cast<size_t>(count));
        if (headEnd != std::string::npos || (headEnd = received.find("\r\n\r\n")) == std::string::npos)
            continue;
        std::istringstream head(received.substr(0, headEnd));
        headEnd += 4;
        std::string line, version;
        std::getline(head, line);
        std::istringstream(line) >> version >> answer.status;
        auto reason = line.find(' ', version.size() + 1);
        answer.reason = reason == std::string::npos ? "" : line.substr(reason + 1, line.size() - reason - 2);
        while (std::getline(head, line)) {
            auto colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            std::string name = line.substr(0, colon);
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
            auto value = line.find_first_not_of(' ', colon + 1);
            answer.headers[name] = value == std::string::npos ? "" : line.substr(value, line.find_last_not_of('\r') + 1 - value);
        }
        if (answer.hasHeader("content-length"))
            length = std::stoull(answer.headers["content-length"]);
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

// Writes the file with the bytes given (created or truncated).
inline void writeBytes(const std::string& path, const std::string& bytes)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

}
