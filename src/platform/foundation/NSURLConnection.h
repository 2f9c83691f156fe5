#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSURLRequest.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace vesk::platform {

inline constexpr std::string_view NSURLErrorDomain = "NSURLErrorDomain";

enum NSURLErrorCode {
    NSURLErrorUnknown = -1,
    NSURLErrorTimedOut = -1001,
    NSURLErrorUnsupportedURL = -1002,
    NSURLErrorCannotFindHost = -1003,
    NSURLErrorCannotConnectToHost = -1004,
    NSURLErrorNetworkConnectionLost = -1005,
    NSURLErrorTooManyRedirects = -1007,
    NSURLErrorBadServerResponse = -1011,
    NSURLErrorFileDoesNotExist = -1100,
    NSURLErrorFileIsDirectory = -1101,
    NSURLErrorNoPermissionsToReadFile = -1102,
    NSURLErrorDataLengthExceedsMaximum = -1103,
    NSURLErrorSecureConnectionFailed = -1200,
};

// The URL loader: file URLs from disk (regular files only: a FIFO or device would block or
// never end), http and https through libcurl. Every body is capped. Blocks the calling
// thread; any thread may call it.
class NSURLConnection {
public:
    static constexpr std::size_t maximumBodyBytes = 128u << 20;

    // The body, or absent with *error set. The shared URL cache is asked first; a successful
    // GET from the network is handed to it afterwards. An HTTP error status is a response,
    // not a failure.
    static std::optional<Bytes> sendSynchronousRequest(const NSURLRequest& request, NSURLResponse* response, NSError* error);
};

// The reference (absolute, or relative as in a page's links) resolved against the base,
// without its fragment unless asked to keep it; absent when it can't be resolved.
std::optional<NSURL> URLByResolvingReference(std::string_view reference, const NSURL& base, bool keepFragment = false);

}
