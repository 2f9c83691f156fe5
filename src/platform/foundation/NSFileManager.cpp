#include "platform/foundation/NSFileManager.h"

#include "platform/foundation/FileData.h"

#include <optional>
#include <utility>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits>
#include <map>
#include <mutex>
#include <pwd.h>
#include <random>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

namespace vesk::platform {

namespace {

    // Closes a descriptor or a directory stream when it goes out of scope.
    struct Fd {
        int fd = -1;
        explicit Fd(int f)
            : fd(f)
        {
        }
        Fd(const Fd&) = delete;
        Fd& operator=(const Fd&) = delete;
        ~Fd()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };

    struct Dir {
        DIR* dir = nullptr;
        explicit Dir(DIR* d)
            : dir(d)
        {
        }
        Dir(const Dir&) = delete;
        Dir& operator=(const Dir&) = delete;
        ~Dir()
        {
            if (dir)
                ::closedir(dir);
        }
    };

    bool fail(NSError* error, int code, std::string_view path)
    {
        if (error)
            *error = NSError::posix(code, path);
        return false;
    }

    // "a/b/" -> "a/b", but "/" stays "/": a trailing slash would make lstat follow a link.
    std::string withoutTrailingSlashes(std::string path)
    {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }

    // Copy and move take two paths that must both be named; trailing slashes go.
    std::optional<std::pair<std::string, std::string>> sourceAndDestination(const std::string& source, const std::string& destination, NSError* error)
    {
        if (source.empty() || destination.empty()) {
            fail(error, ENOENT, source.empty() ? source : destination);
            return std::nullopt;
        }
        return std::pair { withoutTrailingSlashes(source), withoutTrailingSlashes(destination) };
    }

    bool isDotOrDotDot(const char* name)
    {
        return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
    }

    // Entry names of an open directory, read whole before anything below it changes.
    std::optional<std::vector<std::string>> readNames(int dirfd, int& errorCode)
    {
        int own = ::dup(dirfd);
        if (own < 0) {
            errorCode = errno;
            return std::nullopt;
        }
        Dir dir(::fdopendir(own));
        if (!dir.dir) {
            errorCode = errno;
            ::close(own);
            return std::nullopt;
        }
        std::vector<std::string> names;
        errno = 0;
        while (dirent* entry = ::readdir(dir.dir)) {
            if (!isDotOrDotDot(entry->d_name))
                names.emplace_back(entry->d_name);
            errno = 0;
        }
        if (errno != 0) {
            errorCode = errno;
            return std::nullopt;
        }
        return names;
    }

    // The next code point of UTF-8 text, folded to lower case where Latin letters have one;
    // a stray byte stands for itself.
    char32_t nextFolded(std::string_view text, std::size_t& at)
    {
        auto byte = static_cast<unsigned char>(text[at++]);
        char32_t point = byte;
        int more = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2
            : byte >= 0xC0                         ? 1
                                                   : 0;
        if (more && at + more <= text.size()) {
            point = byte & (0x3F >> more);
            for (int i = 0; i < more; ++i)
                point = (point << 6) | (static_cast<unsigned char>(text[at++]) & 0x3F);
        }
        if ((point >= 'A' && point <= 'Z') || (point >= 0xC0 && point <= 0xDE && point != 0xD7))
            point += 0x20;
        return point;
    }

    // Name order as a person reads it: letters whatever their case, then the bytes for names
    // that differ only in case.
    bool nameBefore(std::string_view a, std::string_view b)
    {
        std::size_t i = 0, j = 0;
        while (i < a.size() && j < b.size()) {
            auto x = nextFolded(a, i), y = nextFolded(b, j);
            if (x != y)
                return x < y;
        }
        if ((i < a.size()) != (j < b.size()))
            return j < b.size();
        return a < b;
    }

    // Opens the folder entry name of dirfd, never through a link, into fd and reads its names.
    std::optional<std::vector<std::string>> openFolderAt(int dirfd, const std::string& name, Fd& fd, const std::string& path, NSError* error)
    {
        fd.fd = ::openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd.fd < 0) {
            fail(error, errno, path);
            return std::nullopt;
        }
        int code = 0;
        auto names = readNames(fd.fd, code);
        if (!names)
            fail(error, code, path);
        return names;
    }

