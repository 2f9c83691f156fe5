#include "model/ZipArchive.h"

#include "model/ZipCrypto.h"
#include "model/ZipInput.h"
#include "model/ZipNames.h"
#include "model/ZipStreams.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <syslog.h>
#include <unistd.h>

namespace vesk {

namespace {

    // Nested archives deeper than this stay as files; it also ends archives that contain themselves.
    constexpr int maximumNestingDepth = 8;
    // What nested archives may write in one unzip call: this many times the
    // outer archive's size, and at least the floor.
    constexpr std::uint64_t nestedBudgetFactor = 100;
    constexpr std::uint64_t nestedBudgetFloor = std::uint64_t(1) << 30;
    // Entries larger than this are written only where they leave room on the disk.
    constexpr std::uint64_t freeSpaceCheckAbove = std::uint64_t(64) << 20;
    // Unix, format version 3.0: readers take the permissions from the external attributes.
    constexpr uLong versionMadeBy = (3 << 8) | 30;
    constexpr uLong utf8NameFlag = 1 << 11;

    void zipLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
    void zipLog(const char* format, ...)
    {
        va_list arguments;
        va_start(arguments, format);
        vsyslog(LOG_USER | LOG_ERR, format, arguments);
        va_end(arguments);
    }

    std::string lowercaseExtension(const std::string& path)
    {
        std::string extension = platform::pathExtension(path);
        std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return extension;
    }

    ZipArchiveError makeError(int code, const char* description)
    {
        return ZipArchiveError { ZipArchiveErrorDomain, code, description };
    }

    time_t toTimeT(ZipDate date)
    {
        return std::chrono::system_clock::to_time_t(date);
    }

    bool setModificationTime(const std::string& path, time_t time)
    {
        struct timespec times[2] = { { 0, UTIME_OMIT }, { time, 0 } };
        return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
    }

    // Whether an entry of this many bytes may need ZIP64 sizes: deflate can
    // grow data a little, and encryption adds its header.
    bool needsZip64(std::uint64_t size)
    {
        return size + (size >> 12) + (size >> 14) + (size >> 25) + 13 + ZipCrypto::headerSize >= 0xFFFFFFFFu;
    }

    // The process's file-creation mask, read without changing it, as another
    // thread may be creating files meanwhile.
    mode_t creationMask()
    {
        mode_t mask = 022;
        int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return mask;
        char buffer[4096];
        ssize_t got = ::read(fd, buffer, sizeof buffer - 1);
        ::close(fd);
        if (got <= 0)
            return mask;
        buffer[got] = '\0';
        if (const char* line = std::strstr(buffer, "\nUmask:"))
            mask = static_cast<mode_t>(std::strtoul(line + 7, nullptr, 8)) & 0777;
        return mask;
    }

    // A fresh file beside the target, so that the target changes only by a rename.
    int openTemporaryBeside(const std::string& folder, const std::string& leaf, mode_t mode, std::string& temporaryPath)
    {
        static thread_local std::mt19937_64 random { std::random_device {}() };
        std::string stem(1, '.');
        stem.append(leaf, 0, 200);
        stem += ".vesk-";
        for (int attempt = 0; attempt < 16; ++attempt) {
            char suffix[17];
            std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
            temporaryPath = platform::joinPath(folder, stem + suffix);
            int fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
            if (fd >= 0 || errno != EEXIST)
                return fd;
        }
        return -1;
    }

    struct ExtractedPath {
        std::string path;
        time_t modificationDate;
        std::optional<mode_t> mode;
    };

    // What unzipping nested archives may write during one unzip call; once it
    // is spent, nested archives stay as files.
    struct NestedBudget {
        std::uint64_t limit;
        std::uint64_t used { 0 };
        bool spent { false };

        bool take(std::size_t bytes)
        {
            if (!spent && bytes <= limit - used) {
                used += bytes;
                return true;
            }
            spent = true;
            return false;
        }
    };

    struct UnzipRequest {
        const std::string& path;
        const std::string& destination;
        bool overwrite;
        const std::optional<std::string>& password;
        ZipArchiveError* error;
        ZipArchiveDelegate* delegate;
        const ZipProgressHandler& progressHandler;
        const ZipCompletionHandler& completionHandler;
        int depth;
        // Shared by the nested calls; the outermost call makes it.
        NestedBudget* budget;
        mode_t creationMask;
    };

    bool unzip(const UnzipRequest& request);

    void applyMode(int fd, mode_t mode)
    {
        if (::fchmod(fd, mode) != 0)
            zipLog("[ZipArchive] Failed to set attributes - whilst setting permissions");
    }

    // False when writing `size` bytes would leave less than a twentieth of the disk free.
    bool leavesRoom(const std::string& folder, std::uint64_t size)
    {
        struct statvfs disk;
        if (::statvfs(folder.c_str(), &disk) != 0)
            return true;
        std::uint64_t available = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
        std::uint64_t total = static_cast<std::uint64_t>(disk.f_blocks) * disk.f_frsize;
        return size <= available && available - size >= total / 20;
    }

