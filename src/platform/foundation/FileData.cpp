#include "platform/foundation/FileData.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk::platform {

namespace {

    struct FileDescriptor {
        int fd { -1 };
        ~FileDescriptor()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };

}

std::optional<Bytes> readFileContents(const std::string& path, std::size_t maxBytes)
{
    // O_NONBLOCK so that opening a FIFO never waits for a writer.
    FileDescriptor file { ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK) };
    if (file.fd < 0)
        return std::nullopt;
    struct stat info { };
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes)
        return std::nullopt;
    Bytes contents;
    contents.reserve(static_cast<std::size_t>(info.st_size));
    std::uint8_t buffer[65536];
    for (;;) {
        auto got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            break;
        // The file may grow while it is read.
        if (contents.size() + static_cast<std::size_t>(got) > maxBytes)
            return std::nullopt;
        contents.insert(contents.end(), buffer, buffer + got);
    }
    return contents;
}

bool writeFileAtomically(const std::string& path, const Bytes& contents)
{
    auto folder = parentFolder(path);
    auto name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    if (name.empty())
        return false;
    std::string temporary = folder + "/." + name + ".XXXXXX";
    FileDescriptor file { ::mkostemp(temporary.data(), O_CLOEXEC) };
    if (file.fd < 0)
        return false;

    mode_t mode = 0644;
    struct stat existing { };
    if (::stat(path.c_str(), &existing) == 0)
        mode = existing.st_mode & 07777;
    bool ok = ::fchmod(file.fd, mode) == 0
        && writeAll(file.fd, contents.data(), contents.size())
        && ::fsync(file.fd) == 0;
    ok = (::close(file.fd) == 0) && ok;
    file.fd = -1;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // Make the rename itself durable.
    FileDescriptor directory { ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) };
    if (directory.fd >= 0)
        ::fsync(directory.fd);
    return true;
}

bool createDirectories(const std::string& path)
{
    if (path.empty())
        return false;
    std::size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        auto prefix = path.substr(0, position);
        if (prefix.empty() || prefix.back() == '/')
            continue;
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t length)
{
    while (length > 0) {
        auto written = ::write(fd, bytes, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string parentFolder(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace vesk::platform
