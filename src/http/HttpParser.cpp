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
    case Code::InvalidFraming:
        return "InvalidFraming";
    case Code::InvalidRequestLine:
        return "InvalidRequestLine";
    case Code::HeadTooLarge:
        return "HeadTooLarge";
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

    // A Content-Length is decimal digits and nothing else, within 64 bits: a sign, a list or
    // a stray byte is read differently by other parsers, so none of them is guessed at.
    std::optional<uint64_t> contentLength(std::string_view text)
    {
        uint64_t value = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || text.front() < '0' || text.front() > '9' || error != std::errc() || end != text.data() + text.size())
            return std::nullopt;
        return value;
    }

    // Below the space, and DEL: no request line or header line may hold one, but a header
    // value may hold a tab.
    bool isControl(char character)
    {
        auto byte = static_cast<uint8_t>(character);
        return byte < 0x20 || byte == 0x7F;
    }

    // A method or a field name: letters, digits and the few marks RFC 9110 allows.
    bool isToken(std::string_view text)
    {
        return !text.empty() && std::all_of(text.begin(), text.end(), [](char character) {
            return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') || (character >= '0' && character <= '9')
                || std::string_view("!#$%&'*+-.^_`|~").find(character) != std::string_view::npos;
        });
    }

    // Whether a Connection value lists "close", in any case, among its comma-separated tokens.
    bool listsClose(std::string_view value)
    {
        for (auto& token : splitString(value, ',')) {
            std::string bare = trimWhitespace(token);
            if (bare.size() == 5 && std::equal(bare.begin(), bare.end(), "close", [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; }))
                return true;
        }
        return false;
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
                if (byte >= 0x80)
                    line += platform::utf8Encoded(byte);
                else
                    line += character;
            }
            line += '"';
        }
        line += "]";
        printDiagnosticLine(line);
    }

    // One read of what has arrived, waiting until the deadline; -1 with errno on failure.
    ssize_t receiveBefore(int descriptor, char* buffer, size_t size, std::chrono::steady_clock::time_point deadline)
    {
        // poll() would wait out the deadline on a negative descriptor.
        if (descriptor < 0) {
            errno = EBADF;
            return -1;
        }
        for (;;) {
            auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (remaining <= 0)
                throw HttpParserError(HttpParserError::Code::Timeout, "");
            pollfd waited { descriptor, POLLIN, 0 };
            int ready = ::poll(&waited, 1, static_cast<int>(std::min<int64_t>(remaining, 60000)));
            if (ready > 0 && (waited.revents & POLLNVAL)) {
                errno = EBADF;
                return -1;
            }
            if (ready == -1 && errno != EINTR)
                return -1;
            if (ready <= 0)
                continue;
            ssize_t received = ::recv(descriptor, buffer, size, 0);
            if (received == -1 && (errno == EINTR || errno == EAGAIN))
                continue;
            return received;
        }
    }

    // What the allocator takes for a block of this many bytes: a header of 8 bytes, rounded up
    // to 16, and at least 32, as glibc's malloc does.
    size_t blockCost(size_t bytes)
    {
        return bytes == 0 ? 0 : std::max<size_t>(32, (bytes + 8 + 15) & ~size_t(15));
    }

    // Short texts live inside the string itself; longer ones in a block of their capacity.
    size_t textCost(const std::string& text)
    {
        static const size_t inPlace = std::string().capacity();
        return text.capacity() > inPlace ? blockCost(text.capacity() + 1) : 0;
    }

    // What holding a request line costs the allocator: its texts by capacity, and the query's
    // pairs. Taken once, when the line is read: a query can hold thousands of pairs.
    size_t lineCost(const HttpRequest& request)
    {
        size_t cost = textCost(request.url) + textCost(request.method);
        cost += blockCost(request.urlParams.capacity() * sizeof(UrlParams::value_type));
        for (auto& [name, value] : request.urlParams)
            cost += textCost(name) + textCost(value);
        return cost;
    }

    // What the header lines and the body cost: a block for each header's tree node beside its
    // name and value, which for many tiny headers is most of it.
    size_t headersAndBodyCost(const HttpRequest& request)
    {
        constexpr size_t nodeCost = 4 * sizeof(void*) + sizeof(std::pair<const std::string, std::string>);
        size_t cost = request.body ? textCost(*request.body) : 0;
        for (auto& [name, value] : request.headers)
            cost += blockCost(nodeCost) + textCost(name) + textCost(value);
        return cost;
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
{
}

bool HttpParser::awaitsRequest() const
{
    return m_phase == Phase::RequestLine && m_line.empty() && m_held.empty();
}

size_t HttpParser::footprint() const
{
    return textCost(m_line) + textCost(m_held) + m_lineCost + headersAndBodyCost(m_request);
}

std::optional<HttpRequest> HttpParser::parse(std::string_view received)
{
    size_t used;
    if (m_held.empty()) {
        used = consume(received);
        m_held.assign(received.substr(used));
    } else {
        m_held.append(received);
        used = consume(m_held);
        m_held.erase(0, used);
    }
    if (m_phase != Phase::Done)
        return std::nullopt;
    return takeRequest();
}

// Takes bytes up to the end of the request; all of them unless the request ends first.
size_t HttpParser::consume(std::string_view bytes)
{
    size_t at = 0;
    while (m_phase != Phase::Done) {
        if (m_phase == Phase::Skip) {
            auto take = static_cast<size_t>(std::min<uint64_t>(m_skipLeft, bytes.size() - at));
            at += take;
            m_skipLeft -= take;
            if (m_skipLeft > 0 && m_ended)
                throw HttpParserError(HttpParserError::Code::ReadBodyFailed, "The connection ended before the body was complete");
            if (m_skipLeft > 0)
                break;
            m_phase = Phase::RequestLine;
            continue;
        }
        if (m_phase == Phase::Body) {
            size_t take = std::min(m_bodyLength - m_request.body->size(), bytes.size() - at);
            m_request.body->append(bytes.data() + at, take);
            at += take;
            if (m_request.body->size() == m_bodyLength) {
                m_phase = Phase::Done;
                break;
            }
            if (m_ended)
                throw HttpParserError(HttpParserError::Code::ReadBodyFailed, "The connection ended before the body was complete");
            break;
        }
        if (at == bytes.size()) {
            if (!m_ended)
                break;
            // The end of the stream ends the line like a line feed.
            finishLine();
            continue;
        }
        const char* start = bytes.data() + at;
        size_t available = bytes.size() - at;
        auto* lineFeed = static_cast<const char*>(std::memchr(start, '\n', available));
        size_t length = lineFeed ? static_cast<size_t>(lineFeed - start) : available;
        bool ends = lineFeed != nullptr;
        size_t limit = m_phase == Phase::RequestLine ? m_limits.maxRequestLineLength : m_limits.maxHeaderLineLength;
        if (m_line.size() + length > limit) {
            throw HttpParserError(m_phase == Phase::RequestLine ? HttpParserError::Code::RequestLineTooLong
                                                                : HttpParserError::Code::HeaderLineTooLong,
                "");
        }
        // Many lines just under their own limit would otherwise add up.
        if (m_headBytes + m_line.size() + length + (ends ? 1 : 0) > m_limits.maxHeadSize)
            throw HttpParserError(HttpParserError::Code::HeadTooLarge, "");
        // The whole line is looked at once it ends, so where the bytes were split changes nothing.
        m_line.append(start, length);
        at += length;
        if (ends) {
            ++at;
            m_headBytes += m_line.size() + 1;
            finishLine();
        }
    }
    return at;
}

void HttpParser::finishLine()
{
    std::string line = std::move(m_line);
    m_line.clear();
    // A line ends in a carriage return and a line feed, or a line feed alone (RFC 9112, 2.2).
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (m_phase == Phase::Headers) {
        if (line.empty())
            finishHead();
        else
            addHeader(line);
        return;
    }
    // A control byte (a zero byte or a bare carriage return among them) is read differently by
    // each server that meets it; nor does it go to the log.
    if (std::any_of(line.begin(), line.end(), isControl))
        throw HttpParserError(HttpParserError::Code::InvalidRequestLine, line);
    auto tokens = splitString(line, ' ');
    // A closed connection reads as an empty line; that is no request to report.
    if (!tokens.empty())
        printTokens(tokens);
    if (tokens.size() < 3)
        throw HttpParserError(HttpParserError::Code::InvalidStatusLine, line);
    // Runs of spaces between the three may be taken as one (RFC 9112, 3), but nothing before
    // or after them; and a version this server speaks.
    bool exact = tokens.size() == 3 && line.front() != ' ' && line.back() != ' ';
    if (!exact || !isToken(tokens[0]) || (tokens[2] != "HTTP/1.1" && tokens[2] != "HTTP/1.0"))
        throw HttpParserError(HttpParserError::Code::InvalidRequestLine, line);
    m_request.method = std::move(tokens[0]);
    m_request.url = std::move(tokens[1]);
    m_request.urlParams = extractUrlParams(m_request.url);
    m_lineCost = lineCost(m_request);
    m_phase = Phase::Headers;
}

void HttpParser::addHeader(const std::string& line)
{
    if (m_headerCount == m_limits.maxHeaderCount)
        throw HttpParserError(HttpParserError::Code::TooManyHeaders, "");
    ++m_headerCount;
    // Every header line must be read the same way by any server in front of this one, or it
    // could hide a line that decides where the body ends: a folded line, a control byte other
    // than a tab (a carriage return among them), or a line whose name before the colon is no
    // token (white space before the colon included) is refused (RFC 9112, 2.2 and 5).
    if (line.front() == ' ' || line.front() == '\t' || std::any_of(line.begin(), line.end(), [](char c) { return isControl(c) && c != '\t'; }))
        throw HttpParserError(HttpParserError::Code::InvalidFraming, line);
    size_t colon = line.find(':');
    if (colon == std::string::npos || !isToken(std::string_view(line).substr(0, colon)))
        throw HttpParserError(HttpParserError::Code::InvalidFraming, line);
    std::string name = line.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; });
    if (name == "transfer-encoding")
        throw HttpParserError(HttpParserError::Code::InvalidFraming, line);
    if (name == "content-length") {
        std::string value = trimWhitespace(std::string_view(line).substr(colon + 1));
        auto length = contentLength(value);
        if (!length || (m_contentLength && *m_contentLength != *length))
            throw HttpParserError(HttpParserError::Code::InvalidFraming, line);
        m_contentLength = length;
    }
    // The value ends at the next colon, as it always has.
    auto parts = splitString(line, ':');
    if (parts.size() < 2)
        return;
    std::string value = trimWhitespace(parts[1]);
    if (value.empty())
        return;
    auto& stored = m_request.headers[name];
    // A "close" in any Connection line closes: a later line does not take it back.
    if (name == "connection" && listsClose(stored))
        return;
    stored = std::move(value);
}

