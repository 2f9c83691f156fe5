#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <optional>
#include <string>
#include <vector>
#include <zlib.h>

namespace vesk {

enum class ZipReadStatus {
    ok,
    unsupportedMethod,
    passwordMissing,
    wrongPassword,
    readError,
    dataError,
    sizeMismatch,
    crcMismatch,
    writeError,
};

const char* describe(ZipReadStatus status);

// Raw bytes of an entry, read on from where the last read stopped: the
// count, 0 at the end, -1 on error.
using ZipRawReader = std::function<long(std::uint8_t*, std::size_t)>;

// Reads entries' raw data: decrypts, inflates and checks the size and CRC
// against the entry's record, so that nothing unchecked passes.
class ZipEntryReader {
public:
    ZipEntryReader();
    ~ZipEntryReader();
    ZipEntryReader(const ZipEntryReader&) = delete;
    ZipEntryReader& operator=(const ZipEntryReader&) = delete;

    // Streams the entry whose raw data `raw` gives to `sink`, which answers
    // false when it cannot take the bytes. Never hands out more bytes than
    // the entry's recorded size.
    ZipReadStatus read(const ZipRawReader& raw, const unz_file_info64& info, const std::optional<std::string>& password,
        const std::function<bool(const std::uint8_t*, std::size_t)>& sink);

private:
    z_stream m_inflate {};
    bool m_inflateReady { false };
    std::vector<std::uint8_t> m_in;
    std::vector<std::uint8_t> m_out;
};

// Source of an entry's bytes: read answers the count, 0 at the end, -1 on
// error; rewind starts over (needed to encrypt, as the CRC comes first).
struct ZipSource {
    std::function<long(std::uint8_t*, std::size_t)> read;
    std::function<bool()> rewind;
};

// The level at which an entry's bytes are stored as they are (method 0), not deflated.
inline constexpr int zipStoredLevel = -2;

enum class ZipWriteStatus {
    ok,
    sourceError,
    archiveError,
};

// Deflates (and encrypts) sources into entries opened raw in a minizip
// archive; the caller closes the entry with the CRC and size it reports.
class ZipEntryWriter {
public:
    ZipEntryWriter();
    ~ZipEntryWriter();
    ZipEntryWriter(const ZipEntryWriter&) = delete;
    ZipEntryWriter& operator=(const ZipEntryWriter&) = delete;

    // The CRC of everything the source gives, then rewinds it.
    static std::optional<std::uint32_t> crcOf(ZipSource& source, std::vector<std::uint8_t>& buffer);

    // Writes the data of the current entry. With a password, `crc` must be
    // the CRC of the source's bytes, for the header's check byte.
    ZipWriteStatus write(zipFile zip, int level, ZipSource& source, const std::optional<std::string>& password,
        std::uint32_t crc, std::uint32_t& crcOut, std::uint64_t& sizeOut);

private:
    z_stream* deflaterFor(int level);

    z_stream m_deflate {};
    bool m_deflateReady { false };
    int m_level { 0 };
    std::vector<std::uint8_t> m_in;
    std::vector<std::uint8_t> m_out;
};

}
