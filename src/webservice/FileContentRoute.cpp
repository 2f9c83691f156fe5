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

    // The file's bytes as Base64 inside the envelope. Only a few are made at once, each
    // holding its place until its bytes are sent: the text and its copies are large.
    HttpResponse base64Answer(OpenedItem& item, const std::string& path, const std::string& name)
    {
        auto place = WorkRation::base64Answers().take();
        std::string text;
        {
            auto data = item.read(maxBase64FileSize);
            if (!data)
                return readFailure(path, name);
            text = base64Encode(*data);
        }
        Dictionary info;
        info.set("fileName", Value(name));
        info.set("path", Value(path));
        info.set("base64String", Value(std::move(text)));
        auto answer = webServiceEnvelope(okOutcome(), "\"" + name + "\" as base64 string", std::move(info));
        answer.holdUntilSent(std::move(place));
        return answer;
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
