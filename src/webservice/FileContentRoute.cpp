#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "webservice/FileStreaming.h"
#include "webservice/VeskHTTPServerRoutes.h"
#include "webservice/WebServiceEnvelope.h"

namespace vesk {

using namespace platform;

HttpResponse VeskHTTPServerRoutes::getFile(VeskHTTPServer& service, const HttpRequest& request)
{
    if (auto refusal = refuseRequest(service, request, { "User wants to get a file!", "GET", pleaseUseGET }))
        return std::move(*refusal);
    auto value = positionalParameter(request, 0, "path");
    if (!value)
        return webServiceEnvelope(HttpResponse::Forbidden(), "Missing URL-Parameter \"path\"");
    if (value->empty())
        return webServiceEnvelope(HttpResponse::NotFound(), "The path parameter is empty!");
    if (!itemExistsAtPath(*value)) {
        return webServiceEnvelope(HttpResponse::NotFound(), "File at path \"" + *value + "\" could not be found!",
            Dictionary { { "path", Value(*value) }, { "fileName", Value(lastPathComponent(*value)) } });
    }

    auto file = VeskFile::initWithPath(*value);
    auto path = file->path();
    auto name = lastPathComponent(path);
    Dictionary pathAndName { { "path", Value(path) }, { "fileName", Value(name) } };
    if (!file->isReadable())
        return webServiceEnvelope(HttpResponse::Forbidden(), "You don't have the permisions to access \"" + name + "\"", pathAndName);
    if (file->isDir()) {
        bool showHiddenFiles = NSUserDefaults::standardUserDefaults()->boolForKey(hashedDefaultsKey2());
        Array content;
        for (auto& entry : VeskFileManager::defaultManager().getFilePaths(path))
            content.emplace_back(std::move(entry));
        return webServiceEnvelope(okOutcome(), "Content of Path \"" + path + "\"",
            Dictionary { { "content", Value(std::move(content)) }, { "path", Value(path) }, { "showHiddenFiles", Value(showHiddenFiles) } });
    }

    auto type = positionalParameter(request, 1, "type");
    if (!type)
        return webServiceEnvelope(HttpResponse::Forbidden(), "Missing URL-Parameter \"type\"");
    if (*type != "base64" && *type != "raw")
        return webServiceEnvelope(HttpResponse::Forbidden(), "Unknown value for URL-Parameter \"type\", use \"base64\" or \"raw\"");

    auto readFailure = [&] {
        return webServiceEnvelope(HttpResponse::InternalServerError(), "Error getting file \"" + name + "\"", pathAndName);
    };
    if (*type == "raw") {
        auto response = rawFileResponse(path);
        return response ? std::move(*response) : readFailure();
    }
    // Base64 travels inside the JSON text, several copies at once: larger files are refused.
    auto data = readFileContents(path, maxBase64FileSize);
    if (!data)
        return readFailure();
    return webServiceEnvelope(okOutcome(), "\"" + name + "\" as base64 string",
        Dictionary { { "fileName", Value(name) }, { "path", Value(path) }, { "base64String", Value(base64Encode(*data)) } });
}

}
