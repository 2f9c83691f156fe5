#include "http/HttpParser.h"
#include "http/Diagnostics.h"
#include "http/Loopback.h"
#include "http/StrictHeads.h"

#include <gtest/gtest.h>

using namespace vesk;
using vesk::test::SocketPair;
using Code = HttpParserError::Code;
using namespace std::chrono_literals;

namespace {

// Parses every request the input holds, until the first error.
struct Outcome {
    std::vector<HttpRequest> requests;
    std::optional<Code> error;
    std::string errorPayload;
};

Outcome parseParts(const std::vector<std::string>& parts, HttpLimits limits = {})
{
    SocketPair pair(SOCK_SEQPACKET);
    for (auto& part : parts)
        pair.write(part);
    pair.closeWriter();
    HttpParser parser(limits);
    Outcome outcome;
    for (;;) {
        try {
            outcome.requests.push_back(parser.readHttpRequest(Socket(pair.reader)));
        } catch (const HttpParserError& error) {
            outcome.error = error.code();
            outcome.errorPayload = error.payload();
            return outcome;
        }
    }
}

Outcome parse(const std::string& input, HttpLimits limits = {})
{
    return parseParts({ input }, limits);
}

HttpRequest parseOne(const std::string& input)
{
    auto outcome = parse(input);
    if (outcome.requests.empty())
        throw std::runtime_error("no request in: " + input);
    return outcome.requests.front();
}

using namespace std::string_literals;

const std::string sampleRequest = "POST /setFile?path=%2FDocuments%2Fa%20b&type=raw HTTP/1.1\r\n"
                                  "Host: 10.0.0.7:8080\r\n"
                                  "Connection: keep-alive\r\n"
                                  "Content-Length: 11\r\n"
                                  "X-Odd:\tspaced \r\n"
                                  "\r\n"
                                  "hello\0world"s;

} // namespace

TEST(HttpParserHelpers, PercentDecode)
{
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        { "a%41b", "aAb" },
        { "%20%2F%2f", " //" },
        { "%e9", "\xE9" },
        { "%C3%A9", "\xC3\xA9" },
        { "%", "" },
        { "%zz", "zz" },
        { "%4g", "4g" },
        { "100%2", "1002" },
        { "a+b", "a+b" },
        { "%00x", std::string("\0x", 2) },
    };
    for (auto& testCase : cases)
        EXPECT_EQ(percentDecode(testCase.in), testCase.out) << testCase.in;
}

TEST(HttpParserHelpers, UrlParamsByPosition)
{
    using P = UrlParams;
    EXPECT_EQ(extractUrlParams("/getFile?path=%2FDocuments&type=raw"), (P { { "path", "/Documents" }, { "type", "raw" } }));
    EXPECT_EQ(extractUrlParams("/getDocDir"), (P { { "", "" } }));
    EXPECT_EQ(extractUrlParams("/a=b"), (P { { "/a", "b" } }));
    EXPECT_EQ(extractUrlParams("/a?x=1&&y=2"), (P { { "x", "1" }, { "y", "2" } }));
    EXPECT_EQ(extractUrlParams("/a?a=b=c&=b&a=&q=1+2"), (P { { "a", "b" }, { "", "" }, { "", "" }, { "q", "1+2" } }));
    EXPECT_TRUE(extractUrlParams("???").empty());
}

TEST(HttpParserHelpers, UrlencodedForm)
{
    HttpRequest request;
    EXPECT_TRUE(parseUrlencodedForm(request).empty());
    request.body = "a+b=c%2Bd&&name=J%C3%A9r%C3%B4me&bare";
    EXPECT_EQ(parseUrlencodedForm(request), (UrlParams { { "a b", "c+d" }, { "name", "J\xC3\xA9r\xC3\xB4me" }, { "", "" } }));
}

