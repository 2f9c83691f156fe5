#include "model/ZipInput.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace vesk {

namespace {

    constexpr std::size_t windowSize = 64 * 1024;
    // A 32-bit size or offset of this value stands for one in the ZIP64 extra field.
    constexpr std::uint64_t zip64Marker = 0xFFFFFFFFu;
    constexpr unsigned zip64ExtraID = 0x0001;
    constexpr unsigned extendedTimestampID = 0x5455;

    std::uint64_t littleEndian(const char* bytes, int count)
    {
        std::uint64_t value = 0;
        for (int i = count - 1; i >= 0; --i)
            value = value << 8 | static_cast<std::uint8_t>(bytes[i]);
        return value;
    }

    // Calls `visit` with the kind, the whole field and its data of each extra
    // field, in order, while it answers true; a field cut short ends the walk.
    template<typename Visit>
    void walkExtraFields(const char* extra, std::size_t length, Visit visit)
    {
        for (std::size_t at = 0; at + 4 <= length;) {
            auto id = littleEndian(extra + at, 2);
            auto size = static_cast<std::size_t>(littleEndian(extra + at + 2, 2));
            std::string_view whole(extra + at, 4 + size);
            at += 4 + size;
            if (at > length || !visit(id, whole, whole.substr(4)))
                break;
        }
    }

    // The data of the first extra field of the kind, when the extra
    // fields hold one whole.
    std::optional<std::string_view> extraField(const char* extra, std::size_t length, std::uint64_t kind)
    {
        std::optional<std::string_view> found;
        walkExtraFields(extra, length, [&](std::uint64_t id, std::string_view, std::string_view data) {
            if (id == kind)
                found = data;
            return !found;
        });
        return found;
    }

    // Replaces the sizes recorded as 0xFFFFFFFF by those of the ZIP64 extra
    // field, which lists them in the order uncompressed, compressed, local
    // header offset. Answers that offset when the field holds it as well.
    std::optional<std::uint64_t> applyZip64Extra(unz_file_info64& info, const char* extra, std::size_t length)
    {
        auto field = extraField(extra, length, zip64ExtraID);
        if (!field)
            return std::nullopt;
        std::size_t used = 0;
        for (ZPOS64_T* size : { &info.uncompressed_size, &info.compressed_size }) {
            if (*size == zip64Marker && used + 8 <= field->size()) {
                *size = littleEndian(field->data() + used, 8);
                used += 8;
            }
        }
        if (used + 8 <= field->size())
            return littleEndian(field->data() + used, 8);
        return std::nullopt;
    }

    // The modification time of the extended timestamp field: flags, then
    // the times the flags name, modification first, as 32-bit seconds. With
    // the top bit set they are unsigned (up to 2106) or, from makers that
    // wrote times before 1970, negative: the DOS date tells which, as
    // Info-ZIP decides. Past January 18, 2038 it is the former; at its very
    // first value (January 1, 1980) it is the latter; otherwise the field
    // can't be read and the DOS date stands.
    std::optional<time_t> extendedTimestamp(const char* extra, std::size_t length, std::uint64_t dosDate)
    {
        constexpr std::uint64_t dos1980January1 = 0x00210000;
        constexpr std::uint64_t dos2038January18 = 0x74320000;
        auto field = extraField(extra, length, extendedTimestampID);
        if (!field || field->size() < 5 || !((*field)[0] & 1))
            return std::nullopt;
        auto seconds = static_cast<std::uint32_t>(littleEndian(field->data() + 1, 4));
        if (seconds <= INT32_MAX || dosDate >= dos2038January18)
            return static_cast<time_t>(seconds);
        if (dosDate == dos1980January1)
            return static_cast<time_t>(static_cast<std::int32_t>(seconds));
        return std::nullopt;
    }

}

std::string zipExtraFieldsWithoutZip64(std::string_view extra)
{
    std::string kept;
    walkExtraFields(extra.data(), extra.size(), [&](std::uint64_t id, std::string_view whole, std::string_view) {
        if (id != zip64ExtraID)
            kept += whole;
        return true;
    });
    return kept;
}

