// libFuzzer target: the request parser reading hostile bytes from a socket,
// and the text helpers the server runs on request text.

#include "http/ByteText.h"
#include "http/HttpParser.h"
#include "http/RequestTarget.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace vesk;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void fuzzText(std::string_view text)
{
    std::string decoded = percentDecode(text);
    check(decoded.size() <= text.size());
    if (auto path = requestPath(text)) {
        check(!path->empty());
        check(vesk::platform::isValidUTF8(*path));
        check(path->find('\0') == std::string::npos);
    }
    if (auto strict = removingPercentEncoding(text))
        check(vesk::platform::isValidUTF8(*strict));
    for (auto& [name, value] : extractUrlParams(text))
        check(name.size() + value.size() <= text.size());
    for (auto& piece : splitString(text, '&'))
        check(!piece.empty() && piece.find('&') == std::string::npos);
    HttpRequest form;
    form.body = std::string(text);
    parseUrlencodedForm(form);
}

// Every request the bytes hold, handed to the parser in pieces of the given size.
std::vector<HttpRequest> requestsInPieces(std::string_view text, size_t piece, const HttpLimits& limits)
{
    HttpParser parser(limits);
    std::vector<HttpRequest> requests;
    try {
        for (size_t at = 0;; at += piece) {
            if (at >= text.size())
                parser.endOfStream();
            for (auto request = parser.parse(text.substr(std::min(at, text.size()), piece)); request; request = parser.parse())
                requests.push_back(std::move(*request));
        }
    } catch (const HttpParserError&) {
    }
    return requests;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The whole input must fit the socket buffer, since nobody reads while it is written.
    if (size > 64 * 1024)
        return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    fuzzText(text);

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return 0;
    if (size && ::send(fds[1], data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size))
        std::abort();
    ::close(fds[1]);

    HttpLimits limits;
    limits.maxRequestLineLength = 512;
    limits.maxHeaderLineLength = 512;
    limits.maxHeaderCount = 16;
    limits.maxBodySize = 4096;
    // Where the bytes are split must not change what is read.
    if (size)
        check(requestsInPieces(text, 1 + data[0] % 13, limits) == requestsInPieces(text, size, limits));

    HttpParser parser(limits);
    Socket socket(fds[0]);
    // The stream has ended, so every request either parses or fails; none waits.
    for (size_t count = 0; count <= size; ++count) {
        try {
            auto request = parser.readHttpRequest(socket);
            check(request.method.size() + request.url.size() <= size);
            check(!request.body || request.body->size() <= limits.maxBodySize);
            parser.supportsKeepAlive(request.headers);
            fuzzText(request.url);
        } catch (const HttpParserError&) {
            break;
        } catch (const SocketError&) {
            break;
        }
    }
    ::close(fds[0]);
    return 0;
}
