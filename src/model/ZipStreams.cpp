#include "model/ZipStreams.h"

#include "model/ZipCrypto.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vesk {

namespace {

    constexpr std::size_t bufferSize = 64 * 1024;

    // Reads exactly `length` raw bytes; false when they are not there.
    bool readRaw(const ZipRawReader& raw, std::uint8_t* data, std::size_t length)
    {
        while (length > 0) {
            long got = raw(data, length);
            if (got <= 0)
                return false;
            data += got;
            length -= static_cast<std::size_t>(got);
        }
        return true;
    }

}

const char* describe(ZipReadStatus status)
{
    switch (status) {
    case ZipReadStatus::ok:
        return "no error";
    case ZipReadStatus::unsupportedMethod:
        return "unsupported compression method";
    case ZipReadStatus::passwordMissing:
        return "entry is encrypted and no password was given";
    case ZipReadStatus::wrongPassword:
        return "wrong password";
    case ZipReadStatus::readError:
        return "read error or truncated data";
    case ZipReadStatus::dataError:
        return "corrupt compressed data";
    case ZipReadStatus::sizeMismatch:
        return "size does not match the entry's record";
    case ZipReadStatus::crcMismatch:
        return "CRC mismatch";
    case ZipReadStatus::writeError:
        return "cannot write the extracted file";
    }
    return "unknown error";
}

ZipEntryReader::ZipEntryReader()
    : m_in(bufferSize)
    , m_out(bufferSize)
{
}

ZipEntryReader::~ZipEntryReader()
{
    if (m_inflateReady)
        inflateEnd(&m_inflate);
}

ZipReadStatus ZipEntryReader::read(const ZipRawReader& raw, const unz_file_info64& info, const std::optional<std::string>& password,
    const std::function<bool(const std::uint8_t*, std::size_t)>& sink)
{
    bool stored = info.compression_method == 0;
    if (!stored && info.compression_method != Z_DEFLATED)
        return ZipReadStatus::unsupportedMethod;

    std::uint64_t rawLeft = info.compressed_size;
    std::optional<ZipCrypto> crypto;
    if (info.flag & 1) {
        if (!password || password->empty())
            return ZipReadStatus::passwordMissing;
        if (rawLeft < ZipCrypto::headerSize)
            return ZipReadStatus::readError;
        std::array<std::uint8_t, ZipCrypto::headerSize> header;
        if (!readRaw(raw, header.data(), header.size()))
            return ZipReadStatus::readError;
        rawLeft -= header.size();
        crypto.emplace(*password);
        auto check = ZipCrypto::checkByte(static_cast<std::uint32_t>(info.flag), static_cast<std::uint32_t>(info.crc),
            static_cast<std::uint32_t>(info.dosDate));
        if (!crypto->readHeader(header, check))
            return ZipReadStatus::wrongPassword;
    }

    if (!stored) {
        if (!m_inflateReady) {
            if (inflateInit2(&m_inflate, -MAX_WBITS) != Z_OK)
                return ZipReadStatus::dataError;
            m_inflateReady = true;
        } else {
            inflateReset(&m_inflate);
        }
    }

    std::uint64_t produced = 0;
    uLong crc = crc32(0, nullptr, 0);
    bool streamEnded = false;
    auto deliver = [&](const std::uint8_t* data, std::size_t length) -> ZipReadStatus {
        if (length > info.uncompressed_size - produced)
            return ZipReadStatus::sizeMismatch;
        produced += length;
        crc = crc32_z(crc, data, length);
        return sink(data, length) ? ZipReadStatus::ok : ZipReadStatus::writeError;
    };

    while (rawLeft > 0 && !streamEnded) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(rawLeft, m_in.size()));
        long got = raw(m_in.data(), want);
        if (got <= 0)
            return ZipReadStatus::readError;
        rawLeft -= static_cast<std::uint64_t>(got);
        if (crypto)
            crypto->decrypt(m_in.data(), static_cast<std::size_t>(got));
        if (stored) {
            if (auto status = deliver(m_in.data(), static_cast<std::size_t>(got)); status != ZipReadStatus::ok)
                return status;
            continue;
        }
        m_inflate.next_in = m_in.data();
        m_inflate.avail_in = static_cast<uInt>(got);
        do {
            m_inflate.next_out = m_out.data();
            m_inflate.avail_out = static_cast<uInt>(m_out.size());
            int result = inflate(&m_inflate, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                return ZipReadStatus::dataError;
            std::size_t length = m_out.size() - m_inflate.avail_out;
            if (length > 0) {
                if (auto status = deliver(m_out.data(), length); status != ZipReadStatus::ok)
                    return status;
            }
            if (result == Z_STREAM_END) {
                streamEnded = true;
                break;
            }
            if (result == Z_BUF_ERROR && length == 0)
                break;
        } while (m_inflate.avail_in > 0 || m_inflate.avail_out == 0);
    }
    if (!stored && !streamEnded)
        return ZipReadStatus::dataError;
    if (produced != info.uncompressed_size)
        return ZipReadStatus::sizeMismatch;
    if (crc != info.crc)
        return ZipReadStatus::crcMismatch;
    return ZipReadStatus::ok;
}

