#include "screens/VeskDownloadURLCache.h"

#include "platform/foundation/Dispatch.h"

namespace vesk {

using namespace platform;

VeskDownloadURLCache::VeskDownloadURLCache(std::int64_t memoryCapacity, std::int64_t diskCapacity, std::optional<std::string> diskPath)
    : NSURLCache(memoryCapacity, diskCapacity, std::move(diskPath))
{
}

std::shared_ptr<VeskDownloadURLCacheDelegate> VeskDownloadURLCache::delegate() const
{
    std::lock_guard lock(m_delegateMutex);
    return m_delegate.lock();
}

void VeskDownloadURLCache::setDelegate(const std::shared_ptr<VeskDownloadURLCacheDelegate>& delegate)
{
    std::lock_guard lock(m_delegateMutex);
    m_delegate = delegate;
}

std::optional<NSCachedURLResponse> VeskDownloadURLCache::cachedResponseForRequest(const NSURLRequest& request)
{
    auto stored = NSURLCache::cachedResponseForRequest(request);
    std::weak_ptr<VeskDownloadURLCacheDelegate> delegate;
    {
        std::lock_guard lock(m_delegateMutex);
        delegate = m_delegate;
    }
    if (!stored || delegate.expired())
        return std::nullopt;
    auto& response = stored->response;
    // An item needs both.
    if (response.MIMEType.empty() || response.URL.absoluteString().empty())
        return std::nullopt;
    DispatchQueue::main().async([delegate, type = response.MIMEType, url = response.URL] {
        if (auto target = delegate.lock())
            target->didFindDownloadableItem(type, url);
    });
    return std::nullopt;
}

}
