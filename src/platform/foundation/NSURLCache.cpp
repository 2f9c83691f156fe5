#include "platform/foundation/NSURLCache.h"

#include <algorithm>
#include <cctype>

namespace vesk::platform {

namespace {

    std::mutex& sharedLock()
    {
        static std::mutex lock;
        return lock;
    }

    std::shared_ptr<NSURLCache> emptyCache()
    {
        return std::make_shared<NSURLCache>(0, 0, std::nullopt);
    }

    std::shared_ptr<NSURLCache>& installedCache()
    {
        static std::shared_ptr<NSURLCache> cache = emptyCache();
        return cache;
    }

    std::string keyFor(const NSURLRequest& request)
    {
        auto& text = request.URL.absoluteString();
        return text.substr(0, text.find('#'));
    }

    std::string lowercase(std::string_view text)
    {
        std::string out(text);
        std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return out;
    }

    bool forbidsStoring(const NSURLResponse& response)
    {
        return std::any_of(response.allHeaderFields.begin(), response.allHeaderFields.end(), [](auto& field) {
            return lowercase(field.first) == "cache-control" && lowercase(field.second).find("no-store") != std::string::npos;
        });
    }

    std::int64_t costOf(const NSCachedURLResponse& cached)
    {
        auto cost = cached.data.size() + cached.response.URL.absoluteString().size() + cached.response.MIMEType.size();
        for (auto& [name, value] : cached.response.allHeaderFields)
            cost += name.size() + value.size();
        return static_cast<std::int64_t>(cost);
    }

}

NSURLCache::NSURLCache()
    : NSURLCache(512 * 1024, 10 * 1024 * 1024, std::nullopt)
{
}

NSURLCache::NSURLCache(std::int64_t memoryCapacity, std::int64_t diskCapacity, std::optional<std::string> diskPath)
    : m_memoryCapacity(std::max<std::int64_t>(memoryCapacity, 0))
    , m_diskCapacity(std::max<std::int64_t>(diskCapacity, 0))
    , m_diskPath(std::move(diskPath))
{
}

std::shared_ptr<NSURLCache> NSURLCache::sharedURLCache()
{
    std::lock_guard lock(sharedLock());
    return installedCache();
}

void NSURLCache::setSharedURLCache(std::shared_ptr<NSURLCache> cache)
{
    std::lock_guard lock(sharedLock());
    installedCache() = cache ? std::move(cache) : emptyCache();
}

std::optional<NSCachedURLResponse> NSURLCache::cachedResponseForRequest(const NSURLRequest& request)
{
    std::lock_guard lock(m_mutex);
    auto found = m_index.find(keyFor(request));
    if (found == m_index.end())
        return std::nullopt;
    m_entries.splice(m_entries.begin(), m_entries, found->second);
    return found->second->cached;
}

void NSURLCache::storeCachedResponse(const NSCachedURLResponse& cached, const NSURLRequest& request)
{
    auto key = keyFor(request);
    auto cost = costOf(cached);
    std::lock_guard lock(m_mutex);
    if (auto found = m_index.find(key); found != m_index.end()) {
        m_usage -= found->second->cost;
        m_entries.erase(found->second);
        m_index.erase(found);
    }
    if (forbidsStoring(cached.response) || cost > m_diskCapacity / 20 || cost > m_memoryCapacity)
        return;
    m_entries.push_front({ key, cached, cost });
    m_index[key] = m_entries.begin();
    m_usage += cost;
    trim();
}

void NSURLCache::removeCachedResponseForRequest(const NSURLRequest& request)
{
    std::lock_guard lock(m_mutex);
    if (auto found = m_index.find(keyFor(request)); found != m_index.end()) {
        m_usage -= found->second->cost;
        m_entries.erase(found->second);
        m_index.erase(found);
    }
}

void NSURLCache::removeAllCachedResponses()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_index.clear();
    m_usage = 0;
}

std::int64_t NSURLCache::memoryCapacity() const
{
    std::lock_guard lock(m_mutex);
    return m_memoryCapacity;
}

void NSURLCache::setMemoryCapacity(std::int64_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_memoryCapacity = std::max<std::int64_t>(bytes, 0);
    trim();
}

std::int64_t NSURLCache::diskCapacity() const
{
    std::lock_guard lock(m_mutex);
    return m_diskCapacity;
}

void NSURLCache::setDiskCapacity(std::int64_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_diskCapacity = std::max<std::int64_t>(bytes, 0);
}

std::int64_t NSURLCache::currentMemoryUsage() const
{
    std::lock_guard lock(m_mutex);
    return m_usage;
}

void NSURLCache::trim()
{
    while (m_usage > m_memoryCapacity && !m_entries.empty()) {
        auto& last = m_entries.back();
        m_usage -= last.cost;
        m_index.erase(last.key);
        m_entries.pop_back();
    }
}

}