TEST(HttpParserRequest, ReadsLineHeadersAndBody)
{
    auto request = parseOne(sampleRequest);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, "/setFile?path=%2FDocuments%2Fa%20b&type=raw");
    EXPECT_EQ(request.urlParams, (UrlParams { { "path", "/Documents/a b" }, { "type", "raw" } }));
    EXPECT_EQ(request.headers, (std::map<std::string, std::string> { { "host", "10.0.0.7" }, { "connection", "keep-alive" }, { "content-length", "11" }, { "x-odd", "spaced" } }));
    // A zero byte in a body is data.
    EXPECT_EQ(request.body, std::string("hello\0world", 11));
}

TEST(HttpParserRequest, HeaderLines)
{
    // Only ASCII white space is trimmed; a tab inside a value stays; a line feed alone ends a line.
    auto request = parseOne("get / HTTP/1.0\r\nX-Empty:   \r\nAccept:text/html\r\nA: 1\na: 2\r\n"
                            "Nb: \t\xC2\xA0v\xC2\xA0 \r\nT: a\tb\r\n\r\n");
    EXPECT_EQ(request.method, "get");
    EXPECT_EQ(request.url, "/");
    EXPECT_EQ(request.headers, (std::map<std::string, std::string> { { "accept", "text/html" }, { "a", "2" }, { "nb", "\xC2\xA0v\xC2\xA0" }, { "t", "a\tb" } }));
    EXPECT_FALSE(request.body);
}

TEST(HttpParserRequest, BodyByContentLength)
{
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        { "Content-Length: 5\r\n\r\nhello", "hello" },
        { "Content-Length: 0\r\n\r\n", "" },
        { "Content-Length: 002\r\ncontent-length:2\r\n\r\nab", "ab" },
        { "\r\n", std::nullopt },
    };
    for (auto& [rest, body] : cases)
        EXPECT_EQ(parseOne("GET / HTTP/1.1\r\n" + rest).body, body) << rest;
}

TEST(HttpParserRequest, RunsOfSpacesSeparateTheThreeTokens)
{
    auto request = parseOne("GET  /a?x=1   HTTP/1.1\r\n\r\n");
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.url, "/a?x=1");
    EXPECT_EQ(request.urlParams, (UrlParams { { "x", "1" } }));
}

TEST(HttpParserRequest, KeepAliveOnlyForExactToken)
{
    HttpParser parser;
    EXPECT_TRUE(parser.supportsKeepAlive({ { "connection", "keep-alive" } }));
    EXPECT_FALSE(parser.supportsKeepAlive({ { "connection", "Keep-Alive" } }));
    EXPECT_FALSE(parser.supportsKeepAlive({}));
}

TEST(HttpParserRequest, ACloseInAnyConnectionLineCloses)
{
    const std::pair<std::string, bool> cases[] = {
        { "Connection: keep-alive\r\n", true },
        { "Connection: close\r\nConnection: keep-alive\r\n", false },
        { "Connection: CLOSE\r\nconnection: keep-alive\r\n", false },
        { "Connection: upgrade, Close \r\nConnection: keep-alive\r\n", false },
        { "Connection: keep-alive\r\nConnection: close\r\n", false },
        { "Connection: keep-alive, close\r\n", false },
        { "Connection: closed\r\nConnection: keep-alive\r\n", true },
        { "Connection: keep-alive\r\nConnection: keep-alive\r\n", true },
    };
    for (auto& [lines, keepAlive] : cases)
        EXPECT_EQ(HttpParser().supportsKeepAlive(parseOne("GET / HTTP/1.1\r\n" + lines + "\r\n").headers), keepAlive) << lines;
}

