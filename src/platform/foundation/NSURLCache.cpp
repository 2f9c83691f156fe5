#include "platform/foundation/NSURLCache.h"

#include "platform/foundation/AppHome.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/FileData.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

    // A stored response: a header line, then each field as its length in decimal, ":" and its bytes.
    constexpr std::string_view diskFormat = "VeskURLCache 1\n";

    void appendField(Bytes& out, std::string_view field)
    {
        auto length = std::to_string(field.size()) + ":";
        out.insert(out.end(), length.begin(), length.end());
        out.insert(out.end(), field.begin(), field.end());
    }

    struct FieldReader {
        std::string_view rest;
        std::optional<std::string_view> next()
        {
            auto colon = rest.find(':');
            std::size_t length = 0;
            if (colon == std::string_view::npos || std::from_chars(rest.data(), rest.data() + colon, length).ptr != rest.data() + colon
                || rest.size() - colon - 1 < length)
                return std::nullopt;
            auto field = rest.substr(colon + 1, length);
            rest.remove_prefix(colon + 1 + length);
            return field;
        }
        template<typename Number>
        std::optional<Number> number()
        {
            auto field = next();
            Number value {};
            if (!field || std::from_chars(field->data(), field->data() + field->size(), value).ptr != field->data() + field->size())
                return std::nullopt;
            return value;
        }
    };

    Bytes encoded(const std::string& key, const NSCachedURLResponse& cached)
    {
        Bytes out(diskFormat.begin(), diskFormat.end());
        auto& response = cached.response;
        for (auto& field : { key, response.URL.absoluteString(), response.MIMEType, std::to_string(response.expectedContentLength),
                 std::to_string(response.statusCode), std::to_string(response.allHeaderFields.size()) })
            appendField(out, field);
        for (auto& [name, value] : response.allHeaderFields) {
            appendField(out, name);
            appendField(out, value);
        }
        appendField(out, std::string_view(reinterpret_cast<const char*>(cached.data.data()), cached.data.size()));
        return out;
    }

    // Absent when the bytes are no stored response for the key.
    std::optional<NSCachedURLResponse> decoded(const std::string& key, const Bytes& bytes)
    {
        std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (!text.starts_with(diskFormat))
            return std::nullopt;
        FieldReader reader { text.substr(diskFormat.size()) };
        auto storedKey = reader.next();
        auto url = reader.next();
        auto type = reader.next();
        auto length = reader.number<std::int64_t>();
        auto status = reader.number<int>();
        auto headers = reader.number<std::size_t>();
        auto parsed = url ? NSURL::URLWithString(std::string(*url)) : std::nullopt;
        if (!storedKey || *storedKey != key || !parsed || !type || !length || !status || !headers)
            return std::nullopt;
        NSCachedURLResponse cached { NSURLResponse(*parsed), {} };
        cached.response.MIMEType = *type;
        cached.response.expectedContentLength = *length;
        cached.response.statusCode = *status;
        for (std::size_t index = 0; index < *headers; ++index) {
            auto name = reader.next();
            auto value = reader.next();
            if (!name || !value)
                return std::nullopt;
            cached.response.allHeaderFields.emplace_back(*name, *value);
        }
        auto data = reader.next();
        if (!data || !reader.rest.empty())
            return std::nullopt;
        cached.data.assign(data->begin(), data->end());
        return cached;
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
    auto key = keyFor(request);
    std::lock_guard lock(m_mutex);
    auto found = m_index.find(key);
    if (found == m_index.end()) {
        auto stored = readFromDisk(key);
        // Back in memory when it fits there.
        if (stored && costOf(*stored) <= m_memoryCapacity) {
            m_entries.push_front({ key, *stored, costOf(*stored) });
            m_index[key] = m_entries.begin();
            m_usage += m_entries.front().cost;
            trim();
        }
        return stored;
    }
    m_entries.splice(m_entries.begin(), m_entries, found->second);
    if (auto onDisk = m_diskIndex.find(sha1HexString(key)); onDisk != m_diskIndex.end())
        m_diskEntries.splice(m_diskEntries.begin(), m_diskEntries, onDisk->second);
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
    loadDiskIndex();
    forgetOnDisk(sha1HexString(key));
    if (forbidsStoring(cached.response) || cost > m_diskCapacity / 20)
        return;
    writeToDisk(key, cached);
    if (cost > m_memoryCapacity)
        return;
    m_entries.push_front({ key, cached, cost });
    m_index[key] = m_entries.begin();
    m_usage += cost;
    trim();
}

