#include "webservice/FileStreaming.h"

#include "platform/foundation/Digest.h"
#include "webservice/WebServiceEnvelope.h"

#include <algorithm>
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

    // Whole groups of three bytes, so that the Base64 of the pieces joins into the file's.
    constexpr std::size_t base64Piece = 48 * 1024;

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

    // The Base64 of the bytes as it stands in JSON text.
    void appendJSONBase64(std::string& out, const std::uint8_t* bytes, std::size_t size)
    {
        auto text = platform::base64Encode(bytes, size);
        std::size_t start = 0;
        for (std::size_t slash; (slash = text.find('/', start)) != std::string::npos; start = slash + 1) {
            out.append(text, start, slash - start);
            out += "\\/";
        }
        out.append(text, start);
    }

    std::size_t jsonBase64Length(const std::uint8_t* bytes, std::size_t size)
    {
        auto text = platform::base64Encode(bytes, size);
        return text.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '/'));
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
        class Base64Reader : public Reader {
        public:
            explicit Base64Reader(std::shared_ptr<const Base64Body> body)
                : m_body(std::move(body))
            {
            }

            ssize_t read(std::uint8_t* buffer, std::size_t size) override
            {
                std::size_t filled = 0;
                while (filled < size) {
                    if (m_at == m_pending.size() && !refill())
                        break;
                    std::size_t take = std::min(size - filled, m_pending.size() - m_at);
                    std::memcpy(buffer + filled, m_pending.data() + m_at, take);
                    m_at += take;
                    filled += take;
                }
                return filled == 0 && m_failed ? -1 : static_cast<ssize_t>(filled);
            }

        private:
            // The next piece; false at the end or when the file no longer gives what was announced.
            bool refill()
            {
                m_pending.clear();
                m_at = 0;
                auto& file = *m_body->m_file;
                switch (m_stage) {
                case Stage::Before:
                    m_pending = m_body->m_before;
                    m_stage = Stage::File;
                    return true;
                case Stage::File:
                    if (m_fileAt < file.length()) {
                        auto size = static_cast<std::size_t>(std::min<std::uint64_t>(base64Piece, file.length() - m_fileAt));
                        m_raw.resize(size);
                        if (!readFully(file.descriptor(), m_fileAt, m_raw.data(), size))
                            return fail();
                        appendJSONBase64(m_pending, m_raw.data(), size);
                        m_fileAt += size;
                        m_made += m_pending.size();
                        // Changed since it was measured: the announced length would be a lie.
                        if (m_made > m_body->m_encodedLength)
                            return fail();
                        return true;
                    }
                    if (m_made != m_body->m_encodedLength)
                        return fail();
                    m_raw = {};
                    m_stage = Stage::After;
                    return true;
                case Stage::After:
                    m_pending = m_body->m_after;
                    m_stage = Stage::Done;
                    return true;
                case Stage::Done:
                    break;
                }
                return false;
            }

            bool fail()
            {
                m_pending.clear();
                m_failed = true;
                m_stage = Stage::Done;
                return false;
            }

            enum class Stage {
                Before,
                File,
                After,
                Done,
            };
            std::shared_ptr<const Base64Body> m_body;
            Stage m_stage { Stage::Before };
            std::string m_pending;
            std::size_t m_at { 0 };
            std::vector<std::uint8_t> m_raw;
            std::uint64_t m_fileAt { 0 };
            std::uint64_t m_made { 0 };
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
        std::vector<std::uint8_t> raw(static_cast<std::size_t>(std::min<std::uint64_t>(base64Piece, size())));
        for (std::uint64_t at = 0; at < size(); at += raw.size()) {
            auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(raw.size(), size() - at));
            if (!readFully(m_descriptor, at, raw.data(), piece))
                return std::nullopt;
            encodedLength += jsonBase64Length(raw.data(), piece);
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