TEST(HttpParserRequest, PrintsTheTokensOfEachRequestLine)
{
    flushDiagnostics();
    testing::internal::CaptureStdout();
    parse("GET /a\"b HTTP/1.1\r\n\r\nGET /\r\n");
    flushDiagnostics();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[\"GET\", \"/a\\\"b\", \"HTTP/1.1\"]\n[\"GET\", \"/\"]\n");

    // One character per byte: raw high bytes print as those characters, in UTF-8.
    testing::internal::CaptureStdout();
    auto request = parseOne("GET /\xE9/\xC3\xA9 HTTP/1.1\r\n\r\n");
    flushDiagnostics();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[\"GET\", \"/\xC3\xA9/\xC3\x83\xC2\xA9\", \"HTTP/1.1\"]\n");
    EXPECT_EQ(request.url, "/\xE9/\xC3\xA9");
}

TEST(HttpParserMalformed, EachEndsWithItsError)
{
    HttpLimits limits;
    limits.maxRequestLineLength = 64;
    limits.maxHeaderLineLength = 40;
    limits.maxHeaderCount = 4;
    limits.maxBodySize = 16;
    limits.maxHeadSize = 100;
    struct Case {
        std::string name, input;
        Code error;
    };
    const Case cases[] = {
        { "closed at once", "", Code::InvalidStatusLine },
        { "empty line", "\r\n\r\n", Code::InvalidStatusLine },
        { "two tokens", "GET /\r\n\r\n", Code::InvalidStatusLine },
        { "one token", "GET\r\n", Code::InvalidStatusLine },
        { "only spaces", "     \r\n", Code::InvalidStatusLine },
        { "zero byte in the request line", std::string("GET /\0 HTTP/1.1\r\n", 17), Code::InvalidRequestLine },
        { "request line too long", "GET /" + std::string(64, 'a') + " HTTP/1.1\r\n\r\n", Code::RequestLineTooLong },
        { "endless carriage returns", std::string(100, '\r'), Code::RequestLineTooLong },
        { "header line too long", "GET / HTTP/1.1\r\nX: " + std::string(40, 'b') + "\r\n\r\n", Code::HeaderLineTooLong },
        { "too many headers", "GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\nE: 5\r\n\r\n", Code::TooManyHeaders },
        { "head over its cap", "GET / HTTP/1.1\r\n" + [] { std::string lines; for (int line = 0; line < 3; ++line) lines += "X: " + std::string(30, 'b') + "\r\n"; return lines; }() + "\r\n", Code::HeadTooLarge },
        { "ignored lines count too", "GET / HTTP/1.1\r\nx:\r\nx:\r\nx:\r\nx:\r\nx:\r\n\r\n", Code::TooManyHeaders },
        { "body over the cap", "GET / HTTP/1.1\r\nContent-Length: 17\r\n\r\n" + std::string(17, 'c'), Code::BodyTooLarge },
        { "huge announced body", "GET / HTTP/1.1\r\nContent-Length: 9223372036854775807\r\n\r\n", Code::BodyTooLarge },
        { "body cut short", "GET / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc", Code::ReadBodyFailed },
        { "body of zero bytes cut short", std::string("GET / HTTP/1.1\r\nContent-Length: 10\r\n\r\n\0\0\0", 41), Code::ReadBodyFailed },
        { "two lengths", "GET / HTTP/1.1\r\nContent-Length: 1\r\nX: y\r\ncontent-length: 2\r\n\r\n", Code::InvalidFraming },
        { "a length and no length", "GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: x\r\n\r\n", Code::InvalidFraming },
        { "chunked", "GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", Code::InvalidFraming },
        { "any coding, even empty", "GET / HTTP/1.1\r\ntransfer-encoding:\r\n\r\n", Code::InvalidFraming },
        { "space before the colon", "GET / HTTP/1.1\r\nContent-Length : 1\r\n\r\n", Code::InvalidFraming },
        { "negative length", "GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", Code::InvalidFraming },
        { "signed length", "GET / HTTP/1.1\r\nContent-Length: +37\r\n\r\n", Code::InvalidFraming },
        { "hexadecimal length", "GET / HTTP/1.1\r\nContent-Length: 0x26\r\n\r\n", Code::InvalidFraming },
        { "a list of lengths", "GET / HTTP/1.1\r\nContent-Length: 0, 37\r\n\r\n", Code::InvalidFraming },
        { "length past 64 bits", "GET / HTTP/1.1\r\nContent-Length: 18446744073709551617\r\n\r\n", Code::InvalidFraming },
        { "zero byte in the length", "GET / HTTP/1.1\r\nContent-Length: 3\0"
                                     "7\r\n\r\n"s,
            Code::InvalidFraming },
        { "control byte in the length", "GET / HTTP/1.1\r\nContent-Length: 3\x01"
                                        "7\r\n\r\n",
            Code::InvalidFraming },
        { "empty length", "GET / HTTP/1.1\r\nContent-Length:\r\n\r\n", Code::InvalidFraming },
        { "words as length", "GET / HTTP/1.1\r\nContent-Length: 5x\r\n\r\n", Code::InvalidFraming },
        { "folded line", "GET / HTTP/1.1\r\nX: a\r\n b\r\n\r\n", Code::InvalidFraming },
        { "folded with a tab", "GET / HTTP/1.1\r\nContent-Length: 0\r\n\t3\r\n\r\n", Code::InvalidFraming },
    };
    for (auto& testCase : cases) {
        auto outcome = parse(testCase.input, limits);
        EXPECT_TRUE(outcome.requests.empty()) << testCase.name;
        EXPECT_EQ(outcome.error, testCase.error) << testCase.name;
    }
    EXPECT_EQ(parse("GET /\r\n").errorPayload, "GET /");
}

