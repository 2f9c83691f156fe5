#include "platform/foundation/NSURLCache.h"
#include "platform/foundation/NSFileManager.h"

#include <gtest/gtest.h>

using namespace vesk::platform;

namespace {

NSURLRequest request(const std::string& path)
{
    return NSURLRequest(*NSURL::URLWithString("http://127.0.0.1/" + path));
}

NSCachedURLResponse response(const std::string& path, std::size_t bytes, std::string cacheControl = {})
{
    NSCachedURLResponse cached { NSURLResponse(request(path).URL), Bytes(bytes, 'x') };
    if (!cacheControl.empty())
        cached.response.allHeaderFields.emplace_back("cache-control", cacheControl);
    return cached;
}

}

class NSURLCacheTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vesk-urlcache-XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        folder = pattern;
    }
    void TearDown() override { NSFileManager::defaultManager().removeItemAtPath(folder); }
    std::string folder;
};

TEST_F(NSURLCacheTest, KeepsWhatFitsTheCapacitiesAndDropsTheLeastRecentlyUsed)
{
    NSURLCache cache(1000, 10000, folder);
    for (auto [path, bytes, control] : { std::tuple { "a", 400, "" }, { "b", 400, "" }, { "huge", 501, "" }, { "secret", 10, "private, No-Store" } })
        cache.storeCachedResponse(response(path, bytes, control), request(path));
    EXPECT_FALSE(cache.cachedResponseForRequest(request("huge"))) << "more than a twentieth of the disk capacity";
    EXPECT_FALSE(cache.cachedResponseForRequest(request("secret")));
    ASSERT_TRUE(cache.cachedResponseForRequest(request("a#part")));
    EXPECT_EQ(cache.cachedResponseForRequest(request("a"))->data.size(), 400u);

    cache.storeCachedResponse(response("c", 300, ""), request("c"));
    EXPECT_LE(cache.currentMemoryUsage(), 1000);
    EXPECT_TRUE(cache.cachedResponseForRequest(request("b"))) << "out of memory, still on disk";
    cache.setMemoryCapacity(500);
    EXPECT_LE(cache.currentMemoryUsage(), 500);
    // The least recently used leaves the disk too once it is full.
    cache.cachedResponseForRequest(request("a"));
    cache.setDiskCapacity(cache.currentDiskUsage() - 1);
    EXPECT_FALSE(cache.cachedResponseForRequest(request("c")));
    EXPECT_TRUE(cache.cachedResponseForRequest(request("a")));
    cache.removeAllCachedResponses();
    EXPECT_EQ(cache.currentMemoryUsage(), 0);
    EXPECT_EQ(cache.currentDiskUsage(), 0);
    EXPECT_FALSE(cache.cachedResponseForRequest(request("b")));
}

TEST_F(NSURLCacheTest, TheDiskKeepsWhatMemoryCannotAcrossARelaunch)
{
    {
        NSURLCache cache(512 * 1024, 10 * 1024 * 1024, folder);
        for (int index = 0; index < 20; ++index) {
            auto cached = response(std::to_string(index), 100 * 1024, "max-age=60");
            cached.response.MIMEType = "image/png";
            cache.storeCachedResponse(cached, request(std::to_string(index)));
        }
        EXPECT_LE(cache.currentMemoryUsage(), 512 * 1024);
    }
    NSURLCache relaunched(512 * 1024, 10 * 1024 * 1024, folder);
    for (int index = 0; index < 20; ++index) {
        auto stored = relaunched.cachedResponseForRequest(request(std::to_string(index)));
        ASSERT_TRUE(stored) << index;
        EXPECT_EQ(stored->data, response("", 100 * 1024).data);
        EXPECT_EQ(stored->response.MIMEType, "image/png");
        EXPECT_EQ(stored->response.URL.absoluteString(), "http://127.0.0.1/" + std::to_string(index));
        EXPECT_EQ(stored->response.allHeaderFields, (std::vector<std::pair<std::string, std::string>> { { "cache-control", "max-age=60" } }));
    }
}
