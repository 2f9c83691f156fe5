#include "http/HttpHandlers.h"

#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {

namespace {

    // The real path of `path`, symbolic links and dot segments resolved.
    std::optional<std::string> realPath(const std::string& path)
    {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (!resolved)
            return std::nullopt;
        std::string text(resolved);
        std::free(resolved);
        return text;
    }

    struct Target {
        // The root and the group joined, as the listing shows it.
        std::string path;
        // Where that leads, known to lie inside the root.
        std::string resolved;
    };

    // The request's first group below the root; absent without a group, when
    // nothing is there, or when the path leads outside the root once "..",
    // escaped slashes and symbolic links are resolved.
    std::optional<Target> targetOf(const HttpRequest& request, const std::string& root)
    {
        if (request.capturedUrlGroups.empty())
            return std::nullopt;
        const std::string& group = request.capturedUrlGroups.front();
        if (group.find('\0') != std::string::npos)
            return std::nullopt;
        std::string base = platform::expandingTildeInPath(root);
        Target target { platform::stringByAppendingPathComponent(base, group), {} };
        auto resolvedRoot = realPath(base);
        auto resolved = realPath(target.path);
        if (!resolvedRoot || !resolved)
            return std::nullopt;
        std::string prefix = *resolvedRoot == "/" ? "/" : *resolvedRoot + "/";
        if (*resolved != *resolvedRoot && !resolved->starts_with(prefix))
            return std::nullopt;
        target.resolved = std::move(*resolved);
        return target;
    }

    struct OpenFile {
        int descriptor { -1 };
        uint64_t size { 0 };
    };

    // A regular file opened for reading; absent for anything else. Not blocking,
    // so that a pipe cannot hold the connection waiting for a writer.
    std::optional<OpenFile> openRegularFile(const std::string& path, int flags = 0)
    {
        int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | flags);
        if (descriptor < 0)
            return std::nullopt;
        struct stat status { };
        if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(descriptor);
            return std::nullopt;
        }
        return OpenFile { descriptor, static_cast<uint64_t>(status.st_size) };
    }

    HttpResponse fileResponse(int64_t code, std::string phrase, std::optional<HttpHeaders> headers, const OpenFile& file,
        uint64_t offset, uint64_t length)
    {
        return HttpResponse::RAW(code, std::move(phrase), std::move(headers),
            std::make_shared<const HttpFileBody>(file.descriptor, offset, length));
    }

    // What a "range" value asks of a file: the word bytes (any case), "=", a
    // start, "-" and an end; text after that is not read.
    struct RangeRequest {
        enum class Kind {
            Whole,
            Part,
            Unsatisfiable,
            Malformed,
        } kind;
        uint64_t start { 0 };
        uint64_t length { 0 };
        std::string contentRange {};
    };

    struct Digits {
        std::string_view text;
        std::optional<uint64_t> value; // absent when empty or beyond a signed 64-bit number
    };

    Digits readDigits(std::string_view value, size_t& position)
    {
        size_t begin = position;
        uint64_t number = 0;
        bool overflow = false;
        for (; position < value.size() && value[position] >= '0' && value[position] <= '9'; ++position) {
            uint64_t digit = static_cast<uint64_t>(value[position] - '0');
            if (number > (INT64_MAX - digit) / 10)
                overflow = true;
            else
                number = number * 10 + digit;
        }
        Digits digits { value.substr(begin, position - begin), std::nullopt };
        if (!digits.text.empty() && !overflow)
            digits.value = number;
        return digits;
    }

    bool startsWithBytesUnit(std::string_view value)
    {
        constexpr std::string_view unit = "bytes=";
        if (value.size() < unit.size())
            return false;
        for (size_t index = 0; index < unit.size(); ++index) {
            char character = value[index];
            if ((character >= 'A' && character <= 'Z' ? character - 'A' + 'a' : character) != unit[index])
                return false;
        }
        return true;
    }

    RangeRequest readRange(std::string_view value, uint64_t size)
    {
        using Kind = RangeRequest::Kind;
        if (!startsWithBytesUnit(value))
            return { Kind::Malformed };
        size_t position = 6;
        auto first = readDigits(value, position);
        if (position >= value.size() || value[position] != '-')
            return { Kind::Malformed };
        ++position;
        auto second = readDigits(value, position);
        if (first.text.empty() && second.text.empty())
            return { Kind::Whole };
        if ((!first.text.empty() && !first.value) || (!second.text.empty() && !second.value))
            return { Kind::Unsatisfiable };
        // A range that gives only its start or only its end is answered with the whole file.
        if (!first.value || !second.value)
            return { Kind::Whole };
        // An end at or past the file's end is refused, not cut short.
        if (*second.value < *first.value || *second.value >= size)
            return { Kind::Unsatisfiable };
        return { Kind::Part, *first.value, *second.value - *first.value + 1,
            "bytes " + std::string(first.text) + "-" + std::string(second.text) + "/" + std::to_string(size) };
    }

    // The name as one path segment of a link. The server decodes a route's
    // group twice, so "%" is escaped twice to come back as itself.
    std::string linkSegment(std::string_view name)
    {
        static constexpr char hex[] = "0123456789ABCDEF";
        std::string segment;
        for (char character : name) {
            auto byte = static_cast<unsigned char>(character);
            if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')
                || std::string_view("-._~!$&'()*+,;=:@").find(character) != std::string_view::npos) {
                segment += character;
            } else if (byte == '%') {
                segment += "%2525";
            } else {
                segment += '%';
                segment += hex[byte >> 4];
                segment += hex[byte & 15];
            }
        }
        return segment;
    }

} // namespace

