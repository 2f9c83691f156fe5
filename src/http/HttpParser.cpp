#include "http/HttpParser.h"

#include "http/ByteText.h"
#include "http/Diagnostics.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace vesk {

HttpParserError::HttpParserError(Code code, std::string payload)
    : std::runtime_error(std::string(caseName(code)) + (payload.empty() ? "" : ": " + payload))
    , m_code(code)
    , m_payload(std::move(payload))
{
}

const char* HttpParserError::caseName(Code code)
{
    switch (code) {
    case Code::ReadBodyFailed:
        return "ReadBodyFailed";
    case Code::InvalidStatusLine:
        return "InvalidStatusLine";
    case Code::RequestLineTooLong:
        return "RequestLineTooLong";
    case Code::HeaderLineTooLong:
        return "HeaderLineTooLong";
    case Code::TooManyHeaders:
        return "TooManyHeaders";
    case Code::BodyTooLarge:
        return "BodyTooLarge";
    case Code::Timeout:
        return "Timeout";
    }
    return "HttpParserError";
}

std::vector<std::string> splitString(std::string_view text, char separator)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            pieces.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::string trimWhitespace(std::string_view text)
{
    auto isSpace = [](char character) { return (character >= 9 && character <= 13) || character == ' '; };
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isSpace(text[begin]))
        ++begin;
    while (end > begin && isSpace(text[end - 1]))
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::string replaceCharacter(std::string_view text, char find, char replacement)
{
    std::string result(text);
    std::replace(result.begin(), result.end(), find, replacement);
    return result;
}

std::string percentDecode(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (size_t index = 0; index < text.size(); ++index) {
        if (text[index] != '%') {
            result.push_back(text[index]);
            continue;
        }
        std::string_view taken = text.substr(index + 1, 2);
        index += taken.size();
        if (taken.size() == 2 && hexDigitValue(taken[0]) >= 0 && hexDigitValue(taken[1]) >= 0)
            result.push_back(static_cast<char>(hexDigitValue(taken[0]) * 16 + hexDigitValue(taken[1])));
        else
            result.append(taken);
    }
    return result;
}

namespace {

    std::pair<std::string, std::string> pairFromPiece(std::string_view piece, bool plusIsSpace)
    {
        auto parts = splitString(piece, '=');
        if (parts.size() < 2)
            return {};
        if (plusIsSpace) {
            parts[0] = replaceCharacter(parts[0], '+', ' ');
            parts[1] = replaceCharacter(parts[1], '+', ' ');
        }
        return { percentDecode(parts[0]), percentDecode(parts[1]) };
    }

    // Swift-style integer reading: optional sign, digits only, no overflow.
    std::optional<int64_t> decimalInteger(std::string_view text)
    {
        if (!text.empty() && text.front() == '+') {
            text.remove_prefix(1);
            if (!text.empty() && text.front() == '-')
                return std::nullopt;
        }
        int64_t value = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || error != std::errc() || end != text.data() + text.size())
            return std::nullopt;
        return value;
    }

    void printTokens(const std::vector<std::string>& tokens)
    {
        std::string line = "[";
        for (size_t index = 0; index < tokens.size(); ++index) {
            if (index)
                line += ", ";
            line += '"';
            for (char character : tokens[index]) {
                auto byte = static_cast<uint8_t>(character);
                if (character == '"' || character == '\\')
                    line += '\\';
                // Each received byte is one character, so a high byte prints as
                // its character's UTF-8.
                if (byte >= 0x80) {
                    line += static_cast<char>(0xC0 | (byte >> 6));
                    line += static_cast<char>(0x80 | (byte & 0x3F));
                } else {
                    line += character;
                }
            }
            line += '"';
        }
        line += "]";
        printDiagnosticLine(line);
    }

} // namespace

UrlParams extractUrlParams(std::string_view url)
{
    UrlParams params;
    auto pieces = splitString(url, '?');
    if (pieces.empty())
        return params;
    for (auto& piece : splitString(pieces.back(), '&'))
        params.push_back(pairFromPiece(piece, false));
    return params;
}

UrlParams parseUrlencodedForm(const HttpRequest& request)
{
    UrlParams params;
    if (!request.body)
        return params;
    for (auto& piece : splitString(*request.body, '&'))
        params.push_back(pairFromPiece(piece, true));
    return params;
}

HttpParser::HttpParser(HttpLimits limits)
    : m_limits(limits)
    , m_created(Clock::now())
    , m_buffer(16384)
{
}

int HttpParser::fill(Clock::time_point deadline)
{
    // poll() would wait out the deadline on a negative descriptor.
    if (m_descriptor < 0) {
        errno = EBADF;
        return ReadFailed;
    }
    for (;;) {
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining <= 0)
            throw HttpParserError(HttpParserError::Code::Timeout, "");
        pollfd descriptor { m_descriptor, POLLIN, 0 };
        int ready = ::poll(&descriptor, 1, static_cast<int>(std::min<int64_t>(remaining, 60000)));
        if (ready > 0 && (descriptor.revents & POLLNVAL)) {
            errno = EBADF;
            return ReadFailed;
        }
        if (ready == -1 && errno != EINTR)
            return ReadFailed;
        if (ready <= 0)
            continue;
        ssize_t received = ::recv(m_descriptor, m_buffer.data(), m_buffer.size(), 0);
        if (received == -1 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (received < 0)
            return ReadFailed;
        m_begin = 0;
        m_end = static_cast<size_t>(received);
        return received == 0 ? EndOfStream : static_cast<int>(received);
    }
}