    enum class EntryResult {
        written,
        skipped,
        failed,
    };

    bool readExactly(int fd, std::uint8_t* data, std::size_t length)
    {
        while (length > 0) {
            ssize_t got = ::read(fd, data, length);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            data += got;
            length -= static_cast<std::size_t>(got);
        }
        return true;
    }

    // Whether the file at `target` (not a link) holds exactly the entry's bytes.
    bool holdsEntry(const UnzipRequest& request, ZipInput& input, const ZipEntryRecord& entry, ZipEntryReader& reader,
        const std::string& target)
    {
        int fd = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        struct stat info;
        bool same = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) == entry.info.uncompressed_size;
        if (same) {
            std::uint64_t position = entry.dataOffset;
            ZipRawReader raw = [&](std::uint8_t* data, std::size_t length) {
                long got = input.readAt(position, data, length);
                position += got > 0 ? static_cast<std::uint64_t>(got) : 0;
                return got;
            };
            std::vector<std::uint8_t> mine;
            auto status = reader.read(raw, entry.info, request.password, [&](const std::uint8_t* data, std::size_t length) {
                mine.resize(length);
                return readExactly(fd, mine.data(), length) && std::memcmp(mine.data(), data, length) == 0;
            });
            std::uint8_t more;
            same = status == ZipReadStatus::ok && ::read(fd, &more, 1) == 0;
        }
        ::close(fd);
        return same;
    }

    // A new target is written in place and removed if its entry fails; an
    // existing one is written beside and renamed over only once its entry is
    // whole, so that a failed entry never damages it.
    EntryResult extractFile(const UnzipRequest& request, NestedBudget& budget, ZipInput& input, const ZipEntryRecord& entry,
        ZipEntryReader& reader, const std::string& folder, const std::string& leaf, const std::string& shownName, time_t date)
    {
        const unz_file_info64& info = entry.info;
        std::string target = platform::joinPath(folder, leaf);
        bool nested = lowercaseExtension(target) == "zip";
        std::optional<mode_t> mode;
        if ((info.external_fa >> 16) != 0)
            mode = static_cast<mode_t>((info.external_fa >> 16) & 0777);
        // A link entry holds its target as text: it becomes a plain file of that text, and the
        // link's 0777 must not make it executable.
        if (((info.external_fa >> 16) & S_IFMT) == S_IFLNK)
            mode = 0666 & ~request.creationMask;
        // A nested archive is unzipped before its mode applies, since the mode may forbid reading it.
        auto creationModeFor = [&](std::optional<mode_t> wanted) -> mode_t { return wanted ? *wanted | (nested ? 0600 : 0) : 0666; };
        mode_t creationMode = creationModeFor(mode);
        std::string temporaryPath;
        int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, creationMode);
        if (fd < 0 && errno == EEXIST) {
            if (!request.overwrite)
                return holdsEntry(request, input, entry, reader, target) ? EntryResult::written : EntryResult::skipped;
            // Without a mode of its own the file keeps that of the file it replaces.
            struct stat existing;
            if (!mode && ::lstat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
                mode = existing.st_mode & 0777;
            creationMode = creationModeFor(mode);
            fd = openTemporaryBeside(folder, leaf, creationMode, temporaryPath);
        }
        if (fd < 0) {
            zipLog("[ZipArchive] Cannot write \"%s\": %s", shownName.c_str(), std::strerror(errno));
            return EntryResult::failed;
        }
        const std::string& written = temporaryPath.empty() ? target : temporaryPath;

        ZipReadStatus status = ZipReadStatus::ok;
        const char* reason = nullptr;
        if (info.uncompressed_size > freeSpaceCheckAbove && !leavesRoom(folder, info.uncompressed_size)) {
            reason = "it would leave less than 5% of the disk free";
            status = ZipReadStatus::writeError;
        } else {
            std::uint64_t position = entry.dataOffset;
            ZipRawReader raw = [&](std::uint8_t* data, std::size_t length) {
                long got = input.readAt(position, data, length);
                position += got > 0 ? static_cast<std::uint64_t>(got) : 0;
                return got;
            };
            status = reader.read(raw, info, request.password, [&](const std::uint8_t* data, std::size_t length) {
                if (request.depth > 0 && !budget.take(length)) {
                    reason = "nested archives have unzipped too much already";
                    return false;
                }
                return platform::writeAll(fd, data, length);
            });
        }
        if (status == ZipReadStatus::ok) {
            struct timespec times[2] = { { 0, UTIME_OMIT }, { date, 0 } };
            if (::futimens(fd, times) != 0)
                zipLog("[ZipArchive] Failed to set attributes - whilst setting modification date");
        }
        bool needsMode = status == ZipReadStatus::ok && mode && *mode != (creationMode & ~request.creationMask);
        if (needsMode && !nested)
            applyMode(fd, *mode);
        int modeLater = needsMode && nested ? ::dup(fd) : -1;
        struct stat done { };
        if (status == ZipReadStatus::ok && nested && ::fstat(fd, &done) != 0)
            status = ZipReadStatus::writeError;
        if (::close(fd) != 0 && status == ZipReadStatus::ok)
            status = ZipReadStatus::writeError;
        if (status == ZipReadStatus::ok && !temporaryPath.empty() && ::rename(temporaryPath.c_str(), target.c_str()) != 0)
            status = ZipReadStatus::writeError;
        if (status != ZipReadStatus::ok) {
            zipLog("[ZipArchive] Failed to unzip \"%s\": %s", shownName.c_str(), reason ? reason : describe(status));
            ::unlink(written.c_str());
            if (modeLater >= 0)
                ::close(modeLater);
            return EntryResult::failed;
        }

        if (nested && request.depth >= maximumNestingDepth) {
            zipLog("[ZipArchive] Nested .zip file left as it is, too deep: %s", leaf.c_str());
        } else if (nested && budget.spent) {
            zipLog("[ZipArchive] Nested .zip file left as it is, too much unzipped already: %s", leaf.c_str());
        } else if (nested) {
            zipLog("Unzipping nested .zip file:  %s", leaf.c_str());
            static const ZipProgressHandler noProgress;
            static const ZipCompletionHandler noCompletion;
            UnzipRequest inner { target, folder, request.overwrite, request.password, nullptr, nullptr,
                noProgress, noCompletion, request.depth + 1, &budget, request.creationMask };
            // The nested archive may have replaced itself with an entry of its own name; keep that one.
            struct stat after;
            if (unzip(inner) && ::lstat(target.c_str(), &after) == 0 && after.st_ino == done.st_ino && after.st_dev == done.st_dev)
                ::unlink(target.c_str());
        }
        if (modeLater >= 0) {
            applyMode(modeLater, *mode);
            ::close(modeLater);
        }
        return EntryResult::written;
    }

