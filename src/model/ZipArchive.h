#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vesk {

using ZipDate = std::chrono::system_clock::time_point;

inline constexpr const char* ZipArchiveErrorDomain = "ZipArchiveErrorDomain";

struct ZipArchiveError {
    std::string domain;
    int code { 0 };
    std::string localizedDescription;
};

// Receives the archive path (none when it could not be opened), whether
// every entry was extracted, and the error of an archive that failed to open.
using ZipCompletionHandler = std::function<void(const std::optional<std::string>& path, bool succeeded,
    const std::optional<ZipArchiveError>& error)>;
// Called after each entry with its name, its record, the entries done so far and the total.
using ZipProgressHandler = std::function<void(const std::string& entryName, const unz_file_info64& fileInfo,
    std::int64_t entryNumber, std::int64_t total)>;

// Every method is optional: the defaults answer false (or none) for "not implemented".
class ZipArchiveDelegate {
public:
    virtual ~ZipArchiveDelegate() = default;

    virtual bool zipArchiveWillUnzipArchiveAtPath(const std::string&, const unz_global_info64&) { return false; }
    virtual bool zipArchiveDidUnzipArchiveAtPath(const std::string&, const unz_global_info64&, const std::string&) { return false; }
    virtual std::optional<bool> zipArchiveShouldUnzipFileAtIndex(std::int64_t, std::int64_t, const std::string&, const unz_file_info64&) { return std::nullopt; }
    virtual bool zipArchiveWillUnzipFileAtIndex(std::int64_t, std::int64_t, const std::string&, const unz_file_info64&) { return false; }
    virtual bool zipArchiveDidUnzipFileAtIndexTotalFilesArchivePathFileInformation(std::int64_t, std::int64_t, const std::string&, const unz_file_info64&) { return false; }
    virtual bool zipArchiveDidUnzipFileAtIndexTotalFilesArchivePathUnzippedFilePath(std::int64_t, std::int64_t, const std::string&, const std::string&) { return false; }
    virtual bool zipArchiveProgressEvent(std::uint64_t, std::uint64_t) { return false; }
};

class ZipEntryWriter;
struct ZipSource;

// One entry that zipping a selection writes: the item on disk and its name in the archive.
struct ZipItem {
    enum class Kind {
        file,
        folder,
        link,
        // Missing, nothing an archive can hold (a FIFO, a socket, a device), or what a
        // folder holds when it cannot be listed: it cannot be added.
        other,
    };
    std::string path;
    std::string name;
    Kind kind { Kind::other };
};

// The entries of a selection, in order: a file under its last path
// component, a folder under its name with an entry for itself and for
// everything below it, names sorted within each folder. Links are never
// followed: each one is an entry of its own.
std::vector<ZipItem> zipItemsOf(const std::vector<std::string>& paths);

class ZipArchive {
public:
    // Unzip family: each forwards to the full form; overwrite defaults to
    // true and the password to none.
    static bool unzipFileAtPath(const std::string& path, const std::string& destination);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, ZipArchiveDelegate* delegate);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
        const std::optional<std::string>& password, ZipArchiveError* error);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
        const std::optional<std::string>& password, ZipArchiveError* error, ZipArchiveDelegate* delegate);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
        const std::optional<std::string>& password, ZipProgressHandler progressHandler, ZipCompletionHandler completionHandler);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination,
        ZipProgressHandler progressHandler, ZipCompletionHandler completionHandler);
    // True when every entry was read cleanly and written, and no delegate refused one.
    // Without overwrite, an entry whose name an item with other contents holds is left
    // out (which makes the answer false); a file that holds its bytes already counts as
    // written. Folders made here get their entries' modes and dates at the end; folders
    // that were there keep theirs.
    // Nested archives are unzipped in place up to 8 deep, until what they wrote
    // passes 100 times the archive's size (at least 1 GiB); past that they stay
    // files. The delegate hears only of paths inside the destination.
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
        const std::optional<std::string>& password, ZipArchiveError* error, ZipArchiveDelegate* delegate,
        ZipProgressHandler progressHandler, ZipCompletionHandler completionHandler);

    // The entries of zipItemsOf(paths). False when the archive cannot be
    // created or finished, or when an item cannot be added whole (it is left
    // out); an archive never holds two entries of one name.
    static bool createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths,
        const std::optional<std::string>& password = std::nullopt);
    static bool createZipFileFromItems(const std::string& path, const std::vector<ZipItem>& items,
        const std::optional<std::string>& password = std::nullopt);
    static bool createZipFileAtPath(const std::string& path, const std::string& directoryPath,
        bool keepParentDirectory = false, const std::optional<std::string>& password = std::nullopt);

    // Opens nothing; entries are encrypted when a password is given.
    explicit ZipArchive(std::string path, std::optional<std::string> password = std::nullopt);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Creates the archive anew, replacing a file at the path.
    bool open();
    bool writeFile(const std::string& path);
    // True when the file was read whole into an entry.
    bool writeFileAtPath(const std::string& path, const std::optional<std::string>& fileName);
    bool writeFolderAtPath(const std::string& path, const std::string& folderName);
    // The link itself, as Info-ZIP stores one: its target as the content, its type in the mode.
    bool writeLinkAtPath(const std::string& path, const std::string& entryName);
    // Dated now; false when the archive is not open.
    bool writeData(const std::vector<std::uint8_t>& data, const std::string& fileName);
    // Writes the central directory; false when the archive could not be finished.
    bool close();

    // Local calendar fields of the date, clamped to what a DOS date can hold.
    void zipInformation(zip_fileinfo* zipInfo, ZipDate date);
    // The DOS date and time as local time.
    static ZipDate dateWithMicrosoftDOSFormat(std::uint32_t msdosDateTime);

private:
    // At zipStoredLevel the bytes are stored as they are, not deflated.
    bool writeEntry(const std::string& name, const zip_fileinfo& info, int level, ZipSource& source,
        std::uint64_t sizeHint, bool encrypt, time_t modificationTime);
    bool dropEntries();

    std::string m_path;
    zipFile m_zip { nullptr };
    std::optional<std::string> m_password;
    dev_t m_device { 0 };
    ino_t m_inode { 0 };
    std::uint64_t m_entries { 0 };
    // Entries whose source failed part-way; close() rewrites the archive without them.
    std::set<std::uint64_t> m_dropped;
    std::set<std::string> m_names;
    std::unique_ptr<ZipEntryWriter> m_writer;
};

}