    std::chrono::system_clock::time_point toTimePoint(std::int64_t seconds, std::uint32_t nanoseconds)
    {
        using namespace std::chrono;
        return system_clock::time_point(duration_cast<system_clock::duration>(std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanoseconds)));
    }

    timespec toTimespec(std::chrono::system_clock::time_point time)
    {
        using namespace std::chrono;
        auto ns = duration_cast<nanoseconds>(time.time_since_epoch()).count();
        timespec ts {};
        ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        if (ts.tv_nsec < 0) {
            ts.tv_nsec += 1'000'000'000;
            ts.tv_sec -= 1;
        }
        return ts;
    }

    FileType typeOfMode(unsigned mode)
    {
        switch (mode & S_IFMT) {
        case S_IFREG:
            return FileType::Regular;
        case S_IFDIR:
            return FileType::Directory;
        case S_IFLNK:
            return FileType::SymbolicLink;
        case S_IFCHR:
            return FileType::CharacterSpecial;
        case S_IFBLK:
            return FileType::BlockSpecial;
        case S_IFSOCK:
            return FileType::Socket;
        default:
            return FileType::Unknown;
        }
    }

    // Account names are looked up once per id: listings ask for thousands of items.
    template<typename Entry, typename Id>
    std::string accountName(Id id, int (*lookup)(Id, Entry*, char*, std::size_t, Entry**), char* Entry::*field)
    {
        static std::mutex mutex;
        static std::map<Id, std::string> cache;
        {
            std::lock_guard lock(mutex);
            if (auto it = cache.find(id); it != cache.end())
                return it->second;
        }
        std::vector<char> buffer(16384);
        Entry entry {};
        Entry* result = nullptr;
        std::string name;
        if (lookup(id, &entry, buffer.data(), buffer.size(), &result) == 0 && result)
            name = result->*field;
        std::lock_guard lock(mutex);
        cache.emplace(id, name);
        return name;
    }

    bool removeAt(int dirfd, const std::string& name, const std::string& path, NSError* error, bool makeWritable);

    bool removeFolderAt(int dirfd, const std::string& name, const std::string& path, NSError* error, bool makeWritable)
    {
        Fd fd(-1);
        auto names = openFolderAt(dirfd, name, fd, path, error);
        if (!names)
            return false;
        for (const auto& child : *names) {
            if (!removeAt(fd.fd, child, joinPath(path, child), error, makeWritable))
                return false;
        }
        if (::unlinkat(dirfd, name.c_str(), AT_REMOVEDIR) != 0)
            return fail(error, errno, path);
        return true;
    }

    // Removes the entry name of dirfd and everything below it; never follows a link. With
    // makeWritable a folder that shuts its owner out is opened to the owner first (a copy that
    // failed removes its own read-only folders so, and so does a person's delete), and gets its
    // mode back when it stays.
    bool removeAt(int dirfd, const std::string& name, const std::string& path, NSError* error, bool makeWritable)
    {
        struct stat st { };
        if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(error, errno, path);
        if (S_ISDIR(st.st_mode)) {
            mode_t mode = st.st_mode & 07777;
            bool opened = makeWritable && (mode & 0700) != 0700 && ::fchmodat(dirfd, name.c_str(), mode | 0700, AT_SYMLINK_NOFOLLOW) == 0;
            if (removeFolderAt(dirfd, name, path, error, makeWritable))
                return true;
            if (opened)
                ::fchmodat(dirfd, name.c_str(), mode, AT_SYMLINK_NOFOLLOW);
            return false;
        }
        if (::unlinkat(dirfd, name.c_str(), 0) != 0)
            return fail(error, errno, path);
        return true;
    }

    bool pwriteAll(int fd, const std::uint8_t* bytes, std::size_t length, off_t offset)
    {
        while (length > 0) {
            ssize_t n = ::pwrite(fd, bytes, length, offset);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            bytes += n;
            length -= static_cast<std::size_t>(n);
            offset += n;
        }
        return true;
    }

    // Bytes [offset, end) or up to the end of the file, at the same offsets in `to`.
    // copy_file_range lets the file system share extents; *fast drops to plain reads for good
    // once it is refused (across file systems, for one).
    bool copyRange(int from, int to, off_t offset, off_t end, bool* fast)
    {
        std::vector<std::uint8_t> buffer;
        while (offset < end) {
            auto want = static_cast<std::size_t>(std::min<off_t>(end - offset, 1 << 30));
            if (*fast) {
                loff_t in = offset, out = offset;
                ssize_t n = ::copy_file_range(from, &in, to, &out, want, 0);
                if (n > 0) {
                    offset += n;
                    continue;
                }
                if (n == 0)
                    return true;
                if (errno == EINTR)
                    continue;
                if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL && errno != EBADF)
                    return false;
                *fast = false;
            }
            if (buffer.empty())
                buffer.resize(1 << 16);
            ssize_t n = ::pread(from, buffer.data(), std::min(want, buffer.size()), offset);
            if (n == 0)
                return true;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (!pwriteAll(to, buffer.data(), static_cast<std::size_t>(n), offset))
                return false;
            offset += n;
        }
        return true;
    }

    // The file's data where it has data: holes stay holes, so a sparse file takes no more disk
    // than before. Files that report a size of 0 (kernel files) are read to their end.
    bool copyContents(int from, int to, const struct stat& st)
    {
        constexpr off_t toEnd = std::numeric_limits<off_t>::max();
        bool fast = true;
        if (st.st_size == 0)
            return copyRange(from, to, 0, toEnd, &fast);
        off_t at = 0;
        for (;;) {
            off_t data = ::lseek(from, at, SEEK_DATA);
            if (data < 0) {
                if (errno == ENXIO)
                    break;
                // No hole reporting here: every byte from this point on.
                return copyRange(from, to, at, toEnd, &fast);
            }
            off_t hole = ::lseek(from, data, SEEK_HOLE);
            if (hole < 0)
                hole = toEnd;
            if (!copyRange(from, to, data, hole, &fast))
                return false;
            if (hole == toEnd)
                return true;
            at = hole;
        }
        // A hole at the end is only a length.
        struct stat now { };
        return ::fstat(from, &now) == 0 && ::ftruncate(to, now.st_size) == 0;
    }

    // Extended attributes, as far as the destination takes them: a file system without them, or
    // a namespace that needs privileges, leaves them out, as mv does. With fds, or by path for
    // links and special files.
    void copyAttributes(int from, int to, const std::string& fromPath = {}, const std::string& toPath = {})
    {
        auto list = [&](char* names, std::size_t size) {
            return from >= 0 ? ::flistxattr(from, names, size) : ::llistxattr(fromPath.c_str(), names, size);
        };
        ssize_t size = list(nullptr, 0);
        if (size <= 0)
            return;
        std::vector<char> names(static_cast<std::size_t>(size));
        size = list(names.data(), names.size());
        if (size <= 0)
            return;
        std::vector<char> value;
        for (std::size_t at = 0; at < static_cast<std::size_t>(size); at += std::strlen(names.data() + at) + 1) {
            const char* name = names.data() + at;
            auto get = [&](void* into, std::size_t length) {
                return from >= 0 ? ::fgetxattr(from, name, into, length) : ::lgetxattr(fromPath.c_str(), name, into, length);
            };
            ssize_t length = get(nullptr, 0);
            if (length < 0)
                continue;
            value.resize(static_cast<std::size_t>(length));
            length = get(value.data(), value.size());
            if (length < 0)
                continue;
            if (to >= 0)
                ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(length), 0);
            else
                ::lsetxattr(toPath.c_str(), name, value.data(), static_cast<std::size_t>(length), 0);
        }
    }

    // How a copy goes: a move keeps the owner where it may and the hard links inside the tree.
    struct CopyContext {
        bool keepsOwner = false;
        bool keepsHardLinks = false;
        // The first copy of each item met under several names.
        std::map<std::pair<dev_t, ino_t>, std::string> linked;
    };

    // Someone who is not root may still give their own files a group they belong to.
    void keepOwner(int fd, const struct stat& st, const CopyContext& context)
    {
        if (context.keepsOwner && ::fchown(fd, st.st_uid, st.st_gid) != 0)
            ::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    }

    void keepOwnerAt(int dirfd, const char* name, const struct stat& st, const CopyContext& context)
    {
        if (context.keepsOwner && ::fchownat(dirfd, name, st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0)
            ::fchownat(dirfd, name, static_cast<uid_t>(-1), st.st_gid, AT_SYMLINK_NOFOLLOW);
    }

    void setTimes(int dirfd, const char* name, const struct stat& st, int flags)
    {
        timespec times[2] = { st.st_atim, st.st_mtim };
        ::utimensat(dirfd, name, times, flags);
    }

    void keepModeAndTimes(int fd, unsigned mode, const struct stat& st)
    {
        ::fchmod(fd, mode);
        timespec times[2] = { st.st_atim, st.st_mtim };
        ::futimens(fd, times);
    }

    // Copies the entry srcName of srcDir to dstName in dstDir, which must not exist.
    // *madeTop tells the caller whether this call created the destination itself. The owner
    // goes on before the mode (a change of owner drops set-id bits), the times last.
    bool copyAt(int srcDir, const std::string& srcName, int dstDir, const std::string& dstName,
        const std::string& srcPath, const std::string& dstPath, NSError* error, CopyContext& context, bool* madeTop = nullptr)
    {
        struct stat st { };
        if (::fstatat(srcDir, srcName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(error, errno, srcPath);
        const unsigned mode = st.st_mode & 07777;

        // A second name of an item already copied becomes a second name of its copy.
        const std::pair<dev_t, ino_t> identity { st.st_dev, st.st_ino };
        const bool linkable = context.keepsHardLinks && !S_ISDIR(st.st_mode) && st.st_nlink > 1;
        if (linkable) {
            auto first = context.linked.find(identity);
            if (first != context.linked.end() && ::linkat(AT_FDCWD, first->second.c_str(), dstDir, dstName.c_str(), 0) == 0) {
                if (madeTop)
                    *madeTop = true;
                return true;
            }
        }
        auto made = [&] {
            if (madeTop)
                *madeTop = true;
            if (linkable)
                context.linked.emplace(identity, dstPath);
        };

        if (S_ISLNK(st.st_mode)) {
            // Some file systems report links of size 0; a target never exceeds PATH_MAX.
            std::vector<char> target(static_cast<size_t>(std::max<off_t>(st.st_size, PATH_MAX)) + 1);
            ssize_t n = ::readlinkat(srcDir, srcName.c_str(), target.data(), target.size());
            if (n < 0)
                return fail(error, errno, srcPath);
            if (static_cast<size_t>(n) >= target.size())
                return fail(error, ENAMETOOLONG, srcPath);
            target[static_cast<size_t>(n)] = '\0';
            if (::symlinkat(target.data(), dstDir, dstName.c_str()) != 0)
                return fail(error, errno, dstPath);
            made();
            keepOwnerAt(dstDir, dstName.c_str(), st, context);
            copyAttributes(-1, -1, srcPath, dstPath);
            setTimes(dstDir, dstName.c_str(), st, AT_SYMLINK_NOFOLLOW);
            return true;
        }

        if (S_ISDIR(st.st_mode)) {
            Fd src(-1);
            auto names = openFolderAt(srcDir, srcName, src, srcPath, error);
            if (!names)
                return false;
            // Owner-writable until filled; the real mode and times go on last.
            if (::mkdirat(dstDir, dstName.c_str(), 0700) != 0)
                return fail(error, errno, dstPath);
            made();
            Fd dst(::openat(dstDir, dstName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (dst.fd < 0)
                return fail(error, errno, dstPath);
            for (const auto& child : *names) {
                if (!copyAt(src.fd, child, dst.fd, child, joinPath(srcPath, child), joinPath(dstPath, child), error, context))
                    return false;
            }
            keepOwner(dst.fd, st, context);
            copyAttributes(src.fd, dst.fd);
            keepModeAndTimes(dst.fd, mode, st);
            return true;
        }

        if (S_ISREG(st.st_mode)) {
            Fd src(::openat(srcDir, srcName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
            if (src.fd < 0)
                return fail(error, errno, srcPath);
            Fd dst(::openat(dstDir, dstName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (dst.fd < 0)
                return fail(error, errno, dstPath);
            made();
            if (!copyContents(src.fd, dst.fd, st))
                return fail(error, errno, dstPath);
            keepOwner(dst.fd, st, context);
            copyAttributes(src.fd, dst.fd);
            keepModeAndTimes(dst.fd, mode, st);
            return true;
        }

        // FIFOs and sockets are made anew (their contents are never read); devices need privileges.
        if (::mknodat(dstDir, dstName.c_str(), (st.st_mode & S_IFMT) | mode, st.st_rdev) != 0)
            return fail(error, errno, dstPath);
        made();
        keepOwnerAt(dstDir, dstName.c_str(), st, context);
        copyAttributes(-1, -1, srcPath, dstPath);
        // Not the umask's mode: the item's own.
        ::fchmodat(dstDir, dstName.c_str(), mode, 0);
        setTimes(dstDir, dstName.c_str(), st, AT_SYMLINK_NOFOLLOW);
        return true;
    }

    std::optional<std::string> realPath(const std::string& path)
    {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (!resolved)
            return std::nullopt;
        std::string result(resolved);
        ::free(resolved);
        return result;
    }

    // A folder copied into itself would grow while it is copied.
    bool destinationInsideSource(const std::string& source, const std::string& destination)
    {
        auto src = realPath(source);
        auto dstParent = realPath(parentFolder(destination));
        if (!src || !dstParent)
            return false;
        if (*dstParent == *src)
            return true;
        std::string prefix = *src == "/" ? *src : *src + "/";
        return dstParent->compare(0, prefix.size(), prefix) == 0;
    }

    std::string randomSuffix()
    {
        static std::mutex mutex;
        static std::mt19937_64 engine { std::random_device {}() };
        std::lock_guard lock(mutex);
        static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        std::string suffix;
        for (int i = 0; i < 10; ++i)
            suffix += alphabet[engine() % (sizeof alphabet - 1)];
        return suffix;
    }

    void applyCreationAttributes(const std::string& path, const FileCreationAttributes* attributes)
    {
        if (!attributes)
            return;
        if (attributes->posixPermissions)
            ::chmod(path.c_str(), *attributes->posixPermissions & 07777);
        if (attributes->modificationDate) {
            timespec times[2] = { { 0, UTIME_OMIT }, toTimespec(*attributes->modificationDate) };
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
    }

}

std::string_view fileTypeName(FileType type)
{
    switch (type) {
    case FileType::Regular:
        return "NSFileTypeRegular";
    case FileType::Directory:
        return "NSFileTypeDirectory";
    case FileType::SymbolicLink:
        return "NSFileTypeSymbolicLink";
    case FileType::CharacterSpecial:
        return "NSFileTypeCharacterSpecial";
    case FileType::BlockSpecial:
        return "NSFileTypeBlockSpecial";
    case FileType::Socket:
        return "NSFileTypeSocket";
    case FileType::Unknown:
        break;
    }
    return "NSFileTypeUnknown";
}

NSFileManager& NSFileManager::defaultManager()
{
    static NSFileManager manager;
    return manager;
}

std::optional<std::vector<std::string>> NSFileManager::contentsOfDirectoryAtPath(const std::string& path, NSError* error,
    DirectoryEnumerationOptions options) const
{
    // O_DIRECTORY refuses a FIFO or device before anything could block on it.
    Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (fd.fd < 0) {
        fail(error, errno, path);
        return std::nullopt;
    }
    int code = 0;
    auto names = readNames(fd.fd, code);
    if (!names) {
        fail(error, code, path);
        return std::nullopt;
    }
    if (options == DirectoryEnumerationOptions::SkipsHiddenFiles)
        std::erase_if(*names, [](const std::string& name) { return name.starts_with('.'); });
    // The file system's own order is its hash order on Linux: a renamed file would jump.
    std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) { return nameBefore(a, b); });
    return names;
}

std::optional<std::vector<std::string>> NSFileManager::subpathsOfDirectoryAtPath(const std::string& path, NSError* error) const
{
    Fd root(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (root.fd < 0) {
        fail(error, errno, path);
        return std::nullopt;
    }
    std::vector<std::string> result;
    std::set<std::pair<dev_t, ino_t>> visited;
    struct stat rootStat { };
    if (::fstat(root.fd, &rootStat) == 0)
        visited.emplace(rootStat.st_dev, rootStat.st_ino);

    // Depth first; folder links are listed but never entered, and a folder met twice
    // (bind mounts) is not entered again.
    auto walk = [&](auto& self, int dirfd, const std::string& relative) -> bool {
        int code = 0;
        auto names = readNames(dirfd, code);
        if (!names)
            return relative.empty() ? fail(error, code, path) : true;
        for (const auto& name : *names) {
            std::string sub = relative.empty() ? name : relative + "/" + name;
            result.push_back(sub);
            struct stat st { };
            if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
                continue;
            if (!visited.emplace(st.st_dev, st.st_ino).second)
                continue;
            Fd child(::openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (child.fd >= 0)
                self(self, child.fd, sub);
        }
        return true;
    };
    if (!walk(walk, root.fd, ""))
        return std::nullopt;
    return result;
}

std::optional<FileAttributes> NSFileManager::attributesOfItemAtPath(const std::string& path, NSError* error) const
{
    struct statx sx { };
    if (::statx(AT_FDCWD, withoutTrailingSlashes(path).c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
            STATX_BASIC_STATS | STATX_BTIME, &sx)
        != 0) {
        fail(error, errno, path);
        return std::nullopt;
    }
    FileAttributes attributes;
    attributes.type = typeOfMode(sx.stx_mode);
    // Only a regular file's (or a link's own) length is a size; nothing else is ever read.
    if (attributes.type == FileType::Regular || attributes.type == FileType::SymbolicLink)
        attributes.size = static_cast<std::int64_t>(sx.stx_size);
    attributes.posixPermissions = static_cast<std::uint16_t>(sx.stx_mode & 07777);
    attributes.ownerAccountID = sx.stx_uid;
    attributes.groupOwnerAccountID = sx.stx_gid;
    attributes.ownerAccountName = accountName<passwd, uid_t>(sx.stx_uid, ::getpwuid_r, &passwd::pw_name);
    attributes.groupOwnerAccountName = accountName<group, gid_t>(sx.stx_gid, ::getgrgid_r, &group::gr_name);
    if (sx.stx_mask & STATX_BTIME) {
        attributes.creationDate = toTimePoint(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
        // Some file systems answer a zero birth time rather than none.
        if (sx.stx_btime.tv_sec != 0 || sx.stx_btime.tv_nsec != 0)
            attributes.birthDate = attributes.creationDate;
    } else
        attributes.creationDate = toTimePoint(sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec);
    attributes.modificationDate = toTimePoint(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    attributes.referenceCount = sx.stx_nlink;
    attributes.systemNumber = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    attributes.systemFileNumber = sx.stx_ino;
    return attributes;
}

bool NSFileManager::fileExistsAtPath(const std::string& path) const
{
    return fileExistsAtPath(path, nullptr);
}

bool NSFileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) const
{
    struct stat st { };
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        if (isDirectory)
            *isDirectory = false;
        return false;
    }
    if (isDirectory)
        *isDirectory = S_ISDIR(st.st_mode);
    return true;
}

bool NSFileManager::isReadableFileAtPath(const std::string& path) const
{
    return !path.empty() && ::access(path.c_str(), R_OK) == 0;
}

bool NSFileManager::isWritableFileAtPath(const std::string& path) const
{
    return !path.empty() && ::access(path.c_str(), W_OK) == 0;
}

bool NSFileManager::isExecutableFileAtPath(const std::string& path) const
{
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

bool NSFileManager::isDeletableFileAtPath(const std::string& path) const
{
    std::string item = withoutTrailingSlashes(path);
    if (item.empty() || item == "/")
        return false;
    struct stat itemStat { };
    if (::lstat(item.c_str(), &itemStat) != 0)
        return false;
    std::string parent = parentFolder(item);
    if (::access(parent.c_str(), W_OK | X_OK) != 0)
        return false;
    struct stat parentStat { };
    if (::stat(parent.c_str(), &parentStat) != 0)
        return false;
    if (parentStat.st_mode & S_ISVTX) {
        uid_t me = ::geteuid();
        return me == 0 || me == itemStat.st_uid || me == parentStat.st_uid;
    }
    return true;
}

bool NSFileManager::removeItemAtPath(const std::string& path, NSError* error, RemovalOptions options) const
{
    if (path.empty())
        return fail(error, ENOENT, path);
    std::string item = withoutTrailingSlashes(path);
    return removeAt(AT_FDCWD, item, item, error, options == RemovalOptions::OpensOwnFolders);
}

namespace {

    bool copyItem(const std::string& source, const std::string& destination, NSError* error, CopyContext& context)
    {
        auto paths = sourceAndDestination(source, destination, error);
        if (!paths)
            return false;
        auto& [src, dst] = *paths;
        struct stat st { };
        if (::lstat(src.c_str(), &st) != 0)
            return fail(error, errno, src);
        if (::lstat(dst.c_str(), &st) == 0)
            return fail(error, EEXIST, dst);
        if (destinationInsideSource(src, dst))
            return fail(error, EINVAL, dst);
        bool madeTop = false;
        if (copyAt(AT_FDCWD, src, AT_FDCWD, dst, src, dst, error, context, &madeTop))
            return true;
        // A half-made copy goes whole, its read-only folders too; an item someone else put
        // there stays.
        if (madeTop)
            removeAt(AT_FDCWD, dst, dst, nullptr, true);
        return false;
    }

}

bool NSFileManager::copyItemAtPath(const std::string& source, const std::string& destination, NSError* error) const
{
    CopyContext context;
    return copyItem(source, destination, error, context);
}

bool NSFileManager::moveItemAtPath(const std::string& source, const std::string& destination, NSError* error) const
{
    auto paths = sourceAndDestination(source, destination, error);
    if (!paths)
        return false;
    auto& [src, dst] = *paths;
    if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    int code = errno;
    if (code == EINVAL || code == ENOSYS) {
        // File systems without RENAME_NOREPLACE: test, then rename.
        struct stat st { };
        if (::lstat(dst.c_str(), &st) == 0)
            return fail(error, EEXIST, dst);
        if (::rename(src.c_str(), dst.c_str()) == 0)
            return true;
        code = errno;
    }
    if (code != EXDEV)
        return fail(error, code, src);
    // What mv keeps: owner where allowed, hard links inside the tree, attributes and holes.
    CopyContext context;
    context.keepsOwner = true;
    context.keepsHardLinks = true;
    if (!copyItem(src, dst, error, context))
        return false;
    NSError removal;
    if (removeItemAtPath(src, &removal))
        return true;
    if (error) {
        *error = removal;
        error->domain = NSFileManagerSourceLeftDomain;
    }
    return false;
}

bool NSFileManager::createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
    const FileCreationAttributes* attributes, NSError* error) const
{
    if (path.empty())
        return fail(error, ENOENT, path);
    std::string target = withoutTrailingSlashes(path);
    if (!withIntermediateDirectories) {
        if (::mkdir(target.c_str(), 0777) != 0)
            return fail(error, errno, target);
        applyCreationAttributes(target, attributes);
        return true;
    }
    std::size_t position = 0;
    for (;;) {
        position = target.find('/', position + 1);
        std::string prefix = position == std::string::npos ? target : target.substr(0, position);
        if (!prefix.empty() && prefix.back() != '/') {
            if (::mkdir(prefix.c_str(), 0777) == 0) {
                applyCreationAttributes(prefix, attributes);
            } else {
                int code = errno;
                struct stat st { };
                if (code != EEXIST || ::stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                    return fail(error, code == EEXIST ? ENOTDIR : code, prefix);
            }
        }
        if (position == std::string::npos)
            return true;
    }
}

bool NSFileManager::createFileAtPath(const std::string& path, const std::vector<std::uint8_t>& contents,
    const FileCreationAttributes* attributes) const
{
    if (path.empty())
        return false;
    std::string target = withoutTrailingSlashes(path);
    std::string folder = parentFolder(target);
    std::string name = target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = joinPath(folder, "." + name + "." + randomSuffix());
        // 0666 lets the process umask decide, as for any new file.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    Fd file(fd);
    if (!writeAll(file.fd, contents.data(), contents.size()) || ::fsync(file.fd) != 0 || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    applyCreationAttributes(target, attributes);
    return true;
}

std::optional<std::vector<std::uint8_t>> NSFileManager::contentsAtPath(const std::string& path) const
{
    if (path.empty())
        return std::nullopt;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused just below.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.fd < 0)
        return std::nullopt;
    struct stat st { };
    if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    std::vector<std::uint8_t> contents;
    contents.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.fd, buffer, sizeof buffer);
        if (n == 0)
            return contents;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        contents.insert(contents.end(), buffer, buffer + n);
    }
}

bool NSFileManager::createSymbolicLinkAtPath(const std::string& path, const std::string& destination, NSError* error) const
{
    if (::symlink(destination.c_str(), path.c_str()) != 0)
        return fail(error, errno, path);
    return true;
}

std::optional<std::string> NSFileManager::destinationOfSymbolicLinkAtPath(const std::string& path, NSError* error) const
{
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) {
        fail(error, errno, path);
        return std::nullopt;
    }
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::string NSFileManager::currentDirectoryPath() const
{
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd)
        return {};
    std::string result(cwd);
    ::free(cwd);
    return result;
}

}