    bool unzip(const UnzipRequest& request)
    {
        auto fail = [&](int code, const char* description) {
            ZipArchiveError error = makeError(code, description);
            if (request.error)
                *request.error = error;
            if (request.completionHandler)
                request.completionHandler(std::nullopt, false, error);
            return false;
        };

        ZipInput input;
        unzFile zip = input.open(request.path) ? input.openArchive() : nullptr;
        if (!zip)
            return fail(-1, "Failed to unzip file");

        std::uint64_t archiveSize = input.size();
        NestedBudget ownBudget { std::max(nestedBudgetFactor * archiveSize, nestedBudgetFloor) };
        NestedBudget& budget = request.budget ? *request.budget : ownBudget;
        unz_global_info64 globalInfo {};
        unzGetGlobalInfo64(zip, &globalInfo);
        int status = unzGoToFirstFile(zip);
        if (status != UNZ_OK) {
            unzClose(zip);
            return fail(-2, "Failed to open the first file in Zip.");
        }

        ZipArchiveDelegate* delegate = request.delegate;
        if (delegate) {
            delegate->zipArchiveWillUnzipArchiveAtPath(request.path, globalInfo);
            delegate->zipArchiveProgressEvent(0, archiveSize);
        }

        ZipDestination destination(request.destination);
        if (!destination.isUsable())
            zipLog("ZipArchive Error: cannot create \"%s\": %s", request.destination.c_str(), std::strerror(errno));
        ZipEntryReader reader;
        auto total = static_cast<std::int64_t>(globalInfo.number_entry);
        std::int64_t index = 0;
        std::uint64_t bytesHandled = 0;
        bool succeeded = true;
        bool cancelled = false;
        // Folders and the files left alone, dated again at the end.
        std::vector<ExtractedPath> extracted;
        ZipEntryRecord entry;

        while (status == UNZ_OK) {
            // Nested archives stop unpacking once their budget is spent.
            if (request.depth > 0 && budget.spent) {
                succeeded = false;
                break;
            }
            if (!input.openCurrentEntry(zip, entry)) {
                succeeded = false;
                break;
            }
            const unz_file_info64& info = entry.info;

            if (delegate) {
                if (auto answer = delegate->zipArchiveShouldUnzipFileAtIndex(index, total, request.path, info); answer && !*answer) {
                    succeeded = false;
                    cancelled = true;
                }
                delegate->zipArchiveWillUnzipFileAtIndex(index, total, request.path, info);
                bytesHandled += info.compressed_size;
                delegate->zipArchiveProgressEvent(bytesHandled, archiveSize);
            }

            std::string name = decodeZipEntryName(entry.rawName, info.version);
            if (zipEntrySeparatesWithBackslash(info.version))
                std::replace(name.begin(), name.end(), '\\', '/');
            bool isFolder = name.ends_with('/');
            // The extended timestamp is UTC; the DOS date is the local time of whoever made the archive.
            time_t date = entry.modificationTime ? *entry.modificationTime : toTimeT(ZipArchive::dateWithMicrosoftDOSFormat(static_cast<std::uint32_t>(info.dosDate)));

            // The delegate hears only of paths inside the destination.
            std::optional<std::string> target;
            bool skipped = false;
            auto components = safeZipEntryComponents(name);
            if (isFolder && info.uncompressed_size > 0) {
                // A folder would lose its bytes, and no file can take a name that ends in a slash.
                zipLog("[ZipArchive] Refused folder entry that holds data: %s", name.c_str());
                succeeded = false;
            } else if (!components) {
                zipLog("[ZipArchive] Refused entry outside the destination: %s", name.c_str());
                succeeded = false;
            } else if (components->empty()) {
                if (!isFolder) {
                    zipLog("[ZipArchive] Refused entry without a name");
                    succeeded = false;
                }
            } else {
                std::size_t folderCount = isFolder ? components->size() : components->size() - 1;
                std::string folder;
                int error = 0;
                auto made = destination.makeFolders(*components, folderCount, date, folder, error);
                if (made == ZipDestination::Result::outside) {
                    zipLog("[ZipArchive] Refused entry written through a link out of the destination: %s", name.c_str());
                    succeeded = false;
                } else {
                    std::string relative;
                    for (const auto& component : *components)
                        relative += (relative.empty() ? "" : "/") + component;
                    target = platform::stringByAppendingPathComponent(request.destination, relative);
                }
                if (made == ZipDestination::Result::failed) {
                    // A folder that cannot be made is missing as much as a file would be.
                    zipLog("ZipArchive Error: %s", std::strerror(error));
                    succeeded = false;
                } else if (made == ZipDestination::Result::ok && isFolder) {
                    // A folder that was there before keeps its date and mode.
                    if (destination.made(folder)) {
                        std::optional<mode_t> mode;
                        if ((info.external_fa >> 16) != 0)
                            mode = static_cast<mode_t>((info.external_fa >> 16) & 0777);
                        extracted.push_back({ folder, date, mode });
                    }
                } else if (made == ZipDestination::Result::ok) {
                    const std::string& leaf = components->back();
                    switch (extractFile(request, budget, input, entry, reader, folder, leaf, name, date)) {
                    case EntryResult::written:
                        break;
                    case EntryResult::skipped:
                        // Another item holds the name: it stays as it is, and the entry is missing.
                        zipLog("[ZipArchive] \"%s\" is left out: another item has its name", name.c_str());
                        skipped = true;
                        succeeded = false;
                        break;
                    case EntryResult::failed:
                        succeeded = false;
                        break;
                    }
                }
            }

            unzCloseCurrentFile(zip);
            status = unzGoToNextFile(zip);
            if (skipped)
                continue;
            if (delegate && !delegate->zipArchiveDidUnzipFileAtIndexTotalFilesArchivePathFileInformation(index, total, request.path, info) && target)
                delegate->zipArchiveDidUnzipFileAtIndexTotalFilesArchivePathUnzippedFilePath(index, total, request.path, *target);
            ++index;
            if (request.progressHandler)
                request.progressHandler(name, info, index, total);
        }
        unzClose(zip);

        // Files written into a folder moved its date; give it its entry's date again.
        // Folders that forbid writing get their modes once nothing more is written into them,
        // those inside first.
        std::sort(extracted.begin(), extracted.end(), [](const ExtractedPath& a, const ExtractedPath& b) { return a.path > b.path; });
        for (const auto& item : extracted) {
            if (!setModificationTime(item.path, item.modificationDate)) {
                int error = errno;
                zipLog("[ZipArchive] Set attributes failed for directory: %s.", item.path.c_str());
                zipLog("[ZipArchive] Error setting directory file modification date attribute: %s", std::strerror(error));
            }
            if (item.mode && ::chmod(item.path.c_str(), *item.mode) != 0)
                zipLog("[ZipArchive] Failed to set attributes - whilst setting permissions");
        }

        if (delegate) {
            if (succeeded)
                delegate->zipArchiveDidUnzipArchiveAtPath(request.path, globalInfo, request.destination);
            if (!cancelled)
                delegate->zipArchiveProgressEvent(archiveSize, archiveSize);
        }
        if (request.completionHandler)
            request.completionHandler(request.path, succeeded, std::nullopt);
        return succeeded;
    }

