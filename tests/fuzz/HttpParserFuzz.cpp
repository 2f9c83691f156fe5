// libFuzzer target: the request parser taking hostile bytes in pieces, as a
// connection receives them, and the text helpers the server runs on request text.

#include "http/ByteText.h"
#include "http/HttpParser.h"
#include "http/RequestTarget.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
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
    check(percentDecode(text).size() <= text.size());
    if (auto path = requestPath(text))
        check(!path->empty() && vesk::platform::isValidUTF8(*path) && path->find('\0') == std::string::npos);
    if (auto strict = removingPercentEncoding(text))
        check(vesk::platform::isValidUTF8(*strict));
    for (auto& [name, value] : extractUrlParams(text))
        check(name.size() + value.size() <= text.size());
    parseUrlencodedForm(HttpRequest { .body = std::string(text) });
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
    std::string_view text(reinterpret_cast<const char*>(data), size);
    fuzzText(text);
    HttpLimits limits { .maxRequestLineLength = 512, .maxHeaderLineLength = 512, .maxHeaderCount = 16, .maxBodySize = 4096 };
    auto requests = requestsInPieces(text, size + 1, limits);
    // Below the space, and DEL; a header value may hold a tab.
    auto control = [](char c) { return static_cast<uint8_t>(c) < 0x20 || c == 0x7F; };
    for (auto& request : requests) {
        check(request.method.size() + request.url.size() <= size);
        // Whatever got through holds nothing a server in front could read another way.
        check(!request.method.empty() && std::none_of(request.method.begin(), request.method.end(), control));
        check(!request.url.empty() && request.url.find(' ') == std::string::npos && std::none_of(request.url.begin(), request.url.end(), control));
        for (auto& [name, value] : request.headers) {
            check(!name.empty() && name.find_first_of(" :") == std::string::npos && std::none_of(name.begin(), name.end(), control));
            check(std::none_of(value.begin(), value.end(), [&](char c) { return control(c) && c != '\t'; }));
        }
        check(!request.body || request.body->size() <= limits.maxBodySize);
        HttpParser(limits).supportsKeepAlive(request.headers);
        fuzzText(request.url);
    }
    // Where the bytes are split must not change what is read.
    if (size)
        check(requestsInPieces(text, 1 + data[0] % 13, limits) == requests);
    return 0;
}