TEST(HttpParserMalformed, StrictHeadsAreRefusedAtEverySplitPoint)
{
    for (auto& testCase : vesk::test::strictHeads) {
        // A good request ahead of it on the same connection still counts.
        std::string input = "GET /first HTTP/1.1\r\nConnection: keep-alive\r\n\r\n" + testCase.input;
        for (size_t offset = 1; offset < input.size(); ++offset) {
            auto outcome = parseParts({ input.substr(0, offset), input.substr(offset) });
            ASSERT_EQ(outcome.requests.size(), 1u) << testCase.name << ", split at " << offset;
            EXPECT_EQ(outcome.requests[0].url, "/first") << testCase.name;
            ASSERT_EQ(outcome.error, testCase.error) << testCase.name << ", split at " << offset;
        }
    }
}

TEST(HttpParserMalformed, WithinLimitsStillParses)
{
    HttpLimits limits;
    // The carriage return counts, the line feed does not.
    limits.maxRequestLineLength = 15;
    limits.maxHeaderCount = 1;
    limits.maxBodySize = 3;
    auto outcome = parse("GET / HTTP/1.1\r\nA: 1\r\nContent-Length: 3\r\n\r\nabc", limits);
    EXPECT_EQ(outcome.error, Code::TooManyHeaders);
    outcome = parse("GET / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", limits);
    ASSERT_EQ(outcome.requests.size(), 1u);
    EXPECT_EQ(outcome.requests[0].body, "abc");
}

TEST(HttpParserSplit, EverySplitPointGivesTheSameRequests)
{
    // Two pipelined requests, so a split also lands between them and in the body.
    std::string input = sampleRequest + "GET /next?x=%C3%A9 HTTP/1.1\r\nContent-Length: 2\r\n\r\nok";
    auto whole = parse(input);
    ASSERT_EQ(whole.requests.size(), 2u);
    for (size_t offset = 1; offset < input.size(); ++offset) {
        auto split = parseParts({ input.substr(0, offset), input.substr(offset) });
        EXPECT_EQ(split.requests, whole.requests) << "split at " << offset;
        EXPECT_EQ(split.error, Code::InvalidStatusLine) << "split at " << offset;
    }
    std::vector<std::string> bytes;
    for (char byte : input)
        bytes.emplace_back(1, byte);
    EXPECT_EQ(parseParts(bytes).requests, whole.requests) << "one byte at a time";
}