    ZipSource fileSource(int fd)
    {
        return ZipSource {
            [fd](std::uint8_t* buffer, std::size_t length) -> long {
                for (;;) {
                    ssize_t got = ::read(fd, buffer, length);
                    if (got < 0 && errno == EINTR)
                        continue;
                    return static_cast<long>(got);
                }
            },
            [fd] { return ::lseek(fd, 0, SEEK_SET) == 0; },
        };
    }

    ZipSource bytesSource(const std::uint8_t* data, std::size_t size)
    {
        auto offset = std::make_shared<std::size_t>(0);
        return ZipSource {
            [data, size, offset](std::uint8_t* buffer, std::size_t length) -> long {
                std::size_t count = std::min(length, size - *offset);
                if (count > 0)
                    std::memcpy(buffer, data + *offset, count);
                *offset += count;
                return static_cast<long>(count);
            },
            [offset] {
                *offset = 0;
                return true;
            },
        };
    }

    bool isAsciiOnly(const std::string& text)
    {
        return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    }

    // Copies every entry but the dropped ones, as raw data, into a new archive.
    bool copyArchiveWithout(const std::string& from, const std::string& to, const std::set<std::uint64_t>& dropped)
    {
        ZipInput input;
        unzFile in = input.open(from) ? input.openArchive() : nullptr;
        if (!in)
            return false;
        zipFile out = zipOpen64(to.c_str(), APPEND_STATUS_CREATE);
        if (!out) {
            unzClose(in);
            return false;
        }
        bool ok = true;
        ZipEntryRecord entry;
        std::string localExtra;
        std::vector<std::uint8_t> buffer(64 * 1024);
        std::uint64_t index = 0;
        for (int status = unzGoToFirstFile(in); status == UNZ_OK && ok; status = unzGoToNextFile(in), ++index) {
            if (dropped.count(index))
                continue;
            if (!input.openCurrentEntry(in, entry)) {
                ok = false;
                break;
            }
            const unz_file_info64& info = entry.info;
            zip_fileinfo fileInfo {};
            fileInfo.dosDate = info.dosDate;
            fileInfo.internal_fa = info.internal_fa;
            fileInfo.external_fa = info.external_fa;
            // The extra fields go along (the UTC time among them); minizip writes the ZIP64 ones anew.
            ok = input.readLocalExtra(in, entry, localExtra);
            localExtra = zipExtraFieldsWithoutZip64(localExtra);
            std::string centralExtra = zipExtraFieldsWithoutZip64(entry.centralExtra);
            ok = ok
                && zipOpenNewFileInZip4_64(out, entry.rawName.c_str(), &fileInfo, localExtra.data(), static_cast<uInt>(localExtra.size()),
                       centralExtra.data(), static_cast<uInt>(centralExtra.size()), nullptr, static_cast<int>(info.compression_method),
                       Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, info.version, info.flag,
                       needsZip64(std::max(info.uncompressed_size, info.compressed_size)))
                    == ZIP_OK;
            std::uint64_t at = entry.dataOffset;
            for (std::uint64_t left = info.compressed_size; ok && left > 0;) {
                long got = input.readAt(at, buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size())));
                ok = got > 0 && zipWriteInFileInZip(out, buffer.data(), static_cast<unsigned>(got)) == ZIP_OK;
                at += got > 0 ? static_cast<std::uint64_t>(got) : 0;
                left -= got > 0 ? static_cast<std::uint64_t>(got) : 0;
            }
            unzCloseCurrentFile(in);
            ok = zipCloseFileInZipRaw64(out, info.uncompressed_size, info.crc) == ZIP_OK && ok;
        }
        unzClose(in);
        ok = zipClose(out, nullptr) == ZIP_OK && ok;
        return ok;
    }

    ZipItem::Kind kindOf(const struct stat& info)
    {
        if (S_ISREG(info.st_mode))
            return ZipItem::Kind::file;
        if (S_ISDIR(info.st_mode))
            return ZipItem::Kind::folder;
        if (S_ISLNK(info.st_mode))
            return ZipItem::Kind::link;
        return ZipItem::Kind::other;
    }

    // Every item below `folder`, names sorted within each folder, each
    // folder before what it holds. Links are not followed, so the walk stays
    // inside the tree and a tree with a loop ends.
    void walkFolder(const std::string& folder, const std::string& name, std::vector<ZipItem>& items)
    {
        DIR* directory = ::opendir(folder.c_str());
        if (!directory) {
            // What it holds cannot be added: an item that cannot be added stands for it.
            items.push_back({ folder, name, ZipItem::Kind::other });
            return;
        }
        std::vector<std::string> names;
        while (dirent* entry = ::readdir(directory)) {
            std::string child = entry->d_name;
            if (child != "." && child != "..")
                names.push_back(std::move(child));
        }
        ::closedir(directory);
        std::sort(names.begin(), names.end());
        for (const auto& child : names) {
            std::string full = platform::joinPath(folder, child);
            std::string childName = name.empty() ? child : name + "/" + child;
            struct stat info;
            auto kind = ::lstat(full.c_str(), &info) == 0 ? kindOf(info) : ZipItem::Kind::other;
            items.push_back({ full, childName, kind });
            if (kind == ZipItem::Kind::folder)
                walkFolder(full, childName, items);
        }
    }

    std::string folderEntryName(const std::string& name)
    {
        return name.ends_with('/') ? name : name + "/";
    }

}

