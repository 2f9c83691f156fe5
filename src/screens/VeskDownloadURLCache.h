#pragma once

#include "platform/foundation/NSURLCache.h"

#include <memory>
#include <mutex>
#include <string>

namespace vesk {

class VeskDownloadURLCacheDelegate {
public:
    virtual ~VeskDownloadURLCacheDelegate() = default;
    virtual void didFindDownloadableItem(const std::string& MIMEType, const platform::NSURL& URL) = 0;
};

// The shared URL cache the in-app browser installs to learn what its pages fetch: it stores as
// its base does, but each time the loader asks for a response it holds, it reports the
// response's MIME type and URL to its delegate and answers that it holds none, so every load
// still goes to the network. The loader asks from its own threads; reports reach the
// delegate on the main queue, and only while the delegate lives (it is held weakly).
class VeskDownloadURLCache : public platform::NSURLCache {
public:
    VeskDownloadURLCache() = default;
    VeskDownloadURLCache(std::int64_t memoryCapacity, std::int64_t diskCapacity, std::optional<std::string> diskPath);

    std::shared_ptr<VeskDownloadURLCacheDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<VeskDownloadURLCacheDelegate>& delegate);

    std::optional<platform::NSCachedURLResponse> cachedResponseForRequest(const platform::NSURLRequest& request) override;

private:
    mutable std::mutex m_delegateMutex;
    std::weak_ptr<VeskDownloadURLCacheDelegate> m_delegate;
};

}
