#include "assets/VeskAssets.h"

#include "platform/graphics/UIBezierPath.h"
#include "platform/graphics/UIScreen.h"

#include "platform/graphics/GraphicsTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace vesk::testing {
namespace {

    // A bundle of our own, in place before anything looks the bundle up.
    class BundleEnvironment : public ::testing::Environment {
    public:
        static std::filesystem::path dir()
        {
            static auto path = std::filesystem::temp_directory_path() / ("vesk-bundle-" + std::to_string(::getpid()));
            return path;
        }

        void SetUp() override
        {
            std::filesystem::create_directories(dir());
            ::setenv("VESK_BUNDLE", dir().c_str(), 1);
            auto solid = [](CGFloat r, CGFloat g, CGFloat b, CGSize size, CGFloat scale) {
                return render(size, scale, [&] {
                    UIColor(r, g, b, 1).setFill();
                    UIBezierPath::bezierPathWithRect(CGRectMake(0, 0, size.width, size.height)).fill();
                });
            };
            solid(1, 0, 1, { 10, 10 }, 1)->writePNGToFile((dir() / "image4.png").string());
            solid(0, 1, 0, { 4, 4 }, 1)->writePNGToFile((dir() / "badge.png").string());
            solid(0, 0, 1, { 4, 4 }, 2)->writePNGToFile((dir() / "badge@2x.png").string());
        }

        void TearDown() override { std::filesystem::remove_all(dir()); }
    };

    const auto* const s_environment = ::testing::AddGlobalTestEnvironment(new BundleEnvironment);

    TEST(BundleImageTest, NamedImagesPreferTheScreensScale)
    {
        UIScreen::mainScreen().setScale(2);
        auto two = UIImage::imageNamed("badge.png");
        ASSERT_TRUE(two);
        EXPECT_EQ(two->scale(), 2);
        EXPECT_EQ(two->size(), (CGSize { 4, 4 }));
        EXPECT_TRUE(hasColor(two->pixelAt(0, 0), 0, 0, 1));
        auto byBareName = UIImage::imageNamed("badge");
        ASSERT_TRUE(byBareName);
        EXPECT_EQ(byBareName->scale(), 2);

        UIScreen::mainScreen().setScale(1);
        auto one = UIImage::imageNamed("badge.png");
        ASSERT_TRUE(one);
        EXPECT_EQ(one->scale(), 1);
        EXPECT_TRUE(hasColor(one->pixelAt(0, 0), 0, 1, 0));
        UIScreen::mainScreen().setScale(2);
        EXPECT_FALSE(UIImage::imageNamed("missing.png"));
    }

    TEST(BundleImageTest, TheAppIconTilesTheBundlesImageWhereItHasOne)
    {
        auto icon = render({ 1024, 1024 }, 1, [] { VeskAssets::drawVeskIcon(); });
        // The sheet of layer 4 comes from the bundle; the other layers are still drawn.
        EXPECT_TRUE(hasColor(icon->pixelAt(180, 460), 1, 0, 1));
        EXPECT_TRUE(hasColor(icon->pixelAt(848, 1020), 1, 0, 1));
        EXPECT_FALSE(hasColor(icon->pixelAt(150, 460), 1, 0, 1));
        EXPECT_EQ(icon->pixelAt(5, 500).alpha, 255);
    }

}
}
