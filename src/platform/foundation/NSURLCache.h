#pragma once

#include "platform/foundation/NSURLRequest.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace vesk::platform {

// The process-wide URL cache the loader consults: asked before every load, and handed every
// successful GET response from the network. Responses are kept by URL (without its fragment)
// in two tiers, each dropping the least recently used when its capacity is reached: memory,
// and a folder on disk that outlives the process (the disk path, relative to the app's
// Library/Caches unless absolute; "URLCache" there when none is given). As on the platform, a
// response is kept only when it is at most a twentieth of the disk capacity, in memory only
// when it also fits the memory capacity, and never when it says "Cache-Control: no-store".
// Any thread.
class NSURLCache {
public:
    // The platform's default capacities: 512 KiB in memory, 10 MiB on disk.
    NSURLCache();
    NSURLCache(std::int64_t memoryCapacity, std::int64_t diskCapacity, std::optional<std::string> diskPath);
    virtual ~NSURLCache() = default;
    NSURLCache(const NSURLCache&) = delete;
    NSURLCache& operator=(const NSURLCache&) = delete;

    // Until one is installed, the shared cache has no capacity and keeps nothing.
    static std::shared_ptr<NSURLCache> sharedURLCache();
    static void setSharedURLCache(std::shared_ptr<NSURLCache> cache);

    // A response answered here is used instead of loading.
    virtual std::optional<NSCachedURLResponse> cachedResponseForRequest(const NSURLRequest& request);
    virtual void storeCachedResponse(const NSCachedURLResponse& cached, const NSURLRequest& request);
    void removeCachedResponseForRequest(const NSURLRequest& request);
    void removeAllCachedResponses();

    std::int64_t memoryCapacity() const;
    // Lowering a capacity drops what no longer fits at once.
    void setMemoryCapacity(std::int64_t bytes);
    std::int64_t diskCapacity() const;
    void setDiskCapacity(std::int64_t bytes);
    std::int64_t currentMemoryUsage() const;
    std::int64_t currentDiskUsage() const;
    const std::optional<std::string>& diskPath() const { return m_diskPath; }

private:
    struct Entry {
        std::string key;
        NSCachedURLResponse cached;
        std::int64_t cost;
    };
    struct Stored {
        std::string file;
        std::int64_t size;
    };
    void trim();
    // The disk tier, its files listed on first use; all under m_mutex.
    void loadDiskIndex();
    void trimDisk();
    void forgetOnDisk(const std::string& file);
    std::optional<NSCachedURLResponse> readFromDisk(const std::string& key);
    void writeToDisk(const std::string& key, const NSCachedURLResponse& cached);

    mutable std::mutex m_mutex;
    std::int64_t m_memoryCapacity;
    std::int64_t m_diskCapacity;
    std::optional<std::string> m_diskPath;
    std::int64_t m_usage = 0;
    // Most recently used first.
    std::list<Entry> m_entries;
    std::unordered_map<std::string, std::list<Entry>::iterator> m_index;
    std::string m_diskFolder;
    bool m_diskLoaded = false;
    std::int64_t m_diskUsage = 0;
    // By file name (the digest of the key), most recently used first.
    std::list<Stored> m_diskEntries;
    std::unordered_map<std::string, std::list<Stored>::iterator> m_diskIndex;
};

}
