#include "platform/foundation/NSURLConnection.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/MimeType.h"
#include "platform/foundation/NSURLCache.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>

namespace vesk::platform {

namespace {

    NSError urlError(int code, std::string text, std::string_view path = {})
    {
        return NSError { std::string(NSURLErrorDomain), code, std::move(text), std::string(path) };
    }

    std::string lowercase(std::string text)
    {
        for (auto& c : text) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    }

    std::string trimmed(std::string_view text)
    {
        auto begin = text.find_first_not_of(" \t\r\n");
        if (begin == std::string_view::npos)
            return {};
        auto end = text.find_last_not_of(" \t\r\n");
        return std::string(text.substr(begin, end - begin + 1));
    }

    std::optional<Bytes> loadFile(const NSURL& url, NSURLResponse& response, NSError& error)
    {
        auto path = url.path();
        struct stat info { };
        if (::stat(path.c_str(), &info) != 0) {
            int code = errno == EACCES ? NSURLErrorNoPermissionsToReadFile : NSURLErrorFileDoesNotExist;
            error = urlError(code, NSError::systemErrorText(errno), path);
            return std::nullopt;
        }
        if (S_ISDIR(info.st_mode)) {
            error = urlError(NSURLErrorFileIsDirectory, "The file is a folder.", path);
            return std::nullopt;
        }
        if (!S_ISREG(info.st_mode)) {
            error = urlError(NSURLErrorNoPermissionsToReadFile, "The file is not a regular file.", path);
            return std::nullopt;
        }
        if (static_cast<std::uint64_t>(info.st_size) > NSURLConnection::maximumBodyBytes) {
            error = urlError(NSURLErrorDataLengthExceedsMaximum, "The file is too large.", path);
            return std::nullopt;
        }
        auto data = readFileContents(path, NSURLConnection::maximumBodyBytes);
        if (!data) {
            error = urlError(NSURLErrorNoPermissionsToReadFile, "The file could not be read.", path);
            return std::nullopt;
        }
        response.MIMEType = mimeTypeForExtension(url.pathExtension()).value_or("application/octet-stream");
        response.expectedContentLength = static_cast<std::int64_t>(data->size());
        return data;
    }

    constexpr int maximumRedirects = 10;

    void initialiseCurl()
    {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    }

    struct Transfer {
        Bytes body;
        bool tooLarge = false;
        int headerRound = 0;
        std::vector<std::pair<std::string, std::string>> headers;
    };

    size_t collectBody(char* bytes, size_t size, size_t count, void* context)
    {
        auto& transfer = *static_cast<Transfer*>(context);
        size_t length = size * count;
        if (transfer.body.size() + length > NSURLConnection::maximumBodyBytes) {
            transfer.tooLarge = true;
            return 0;
        }
        transfer.body.insert(transfer.body.end(), bytes, bytes + length);
        return length;
    }

    // Each response of a redirect chain starts with its status line: only the last one's
    // fields are kept.
    size_t collectHeader(char* bytes, size_t size, size_t count, void* context)
    {
        auto& transfer = *static_cast<Transfer*>(context);
        std::string_view line(bytes, size * count);
        if (line.starts_with("HTTP/")) {
            transfer.headers.clear();
        } else if (auto colon = line.find(':'); colon != std::string_view::npos && transfer.headers.size() < 200) {
            transfer.headers.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
        }
        return size * count;
    }

    int errorCodeOf(CURLcode code)
    {
        switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return NSURLErrorUnsupportedURL;
        case CURLE_COULDNT_RESOLVE_HOST:
            return NSURLErrorCannotFindHost;
        case CURLE_COULDNT_CONNECT:
            return NSURLErrorCannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT:
            return NSURLErrorTimedOut;
        case CURLE_TOO_MANY_REDIRECTS:
            return NSURLErrorTooManyRedirects;
        case CURLE_FILESIZE_EXCEEDED:
            return NSURLErrorDataLengthExceedsMaximum;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
            return NSURLErrorSecureConnectionFailed;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return NSURLErrorNetworkConnectionLost;
        case CURLE_WEIRD_SERVER_REPLY:
            return NSURLErrorBadServerResponse;
        default:
            return NSURLErrorUnknown;
        }
    }

    // Judges each socket the loader would open for the hop under way; a refused one is never
    // opened, and libcurl goes on to the host's next address, if any.
    struct Gate {
        const NSURLConnectionCheck* check = nullptr;
        std::optional<NSURL> hop;
        bool refused = false;
    };

