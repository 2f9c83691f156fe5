#pragma once

#include "http/HttpRequest.h"
#include "http/Socket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
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
        // Two different Content-Length values, one that is not plain digits, any
        // Transfer-Encoding, a folded line, a header line that is not a field name, a colon
        // and a value, or a control byte in one (a carriage return anywhere but before its line
        // feed too): the end of the body cannot be told for sure.
        InvalidFraming = 7,
        // A request line of three tokens that is not method, target and "HTTP/1.0" or
        // "HTTP/1.1" parted by spaces with none before or after, or any request line holding a
        // control byte.
        InvalidRequestLine = 8,
        // The request line and header lines together pass their cap.
        HeadTooLarge = 9,
    };

    HttpParserError(Code code, std::string payload);

    Code code() const { return m_code; }
    // The read failure's message, or the request line for InvalidStatusLine and InvalidRequestLine.
    const std::string& payload() const { return m_payload; }
    static const char* caseName(Code);

private:
    Code m_code;
    std::string m_payload;
};

// Bounds on what one client may send or hold.
struct HttpLimits {
    size_t maxRequestLineLength { 8192 };
    size_t maxHeaderLineLength { 8192 };
    size_t maxHeaderCount { 100 };
    // The request line and all header lines with their line ends, as nginx allows by default.
    size_t maxHeadSize { 32u << 10 };
    size_t maxBodySize { 32u << 20 };
    // What unfinished requests of all connections together may cost the allocator (see
    // HttpParser::footprint); a connection whose request would pass it is answered 503 and closed.
    size_t maxHeldRequestBytes { 256u << 20 };
    // From the start of a request (the connection's start for the first one)
    // to the end of its header lines.
    std::chrono::milliseconds headerTimeout { 30000 };
    // How long a kept-alive connection may wait for its next request, and the
    // longest pause between two reads of a body.
    std::chrono::milliseconds idleTimeout { 60000 };
    // From the end of the header lines to the end of the body, so that a body
    // dribbled in byte by byte cannot hold a connection for ever.
    std::chrono::milliseconds bodyTimeout { 300000 };
    // The longest a response may wait for the client to take any of its bytes.
    std::chrono::milliseconds sendTimeout { 60000 };
    // Open connections at most; 0 takes what the descriptor limit leaves room for.
    size_t maxConnections { 0 };
    // Threads that serve requests at most; more are made only while all are busy.
    size_t maxWorkers { 256 };
};

// Reads the requests of one connection. Bytes are handed in as they arrive and
// parsing resumes where the last ones stopped; bytes past the end of a request
// wait in the parser for the next one.
class HttpParser {
public:
    // Asked at the end of a head that announces a body: whether the body's bytes are kept.
    // When not, the request is complete at once, its body present and empty with the announced
    // length in unreadBodyLength, and the body's bytes are dropped as they arrive.
    using BodyPolicy = std::function<bool(const HttpRequest& head)>;

    explicit HttpParser(HttpLimits limits = {});
    void setBodyPolicy(BodyPolicy policy) { m_bodyPolicy = std::move(policy); }

    // Reads one request from the socket, waiting for its bytes within the limits' deadlines.
    HttpRequest readHttpRequest(const Socket& socket);
    bool supportsKeepAlive(const std::map<std::string, std::string>& headers) const;

    // Parses the received bytes after those held back; answers the request once it is
    // whole. Throws HttpParserError for malformed input.
    std::optional<HttpRequest> parse(std::string_view received = {});
    // The peer sends no more: a partial line ends as if a line feed came.
    void endOfStream() { m_ended = true; }
    // Nothing of the next request has arrived yet.
    bool awaitsRequest() const;
    // The head is complete and the body is arriving (kept or dropped).
    bool readsBody() const { return m_phase == Phase::Body || m_phase == Phase::Skip; }
    // What the parser holds for the request under way and those sent ahead of it, as the
    // allocator counts it: buffers and texts by capacity, header nodes with their overhead.
    size_t footprint() const;
    // Bytes of a request are held that no answer has used.
    bool holdsUnusedBytes() const { return !awaitsRequest(); }

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase {
        RequestLine,
        Headers,
        Body,
        // Dropping the body of a request already handed out.
        Skip,
        Done,
    };

    size_t consume(std::string_view bytes);
    void finishLine();
    void addHeader(const std::string& line);
    void finishHead();
    HttpRequest takeRequest();

    HttpLimits m_limits;
    Phase m_phase { Phase::RequestLine };
    // The line so far, as received.
    std::string m_line;
    size_t m_headerCount { 0 };
    size_t m_headBytes { 0 };
    // What the request line under way costs (footprint).
    size_t m_lineCost { 0 };
    uint64_t m_skipLeft { 0 };
    BodyPolicy m_bodyPolicy;
    std::optional<uint64_t> m_contentLength;
    size_t m_bodyLength { 0 };
    HttpRequest m_request;
    std::string m_held;
    bool m_ended { false };

    // For readHttpRequest.
    Clock::time_point m_created;
    bool m_first { true };
    int m_descriptor { -1 };
};

// Text helpers of the parser; they work on bytes.
std::vector<std::string> splitString(std::string_view text, char separator);
std::string trimWhitespace(std::string_view text);
std::string replaceCharacter(std::string_view text, char find, char replacement);
// Lenient: a broken escape drops its "%" and keeps what followed.
std::string percentDecode(std::string_view text);
UrlParams extractUrlParams(std::string_view url);

} // namespace vesk
