#include "platform/foundation/TextBuffer.h"

#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk::platform {

namespace {

    constexpr std::size_t chunkBytes = 1 << 20;

    struct Descriptor {
        int fd = -1;
        ~Descriptor()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };

    // Reads up to `length` bytes; answers how many came, or none on an error.
    std::optional<std::size_t> readSome(int fd, char* into, std::size_t length)
    {
        std::size_t got = 0;
        while (got < length) {
            auto count = ::read(fd, into + got, length - got);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                return std::nullopt;
            if (count == 0)
                break;
            got += static_cast<std::size_t>(count);
        }
        return got;
    }

    bool startsCharacter(const char* data, std::size_t size, std::size_t at)
    {
        return at >= size || (static_cast<unsigned char>(data[at]) & 0xC0) != 0x80;
    }

    // Checks the UTF-8 sequences that start in [from, end), eight ASCII bytes at a time.
    // Answers where a sequence cut by `end` starts (end when none is), or none for bytes that
    // are no UTF-8; a cut sequence is an error at the text's end.
    std::optional<std::size_t> checkUTF8(const char* data, std::size_t from, std::size_t end, bool last)
    {
        std::size_t at = from;
        while (at < end) {
            while (at + 8 <= end) {
                std::uint64_t word;
                std::memcpy(&word, data + at, 8);
                if (word & 0x8080808080808080ull)
                    break;
                at += 8;
            }
            if (at >= end)
                break;
            auto lead = static_cast<unsigned char>(data[at]);
            if (lead < 0x80) {
                ++at;
                continue;
            }
            std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3
                : lead >= 0xC0                                   ? 2
                                                                 : 1;
            if (at + length > end)
                return last ? std::nullopt : std::optional(at);
            if (!isValidUTF8({ data + at, length }))
                return std::nullopt;
            at += length;
        }
        return end;
    }

    struct Mark {
        std::initializer_list<std::uint8_t> bytes;
        const char* name;
        NSStringEncoding encoding;
        // The bytes of one unit: a UTF-16 unit takes at most 3 bytes of UTF-8, a UTF-32 one 4.
        std::size_t unitBytes;
    };

    // UTF-32 first: its little-endian mark begins with UTF-16's.
    const Mark marks[] = {
        { { 0xFF, 0xFE, 0x00, 0x00 }, "UTF-32LE", NSStringEncoding::UTF32LittleEndian, 4 },
        { { 0x00, 0x00, 0xFE, 0xFF }, "UTF-32BE", NSStringEncoding::UTF32BigEndian, 4 },
        { { 0xFF, 0xFE }, "UTF-16LE", NSStringEncoding::UTF16LittleEndian, 2 },
        { { 0xFE, 0xFF }, "UTF-16BE", NSStringEncoding::UTF16BigEndian, 2 },
    };

}

TextBuffer::TextBuffer(std::string text)
    : m_string(std::move(text))
{
    m_data = m_string.data();
    m_size = m_string.size();
    makeBlocks();
}

