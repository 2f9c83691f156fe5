#pragma once

// Black-box helpers: one HTTP/1.1 exchange on loopback, its answer taken apart.

#include "e2e/VeskProcess.h"
#include "http/Loopback.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/Value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

namespace vesk::test {

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

// Sends the raw request and reads one answer: the head, then Content-Length bytes.
inline HttpAnswer httpExchange(std::uint16_t port, const std::string& request)
{
    Client client(port);
    client.send(request);
    std::string received = client.readResponse(std::chrono::seconds(20));
    HttpAnswer answer;
    auto headEnd = received.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return answer;
    std::istringstream head(received.substr(0, headEnd));
    std::string line, version;
    auto nextLine = [&] {
        bool read = static_cast<bool>(std::getline(head, line));
        if (read && line.ends_with('\r'))
            line.pop_back();
        return read;
    };
    nextLine();
    std::istringstream(line) >> version >> answer.status;
    auto reason = line.find(' ', version.size() + 1);
    answer.reason = reason == std::string::npos ? "" : line.substr(reason + 1);
    while (nextLine()) {
        auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        auto value = line.find_first_not_of(' ', colon + 1);
        answer.headers[name] = value == std::string::npos ? "" : line.substr(value);
    }
    answer.body = received.substr(headEnd + 4);
    answer.complete = answer.hasHeader("content-length") && answer.body.size() == std::stoull(answer.headers["content-length"]);
    return answer;
}

inline HttpAnswer httpGet(std::uint16_t port, const std::string& target, const std::string& method = "GET")
{
    return httpExchange(port, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

// Writes the file with the bytes given (created or truncated).
inline void writeBytes(const std::string& path, const std::string& bytes)
{
    ASSERT_TRUE(std::ofstream(path, std::ios::binary) << bytes) << path;
}

}