    curl_socket_t openCheckedSocket(void* context, curlsocktype purpose, curl_sockaddr* address)
    {
        auto& gate = *static_cast<Gate*>(context);
        if (purpose != CURLSOCKTYPE_IPCXN || !gate.hop || !(*gate.check)(*gate.hop, address->addr)) {
            gate.refused = true;
            return CURL_SOCKET_BAD;
        }
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    std::optional<Bytes> loadHTTP(const NSURLRequest& request, NSURLResponse& response, NSError& error)
    {
        initialiseCurl();
        std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
        if (!curl) {
            error = urlError(NSURLErrorUnknown, "The loader could not start.");
            return std::nullopt;
        }
        Transfer transfer;
        auto* handle = curl.get();
        auto timeout = std::chrono::milliseconds(request.timeoutInterval > 0 && std::isfinite(request.timeoutInterval)
                ? static_cast<long>(std::min(request.timeoutInterval, 86400.0) * 1000)
                : 60000);
        auto deadline = std::chrono::steady_clock::now() + timeout;
        // Redirects may not leave http and https (never to file:// or other schemes).
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(handle, CURLOPT_USERAGENT, "Vesk");
        curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(NSURLConnection::maximumBodyBytes));
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collectBody);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, collectHeader);
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
        if (request.HTTPMethod == "HEAD")
            curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
        else if (request.HTTPMethod != "GET")
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.HTTPMethod.c_str());
        // A checked load follows its redirects here, each hop judged as the first; libcurl would
        // connect to where they lead unasked.
        Gate gate;
        bool checked = static_cast<bool>(request.mayConnect);
        if (checked) {
            gate.check = &request.mayConnect;
            curl_easy_setopt(handle, CURLOPT_PROXY, "");
            curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, openCheckedSocket);
            curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, &gate);
        } else {
            curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
            curl_easy_setopt(handle, CURLOPT_MAXREDIRS, long(maximumRedirects));
        }

        std::string hop = request.URL.absoluteString();
        long status = 0;
        for (int redirects = 0;; ++redirects) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            curl_easy_setopt(handle, CURLOPT_URL, hop.c_str());
            curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<decltype(left)>(left, 1)));
            gate.hop = NSURL::URLWithString(hop);
            gate.refused = false;
            transfer.body.clear();
            CURLcode result = curl_easy_perform(handle);
            if (result != CURLE_OK || transfer.tooLarge) {
                if (result == CURLE_COULDNT_CONNECT && gate.refused) {
                    error = urlError(NSURLErrorCannotConnectToHost, "The address may not be reached from here.");
                    return std::nullopt;
                }
                int code = transfer.tooLarge ? NSURLErrorDataLengthExceedsMaximum : errorCodeOf(result);
                error = urlError(code, transfer.tooLarge ? "The response is too large." : curl_easy_strerror(result));
                return std::nullopt;
            }
            curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
            char* next = nullptr;
            if (!checked || status < 300 || status > 399 || curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &next) != CURLE_OK || !next)
                break;
            if (redirects == maximumRedirects) {
                error = urlError(NSURLErrorTooManyRedirects, curl_easy_strerror(CURLE_TOO_MANY_REDIRECTS));
                return std::nullopt;
            }
            hop = next;
        }
        response.statusCode = static_cast<int>(status);
        char* effective = nullptr;
        if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
            if (auto url = NSURL::URLWithString(effective))
                response.URL = *url;
        }
        char* address = nullptr;
        if (curl_easy_getinfo(handle, CURLINFO_PRIMARY_IP, &address) == CURLE_OK && address)
            response.remoteAddress = address;
        char* type = nullptr;
        if (curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) {
            std::string_view text(type);
            if (auto mime = lowercase(trimmed(text.substr(0, text.find(';')))); !mime.empty())
                response.MIMEType = mime;
        } else if (auto byName = mimeTypeForExtension(response.URL.pathExtension())) {
            response.MIMEType = *byName;
        }
        response.expectedContentLength = static_cast<std::int64_t>(transfer.body.size());
        response.allHeaderFields = std::move(transfer.headers);
        return std::move(transfer.body);
    }

}

std::optional<Bytes> NSURLConnection::sendSynchronousRequest(const NSURLRequest& request, NSURLResponse* response, NSError* error)
{
    NSURLResponse answered(request.URL);
    NSError failure;
    auto cache = NSURLCache::sharedURLCache();
    // A checked load still asks, so that the cache sees every load, but takes no stored answer:
    // where that came from was never judged.
    if (auto cached = cache->cachedResponseForRequest(request); cached && !request.mayConnect) {
        if (response)
            *response = cached->response;
        return std::move(cached->data);
    }
    std::optional<Bytes> data;
    auto& scheme = request.URL.scheme();
    bool network = scheme == "http" || scheme == "https";
    if (scheme == "file")
        data = loadFile(request.URL, answered, failure);
    else if (network)
        data = loadHTTP(request, answered, failure);
    else
        failure = urlError(NSURLErrorUnsupportedURL, "unsupported URL");
    if (!data) {
        if (error)
            *error = failure;
        return std::nullopt;
    }
    if (network && request.HTTPMethod == "GET" && answered.statusCode >= 200 && answered.statusCode < 300)
        cache->storeCachedResponse({ answered, *data }, request);
    if (response)
        *response = std::move(answered);
    return data;
}

std::optional<NSURL> URLByResolvingReference(std::string_view reference, const NSURL& base, bool keepFragment)
{
    initialiseCurl();
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
    if (!url)
        return std::nullopt;
    // A page's references may hold spaces, quotes and other bytes a URL holds only escaped.
    auto text = percentEncodeURLText(trimmed(reference));
    if (text.empty())
        return std::nullopt;
    unsigned flags = CURLU_NON_SUPPORT_SCHEME;
    if (curl_url_set(url.get(), CURLUPART_URL, base.absoluteString().c_str(), flags) != CURLUE_OK)
        return std::nullopt;
    // libcurl takes "#x" and "?x" as paths, leading to the base's folder: they keep the base's
    // path (and "#x" its query), as RFC 3986 resolves them.
    if (text.front() == '#' || text.front() == '?') {
        curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0);
        if (text.front() == '?')
            curl_url_set(url.get(), CURLUPART_QUERY, text.size() > 1 ? text.substr(1, text.find('#') - 1).c_str() : nullptr, 0);
        auto hash = text.find('#');
        if (hash != std::string::npos && hash + 1 < text.size())
            curl_url_set(url.get(), CURLUPART_FRAGMENT, text.substr(hash + 1).c_str(), 0);
    } else if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(), flags) != CURLUE_OK) {
        return std::nullopt;
    }
    if (!keepFragment)
        curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0);
    char* resolved = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &resolved, 0) != CURLUE_OK || !resolved)
        return std::nullopt;
    std::string result(resolved);
    curl_free(resolved);
    return NSURL::URLWithString(result);
}

}
