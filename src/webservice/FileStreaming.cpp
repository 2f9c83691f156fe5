#include "webservice/FileStreaming.h"

#include "platform/foundation/FileData.h"
#include "webservice/WebServiceEnvelope.h"

namespace vesk {

std::optional<HttpResponse> rawFileResponse(const std::string& path)
{
    auto data = platform::readFileContents(path);
    if (!data)
        return std::nullopt;
    return HttpResponse::RAW(okOutcome().statusCode(), okOutcome().reasonPhrase(), std::nullopt, std::move(*data));
}

}
