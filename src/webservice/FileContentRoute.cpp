#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/NSUserDefaults.h"
#include "webservice/FileStreaming.h"
#include "webservice/VeskHTTPServer.h"
#include "webservice/WebServiceEnvelope.h"

namespace vesk {

using namespace platform;

namespace {

    std::optional<HttpResponse> typeRefusal(const std::optional<std::string>& type)
    {
        if (!type)
            return webServiceEnvelope(HttpResponse::Forbidden(), "Missing URL-Parameter \"type\"");
        if (*type != "base64" && *type != "raw")
            return webServiceEnvelope(HttpResponse::Forbidden(), "Unknown value for URL-Parameter \"type\", use \"base64\" or \"raw\"");
        return std::nullopt;
    }

    HttpResponse readFailure(const std::string& path, const std::string& name)
    {
        Dictionary info;
        info.set("path", Value(path));
        info.set("fileName", Value(name));
        return webServiceEnvelope(HttpResponse::InternalServerError(), "Error getting file \"" + name + "\"", std::move(info));
    }

    // The file's bytes as Base64 inside the envelope, encoded as the client takes them: the
    // envelope is written with an empty text, and the file's text goes where it stood.
    HttpResponse base64Answer(OpenedItem& item, const std::string& path, const std::string& name)
    {
        Dictionary info;
        info.set("fileName", Value(name));
        info.set("path", Value(path));
        info.set("base64String", Value(""));
        auto envelope = webServiceEnvelope(okOutcome(), "\"" + name + "\" as base64 string", std::move(info));
        auto bytes = envelope.body().value_or(HttpBytes());
        std::string text(bytes.begin(), bytes.end());
        // Found once with its quotes bare: the same text inside a name or path has them escaped.
        constexpr std::string_view slot = "\"base64String\" : \"\"";
        auto at = text.find(slot);
        if (at == std::string::npos)
            return readFailure(path, name);
        auto split = at + slot.size() - 1;
        auto answer = item.base64Response(text.substr(0, split), text.substr(split), envelope.headers(), maxBase64FileSize);
        if (!answer)
            return readFailure(path, name);
        return std::move(*answer);
    }

}

HttpResponse VeskHTTPServer::getFile(const HttpRequest& request)
{
    if (auto refusal = refuseRequest(*this, request, { "User wants to get a file!", "GET", pleaseUseGET }))
        return std::move(*refusal);
    auto value = positionalParameter(request, 0, "path");
    if (!value)
        return webServiceEnvelope(HttpResponse::Forbidden(), "Missing URL-Parameter \"path\"");
    if (value->empty())
        return webServiceEnvelope(HttpResponse::NotFound(), "The path parameter is empty!");

    // A readable regular file is told by one open and one look at what was opened; anything
    // else takes the full way below.
    OpenedItem item(*value);
    if (item.isRegularFile()) {
        auto type = positionalParameter(request, 1, "type");
        if (auto refusal = typeRefusal(type))
            return std::move(*refusal);
        if (*type == "raw")
            return std::move(*item.rawResponse());
        auto path = NSURL::fileURLWithPath(*value, false).path();
        return base64Answer(item, path, lastPathComponent(path));
    }

    if (!itemExistsAtPath(*value)) {
        Dictionary info;
        info.set("path", Value(*value));
        info.set("fileName", Value(lastPathComponent(*value)));
        return webServiceEnvelope(HttpResponse::NotFound(), "File at path \"" + *value + "\" could not be found!", std::move(info));
    }
    auto file = VeskFile::initWithPath(*value);
    auto path = file->path();
    auto name = lastPathComponent(path);
    if (!file->isReadable()) {
        Dictionary info;
        info.set("path", Value(path));
        info.set("fileName", Value(name));
        return webServiceEnvelope(HttpResponse::Forbidden(), "You don't have the permisions to access \"" + name + "\"", std::move(info));
    }
    if (file->isDir()) {
        bool showHiddenFiles = NSUserDefaults::standardUserDefaults()->boolForKey(hashedDefaultsKey2());
        Array content;
        for (auto& entry : VeskFileManager::defaultManager().getFilePaths(path))
            content.emplace_back(std::move(entry));
        Dictionary info;
        info.set("content", Value(std::move(content)));
        info.set("path", Value(path));
        info.set("showHiddenFiles", Value(showHiddenFiles));
        return webServiceEnvelope(okOutcome(), "Content of Path \"" + path + "\"", std::move(info));
    }
    auto type = positionalParameter(request, 1, "type");
    if (auto refusal = typeRefusal(type))
        return std::move(*refusal);
    // Not a regular file (a pipe, a device, a folder that counts as none): nothing to send.
    if (*type == "raw")
        return readFailure(path, name);
    OpenedItem again(path);
    return base64Answer(again, path, name);
}

}