std::optional<HttpResponse> regularFileResponse(const std::string& path)
{
    auto file = openRegularFile(path);
    if (!file)
        return std::nullopt;
    return fileResponse(200, "OK", std::nullopt, *file, 0, file->size);
}

std::string escapeHtml(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (char character : text) {
        switch (character) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += character;
        }
    }
    return escaped;
}

HttpServer::Handler HttpHandlers::makeFileHandler(std::string root)
{
    return [root = std::move(root)](const HttpRequest& request) { return serveFile(request, root); };
}

HttpServer::Handler HttpHandlers::makeListingHandler(std::string root)
{
    return [root = std::move(root)](const HttpRequest& request) { return browseDirectory(request, root); };
}

HttpResponse HttpHandlers::serveFile(const HttpRequest& request, const std::string& root)
{
    auto target = targetOf(request, root);
    std::optional<OpenFile> file;
    if (target)
        file = openRegularFile(target->resolved, O_NOFOLLOW);
    if (!file)
        return HttpResponse::NotFound();
    auto range = request.headers.find("range");
    if (range == request.headers.end())
        return fileResponse(200, "OK", std::nullopt, *file, 0, file->size);
    auto asked = readRange(range->second, file->size);
    switch (asked.kind) {
    case RangeRequest::Kind::Whole:
        return fileResponse(200, "OK", std::nullopt, *file, 0, file->size);
    case RangeRequest::Kind::Part:
        return fileResponse(206, "Partial Content", HttpHeaders { { "Content-Range", asked.contentRange } }, *file, asked.start, asked.length);
    case RangeRequest::Kind::Unsatisfiable:
        ::close(file->descriptor);
        return HttpResponse::RAW(416, "Requested range not satisfiable",
            HttpHeaders { { "Content-Range", "bytes */" + std::to_string(file->size) } });
    case RangeRequest::Kind::Malformed:
        break;
    }
    ::close(file->descriptor);
    return HttpResponse::BadRequest();
}

HttpResponse HttpHandlers::browseDirectory(const HttpRequest& request, const std::string& root)
{
    auto target = targetOf(request, root);
    bool isDirectory = false;
    if (!target || !platform::NSFileManager::defaultManager().fileExistsAtPath(target->resolved, &isDirectory))
        return HttpResponse::NotFound();
    if (!isDirectory) {
        auto file = openRegularFile(target->resolved, O_NOFOLLOW);
        return file ? fileResponse(200, "OK", std::nullopt, *file, 0, file->size) : HttpResponse::NotFound();
    }
    auto names = platform::NSFileManager::defaultManager().contentsOfDirectoryAtPath(target->resolved);
    if (!names)
        return HttpResponse::NotFound();
    std::string fragment = "<h3>" + escapeHtml(target->path) + "</h3></br><table>";
    for (auto& name : *names)
        fragment += directoryRow(name, request);
    fragment += "</table>";
    return HttpResponse::OK(HttpResponseBody::Html(std::move(fragment)));
}

std::string HttpHandlers::directoryRow(const std::string& name, const HttpRequest& request)
{
    return "<tr><td><a href=\"" + escapeHtml(request.url + "/" + linkSegment(name)) + "\">" + escapeHtml(name) + "</a></td></tr>";
}

} // namespace vesk