int HttpParser::nextByte(Clock::time_point deadline)
{
    if (m_begin == m_end) {
        int result = fill(deadline);
        if (result <= 0)
            return result;
    }
    return static_cast<uint8_t>(m_buffer[m_begin++]);
}

std::string HttpParser::readLine(Clock::time_point deadline, size_t maxLength, HttpParserError::Code tooLong)
{
    std::string line;
    size_t consumed = 0;
    for (;;) {
        int value = nextByte(deadline);
        if (value == ReadFailed)
            throw SocketError(SocketError::Code::RecvFailed, SocketError::errnoMessage(errno));
        // A zero byte or the end of the stream ends the line like a line feed.
        if (value == EndOfStream || value == 0 || value == '\n')
            return line;
        if (++consumed > maxLength)
            throw HttpParserError(tooLong, "");
        // Control bytes up to 13 (carriage return, tab, ...) never reach the text.
        if (value >= 14)
            line.push_back(static_cast<char>(value));
    }
}

std::map<std::string, std::string> HttpParser::readHeaders(Clock::time_point deadline)
{
    std::map<std::string, std::string> headers;
    for (size_t count = 0;; ++count) {
        std::string line = readLine(deadline, m_limits.maxHeaderLineLength, HttpParserError::Code::HeaderLineTooLong);
        if (line.empty())
            return headers;
        if (count == m_limits.maxHeaderCount)
            throw HttpParserError(HttpParserError::Code::TooManyHeaders, "");
        auto parts = splitString(line, ':');
        if (parts.size() < 2)
            continue;
        std::string name = parts[0];
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; });
        std::string value = trimWhitespace(parts[1]);
        if (!name.empty() && !value.empty())
            headers[name] = std::move(value);
    }
}

std::optional<std::string> HttpParser::readRequestBody(const std::map<std::string, std::string>& headers)
{
    auto found = headers.find("content-length");
    if (found == headers.end())
        return std::nullopt;
    auto length = decimalInteger(found->second);
    if (!length)
        return std::nullopt;
    std::string body;
    if (*length <= 0)
        return body;
    if (static_cast<uint64_t>(*length) > m_limits.maxBodySize)
        throw HttpParserError(HttpParserError::Code::BodyTooLarge, found->second);
    // Grow with what arrives, never by what the client announced.
    auto wanted = static_cast<size_t>(*length);
    auto bodyDeadline = Clock::now() + m_limits.bodyTimeout;
    while (body.size() < wanted) {
        if (m_begin == m_end) {
            int result = fill(std::min(Clock::now() + m_limits.idleTimeout, bodyDeadline));
            if (result == ReadFailed)
                throw HttpParserError(HttpParserError::Code::ReadBodyFailed, SocketError::errnoMessage(errno));
            if (result == EndOfStream)
                throw HttpParserError(HttpParserError::Code::ReadBodyFailed, "The connection ended before the body was complete");
        }
        size_t take = std::min(wanted - body.size(), m_end - m_begin);
        body.append(m_buffer.data() + m_begin, take);
        m_begin += take;
    }
    return body;
}

HttpRequest HttpParser::readHttpRequest(const Socket& socket)
{
    if (socket.descriptor() != m_descriptor) {
        m_descriptor = socket.descriptor();
        m_begin = m_end = 0;
    }
    Clock::time_point deadline;
    if (m_first) {
        deadline = m_created + m_limits.headerTimeout;
        m_first = false;
    } else {
        if (m_begin == m_end) {
            int result = fill(Clock::now() + m_limits.idleTimeout);
            if (result == ReadFailed)
                throw SocketError(SocketError::Code::RecvFailed, SocketError::errnoMessage(errno));
            if (result == EndOfStream)
                throw HttpParserError(HttpParserError::Code::InvalidStatusLine, "");
        }
        deadline = Clock::now() + m_limits.headerTimeout;
    }

    std::string line = readLine(deadline, m_limits.maxRequestLineLength, HttpParserError::Code::RequestLineTooLong);
    auto tokens = splitString(line, ' ');
    // A closed connection reads as an empty line; that is no request to report.
    if (!tokens.empty())
        printTokens(tokens);
    if (tokens.size() < 3)
        throw HttpParserError(HttpParserError::Code::InvalidStatusLine, line);

    HttpRequest request;
    request.method = tokens[0];
    request.url = tokens[1];
    request.urlParams = extractUrlParams(request.url);
    request.headers = readHeaders(deadline);
    request.body = readRequestBody(request.headers);
    return request;
}

bool HttpParser::supportsKeepAlive(const std::map<std::string, std::string>& headers) const
{
    auto found = headers.find("connection");
    return found != headers.end() && trimWhitespace(found->second) == "keep-alive";
}

} // namespace vesk
