#pragma once

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "platform/foundation/Value.h"

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

class VeskHTTPServer;

// Outcomes named by the code and reason phrase of an HttpResponse case.
HttpResponse okOutcome();

// The web services' one answer form: {"response": {"statuscode", "statusmessage", "message",
// ["info"]}} as JSON in an HTTP 200 response; only the JSON tells the outcome.
HttpResponse webServiceEnvelope(const HttpResponse& outcome, const std::string& message,
    std::optional<platform::Dictionary> info = std::nullopt);

// The request method upper-cased as text: each byte read as the character of that code point,
// the result in UTF-8.
std::string upperCasedMethod(std::string_view method);

// What every route checks before its own work.
struct WebServiceRule {
    std::string_view logText; // the route's purpose, for the log
    std::string_view method; // "GET" or "POST"
    std::string_view methodMessageEnd; // what follows the quoted method in the refusal
};
inline constexpr std::string_view pleaseUseQuotedGET = "\" is not supported, please use \"GET\"";
inline constexpr std::string_view pleaseUseGET = "\" is not supported, please use GET";
inline constexpr std::string_view pleaseUseQuotedPOST = "\" is not supported, please use \"POST\"";

// The refusal of a request without a client address, of a blocked client (whose notice is
// queued on the main queue) or of a wrong method; nothing when the request may go on.
std::optional<HttpResponse> refuseRequest(const VeskHTTPServer& service, const HttpRequest& request, const WebServiceRule& rule);

// Whether an item exists at the path. A path holding a NUL byte names nothing: every system
// call would cut it short there and see another item.
bool itemExistsAtPath(const std::string& path);

// The value of the URL parameter at the position when it bears the name; parameters are read
// by position, never looked up.
std::optional<std::string> positionalParameter(const HttpRequest& request, std::size_t position, std::string_view name);

}