std::vector<ZipItem> zipItemsOf(const std::vector<std::string>& paths)
{
    std::vector<ZipItem> items;
    for (const auto& path : paths) {
        std::string name = platform::lastPathComponent(path);
        struct stat info;
        auto kind = ::lstat(path.c_str(), &info) == 0 ? kindOf(info) : ZipItem::Kind::other;
        items.push_back({ path, name, kind });
        if (kind == ZipItem::Kind::folder)
            walkFolder(path, name, items);
    }
    return items;
}

bool ZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination)
{
    return unzipFileAtPath(path, destination, true, std::nullopt, nullptr, nullptr, nullptr, nullptr);
}

bool ZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, ZipArchiveDelegate* delegate)
{
    return unzipFileAtPath(path, destination, true, std::nullopt, nullptr, delegate, nullptr, nullptr);
}

bool ZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
    const std::optional<std::string>& password, ZipArchiveError* error)
{
    return unzipFileAtPath(path, destination, overwrite, password, error, nullptr, nullptr, nullptr);
}

bool ZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
    const std::optional<std::string>& password, ZipArchiveError* error, ZipArchiveDelegate* delegate)
{
    return unzipFileAtPath(path, destination, overwrite, password, error, delegate, nullptr, nullptr);
}

bool ZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
    const std::optional<std::string>& password, ZipProgressHandler progressHandler, ZipCompletionHandler completionHandler)
{
    return unzipFileAtPath(path, destination, overwrite, password, nullptr, nullptr, std::move(progressHandler), std::move(completionHandler));
}

