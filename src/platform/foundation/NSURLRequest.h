#pragma once

#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct sockaddr;

namespace vesk::platform {

// Whether a load of the URL may connect to the address.
using NSURLConnectionCheck = std::function<bool(const NSURL& URL, const sockaddr& address)>;

// What to load: a URL, the method and how long the whole load may take.
struct NSURLRequest {
    explicit NSURLRequest(NSURL url, double timeoutInterval = 60)
        : URL(std::move(url))
        , timeoutInterval(timeoutInterval)
    {
    }
    NSURL URL;
    std::string HTTPMethod = "GET";
    double timeoutInterval;
    // When set, asked before every connection the load would make, for each address tried and
    // each redirect; a refusal fails the load. Such a load uses no proxy, whose address would
    // stand in for the one judged.
    NSURLConnectionCheck mayConnect;
};

// What came back: the URL answered (after redirects), the MIME type ("application/octet-stream"
// when none is known) and, for HTTP, the status and header fields of the final response.
struct NSURLResponse {
    explicit NSURLResponse(NSURL url)
        : URL(std::move(url))
    {
    }
    NSURL URL;
    std::string MIMEType = "application/octet-stream";
    std::int64_t expectedContentLength = -1;
    int statusCode = 0; // 0 for file URLs
    // The numeric address the final response came from; empty for files.
    std::string remoteAddress;
    std::vector<std::pair<std::string, std::string>> allHeaderFields;
};

struct NSCachedURLResponse {
    NSURLResponse response;
    Bytes data;
};

}
