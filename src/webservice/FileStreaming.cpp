#include "webservice/FileStreaming.h"

#include "webservice/WebServiceEnvelope.h"

#include <algorithm>
#include <cerrno>
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

WorkRation& WorkRation::base64Answers()
{
    // Never destroyed: answers may still be sent while the process exits.
    static auto* ration = new WorkRation(4);
    return *ration;
}

WorkRation& WorkRation::pictureDecodings()
{
    static auto* ration = new WorkRation(2);
    return *ration;
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

std::optional<HttpResponse> OpenedItem::rawResponse()
{
    if (!isRegularFile())
        return std::nullopt;
    auto body = std::make_shared<const HttpFileBody>(std::exchange(m_descriptor, -1), size());
    return HttpResponse::RAW(okOutcome().statusCode(), okOutcome().reasonPhrase(), std::nullopt, std::move(body));
}

}
