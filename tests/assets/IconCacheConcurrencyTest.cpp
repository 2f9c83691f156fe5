#include "assets/VeskAssets.h"

#include "platform/graphics/GraphicsTestSupport.h"

#include <latch>
#include <thread>
#include <vector>

namespace vesk::testing {
namespace {

    constexpr int kThreads = 8;

    // Runs the call on every thread at once and collects what each got.
    template<typename Call>
    auto fromManyThreads(Call call)
    {
        std::vector<decltype(call())> results(kThreads);
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                results[i] = call();
            });
        }
        for (auto& t : threads)
            t.join();
        return results;
    }

    TEST(IconCacheConcurrencyTest, ConcurrentFirstRequestsMakeOneImage)
    {
        for (auto maker : { &VeskAssets::imageOfZipIcon, &VeskAssets::imageOfGearIcon, &VeskAssets::imageOfSwiftIcon }) {
            auto images = fromManyThreads(maker);
            ASSERT_TRUE(images[0]);
            for (auto& image : images)
                EXPECT_EQ(image.get(), images[0].get());
            EXPECT_EQ(maker().get(), images[0].get());
        }
    }

}
}
