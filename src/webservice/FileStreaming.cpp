#include "webservice/FileStreaming.h"

#include "platform/foundation/Digest.h"
#include "webservice/WebServiceEnvelope.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace vesk {

std::shared_ptr<const void> WorkRation::take()
{
    std::unique_lock lock(m_lock);
    m_freed.wait(lock, [this] { return m_free > 0; });
    --m_free;
    return std::shared_ptr<const void>(this, [](const void* owner) {
        auto* ration = const_cast<WorkRation*>(static_cast<const WorkRation*>(owner));
        {
            std::lock_guard lock(ration->m_lock);
            ++ration->m_free;
        }
        ration->m_freed.notify_one();
    });
}

WorkRation& WorkRation::pictureDecodings()
{
    static auto* ration = new WorkRation(2);
    return *ration;
}

namespace {

    // Raw bytes encoded at a time, on the stack: whole groups of three, so that the Base64 of
    // the pieces joins into the file's.
    constexpr std::size_t base64Piece = 12 * 1024;

    bool readFully(int descriptor, std::uint64_t offset, std::uint8_t* buffer, std::size_t size)
    {
        std::size_t filled = 0;
        while (filled < size) {
            ssize_t count = ::pread(descriptor, buffer + filled, size - filled, static_cast<off_t>(offset + filled));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return false;
            filled += static_cast<std::size_t>(count);
        }
        return true;
    }

    // One group of Base64 digits as it stands in JSON text, each "/" written "\/": 4 to 8 bytes.
    std::size_t jsonBase64Group(const char* digits, char* out)
    {
        std::size_t length = 0;
        for (std::size_t index = 0; index < 4; ++index) {
            if (digits[index] == '/')
                out[length++] = '\\';
            out[length++] = digits[index];
        }
        return length;
    }

    // The length of the bytes' Base64 in JSON text, counted without making it: each digit "/"
    // (the value 63) takes two bytes.
    std::size_t jsonBase64Length(const std::uint8_t* bytes, std::size_t size)
    {
        std::size_t length = (size + 2) / 3 * 4;
        for (std::size_t at = 0; at < size; at += 3) {
            std::uint32_t group = std::uint32_t(bytes[at]) << 16;
            std::size_t digits = 2;
            if (at + 1 < size) {
                group |= std::uint32_t(bytes[at + 1]) << 8;
                ++digits;
            }
            if (at + 2 < size) {
                group |= bytes[at + 2];
                ++digits;
            }
            for (std::size_t digit = 0; digit < digits; ++digit)
                length += ((group >> (18 - 6 * digit)) & 63) == 63;
        }
        return length;
    }

    class Base64Body : public HttpStreamBody, public std::enable_shared_from_this<Base64Body> {
    public:
        Base64Body(std::shared_ptr<const HttpFileBody> file, std::string before, std::string after, std::uint64_t encodedLength)
            : m_file(std::move(file))
            , m_before(std::move(before))
            , m_after(std::move(after))
            , m_encodedLength(encodedLength)
        {
        }

        std::uint64_t length() const override { return m_before.size() + m_encodedLength + m_after.size(); }
        std::unique_ptr<Reader> open() const override { return std::make_unique<Base64Reader>(shared_from_this()); }

    private:
        // Encodes straight into the buffer it is given: between calls it keeps only where it
        // stands and the end of an escaped group that did not fit, however slowly it is read.
        class Base64Reader : public Reader {
        public:
            explicit Base64Reader(std::shared_ptr<const Base64Body> body)
                : m_body(std::move(body))
            {
            }

            ssize_t read(std::uint8_t* buffer, std::size_t size) override
            {
                std::size_t filled = 0;
                while (filled < size && m_stage != Stage::Done) {
                    if (m_carryAt < m_carryLength) {
                        auto count = std::min(size - filled, m_carryLength - m_carryAt);
                        std::memcpy(buffer + filled, m_carry.data() + m_carryAt, count);
                        m_carryAt += count;
                        filled += count;
                        continue;
                    }
                    switch (m_stage) {
                    case Stage::Before:
                        copyText(m_body->m_before, buffer, size, filled, Stage::File);
                        break;
                    case Stage::File:
                        if (!encode(buffer, size, filled))
                            fail();
                        break;
                    case Stage::After:
                        copyText(m_body->m_after, buffer, size, filled, Stage::Done);
                        break;
                    case Stage::Done:
                        break;
                    }
                }
                return filled == 0 && m_failed ? -1 : static_cast<ssize_t>(filled);
            }

        private:
            enum class Stage {
                Before,
                File,
                After,
                Done,
            };

            void copyText(const std::string& text, std::uint8_t* buffer, std::size_t size, std::size_t& filled, Stage next)
            {
                auto count = std::min(size - filled, text.size() - m_textAt);
                std::memcpy(buffer + filled, text.data() + m_textAt, count);
                m_textAt += count;
                filled += count;
                if (m_textAt == text.size()) {
                    m_textAt = 0;
                    m_stage = next;
                }
            }

