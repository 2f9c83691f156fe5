#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <minizip/unzip.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace vesk {

// An entry as the central directory describes it, with the sizes a ZIP64
// extra field holds filled in, and where its raw data start.
struct ZipEntryRecord {
    unz_file_info64 info {};
    std::string rawName;
    // The extra fields of its central directory record, as they stand.
    std::string centralExtra;
    std::uint64_t dataOffset { 0 };
    // The modification time of an extended timestamp field (UTC), when the entry has one.
    std::optional<time_t> modificationTime;
};

// Extra fields as they stand but for ZIP64 ones, which a writer makes anew
// for the sizes it records.
std::string zipExtraFieldsWithoutZip64(std::string_view extra);

// An archive opened for reading. minizip walks the central directory through
// it, and entry data are read from it directly. Reads come from two cached
// windows, as the directory and the data usually lie far apart, so that a
// walk over many small entries costs one read per window and no seeks.
class ZipInput {
public:
    ZipInput() = default;
    ~ZipInput();
    ZipInput(const ZipInput&) = delete;
    ZipInput& operator=(const ZipInput&) = delete;

    // False when the path is no regular file that can be read.
    bool open(const std::string& path);
    std::uint64_t size() const { return static_cast<std::uint64_t>(m_info.st_size); }
    const struct stat& info() const { return m_info; }

    // minizip's handle on the opened archive, closed with unzClose before
    // this goes; none when it is no archive.
    unzFile openArchive();

    // Describes and opens the current entry of `zip` raw (close it with
    // unzCloseCurrentFile). False when it can't be described or opened.
    bool openCurrentEntry(unzFile zip, ZipEntryRecord& entry);

    // The extra fields of the local header of the entry opened last.
    bool readLocalExtra(unzFile zip, const ZipEntryRecord& entry, std::string& extra);

    // Up to `length` bytes at `offset`: the count, 0 at the end, -1 on error.
    long readAt(std::uint64_t offset, std::uint8_t* data, std::size_t length);

private:
    struct Window {
        std::uint64_t start { 0 };
        std::size_t length { 0 };
        std::uint64_t lastUse { 0 };
        std::unique_ptr<std::uint8_t[]> bytes;
    };

    static voidpf openStream(voidpf opaque, const void* filename, int mode);
    static uLong readStream(voidpf opaque, voidpf stream, void* buffer, uLong size);
    static uLong writeStream(voidpf opaque, voidpf stream, const void* buffer, uLong size);
    static ZPOS64_T tellStream(voidpf opaque, voidpf stream);
    static long seekStream(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
    static int closeStream(voidpf opaque, voidpf stream);
    static int errorStream(voidpf opaque, voidpf stream);

    int m_fd { -1 };
    struct stat m_info { };
    Window m_windows[2];
    std::uint64_t m_clock { 0 };
    // minizip's position, and what is added to it while minizip is sent
    // to a local header that only a ZIP64 field locates.
    std::uint64_t m_position { 0 };
    std::uint64_t m_shift { 0 };
    bool m_failed { false };
    std::vector<char> m_name;
    std::vector<char> m_extra;
};

}