std::shared_ptr<const TextBuffer> TextBuffer::readFile(const std::string& path, NSStringEncoding* usedEncoding, std::size_t maxBytes, const std::function<bool()>& stop)
{
    // A read that is stopped ends as one that failed.
    auto stopped = [&] { return stop && stop(); };
    // O_NONBLOCK so that opening a FIFO never waits for a writer.
    Descriptor file { ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK) };
    struct stat info { };
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) > maxBytes)
        return nullptr;
    auto size = static_cast<std::size_t>(info.st_size);
    std::uint8_t head[4] {};
    auto headLength = ::pread(file.fd, head, sizeof head, 0);
    if (headLength < 0)
        return nullptr;
    auto startsWith = [&](const std::initializer_list<std::uint8_t>& prefix) {
        return static_cast<std::size_t>(headLength) >= prefix.size() && std::equal(prefix.begin(), prefix.end(), head);
    };
    ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::shared_ptr<TextBuffer> buffer(new TextBuffer);
    for (auto& mark : marks) {
        if (!startsWith(mark.bytes))
            continue;
        // Decoded a chunk at a time into a buffer of the largest size the text can take;
        // pages never written to are never backed by memory.
        auto capacity = (mark.unitBytes == 2 ? size / 2 * 3 : size) + 16;
        buffer->m_owned.reset(new char[capacity]);
        iconv_t converter = ::iconv_open("UTF-8", mark.name);
        if (converter == reinterpret_cast<iconv_t>(-1))
            return nullptr;
        std::unique_ptr<char[]> chunk(new char[chunkBytes]);
        std::size_t held = 0, written = 0;
        bool ok = ::lseek(file.fd, static_cast<off_t>(mark.bytes.size()), SEEK_SET) >= 0;
        while (ok) {
            auto got = stopped() ? std::nullopt : readSome(file.fd, chunk.get() + held, chunkBytes - held);
            if (!got) {
                ok = false;
                break;
            }
            held += *got;
            char* in = chunk.get();
            std::size_t inLeft = held;
            char* out = buffer->m_owned.get() + written;
            std::size_t outLeft = capacity - written;
            // A unit cut by the chunk's end waits for the next chunk; strict otherwise.
            if (::iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) && (errno != EINVAL || *got == 0))
                ok = false;
            written = capacity - outLeft;
            std::memmove(chunk.get(), in, inLeft);
            held = inLeft;
            if (*got == 0)
                break;
        }
        ::iconv_close(converter);
        if (!ok || held != 0)
            return nullptr;
        if (usedEncoding)
            *usedEncoding = mark.encoding;
        buffer->m_data = buffer->m_owned.get();
        buffer->m_size = written;
        buffer->makeBlocks();
        return buffer;
    }

    // UTF-8: read straight into the text, each chunk checked while it is fresh in the cache.
    buffer->m_owned.reset(new char[std::max<std::size_t>(size, 1)]);
    char* data = buffer->m_owned.get();
    std::size_t got = 0, checked = 0;
    while (got < size) {
        auto count = stopped() ? std::nullopt : readSome(file.fd, data + got, std::min(chunkBytes, size - got));
        if (!count)
            return nullptr;
        // A file that shrinks while it is read ends where its bytes ended.
        if (*count == 0)
            break;
        got += *count;
        auto upTo = checkUTF8(data, checked, got, false);
        if (!upTo)
            return nullptr;
        checked = *upTo;
    }
    if (!checkUTF8(data, checked, got, true))
        return nullptr;
    std::size_t skip = got >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    if (usedEncoding)
        *usedEncoding = NSStringEncoding::UTF8;
    buffer->m_data = data + skip;
    buffer->m_size = got - skip;
    buffer->makeBlocks();
    return buffer;
}

void TextBuffer::makeBlocks()
{
    const char* data = m_data;
    std::size_t size = m_size;
    // The end of the line at `from` (after its line break), or none when it is longer than a piece.
    auto lineEnd = [&](std::size_t from) -> std::optional<std::size_t> {
        auto reach = std::min(size - from, longestPiece + 1);
        if (auto* found = static_cast<const char*>(std::memchr(data + from, '\n', reach)))
            return static_cast<std::size_t>(found - data) + 1;
        if (size - from <= longestPiece)
            return size;
        return std::nullopt;
    };
    std::size_t at = 0;
    while (at < size) {
        m_starts.push_back(at);
        auto end = lineEnd(at);
        if (!end) {
            // A piece of a long line: cut after a space near the limit, else at a character's
            // start, sooner: pango takes far longer over a run it can only break between letters.
            std::size_t cut = at + unbrokenPiece;
            auto* space = static_cast<const char*>(::memrchr(data + at + longestPiece / 2 + 1, ' ', longestPiece / 2));
            if (space)
                cut = static_cast<std::size_t>(space - data) + 1;
            while (cut > at && !startsCharacter(data, size, cut))
                --cut;
            if (cut == at)
                cut = at + unbrokenPiece;
            m_lines.push_back(1);
            at = cut;
            continue;
        }
        std::size_t lines = 1;
        while (*end < size && *end - at < blockBytes && lines < blockLines) {
            auto next = lineEnd(*end);
            if (!next)
                break;
            end = next;
            ++lines;
        }
        m_lines.push_back(static_cast<std::uint16_t>(lines));
        at = *end;
    }
    if (size == 0 || data[size - 1] == '\n') {
        m_starts.push_back(size);
        m_lines.push_back(1);
    }
    m_starts.shrink_to_fit();
    m_lines.shrink_to_fit();
}

std::string_view TextBuffer::blockText(std::size_t index) const
{
    auto start = blockStart(index);
    std::string_view text(m_data + start, blockStart(index + 1) - start);
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    return text;
}

std::size_t TextBuffer::blockOfOffset(std::size_t offset) const
{
    auto it = std::upper_bound(m_starts.begin(), m_starts.end(), static_cast<std::uint64_t>(offset));
    return it == m_starts.begin() ? 0 : static_cast<std::size_t>(it - m_starts.begin()) - 1;
}

}
