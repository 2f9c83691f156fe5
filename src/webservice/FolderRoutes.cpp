#include "model/Bookmarks.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "webservice/VeskHTTPServer.h"
#include "webservice/WebServiceEnvelope.h"

namespace vesk {

using namespace platform;

HttpResponse VeskHTTPServer::getBookmarks(const HttpRequest& request)
{
    if (auto refusal = refuseRequest(*this, request, { "User wants to get bookmarks!", "GET", pleaseUseQuotedGET }))
        return std::move(*refusal);
    Bookmarks bookmarks;
    Array paths;
    for (auto& file : bookmarks.reloadBookmarks())
        paths.emplace_back(file->path());
    auto message = "Got " + std::to_string(paths.size()) + " bookmarks";
    return webServiceEnvelope(okOutcome(), message, Dictionary { { "bookmarks", Value(std::move(paths)) } });
}

HttpResponse VeskHTTPServer::getHomeDir(const HttpRequest& request)
{
    if (auto refusal = refuseRequest(*this, request, { "User wants to get home dir!", "GET", pleaseUseQuotedGET }))
        return std::move(*refusal);
    auto folder = VeskFileManager::defaultManager().homeDir();
    return webServiceEnvelope(okOutcome(), "Home directory is \"" + folder + "\"", Dictionary { { "homeDir", Value(folder) } });
}

HttpResponse VeskHTTPServer::getDocDir(const HttpRequest& request)
{
    if (auto refusal = refuseRequest(*this, request, { "User wants to get doc dir!", "GET", pleaseUseQuotedGET }))
        return std::move(*refusal);
    auto folder = VeskFileManager::defaultManager().getDocumentDirectory();
    return webServiceEnvelope(okOutcome(), "Document directory is \"" + folder + "\"", Dictionary { { "docDir", Value(folder) } });
}

HttpResponse VeskHTTPServer::setFile(const HttpRequest& request)
{
    if (auto refusal = refuseRequest(*this, request, { "User wants to set file!", "POST", pleaseUseQuotedPOST }))
        return std::move(*refusal);
    // The server drops the body's bytes on the way; its announced length tells whether one came.
    if (!request.body || (request.body->empty() && request.unreadBodyLength == 0))
        return webServiceEnvelope(HttpResponse::Forbidden(), "It looks like the body is empty!");
    // Storing is not offered: the body is never read.
    return HttpResponse::RAW(501, "Not implemented");
}

HttpResponse VeskHTTPServer::debug(const HttpRequest& request)
{
    if (auto refusal = refuseRequest(*this, request, { "User triggered debug!!", "GET", pleaseUseGET }))
        return std::move(*refusal);
    return webServiceEnvelope(okOutcome(), "This is doing nothing right now...");
}

}
