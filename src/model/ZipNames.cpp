#include "model/ZipNames.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

namespace vesk {

namespace {

    // clang-format off
    // Code points of the bytes 0x80 to 0xFF.
    constexpr char16_t cp437High[128] = {
        0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
        0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
        0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
        0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
        0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
        0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
        0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
        0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
        0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
        0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
        0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
        0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
        0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
        0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
        0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
        0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
    };
    // clang-format on

    constexpr unsigned long hostFAT = 0;
    constexpr unsigned long hostUnix = 3;
    constexpr unsigned long hostHPFS = 6;
    constexpr unsigned long hostNTFS = 10;
    constexpr unsigned long hostVFAT = 14;
    constexpr unsigned long hostMacOSX = 19;

    std::string realPathOf(const std::string& path)
    {
        char buffer[PATH_MAX];
        if (!::realpath(path.c_str(), buffer))
            return {};
        return buffer;
    }

}

std::string decodeZipEntryName(std::string_view raw, unsigned long versionMadeBy)
{
    unsigned long host = versionMadeBy >> 8;
    if (platform::isValidUTF8(raw) || host == hostUnix || host == hostMacOSX)
        return std::string(raw);
    std::string out;
    out.reserve(raw.size() * 2);
    for (char ch : raw) {
        auto byte = static_cast<std::uint8_t>(ch);
        if (byte < 0x80)
            out += ch;
        else
            out += platform::utf8Encoded(cp437High[byte - 0x80]);
    }
    return out;
}

bool zipEntrySeparatesWithBackslash(unsigned long versionMadeBy)
{
    unsigned long host = (versionMadeBy >> 8) & 0xFF;
    return host == hostFAT || host == hostHPFS || host == hostNTFS || host == hostVFAT;
}

std::optional<std::vector<std::string>> safeZipEntryComponents(std::string_view name)
{
    if (name.find('\0') != std::string_view::npos || name.starts_with('/'))
        return std::nullopt;
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string_view::npos)
            end = name.size();
        std::string_view part = name.substr(start, end - start);
        if (part == "..")
            return std::nullopt;
        if (!part.empty() && part != ".")
            components.emplace_back(part);
        start = end + 1;
    }
    return components;
}

ZipDestination::ZipDestination(const std::string& root)
{
    std::string partial;
    std::size_t start = 0;
    while (start <= root.size()) {
        std::size_t end = root.find('/', start);
        if (end == std::string::npos)
            end = root.size();
        partial = root.substr(0, end);
        if (!partial.empty())
            ::mkdir(partial.c_str(), 0777);
        start = end + 1;
    }
    m_root = realPathOf(root.empty() ? "." : root);
    struct stat info;
    if (!m_root.empty() && (::stat(m_root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)))
        m_root.clear();
}

bool ZipDestination::isInside(const std::string& realPath) const
{
    if (realPath == m_root)
        return true;
    if (m_root == "/")
        return true;
    return realPath.size() > m_root.size() && realPath.compare(0, m_root.size(), m_root) == 0 && realPath[m_root.size()] == '/';
}

ZipDestination::Result ZipDestination::makeFolders(const std::vector<std::string>& components, std::size_t count,
    std::optional<time_t> modificationTime, std::string& realPath, int& error)
{
    error = 0;
    if (m_root.empty()) {
        error = ENOENT;
        return Result::failed;
    }
    std::string relative;
    std::string current = m_root;
    for (std::size_t i = 0; i < count; ++i) {
        if (!relative.empty())
            relative += '/';
        relative += components[i];
        if (auto known = m_known.find(relative); known != m_known.end()) {
            current = known->second;
            continue;
        }
        std::string candidate = current == "/" ? "/" + components[i] : current + "/" + components[i];
        struct stat info;
        if (::lstat(candidate.c_str(), &info) != 0) {
            if (errno != ENOENT) {
                error = errno;
                return Result::failed;
            }
            bool created = ::mkdir(candidate.c_str(), 0777) == 0;
            if (!created && errno != EEXIST) {
                error = errno;
                return Result::failed;
            }
            if (::lstat(candidate.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
                error = ENOTDIR;
                return Result::failed;
            }
            if (created)
                m_made.insert(candidate);
            if (modificationTime && i + 1 == count) {
                struct timespec times[2] = { { 0, UTIME_OMIT }, { *modificationTime, 0 } };
                ::utimensat(AT_FDCWD, candidate.c_str(), times, AT_SYMLINK_NOFOLLOW);
            }
        } else if (S_ISLNK(info.st_mode)) {
            std::string resolved = realPathOf(candidate);
            if (resolved.empty() || !isInside(resolved))
                return Result::outside;
            if (::stat(resolved.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
                error = ENOTDIR;
                return Result::failed;
            }
            candidate = resolved;
        } else if (!S_ISDIR(info.st_mode)) {
            error = ENOTDIR;
            return Result::failed;
        }
        current = candidate;
        m_known.emplace(relative, current);
    }
    realPath = current;
    return Result::ok;
}

}
