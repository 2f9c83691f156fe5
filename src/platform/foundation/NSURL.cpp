#include "platform/foundation/NSURL.h"

#include "platform/foundation/NSString.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vesk::platform {

namespace {

    bool isUnreserved(unsigned char c)
    {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    }

    bool isSubDelimiter(unsigned char c)
    {
        return c == '!' || c == '$' || c == '&' || c == '\'' || c == '(' || c == ')' || c == '*' || c == '+' || c == ',' || c == ';' || c == '=';
    }

    // Characters a URL text may hold as they are (RFC 3986 reserved and unreserved).
    bool isURLCharacter(unsigned char c)
    {
        return isUnreserved(c) || isSubDelimiter(c) || c == ':' || c == '/' || c == '?' || c == '#' || c == '[' || c == ']' || c == '@' || c == '%';
    }

    // Keeps the bytes `keep` accepts and writes every other as "%XX".
    std::string percentEncoded(std::string_view text, bool (*keep)(unsigned char))
    {
        static constexpr char digits[] = "0123456789ABCDEF";
        std::string out;
        out.reserve(text.size());
        for (char ch : text) {
            auto c = static_cast<unsigned char>(ch);
            if (keep(c)) {
                out += ch;
            } else {
                out += '%';
                out += digits[c >> 4];
                out += digits[c & 15];
            }
        }
        return out;
    }

    // "user@[::1]:8080" -> "::1": the host alone, without user, port or IPv6 brackets.
    std::string hostOfAuthority(std::string_view authority)
    {
        if (auto at = authority.rfind('@'); at != std::string_view::npos)
            authority.remove_prefix(at + 1);
        if (authority.starts_with('[')) {
            auto close = authority.find(']');
            return std::string(authority.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        }
        return std::string(authority.substr(0, authority.find(':')));
    }

    std::string currentFolder()
    {
        std::vector<char> buffer(PATH_MAX);
        if (!::getcwd(buffer.data(), buffer.size()))
            return "/";
        return buffer.data();
    }

}

std::string percentEncodePath(std::string_view path)
{
    return percentEncoded(path, [](unsigned char c) { return isUnreserved(c) || isSubDelimiter(c) || c == ':' || c == '@' || c == '/'; });
}

std::string percentEncodeURLText(std::string_view text)
{
    return percentEncoded(text, isURLCharacter);
}

std::optional<std::string> percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        int high = hexDigitValue(text[i + 1]);
        int low = hexDigitValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

NSURL NSURL::fileURLWithPath(std::string_view path)
{
    std::string absolute = path.empty() || path.front() != '/' ? stringByAppendingPathComponent(currentFolder(), path) : std::string(path);
    bool isDirectory = absolute.back() == '/';
    if (!isDirectory) {
        struct stat info { };
        isDirectory = ::stat(absolute.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    return fileURLWithPath(absolute, isDirectory);
}

NSURL NSURL::fileURLWithPath(std::string_view path, bool isDirectory)
{
    std::string absolute = path.empty() || path.front() != '/' ? stringByAppendingPathComponent(currentFolder(), path) : std::string(path);
    if (isDirectory && absolute.back() != '/')
        absolute += '/';
    NSURL url;
    url.m_scheme = "file";
    url.m_encodedPath = percentEncodePath(absolute);
    url.m_absolute = "file://" + url.m_encodedPath;
    return url;
}

std::optional<NSURL> NSURL::URLWithString(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (!isURLCharacter(c))
            return std::nullopt;
        if (c == '%' && (i + 2 >= text.size() || hexDigitValue(text[i + 1]) < 0 || hexDigitValue(text[i + 2]) < 0))
            return std::nullopt;
    }
    NSURL url;
    url.m_absolute = std::string(text);
    std::string_view rest = text;

    auto colon = rest.find(':');
    auto firstDelimiter = rest.find_first_of("/?#");
    if (colon != std::string_view::npos && colon > 0 && (firstDelimiter == std::string_view::npos || colon < firstDelimiter)) {
        auto scheme = rest.substr(0, colon);
        bool valid = (scheme[0] >= 'A' && scheme[0] <= 'Z') || (scheme[0] >= 'a' && scheme[0] <= 'z');
        for (char c : scheme) {
            auto u = static_cast<unsigned char>(c);
            valid = valid && (isUnreserved(u) || c == '+') && c != '_' && c != '~';
        }
        if (valid) {
            for (char c : scheme)
                url.m_scheme += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            rest.remove_prefix(colon + 1);
        }
    }
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        auto end = rest.find_first_of("/?#");
        url.m_host = hostOfAuthority(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    auto hash = rest.find('#');
    if (hash != std::string_view::npos) {
        url.m_fragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    auto question = rest.find('?');
    if (question != std::string_view::npos) {
        url.m_query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    // A NUL in the path would cut it short at every system call ("/etc/passwd%00.txt").
    auto decodedPath = percentDecode(rest);
    if (!decodedPath || decodedPath->find('\0') != std::string::npos)
        return std::nullopt;
    url.m_encodedPath = std::string(rest);
    return url;
}

std::string NSURL::path() const
{
    auto decoded = percentDecode(m_encodedPath).value_or(std::string {});
    if (decoded.size() > 1 && decoded.back() == '/')
        decoded.pop_back();
    return decoded;
}

bool NSURL::hasDirectoryPath() const
{
    return !m_encodedPath.empty() && m_encodedPath.back() == '/';
}

std::string NSURL::lastPathComponent() const
{
    return platform::lastPathComponent(path());
}

std::string NSURL::pathExtension() const
{
    return platform::pathExtension(path());
}

std::optional<std::string> NSURL::query() const
{
    return m_query;
}

std::optional<std::string> NSURL::fragment() const
{
    return m_fragment;
}

} // namespace vesk::platform
