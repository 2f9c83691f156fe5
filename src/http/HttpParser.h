#pragma once

#include "http/HttpRequest.h"
#include "http/Socket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

class HttpParserError : public std::runtime_error {
public:
    enum class Code {
        ReadBodyFailed = 0,
        InvalidStatusLine = 1,
        RequestLineTooLong = 2,
        HeaderLineTooLong = 3,
        TooManyHeaders = 4,
        BodyTooLarge = 5,
        Timeout = 6,
    };

    HttpParserError(Code code, std::string payload);

    Code code() const { return m_code; }
    // The read failure's message, or the request line for InvalidStatusLine.
    const std::string& payload() const { return m_payload; }
    static const char* caseName(Code);

private:
    Code m_code;
    std::string m_payload;
};

// Bounds on what one client may send or hold; anything past them closes the
// connection without a response.
struct HttpLimits {
    size_t maxRequestLineLength { 8192 };
    size_t maxHeaderLineLength { 8192 };
    size_t maxHeaderCount { 100 };
    size_t maxBodySize { 32u << 20 };
    // From the start of a request (the connection's start for the first one)
    // to the end of its header lines.
    std::chrono::milliseconds headerTimeout { 30000 };
    // How long a kept-alive connection may wait for its next request, and the
    // longest pause while a body arrives.
    std::chrono::milliseconds idleTimeout { 60000 };
    // From the end of the header lines to the end of the body, so that a body
    // dribbled in byte by byte cannot hold a connection for ever.
    std::chrono::milliseconds bodyTimeout { 300000 };
    size_t maxConnections { 256 };
};

// Reads the requests of one connection. It buffers what it receives, so bytes
// of a pipelined next request wait here for the next call.
class HttpParser {
public:
    explicit HttpParser(HttpLimits limits = {});

    HttpRequest readHttpRequest(const Socket& socket);
    bool supportsKeepAlive(const std::map<std::string, std::string>& headers) const;

private:
    using Clock = std::chrono::steady_clock;
    static constexpr int EndOfStream = -2;
    static constexpr int ReadFailed = -1;

    int nextByte(Clock::time_point deadline);
    int fill(Clock::time_point deadline);
    std::string readLine(Clock::time_point deadline, size_t maxLength, HttpParserError::Code tooLong);
    std::map<std::string, std::string> readHeaders(Clock::time_point deadline);
    std::optional<std::string> readRequestBody(const std::map<std::string, std::string>& headers);

    HttpLimits m_limits;
    Clock::time_point m_created;
    bool m_first { true };
    int m_descriptor { -1 };
    std::vector<char> m_buffer;
    size_t m_begin { 0 };
    size_t m_end { 0 };
};

// Text helpers of the parser; they work on bytes.
std::vector<std::string> splitString(std::string_view text, char separator);
std::string trimWhitespace(std::string_view text);
std::string replaceCharacter(std::string_view text, char find, char replacement);
// Lenient: a broken escape drops its "%" and keeps what followed.
std::string percentDecode(std::string_view text);
UrlParams extractUrlParams(std::string_view url);

} // namespace vesk