bool ZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination,
    ZipProgressHandler progressHandler, ZipCompletionHandler completionHandler)
{
    return unzipFileAtPath(path, destination, true, std::nullopt, nullptr, nullptr, std::move(progressHandler), std::move(completionHandler));
}

bool ZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
    const std::optional<std::string>& password, ZipArchiveError* error, ZipArchiveDelegate* delegate,
    ZipProgressHandler progressHandler, ZipCompletionHandler completionHandler)
{
    std::optional<std::string> effectivePassword = password && !password->empty() ? password : std::nullopt;
    return unzip({ path, destination, overwrite, effectivePassword, error, delegate, progressHandler, completionHandler, 0, nullptr, creationMask() });
}

bool ZipArchive::createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths,
    const std::optional<std::string>& password)
{
    return createZipFileFromItems(path, zipItemsOf(paths), password);
}

bool ZipArchive::createZipFileFromItems(const std::string& path, const std::vector<ZipItem>& items,
    const std::optional<std::string>& password)
{
    ZipArchive archive(path, password);
    if (!archive.open())
        return false;
    bool whole = true;
    for (const auto& item : items) {
        bool added = false;
        switch (item.kind) {
        case ZipItem::Kind::file:
            added = archive.writeFileAtPath(item.path, item.name);
            break;
        case ZipItem::Kind::folder:
            added = archive.writeFolderAtPath(item.path, item.name);
            break;
        case ZipItem::Kind::link:
            added = archive.writeLinkAtPath(item.path, item.name);
            break;
        case ZipItem::Kind::other:
            zipLog("[ZipArchive] Cannot add \"%s\": no file, folder or link", item.path.c_str());
            break;
        }
        whole = added && whole;
    }
    return archive.close() && whole;
}

bool ZipArchive::createZipFileAtPath(const std::string& path, const std::string& directoryPath,
    bool keepParentDirectory, const std::optional<std::string>& password)
{
    ZipArchive archive(path, password);
    if (!archive.open())
        return false;
    std::string prefix = keepParentDirectory ? platform::lastPathComponent(directoryPath) + "/" : std::string();
    std::vector<ZipItem> items;
    walkFolder(directoryPath, {}, items);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ZipItem& item = items[i];
        if (item.kind == ZipItem::Kind::file) {
            archive.writeFileAtPath(item.path, prefix + item.name);
        } else if (item.kind == ZipItem::Kind::link) {
            archive.writeLinkAtPath(item.path, prefix + item.name);
        } else if (item.kind == ZipItem::Kind::folder && (i + 1 == items.size() || !items[i + 1].name.starts_with(item.name + "/"))) {
            // An empty folder survives in the archive as a zero-length placeholder file.
            zip_fileinfo info {};
            auto now = std::chrono::system_clock::now();
            archive.zipInformation(&info, now);
            info.external_fa = static_cast<uLong>(0100644) << 16;
            ZipSource empty = bytesSource(nullptr, 0);
            archive.writeEntry(prefix + item.name + "/.DS_Store", info, Z_DEFAULT_COMPRESSION, empty, 0, true, toTimeT(now));
        }
    }
    return archive.close();
}

