#include "platform/foundation/FileData.h"
#include "platform/foundation/NSString.h"
#include "webservice/VeskHTTPServerRoutes.h"
#include "webservice/WebServiceEnvelope.h"

#include <array>

namespace vesk {

using namespace platform;

namespace {

    // The only files the front end serves: a fixed table, so no request target can name
    // anything outside the web folder.
    constexpr std::array<std::string_view, 3> rawFiles { "/favicon.ico", "/main.css", "/jquery-1.11.3.min.js" };

    // The page's text; absent when it cannot be read or is not UTF-8 text.
    std::optional<std::string> pageText(const std::string& path)
    {
        auto bytes = readFileContents(path);
        if (!bytes)
            return std::nullopt;
        std::string text(bytes->begin(), bytes->end());
        if (text.starts_with("\xEF\xBB\xBF"))
            text.erase(0, 3);
        if (!platform::isValidUTF8(text))
            return std::nullopt;
        return text;
    }

}

HttpResponse VeskHTTPServerRoutes::generalRequest(VeskHTTPServer& service, const HttpRequest& request)
{
    if (auto refusal = refuseRequest(service, request, { "User made a general request", "GET", pleaseUseQuotedGET }))
        return std::move(*refusal);
    if (request.url == "/" || request.url == "/index.html") {
        auto text = pageText(stringByAppendingPathComponent(service.webPath(), "index.html"));
        return HttpResponse::OK(HttpResponseBody::Html(text ? std::move(*text) : "Error, index.html could no be found!"));
    }
    for (auto target : rawFiles) {
        if (request.url != target)
            continue;
        auto bytes = readFileContents(stringByAppendingPathComponent(service.webPath(), target.substr(1)));
        if (!bytes)
            return HttpResponse::NotFound();
        return HttpResponse::RAW(okOutcome().statusCode(), okOutcome().reasonPhrase(), std::nullopt, std::move(*bytes));
    }
    return webServiceEnvelope(HttpResponse::NotFound(), "The page or webservice does not exist!", Dictionary { { "url", Value(request.url) } });
}

}
