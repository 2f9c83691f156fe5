#pragma once

#include "http/HttpServer.h"

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

// Ready-made handlers that serve the files below a root folder. Register them
// under a pattern with one capture group: the group names the path below the
// root ("~" at the root's start is the home folder). Whatever the group holds,
// nothing outside the root is served or listed.
class HttpHandlers {
public:
    // Sends a file whole, or the one byte range its "range" header asks for.
    static HttpServer::Handler makeFileHandler(std::string root);
    // Lists a folder as an HTML table of links; sends any other file whole.
    static HttpServer::Handler makeListingHandler(std::string root);

    static HttpResponse serveFile(const HttpRequest& request, const std::string& root);
    static HttpResponse browseDirectory(const HttpRequest& request, const std::string& root);
    // One table row linking to the entry below the request's target.
    static std::string directoryRow(const std::string& name, const HttpRequest& request);
};

// 200 "OK" with the regular file's bytes, sent from the file as the connection
// takes them; absent when the path names no readable regular file.
std::optional<HttpResponse> regularFileResponse(const std::string& path);

// The text with & < > " ' written as character references, safe in HTML text
// and in quoted attributes.
std::string escapeHtml(std::string_view text);

} // namespace vesk
