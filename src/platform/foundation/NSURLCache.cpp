#include "platform/foundation/NSURLCache.h"

#include <mutex>

namespace vesk::platform {

namespace {

    std::mutex& cacheLock()
    {
        static std::mutex lock;
        return lock;
    }

    std::shared_ptr<NSURLCache>& installedCache()
    {
        static std::shared_ptr<NSURLCache> cache = std::make_shared<NSURLCache>();
        return cache;
    }

}

std::shared_ptr<NSURLCache> NSURLCache::sharedURLCache()
{
    std::lock_guard lock(cacheLock());
    return installedCache();
}

void NSURLCache::setSharedURLCache(std::shared_ptr<NSURLCache> cache)
{
    std::lock_guard lock(cacheLock());
    installedCache() = cache ? std::move(cache) : std::make_shared<NSURLCache>();
}

}