            // The next piece of the file's text, as much as fits; false when the file no longer
            // gives what was announced.
            bool encode(std::uint8_t* buffer, std::size_t size, std::size_t& filled)
            {
                auto& file = *m_body->m_file;
                if (m_fileAt == file.length()) {
                    if (m_made != m_body->m_encodedLength)
                        return false;
                    m_stage = Stage::After;
                    return true;
                }
                // No more groups than the room left takes: bytes read past them are read again.
                std::size_t groups = (size - filled + 3) / 4;
                auto count = static_cast<std::size_t>(std::min<std::uint64_t>({ base64Piece, 3 * groups, file.length() - m_fileAt }));
                std::uint8_t raw[base64Piece];
                if (!readFully(file.descriptor(), m_fileAt, raw, count))
                    return false;
                auto digits = platform::base64Encode(raw, count);
                std::size_t at = 0;
                while (at < digits.size() && filled < size) {
                    // Whole groups without a "/" go as they are, as far as the room and the
                    // announced length take them.
                    auto slash = std::min(digits.find('/', at), digits.size());
                    auto plain = static_cast<std::size_t>(std::min<std::uint64_t>({ slash - at, size - filled, m_body->m_encodedLength - m_made })) / 4 * 4;
                    if (plain > 0) {
                        std::memcpy(buffer + filled, digits.data() + at, plain);
                        filled += plain;
                        m_made += plain;
                        at += plain;
                        continue;
                    }
                    // One group: with a "/", or what fits of it.
                    std::array<char, 8> group;
                    auto length = jsonBase64Group(digits.data() + at, group.data());
                    // Changed since it was measured: the announced length would be a lie.
                    if (m_made + length > m_body->m_encodedLength)
                        return false;
                    m_made += length;
                    at += 4;
                    auto fits = std::min(length, size - filled);
                    std::memcpy(buffer + filled, group.data(), fits);
                    filled += fits;
                    std::memcpy(m_carry.data(), group.data() + fits, length - fits);
                    m_carryLength = length - fits;
                    m_carryAt = 0;
                }
                m_fileAt += std::min(at / 4 * 3, count);
                return true;
            }

            void fail()
            {
                m_failed = true;
                m_stage = Stage::Done;
                m_carryLength = m_carryAt = 0;
            }

            std::shared_ptr<const Base64Body> m_body;
            Stage m_stage { Stage::Before };
            // Into the text before or after the file's.
            std::size_t m_textAt { 0 };
            std::uint64_t m_fileAt { 0 };
            std::uint64_t m_made { 0 };
            std::array<char, 8> m_carry {};
            std::size_t m_carryLength { 0 };
            std::size_t m_carryAt { 0 };
            bool m_failed { false };
        };

        std::shared_ptr<const HttpFileBody> m_file;
        std::string m_before;
        std::string m_after;
        std::uint64_t m_encodedLength;
    };

}

OpenedItem::OpenedItem(const std::string& path)
{
    // A path holding a NUL byte would name another item once cut short there.
    if (path.find('\0') != std::string::npos)
        return;
    m_descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_descriptor >= 0 && ::fstat(m_descriptor, &m_status) != 0) {
        ::close(m_descriptor);
        m_descriptor = -1;
    }
}

OpenedItem::~OpenedItem()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

std::optional<HttpBytes> OpenedItem::read(std::size_t maxBytes)
{
    if (!isRegularFile() || size() > maxBytes)
        return std::nullopt;
    HttpBytes bytes(static_cast<std::size_t>(size()));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t count = ::read(m_descriptor, bytes.data() + filled, bytes.size() - filled);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0) {
            bytes.resize(filled);
            return bytes;
        }
        filled += static_cast<std::size_t>(count);
    }
    // The file may have grown since it was looked at.
    for (;;) {
        std::uint8_t more[65536];
        ssize_t count = ::read(m_descriptor, more, sizeof more);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 || bytes.size() + static_cast<std::size_t>(std::max<ssize_t>(count, 0)) > maxBytes)
            return std::nullopt;
        if (count == 0)
            return bytes;
        bytes.insert(bytes.end(), more, more + count);
    }
}

std::optional<HttpResponse> OpenedItem::base64Response(std::string before, std::string after, HttpHeaders headers, std::size_t maxBytes)
{
    if (!isRegularFile() || size() > maxBytes)
        return std::nullopt;
    // One pass to learn the length: each "/" of the text takes two bytes.
    std::uint64_t encodedLength = 0;
    {
        std::uint8_t raw[base64Piece];
        for (std::uint64_t at = 0; at < size(); at += base64Piece) {
            auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(base64Piece, size() - at));
            if (!readFully(m_descriptor, at, raw, piece))
                return std::nullopt;
            encodedLength += jsonBase64Length(raw, piece);
        }
    }
    auto file = std::make_shared<const HttpFileBody>(std::exchange(m_descriptor, -1), size());
    auto body = std::make_shared<const Base64Body>(std::move(file), std::move(before), std::move(after), encodedLength);
    return HttpResponse::RAW(okOutcome().statusCode(), okOutcome().reasonPhrase(), std::move(headers), std::move(body));
}

std::optional<HttpResponse> OpenedItem::rawResponse()
{
    if (!isRegularFile())
        return std::nullopt;
    auto body = std::make_shared<const HttpFileBody>(std::exchange(m_descriptor, -1), size());
    return HttpResponse::RAW(okOutcome().statusCode(), okOutcome().reasonPhrase(), std::nullopt, std::move(body));
}

}
