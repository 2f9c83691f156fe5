#include "webservice/WebServiceEnvelope.h"

#include "model/PlatformUtilities.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "webservice/VeskHTTPServer.h"

namespace vesk {

using namespace platform;

HttpResponse okOutcome()
{
    return HttpResponse::OK(HttpResponseBody::Html(""));
}

HttpResponse webServiceEnvelope(const HttpResponse& outcome, const std::string& message, std::optional<Dictionary> info)
{
    Dictionary response {
        { "statuscode", Value(outcome.statusCode()) },
        { "statusmessage", Value(outcome.reasonPhrase()) },
        { "message", Value(message) },
    };
    if (info)
        response.set("info", Value(std::move(*info)));
    return HttpResponse::OK(HttpResponseBody::Json(Value(Dictionary { { "response", Value(std::move(response)) } })));
}

std::string upperCasedMethod(std::string_view method)
{
    std::string upper;
    upper.reserve(method.size());
    for (unsigned char byte : method) {
        if (byte >= 'a' && byte <= 'z')
            upper += static_cast<char>(byte - 'a' + 'A');
        else if (byte == 0xDF) // sharp s has no single capital
            upper += "SS";
        else if (byte == 0xB5) // micro sign
            upper += utf8Encoded(0x039C);
        else if (byte == 0xFF)
            upper += utf8Encoded(0x0178);
        else if (byte >= 0xE0 && byte != 0xF7)
            upper += utf8Encoded(byte - 0x20);
        else
            upper += utf8Encoded(byte);
    }
    return upper;
}

std::optional<HttpResponse> refuseRequest(const VeskHTTPServer& service, const HttpRequest& request, const WebServiceRule& rule)
{
    debugLog(rule.logText, __FILE__, __LINE__, __func__);
    // Without an address the blocked list cannot be asked, so nothing is served.
    if (!request.address)
        return webServiceEnvelope(HttpResponse::Forbidden(), "The client address could not be read!");
    if (auto name = service.blockedName(*request.address)) {
        // Repeats while the address's banner waits or shows are merged into it here, before
        // anything goes to the main queue.
        if (auto slot = service.blockedNotices().claim(*request.address)) {
            dispatch_async(dispatch_get_main_queue(), [name = std::move(*name), address = *request.address, slot = std::move(slot)] {
                VeskHTTPServer::blockedRequest(name, address, slot);
            });
        }
        return webServiceEnvelope(HttpResponse::Forbidden(), "You have been banned!");
    }
    auto method = upperCasedMethod(request.method);
    if (method != rule.method)
        return webServiceEnvelope(HttpResponse::Forbidden(), "\"" + method + std::string(rule.methodMessageEnd));
    return std::nullopt;
}

void VeskHTTPServer::blockedRequest(const std::string& name, const std::string& address, std::shared_ptr<BlockedNotices::Slot> slot)
{
    postTapNotification();
    // The banner's completion frees the slot once the banner has left the screen; a banner
    // dropped unseen frees it as it goes.
    auto completion = slot ? [slot] { slot->release(); } : VeskNotificationManager::Closure();
    VeskNotificationManager::showNotification(localized("Blocked request from \"" + name + "\" (" + address + ")!"),
        NotificationType::Warning, std::move(completion), nullptr, 3);
}

bool itemExistsAtPath(const std::string& path)
{
    return path.find('\0') == std::string::npos && NSFileManager::defaultManager().fileExistsAtPath(path);
}

std::optional<std::string> positionalParameter(const HttpRequest& request, std::size_t position, std::string_view name)
{
    if (request.urlParams.size() <= position || request.urlParams[position].first != name)
        return std::nullopt;
    return request.urlParams[position].second;
}

}
