#pragma once

// Helpers shared by the archive tests: a temporary folder, file snapshots
// and a writer of hand-made (also malformed) archives.

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace vesk::ziptest {

namespace fs = std::filesystem;

class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "vesk-zip-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        char* made = ::mkdtemp(buffer.data());
        if (!made)
            throw std::runtime_error("mkdtemp failed");
        m_path = made;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        // Tests may leave read-only folders behind.
        for (auto it = fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void writeText(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

inline bool exists(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

inline time_t modificationTime(const std::string& path)
{
    struct stat info { };
    ::lstat(path.c_str(), &info);
    return info.st_mtim.tv_sec;
}

inline void setModificationTime(const std::string& path, time_t time)
{
    struct timespec times[2] = { { time, 0 }, { time, 0 } };
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

inline mode_t permissions(const std::string& path)
{
    struct stat info { };
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Every item below a folder: relative path to kind, content and date, to
// prove that a run changed nothing there.
inline std::map<std::string, std::string> snapshot(const std::string& folder)
{
    std::map<std::string, std::string> items;
    for (auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string relative = fs::relative(entry.path(), folder).string();
        std::string description;
        if (entry.is_symlink())
            description = "link:" + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            description = "folder";
        else
            description = "file:" + readText(entry.path().string());
        description += "@" + std::to_string(modificationTime(entry.path().string()));
        items[relative] = description;
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
    z_stream stream {};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()) + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
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
                      Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, (3 << 8) | 30, entry.flag, 0),
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

// Runs `body` in a child process that owns `folder` but, where it can, lacks
// root's right to ignore file modes; true when the body answered true.
inline bool runUnprivileged(const std::string& folder, const std::function<bool()>& body)
{
    pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (::geteuid() == 0) {
            const uid_t nobody = 65534;
            ::lchown(folder.c_str(), nobody, nobody);
            for (auto& entry : fs::recursive_directory_iterator(folder))
                ::lchown(entry.path().c_str(), nobody, nobody);
            // Where the user cannot be changed, the body runs with root's rights.
            [[maybe_unused]] bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
        }
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline bool hasTool(const char* name)
{
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

inline int run(const std::string& command)
{
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string shellQuoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

}