void HttpParser::finishHead()
{
    m_phase = Phase::Done;
    if (!m_contentLength)
        return;
    auto length = m_contentLength;
    m_request.body.emplace();
    if (*length == 0)
        return;
    // A body the route does not read costs nothing to take, whatever its length.
    if (m_bodyPolicy && !m_bodyPolicy(m_request)) {
        m_request.unreadBodyLength = *length;
        m_skipLeft = *length;
        return;
    }
    if (*length > m_limits.maxBodySize)
        throw HttpParserError(HttpParserError::Code::BodyTooLarge, std::to_string(*length));
    // The body grows with what arrives, never by what the client announced.
    m_bodyLength = static_cast<size_t>(*length);
    m_phase = Phase::Body;
}

HttpRequest HttpParser::takeRequest()
{
    HttpRequest request = std::move(m_request);
    m_request = HttpRequest();
    m_lineCost = 0;
    m_phase = m_skipLeft > 0 ? Phase::Skip : Phase::RequestLine;
    m_headerCount = 0;
    m_headBytes = 0;
    m_contentLength.reset();
    m_bodyLength = 0;
    return request;
}

HttpRequest HttpParser::readHttpRequest(const Socket& socket)
{
    if (socket.descriptor() != m_descriptor) {
        auto created = m_descriptor == -1 ? m_created : Clock::now();
        *this = HttpParser(m_limits);
        m_created = created;
        m_descriptor = socket.descriptor();
    }
    constexpr auto none = Clock::time_point::max();
    // The first request's head is due from the connection's start; a later one's from its
    // first byte, after an idle wait for that byte.
    auto headDeadline = m_first ? m_created + m_limits.headerTimeout : none;
    m_first = false;
    auto bodyDeadline = none;
    std::string_view received;
    char buffer[16384];
    for (;;) {
        if (auto request = parse(received))
            return std::move(*request);
        auto now = Clock::now();
        if (headDeadline == none && !awaitsRequest())
            headDeadline = now + m_limits.headerTimeout;
        Clock::time_point deadline;
        if (readsBody()) {
            if (bodyDeadline == none)
                bodyDeadline = now + m_limits.bodyTimeout;
            deadline = std::min(bodyDeadline, now + m_limits.idleTimeout);
        } else {
            deadline = headDeadline == none ? now + m_limits.idleTimeout : headDeadline;
        }
        ssize_t count = receiveBefore(m_descriptor, buffer, sizeof buffer, deadline);
        if (count < 0) {
            if (readsBody())
                throw HttpParserError(HttpParserError::Code::ReadBodyFailed, SocketError::errnoMessage(errno));
            throw SocketError(SocketError::Code::RecvFailed, SocketError::errnoMessage(errno));
        }
        if (count == 0)
            endOfStream();
        received = std::string_view(buffer, static_cast<size_t>(count));
    }
}

bool HttpParser::supportsKeepAlive(const std::map<std::string, std::string>& headers) const
{
    auto found = headers.find("connection");
    return found != headers.end() && trimWhitespace(found->second) == "keep-alive";
}

} // namespace vesk
