#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vesk {

using UrlParams = std::vector<std::pair<std::string, std::string>>;

// One parsed request. Text fields hold the bytes as received (percent escapes
// decoded where noted), so UTF-8 stays UTF-8.
struct HttpRequest {
    // The request target as sent: path and query, still percent-encoded.
    std::string url;
    // Query pairs in target order, names and values percent-decoded.
    UrlParams urlParams;
    std::string method;
    // Names lower-cased, values trimmed; a repeated name keeps the last value, except that a
    // "connection" value listing "close" is kept.
    std::map<std::string, std::string> headers;
    // Present only when "content-length" holds a decimal integer.
    std::optional<std::string> body;
    // Filled in by the server: the matched route's capture groups.
    std::vector<std::string> capturedUrlGroups;
    // Filled in by the server: the client's numeric address.
    std::optional<std::string> address;
    // The announced length of a body whose bytes the route did not take (body is then empty).
    uint64_t unreadBodyLength { 0 };

    bool operator==(const HttpRequest&) const = default;
};

// The pairs of a URL-encoded form body ("+" is a space); empty without a body.
UrlParams parseUrlencodedForm(const HttpRequest& request);

} // namespace vesk
