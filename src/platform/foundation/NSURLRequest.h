#pragma once

#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vesk::platform {

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
    std::vector<std::pair<std::string, std::string>> allHeaderFields;
};

struct NSCachedURLResponse {
    NSURLResponse response;
    Bytes data;
};

}