ZipArchive::ZipArchive(std::string path, std::optional<std::string> password)
    : m_path(std::move(path))
    , m_password(password && !password->empty() ? std::move(password) : std::nullopt)
{
}

ZipArchive::~ZipArchive()
{
    if (m_zip)
        close();
}

bool ZipArchive::open()
{
    if (m_zip)
        return false;
    m_zip = zipOpen64(m_path.c_str(), APPEND_STATUS_CREATE);
    if (!m_zip)
        return false;
    struct stat info;
    if (::stat(m_path.c_str(), &info) == 0) {
        m_device = info.st_dev;
        m_inode = info.st_ino;
    }
    m_writer = std::make_unique<ZipEntryWriter>();
    return true;
}

bool ZipArchive::writeFile(const std::string& path)
{
    return writeFileAtPath(path, std::nullopt);
}

bool ZipArchive::writeFileAtPath(const std::string& path, const std::optional<std::string>& fileName)
{
    if (!m_zip)
        return false;
    // Non-blocking, so that a FIFO in the list cannot stall the run.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info;
    bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && !(info.st_dev == m_device && info.st_ino == m_inode);
    if (usable)
        usable = ::fcntl(fd, F_SETFL, 0) == 0;
    if (!usable) {
        ::close(fd);
        return false;
    }
    zip_fileinfo zipInfo {};
    zipInformation(&zipInfo, std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec));
    zipInfo.external_fa = static_cast<uLong>((info.st_mode & 07777) | 0100000) << 16;
    ZipSource source = fileSource(fd);
    bool written = writeEntry(fileName ? *fileName : platform::lastPathComponent(path), zipInfo, Z_DEFAULT_COMPRESSION, source,
        static_cast<std::uint64_t>(info.st_size), true, info.st_mtim.tv_sec);
    ::close(fd);
    return written;
}

bool ZipArchive::writeFolderAtPath(const std::string& path, const std::string& folderName)
{
    if (!m_zip)
        return false;
    zip_fileinfo zipInfo {};
    struct stat info;
    time_t modified = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    if (::stat(path.c_str(), &info) == 0) {
        modified = info.st_mtim.tv_sec;
        zipInfo.external_fa = static_cast<uLong>((info.st_mode & 07777) | 040000) << 16;
    }
    zipInformation(&zipInfo, std::chrono::system_clock::from_time_t(modified));
    ZipSource empty = bytesSource(nullptr, 0);
    return writeEntry(folderEntryName(folderName), zipInfo, zipStoredLevel, empty, 0, false, modified);
}

bool ZipArchive::writeLinkAtPath(const std::string& path, const std::string& entryName)
{
    if (!m_zip)
        return false;
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return false;
    std::vector<char> target(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) + 1);
    ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    // A link that changed meanwhile would be cut short.
    if (length < 0 || static_cast<std::size_t>(length) >= target.size())
        return false;
    zip_fileinfo zipInfo {};
    zipInformation(&zipInfo, std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec));
    zipInfo.external_fa = static_cast<uLong>((info.st_mode & 07777) | 0120000) << 16;
    ZipSource source = bytesSource(reinterpret_cast<const std::uint8_t*>(target.data()), static_cast<std::size_t>(length));
    return writeEntry(entryName, zipInfo, zipStoredLevel, source, static_cast<std::uint64_t>(length), true, info.st_mtim.tv_sec);
}

