#pragma once

// Helpers shared by the archive tests: file facts, snapshots and a writer of
// hand-made (also malformed) archives.

#include "ModelTestSupport.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <vector>
#include <zlib.h>

namespace vesk::ziptest {

using namespace vesk::test;

inline struct stat statOf(const std::string& path)
{
    struct stat info { };
    ::lstat(path.c_str(), &info);
    return info;
}
inline time_t modificationTime(const std::string& path)
{
    return statOf(path).st_mtim.tv_sec;
}
inline mode_t permissions(const std::string& path)
{
    return statOf(path).st_mode & 07777;
}

inline void setModificationTime(const std::string& path, time_t time)
{
    struct timespec times[2] = { { time, 0 }, { time, 0 } };
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Runs the work with the process in another time zone, as if on another machine.
template<typename Work>
auto inTimeZone(const char* zone, Work work)
{
    std::optional<std::string> previous;
    if (const char* current = std::getenv("TZ"))
        previous = current;
    ::setenv("TZ", zone, 1);
    ::tzset();
    auto result = work();
    previous ? ::setenv("TZ", previous->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    return result;
}

// Every item below a folder: relative path to kind, content and date, to
// prove that a run changed nothing there.
inline std::map<std::string, std::string> snapshot(const std::string& folder)
{
    std::map<std::string, std::string> items;
    for (auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string path = entry.path().string();
        std::string kind = entry.is_symlink() ? "link:" + fs::read_symlink(path).string()
            : entry.is_directory()            ? "folder"
                                              : "file:" + readText(path);
        items[fs::relative(path, folder).string()] = kind + "@" + std::to_string(modificationTime(path));
    }
    return items;
}

inline std::vector<std::string> filesBelow(const std::string& folder)
{
    std::vector<std::string> names;
    for (auto& entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string() + (entry.is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
}

// How a tree comes back from an archive: for every item below `folder`, its
// relative path to kind, permission bits, content (a link's target) and
// modification time. Links are described as links without their own time
// (Info-ZIP gives them none), or, given `linkFileMode`, as the plain files
// holding their targets that our own unzip writes.
inline std::map<std::string, std::string> treeOf(const std::string& folder, std::optional<mode_t> linkFileMode = std::nullopt)
{
    std::map<std::string, std::string> items;
    for (auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string path = entry.path().string();
        struct stat info = statOf(path);
        mode_t mode = info.st_mode & 07777;
        std::string text;
        if (S_ISLNK(info.st_mode) && !linkFileMode) {
            text = "link " + fs::read_symlink(path).string();
        } else {
            if (S_ISLNK(info.st_mode))
                mode = *linkFileMode;
            text = S_ISDIR(info.st_mode) ? std::string("folder")
                : S_ISLNK(info.st_mode)  ? "file " + fs::read_symlink(path).string()
                                         : "file " + readText(path);
            text += " @" + std::to_string(info.st_mtim.tv_sec);
        }
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
        // Not fs::relative, which would resolve the links.
        items[path.substr(folder.size() + 1)] = text + " " + octal;
    }
    return items;
}

// A tree with what archives lose most easily: one name in several folders,
// empty folders, links inside, out of the tree and to nothing, a name that
// is not UTF-8, a private and a read-only folder, files of modes 0600 and
// 0444. Times are even, as DOS dates count seconds in steps of two.
inline void makeTestTree(const std::string& root)
{
    writeText(root + "/a.txt", "top a\n");
    writeText(root + "/docs/a.txt", "docs a\n");
    writeText(root + "/docs/notes/a.txt", std::string("notes\0a", 7));
    writeText(root + "/docs/private.txt", "mine\n");
    writeText(root + "/secret/key.txt", "key\n");
    writeText(root + "/readonly/kept.txt", "kept\n");
    writeText(root + "/caf\xe9.txt", "a Latin-1 name\n");
    fs::create_directories(root + "/empty");
    fs::create_directories(root + "/outer/inner");
    fs::create_symlink("docs/a.txt", root + "/link-in");
    fs::create_symlink("docs", root + "/link-folder");
    fs::create_symlink("/usr", root + "/link-out");
    fs::create_symlink("nowhere", root + "/dangling");
    time_t time = 1600000000;
    std::vector<std::string> paths;
    for (auto& entry : fs::recursive_directory_iterator(root))
        paths.push_back(entry.path().string());
    paths.push_back(root);
    // Those inside first, so that dating an item does not move its folder's time again.
    std::sort(paths.rbegin(), paths.rend());
    for (auto& path : paths) {
        struct timespec times[2] = { { time, 0 }, { time, 0 } };
        ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
        time += 7202;
    }
    ::chmod((root + "/docs/private.txt").c_str(), 0600);
    ::chmod((root + "/secret/key.txt").c_str(), 0444);
    ::chmod((root + "/secret").c_str(), 0700);
    ::chmod((root + "/readonly").c_str(), 0555);
}

struct ArchiveEntry {
    std::string name;
    uLong flag;
    uLong externalAttributes;
    uLong versionMadeBy;
    std::string content;
};

// Entries as the archive lists them, read through minizip.
inline std::vector<ArchiveEntry> listArchive(const std::string& path)
{
    std::vector<ArchiveEntry> entries;
    unzFile zip = unzOpen64(path.c_str());
    if (!zip)
        return entries;
    for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
        unz_file_info64 info {};
        char name[1024] = {};
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0);
        ArchiveEntry entry { name, info.flag, info.external_fa, info.version, {} };
        if (!(info.flag & 1) && unzOpenCurrentFile(zip) == UNZ_OK) {
            char buffer[4096];
            int got;
            while ((got = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0)
                entry.content.append(buffer, static_cast<std::size_t>(got));
            unzCloseCurrentFile(zip);
        }
        entries.push_back(entry);
    }
    unzClose(zip);
    return entries;
}

inline std::vector<std::string> entryNames(const std::string& path)
{
    std::vector<std::string> names;
    for (auto& entry : listArchive(path))
        names.push_back(entry.name);
    return names;
}

inline std::string rawDeflate(const std::string& data)
{
    uLongf size = compressBound(data.size());
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()), data.size());
    return out.substr(2, size - 6); // the bare stream, without zlib's header and checksum
}

inline uint32_t crcOf(const std::string& data)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// One entry of a hand-made archive. The stored bytes, CRC and sizes can be
// set apart from the content to make malformed entries.
struct RawEntry {
    std::string name;
    std::string content;
    int method = Z_DEFLATED;
    uLong externalAttributes = 0;
    uLong flag = 0;
    uLong dosDate = 0x5A2C6000; // 2025-01-12 12:00:00
    std::optional<std::string> storedBytes = std::nullopt;
    std::optional<uint32_t> crc = std::nullopt;
    std::optional<uint64_t> uncompressedSize = std::nullopt;
    uLong versionMadeBy = (3 << 8) | 30; // Unix
};

inline void writeRawArchive(const std::string& path, const std::vector<RawEntry>& entries)
{
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    for (const auto& entry : entries) {
        zip_fileinfo info {};
        info.dosDate = entry.dosDate;
        info.external_fa = entry.externalAttributes;
        std::string bytes = entry.storedBytes ? *entry.storedBytes : (entry.method == Z_DEFLATED ? rawDeflate(entry.content) : entry.content);
        ASSERT_EQ(zipOpenNewFileInZip4_64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, entry.method,
                      Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, entry.versionMadeBy, entry.flag, 0),
            ZIP_OK);
        if (!bytes.empty())
            zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size()));
        zipCloseFileInZipRaw64(zip, entry.uncompressedSize.value_or(entry.content.size()), entry.crc.value_or(crcOf(entry.content)));
    }
    zipClose(zip, nullptr);
}

// Overwrites `bytes` at `fieldOffset` of the central and local headers of the
// entry called `name` (offsets as in the central header; the local header's
// fields sit 2 bytes earlier).
inline void patchEntry(const std::string& path, const std::string& name, std::size_t fieldOffset, const std::string& bytes,
    bool centralOnly = false)
{
    std::string data = readText(path);
    for (std::size_t at = data.find("PK\1\2"); at != std::string::npos; at = data.find("PK\1\2", at + 4)) {
        if (at + 46 + name.size() > data.size())
            break;
        auto u16 = [&](std::size_t offset) { return static_cast<std::size_t>(static_cast<uint8_t>(data[offset])) | static_cast<std::size_t>(static_cast<uint8_t>(data[offset + 1])) << 8; };
        auto u32 = [&](std::size_t offset) { return u16(offset) | u16(offset + 2) << 16; };
        if (u16(at + 28) != name.size() || data.compare(at + 46, name.size(), name) != 0)
            continue;
        std::size_t local = u32(at + 42);
        data.replace(at + fieldOffset, bytes.size(), bytes);
        if (!centralOnly)
            data.replace(local + fieldOffset - 2, bytes.size(), bytes);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

inline int run(const std::string& command)
{
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string shellQuoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}
