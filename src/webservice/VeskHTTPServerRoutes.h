#pragma once

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "webservice/VeskHTTPServer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vesk {

// The web file service's route handlers. Each runs on its request's connection thread,
// answers refusals and outcomes in the JSON envelope, and never throws.
struct VeskHTTPServerRoutes {
    static HttpResponse getBookmarks(VeskHTTPServer& service, const HttpRequest& request);
    static HttpResponse getHomeDir(VeskHTTPServer& service, const HttpRequest& request);
    static HttpResponse getDocDir(VeskHTTPServer& service, const HttpRequest& request);
    static HttpResponse getFileInfo(VeskHTTPServer& service, const HttpRequest& request);
    static HttpResponse getIcon(VeskHTTPServer& service, const HttpRequest& request);
    static HttpResponse setFile(VeskHTTPServer& service, const HttpRequest& request);
    static HttpResponse getFile(VeskHTTPServer& service, const HttpRequest& request);
    static HttpResponse debug(VeskHTTPServer& service, const HttpRequest& request);
    static HttpResponse generalRequest(VeskHTTPServer& service, const HttpRequest& request);

    // The nine routes in registration order.
    static std::vector<VeskHTTPServer::Route> routes();
};

// The item's icon fitted into 35 by 25 points at the main screen's scale, as PNG bytes: the
// model's icon, else the drawn icon of the file type; empty when neither can be drawn.
std::vector<std::uint8_t> fittedIconPNG(const std::string& path);

}