ZipInput::~ZipInput()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ZipInput::open(const std::string& path)
{
    // Non-blocking, so that a FIFO given as the archive cannot stall the open.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        return false;
    if (::fstat(m_fd, &m_info) != 0 || !S_ISREG(m_info.st_mode) || ::fcntl(m_fd, F_SETFL, 0) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_name.resize(256);
    m_extra.resize(256);
    return true;
}

unzFile ZipInput::openArchive()
{
    if (m_fd < 0)
        return nullptr;
    zlib_filefunc64_def functions { openStream, readStream, writeStream, tellStream, seekStream, closeStream, errorStream, this };
    return unzOpen2_64("", &functions);
}

bool ZipInput::openCurrentEntry(unzFile zip, ZipEntryRecord& entry)
{
    auto describe = [&] {
        entry.info = {};
        return unzGetCurrentFileInfo64(zip, &entry.info, m_name.data(), m_name.size(), m_extra.data(), m_extra.size(), nullptr, 0) == UNZ_OK;
    };
    if (!describe())
        return false;
    if (entry.info.size_filename > m_name.size() || entry.info.size_file_extra > m_extra.size()) {
        m_name.resize(std::max<std::size_t>(m_name.size(), entry.info.size_filename));
        m_extra.resize(std::max<std::size_t>(m_extra.size(), entry.info.size_file_extra));
        if (!describe())
            return false;
    }
    entry.rawName.assign(m_name.data(), entry.info.size_filename);
    entry.centralExtra.assign(m_extra.data(), entry.info.size_file_extra);
    auto localHeader = applyZip64Extra(entry.info, m_extra.data(), entry.info.size_file_extra);
    entry.modificationTime = extendedTimestamp(m_extra.data(), entry.info.size_file_extra, entry.info.dosDate);

    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(zip, &method, &level, 1) == UNZ_OK) {
        entry.dataOffset = unzGetCurrentFileZStreamPos64(zip);
        return true;
    }
    if (!localHeader)
        return false;
    // minizip sought the local header at the 32-bit field's marker value;
    // shifted, its reads land where the ZIP64 field says, wrapping around
    // when that lies below the marker.
    m_shift = *localHeader - zip64Marker;
    bool opened = unzOpenCurrentFile2(zip, &method, &level, 1) == UNZ_OK;
    if (opened)
        entry.dataOffset = unzGetCurrentFileZStreamPos64(zip) + m_shift;
    m_shift = 0;
    return opened;
}

bool ZipInput::readLocalExtra(unzFile zip, const ZipEntryRecord& entry, std::string& extra)
{
    // The local header's extra fields end where the entry's data begin.
    int size = unzGetLocalExtrafield(zip, nullptr, 0);
    if (size < 0 || static_cast<std::uint64_t>(size) > entry.dataOffset)
        return false;
    extra.resize(static_cast<std::size_t>(size));
    return size == 0 || readAt(entry.dataOffset - static_cast<std::uint64_t>(size), reinterpret_cast<std::uint8_t*>(extra.data()), extra.size()) == size;
}

long ZipInput::readAt(std::uint64_t offset, std::uint8_t* data, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        Window* window = nullptr;
        for (auto& candidate : m_windows) {
            if (candidate.length > 0 && offset >= candidate.start && offset - candidate.start < candidate.length)
                window = &candidate;
        }
        if (!window && length - done >= windowSize) {
            ssize_t got = ::pread(m_fd, data + done, length - done, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return got < 0 && done == 0 ? -1 : static_cast<long>(done);
            done += static_cast<std::size_t>(got);
            offset += static_cast<std::uint64_t>(got);
            continue;
        }
        if (!window) {
            // Replace the window this read continues, otherwise the one used least lately.
            window = m_windows[0].lastUse <= m_windows[1].lastUse ? &m_windows[0] : &m_windows[1];
            for (auto& candidate : m_windows) {
                if (candidate.length > 0 && offset >= candidate.start && offset - candidate.start < 2 * windowSize)
                    window = &candidate;
            }
            if (!window->bytes)
                window->bytes = std::make_unique<std::uint8_t[]>(windowSize);
            ssize_t got;
            do
                got = ::pread(m_fd, window->bytes.get(), windowSize, static_cast<off_t>(offset));
            while (got < 0 && errno == EINTR);
            window->length = got > 0 ? static_cast<std::size_t>(got) : 0;
            window->start = offset;
            if (got <= 0)
                return got < 0 && done == 0 ? -1 : static_cast<long>(done);
        }
        window->lastUse = ++m_clock;
        std::size_t from = static_cast<std::size_t>(offset - window->start);
        std::size_t count = std::min(window->length - from, length - done);
        std::memcpy(data + done, window->bytes.get() + from, count);
        done += count;
        offset += count;
    }
    return static_cast<long>(done);
}

voidpf ZipInput::openStream(voidpf opaque, const void*, int)
{
    return opaque;
}

uLong ZipInput::readStream(voidpf opaque, voidpf, void* buffer, uLong size)
{
    auto* input = static_cast<ZipInput*>(opaque);
    long got = input->readAt(input->m_position + input->m_shift, static_cast<std::uint8_t*>(buffer), size);
    if (got < 0) {
        input->m_failed = true;
        return 0;
    }
    input->m_position += static_cast<std::uint64_t>(got);
    return static_cast<uLong>(got);
}

uLong ZipInput::writeStream(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

ZPOS64_T ZipInput::tellStream(voidpf opaque, voidpf)
{
    return static_cast<ZipInput*>(opaque)->m_position;
}

// Positions wrap around as unsigned numbers: minizip steps back with "negative" offsets.
long ZipInput::seekStream(voidpf opaque, voidpf, ZPOS64_T offset, int origin)
{
    auto* input = static_cast<ZipInput*>(opaque);
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        input->m_position = offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_CUR:
        input->m_position += offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_END:
        input->m_position = input->size() + offset;
        return 0;
    }
    return -1;
}

int ZipInput::closeStream(voidpf, voidpf)
{
    return 0;
}

int ZipInput::errorStream(voidpf opaque, voidpf)
{
    return static_cast<ZipInput*>(opaque)->m_failed ? 1 : 0;
}

}