// The parser error of the next read on the descriptor, if any.
std::optional<Code> nextError(HttpParser& parser, int descriptor)
{
    try {
        parser.readHttpRequest(Socket(descriptor));
    } catch (const HttpParserError& error) {
        return error.code();
    }
    return std::nullopt;
}

HttpLimits shortDeadlines(std::chrono::milliseconds header, std::chrono::milliseconds idle)
{
    HttpLimits limits;
    limits.headerTimeout = header;
    limits.idleTimeout = idle;
    return limits;
}

TEST(HttpParserSplit, ABodyThePolicyRefusesIsDroppedAtEverySplitPoint)
{
    const std::string input = "POST /drop HTTP/1.1\r\nContent-Length: 10\r\n\r\n0123456789"
                              "POST /keep HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"
                              "GET /last HTTP/1.1\r\n\r\n";
    for (size_t offset = 0; offset <= input.size(); ++offset) {
        HttpParser parser;
        parser.setBodyPolicy([](const HttpRequest& head) { return head.url != "/drop"; });
        std::vector<HttpRequest> requests;
        for (auto part : { std::string_view(input).substr(0, offset), std::string_view(input).substr(offset) }) {
            for (auto request = parser.parse(part); request; request = parser.parse())
                requests.push_back(std::move(*request));
        }
        ASSERT_EQ(requests.size(), 3u) << "split at " << offset;
        EXPECT_EQ(requests[0].body, "");
        EXPECT_EQ(requests[0].unreadBodyLength, 10u);
        EXPECT_EQ(requests[1].body, "abc");
        EXPECT_EQ(requests[1].unreadBodyLength, 0u);
        EXPECT_EQ(requests[2].url, "/last");
        EXPECT_TRUE(parser.awaitsRequest());
    }
    // Ended before the dropped body was whole: an error, as for a kept body.
    HttpParser parser;
    parser.setBodyPolicy([](const HttpRequest&) { return false; });
    ASSERT_TRUE(parser.parse("POST /drop HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc"));
    parser.endOfStream();
    try {
        parser.parse();
        ADD_FAILURE() << "no error";
    } catch (const HttpParserError& error) {
        EXPECT_EQ(error.code(), Code::ReadBodyFailed);
    }
}

TEST(HttpParserSplit, ADroppedBodyHoldsNoMemoryWhateverItsLengthOrItsCap)
{
    HttpLimits limits;
    limits.maxBodySize = 1024;
    HttpParser parser(limits);
    parser.setBodyPolicy([](const HttpRequest&) { return false; });
    auto request = parser.parse("POST / HTTP/1.1\r\nContent-Length: 67108864\r\n\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->unreadBodyLength, 64u << 20);
    EXPECT_TRUE(parser.readsBody());
    const std::string piece(1 << 20, 'x');
    for (int count = 0; count < 63; ++count) {
        EXPECT_FALSE(parser.parse(piece));
        ASSERT_LT(parser.footprint(), 64u * 1024) << "after " << count << " MiB";
    }
    EXPECT_FALSE(parser.parse(piece + "GET /next HTTP/1.1\r\n"));
    request = parser.parse("\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->url, "/next");
}

TEST(HttpParserDeadline, ReadingFromASocketWaitsNoLongerThanTheDeadlines)
{
    const std::pair<std::string, HttpLimits> cases[] = {
        { "GET / HTTP/1.1\r\n", shortDeadlines(100ms, 10s) },
        { "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc", shortDeadlines(10s, 100ms) },
    };
    for (auto& [input, limits] : cases) {
        SocketPair pair;
        pair.write(input);
        HttpParser parser(limits);
        EXPECT_EQ(nextError(parser, pair.reader), Code::Timeout) << input;
    }
    // A failed read is the socket's error, not the parser's.
    EXPECT_THROW(HttpParser().readHttpRequest(Socket(-1)), SocketError);
}
