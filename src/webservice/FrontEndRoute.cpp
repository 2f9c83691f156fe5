#include "platform/foundation/FileData.h"
#include "platform/foundation/NSString.h"
#include "webservice/VeskHTTPServer.h"
#include "webservice/WebServiceEnvelope.h"

#include <array>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unordered_map>

namespace vesk {

using namespace platform;

namespace {

    // The only files the front end serves: a fixed table, so no request target can name
    // anything outside the web folder.
    constexpr std::array<std::string_view, 3> rawFiles { "/favicon.ico", "/main.css", "/jquery-1.11.3.min.js" };

    // The front end's files kept in memory: each request looks at its file once and reads it
    // again only when it changed.
    class FrontEndFiles {
    public:
        static FrontEndFiles& shared()
        {
            // Never destroyed: requests may still be answered while the process exits.
            static auto* files = new FrontEndFiles;
            return *files;
        }

        std::shared_ptr<const Bytes> bytes(const std::string& path)
        {
            struct stat status { };
            bool present = ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
            std::lock_guard lock(m_lock);
            auto& cached = m_files[path];
            if (!present) {
                cached = {};
                return nullptr;
            }
            if (!cached.bytes || !sameFile(cached.status, status)) {
                auto read = readFileContents(path);
                cached.status = status;
                cached.bytes = read ? std::make_shared<const Bytes>(std::move(*read)) : nullptr;
            }
            return cached.bytes;
        }

    private:
        struct Cached {
            struct stat status { };
            std::shared_ptr<const Bytes> bytes;
        };

        static bool sameFile(const struct stat& a, const struct stat& b)
        {
            return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec
                && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
        }

        std::mutex m_lock;
        std::unordered_map<std::string, Cached> m_files;
    };

    // The page's text; absent when it cannot be read or is not UTF-8 text.
    std::optional<std::string> pageText(const std::string& path)
    {
        auto bytes = FrontEndFiles::shared().bytes(path);
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

HttpResponse VeskHTTPServer::generalRequest(const HttpRequest& request)
{
    if (auto refusal = refuseRequest(*this, request, { "User made a general request", "GET", pleaseUseQuotedGET }))
        return std::move(*refusal);
    if (request.url == "/" || request.url == "/index.html") {
        auto text = pageText(stringByAppendingPathComponent(webPath(), "index.html"));
        return HttpResponse::OK(HttpResponseBody::Html(text ? std::move(*text) : "Error, index.html could no be found!"));
    }
    for (auto target : rawFiles) {
        if (request.url != target)
            continue;
        auto bytes = FrontEndFiles::shared().bytes(stringByAppendingPathComponent(webPath(), target.substr(1)));
        if (!bytes)
            return HttpResponse::NotFound();
        return HttpResponse::RAW(okOutcome().statusCode(), okOutcome().reasonPhrase(), std::nullopt, *bytes);
    }
    return webServiceEnvelope(HttpResponse::NotFound(), "The page or webservice does not exist!", Dictionary { { "url", Value(request.url) } });
}

}
