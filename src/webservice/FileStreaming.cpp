#include "webservice/FileStreaming.h"

#include "webservice/WebServiceEnvelope.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {

std::optional<HttpResponse> rawFileResponse(const std::string& path)
{
    // Not blocking: opening a pipe must not wait for a writer.
    int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0)
        return std::nullopt;
    struct stat status { };
    // Pipes and devices have no end to send up to.
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return std::nullopt;
    }
    auto body = std::make_shared<const HttpFileBody>(descriptor, static_cast<uint64_t>(status.st_size));
    return HttpResponse::RAW(okOutcome().statusCode(), okOutcome().reasonPhrase(), std::nullopt, std::move(body));
}

}