void NSURLCache::removeCachedResponseForRequest(const NSURLRequest& request)
{
    auto key = keyFor(request);
    std::lock_guard lock(m_mutex);
    if (auto found = m_index.find(key); found != m_index.end()) {
        m_usage -= found->second->cost;
        m_entries.erase(found->second);
        m_index.erase(found);
    }
    loadDiskIndex();
    forgetOnDisk(sha1HexString(key));
}

void NSURLCache::removeAllCachedResponses()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_index.clear();
    m_usage = 0;
    loadDiskIndex();
    while (!m_diskEntries.empty())
        forgetOnDisk(m_diskEntries.front().file);
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
    loadDiskIndex();
    trimDisk();
}

std::int64_t NSURLCache::currentDiskUsage() const
{
    std::lock_guard lock(m_mutex);
    const_cast<NSURLCache*>(this)->loadDiskIndex();
    return m_diskUsage;
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

void NSURLCache::loadDiskIndex()
{
    // A cache without disk capacity never touches the disk.
    if (m_diskLoaded || m_diskCapacity == 0)
        return;
    m_diskLoaded = true;
    auto path = m_diskPath.value_or("URLCache");
    m_diskFolder = path.starts_with('/') ? path : joinPath(cachesDirectory(), path);
    if (!createDirectories(m_diskFolder))
        return;
    // What earlier runs kept, the most recently used first by the files' times.
    std::vector<std::pair<timespec, Stored>> found;
    if (auto* folder = ::opendir(m_diskFolder.c_str())) {
        while (auto* entry = ::readdir(folder)) {
            std::string name = entry->d_name;
            struct stat info { };
            // Dot names are the atomic writes' temporary files.
            if (!name.starts_with('.') && ::stat(joinPath(m_diskFolder, name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
                found.push_back({ info.st_mtim, { name, info.st_size } });
        }
        ::closedir(folder);
    }
    std::sort(found.begin(), found.end(), [](auto& a, auto& b) {
        return a.first.tv_sec != b.first.tv_sec ? a.first.tv_sec > b.first.tv_sec : a.first.tv_nsec > b.first.tv_nsec;
    });
    for (auto& [time, stored] : found) {
        m_diskEntries.push_back(stored);
        m_diskIndex[stored.file] = std::prev(m_diskEntries.end());
        m_diskUsage += stored.size;
    }
    trimDisk();
}

void NSURLCache::trimDisk()
{
    while (m_diskUsage > m_diskCapacity && !m_diskEntries.empty())
        forgetOnDisk(m_diskEntries.back().file);
}

void NSURLCache::forgetOnDisk(const std::string& file)
{
    auto found = m_diskIndex.find(file);
    if (found == m_diskIndex.end())
        return;
    ::unlink(joinPath(m_diskFolder, file).c_str());
    m_diskUsage -= found->second->size;
    m_diskEntries.erase(found->second);
    m_diskIndex.erase(found);
}

std::optional<NSCachedURLResponse> NSURLCache::readFromDisk(const std::string& key)
{
    loadDiskIndex();
    auto file = sha1HexString(key);
    auto found = m_diskIndex.find(file);
    if (found == m_diskIndex.end())
        return std::nullopt;
    auto path = joinPath(m_diskFolder, file);
    auto bytes = readFileContents(path, static_cast<std::size_t>(m_diskCapacity));
    auto stored = bytes ? decoded(key, *bytes) : std::nullopt;
    if (!stored) {
        forgetOnDisk(file);
        return std::nullopt;
    }
    // The file's time is its last use, for the next run's order.
    ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
    m_diskEntries.splice(m_diskEntries.begin(), m_diskEntries, found->second);
    return stored;
}

void NSURLCache::writeToDisk(const std::string& key, const NSCachedURLResponse& cached)
{
    if (m_diskFolder.empty())
        return;
    auto file = sha1HexString(key);
    auto bytes = encoded(key, cached);
    // Renamed into place whole, but not flushed: a cache need not outlive a crash, and a file
    // cut short reads as no response at all.
    auto path = joinPath(m_diskFolder, file);
    auto temporary = joinPath(m_diskFolder, "." + file + ".XXXXXX");
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return;
    bool written = writeAll(fd, bytes.data(), bytes.size());
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return;
    }
    m_diskEntries.push_front({ file, static_cast<std::int64_t>(bytes.size()) });
    m_diskIndex[file] = m_diskEntries.begin();
    m_diskUsage += m_diskEntries.front().size;
    trimDisk();
}

}