bool ZipArchive::writeData(const std::vector<std::uint8_t>& data, const std::string& fileName)
{
    if (!m_zip)
        return false;
    zip_fileinfo zipInfo {};
    zipInformation(&zipInfo, std::chrono::system_clock::now());
    // A regular file with the mode a new file gets.
    zipInfo.external_fa = static_cast<uLong>(0100000 | (0666 & ~creationMask())) << 16;
    ZipSource source = bytesSource(data.data(), data.size());
    return writeEntry(fileName, zipInfo, Z_DEFAULT_COMPRESSION, source, data.size(), true,
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

bool ZipArchive::writeEntry(const std::string& name, const zip_fileinfo& info, int level, ZipSource& source,
    std::uint64_t sizeHint, bool encrypt, time_t modificationTime)
{
    // Extraction would let the later of two entries of one name replace or lose the earlier.
    if (!m_names.insert(name).second) {
        zipLog("[ZipArchive] \"%s\" is already in the archive; the second one is left out", name.c_str());
        return false;
    }
    std::optional<std::string> key = encrypt ? m_password : std::nullopt;
    std::uint32_t expectedCrc = 0;
    std::vector<std::uint8_t> scratch;
    if (key) {
        scratch.resize(64 * 1024);
        auto crc = ZipEntryWriter::crcOf(source, scratch);
        if (!crc) {
            zipLog("[ZipArchive] Cannot read \"%s\"", name.c_str());
            return false;
        }
        expectedCrc = *crc;
    }
    // Names that are not UTF-8 go as their bytes, unmarked, as Info-ZIP writes them on Unix.
    uLong flags = (key ? 1 : 0) | (!isAsciiOnly(name) && platform::isValidUTF8(name) ? utf8NameFlag : 0);
    // The modification time in UTC, which readers prefer to the local DOS date: unsigned
    // seconds, up to 2106. Readers take those past January 2038 since the DOS date agrees.
    char timestamp[9] = { 0x55, 0x54, 5, 0, 1 };
    bool stamped = modificationTime >= 0 && static_cast<std::uint64_t>(modificationTime) <= UINT32_MAX;
    for (int i = 0; i < 4; ++i)
        timestamp[5 + i] = static_cast<char>((static_cast<std::uint32_t>(modificationTime) >> (8 * i)) & 0xFF);
    uInt timestampSize = stamped ? sizeof timestamp : 0;
    int opened = zipOpenNewFileInZip4_64(m_zip, name.c_str(), &info, stamped ? timestamp : nullptr, timestampSize,
        stamped ? timestamp : nullptr, timestampSize, nullptr, level == zipStoredLevel ? 0 : Z_DEFLATED, level == zipStoredLevel ? 0 : level, 1,
        -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, versionMadeBy, flags, needsZip64(sizeHint));
    if (opened != ZIP_OK)
        return false;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    ZipWriteStatus status = m_writer->write(m_zip, level, source, key, expectedCrc, crc, size);
    if (status == ZipWriteStatus::ok && key && crc != expectedCrc)
        status = ZipWriteStatus::sourceError;
    int closed = zipCloseFileInZipRaw64(m_zip, size, crc);
    std::uint64_t index = m_entries++;
    if (status != ZipWriteStatus::ok || closed != ZIP_OK) {
        // The entry is already in the archive and cannot be taken back here.
        zipLog("[ZipArchive] Cannot read \"%s\" whole; it is left out", name.c_str());
        m_dropped.insert(index);
        return false;
    }
    return true;
}

bool ZipArchive::close()
{
    if (!m_zip)
        return true;
    bool closed = zipClose(m_zip, nullptr) == ZIP_OK;
    m_zip = nullptr;
    m_writer.reset();
    // A write error or an archive still holding a cut-off entry must not pass for success.
    if (closed && !m_dropped.empty())
        closed = dropEntries();
    return closed;
}

bool ZipArchive::dropEntries()
{
    std::string temporaryPath;
    int fd = openTemporaryBeside(platform::parentFolder(m_path), platform::lastPathComponent(m_path), 0666, temporaryPath);
    if (fd < 0)
        return false;
    ::close(fd);
    bool copied = copyArchiveWithout(m_path, temporaryPath, m_dropped) && ::rename(temporaryPath.c_str(), m_path.c_str()) == 0;
    if (!copied) {
        zipLog("[ZipArchive] Failed to remove unreadable entries from %s", m_path.c_str());
        ::unlink(temporaryPath.c_str());
    }
    return copied;
}

void ZipArchive::zipInformation(zip_fileinfo* zipInfo, ZipDate date)
{
    time_t time = toTimeT(date);
    struct tm local { };
    ::localtime_r(&time, &local);
    int year = local.tm_year + 1900;
    if (year < 1980) {
        local = {};
        local.tm_mday = 1;
        year = 1980;
    } else if (year > 2107) {
        local = {};
        local.tm_sec = 58;
        local.tm_min = 59;
        local.tm_hour = 23;
        local.tm_mday = 31;
        local.tm_mon = 11;
        year = 2107;
    }
    zipInfo->tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
    zipInfo->tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    zipInfo->tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    zipInfo->tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    zipInfo->tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    zipInfo->tmz_date.tm_year = static_cast<uInt>(year);
}

ZipDate ZipArchive::dateWithMicrosoftDOSFormat(std::uint32_t msdosDateTime)
{
    struct tm components { };
    components.tm_year = static_cast<int>((msdosDateTime >> 25) & 0x7f) + 1980 - 1900;
    components.tm_mon = static_cast<int>((msdosDateTime >> 21) & 0x0f) - 1;
    components.tm_mday = static_cast<int>((msdosDateTime >> 16) & 0x1f);
    components.tm_hour = static_cast<int>((msdosDateTime >> 11) & 0x1f);
    components.tm_min = static_cast<int>((msdosDateTime >> 5) & 0x3f);
    components.tm_sec = static_cast<int>(msdosDateTime & 0x1f) * 2;
    components.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(::mktime(&components));
}

}