ZipEntryWriter::ZipEntryWriter()
    : m_in(bufferSize)
    , m_out(bufferSize)
{
}

ZipEntryWriter::~ZipEntryWriter()
{
    if (m_deflateReady)
        deflateEnd(&m_deflate);
}

std::optional<std::uint32_t> ZipEntryWriter::crcOf(ZipSource& source, std::vector<std::uint8_t>& buffer)
{
    uLong crc = crc32(0, nullptr, 0);
    for (;;) {
        long got = source.read(buffer.data(), buffer.size());
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        crc = crc32_z(crc, buffer.data(), static_cast<std::size_t>(got));
    }
    if (!source.rewind || !source.rewind())
        return std::nullopt;
    return static_cast<std::uint32_t>(crc);
}

z_stream* ZipEntryWriter::deflaterFor(int level)
{
    if (m_deflateReady && m_level == level) {
        deflateReset(&m_deflate);
        return &m_deflate;
    }
    if (m_deflateReady)
        deflateEnd(&m_deflate);
    m_deflate = {};
    m_deflateReady = deflateInit2(&m_deflate, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    m_level = level;
    return m_deflateReady ? &m_deflate : nullptr;
}

ZipWriteStatus ZipEntryWriter::write(zipFile zip, int level, ZipSource& source, const std::optional<std::string>& password,
    std::uint32_t crc, std::uint32_t& crcOut, std::uint64_t& sizeOut)
{
    bool stored = level == zipStoredLevel;
    z_stream* stream = stored ? nullptr : deflaterFor(level);
    if (!stored && !stream)
        return ZipWriteStatus::archiveError;

    std::optional<ZipCrypto> crypto;
    if (password) {
        crypto.emplace(*password);
        std::array<std::uint8_t, ZipCrypto::headerSize> header;
        crypto->makeHeader(header, ZipCrypto::checkByte(0, crc, 0));
        if (zipWriteInFileInZip(zip, header.data(), header.size()) != ZIP_OK)
            return ZipWriteStatus::archiveError;
    }

    auto emit = [&](std::size_t length) {
        if (length == 0)
            return true;
        if (crypto)
            crypto->encrypt(m_out.data(), length);
        return zipWriteInFileInZip(zip, m_out.data(), static_cast<unsigned>(length)) == ZIP_OK;
    };

    uLong sum = crc32(0, nullptr, 0);
    std::uint64_t size = 0;
    bool finished = false;
    while (!finished) {
        long got = source.read(m_in.data(), m_in.size());
        if (got < 0)
            return ZipWriteStatus::sourceError;
        if (stored) {
            sum = crc32_z(sum, m_in.data(), static_cast<std::size_t>(got));
            size += static_cast<std::uint64_t>(got);
            std::memcpy(m_out.data(), m_in.data(), static_cast<std::size_t>(got));
            if (!emit(static_cast<std::size_t>(got)))
                return ZipWriteStatus::archiveError;
            finished = got == 0;
            continue;
        }
        int flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        sum = crc32_z(sum, m_in.data(), static_cast<std::size_t>(got));
        size += static_cast<std::uint64_t>(got);
        stream->next_in = m_in.data();
        stream->avail_in = static_cast<uInt>(got);
        do {
            stream->next_out = m_out.data();
            stream->avail_out = static_cast<uInt>(m_out.size());
            int result = deflate(stream, flush);
            if (result == Z_STREAM_ERROR)
                return ZipWriteStatus::archiveError;
            if (!emit(m_out.size() - stream->avail_out))
                return ZipWriteStatus::archiveError;
            if (result == Z_STREAM_END)
                finished = true;
        } while (stream->avail_out == 0 || (flush == Z_FINISH && !finished));
    }
    crcOut = static_cast<std::uint32_t>(sum);
    sizeOut = size;
    return ZipWriteStatus::ok;
}

}
