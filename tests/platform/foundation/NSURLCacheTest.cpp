#include "platform/foundation/NSURLCache.h"

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

TEST(NSURLCacheTest, KeepsWhatFitsTheCapacitiesAndDropsTheLeastRecentlyUsed)
{
    NSURLCache cache(1000, 10000, std::nullopt);
    for (auto [path, bytes, control] : { std::tuple { "a", 400, "" }, { "b", 400, "" }, { "huge", 501, "" }, { "secret", 10, "private, No-Store" } })
        cache.storeCachedResponse(response(path, bytes, control), request(path));
    EXPECT_FALSE(cache.cachedResponseForRequest(request("huge"))) << "more than a twentieth of the disk capacity";
    EXPECT_FALSE(cache.cachedResponseForRequest(request("secret")));
    ASSERT_TRUE(cache.cachedResponseForRequest(request("a#part")));
    EXPECT_EQ(cache.cachedResponseForRequest(request("a"))->data.size(), 400u);

    cache.storeCachedResponse(response("c", 300, ""), request("c"));
    EXPECT_FALSE(cache.cachedResponseForRequest(request("b"))) << "b was used least recently";
    EXPECT_TRUE(cache.cachedResponseForRequest(request("a")));
    EXPECT_LE(cache.currentMemoryUsage(), 1000);
    cache.setMemoryCapacity(500);
    EXPECT_FALSE(cache.cachedResponseForRequest(request("c")));
    EXPECT_TRUE(cache.cachedResponseForRequest(request("a")));
    cache.removeAllCachedResponses();
    EXPECT_EQ(cache.currentMemoryUsage(), 0);
}
