#include "assets/VeskAssets.h"

#include "platform/graphics/UIScreen.h"

#include "IconTestSupport.h"

#include <functional>
#include <vector>

namespace vesk::testing {
namespace {

    struct Maker {
        const char* name;
        CGSize canvas;
        std::function<std::shared_ptr<UIImage>()> make;
    };

    // The image makers that draw anew on every call.
    std::vector<Maker> freshMakers()
    {
        auto blue = UIColor::colorWithRed(0.271, 0.522, 0.831, 1);
        return {
            { "videoIcon2", { 40, 52 }, [=] { return VeskAssets::imageOfVideoIcon2WithFileFillColor(blue); } },
            { "videoIcon3", { 40, 52 }, [=] { return VeskAssets::imageOfVideoIcon3WithFileFillColor(blue); } },
            { "circularProgres", { 246, 246 }, [] { return VeskAssets::imageOfCircularProgresWithTransparentColor(); } },
            { "folderIcon", { 56, 48 }, [=] { return VeskAssets::imageOfFolderIconWithFileFillColor(blue); } },
            { "executableIcon", { 40, 52 }, [=] { return VeskAssets::imageOfExecutableIconWithFileFillColor(blue); } },
            { "fileIcon", { 40, 52 }, [=] { return VeskAssets::imageOfFileIconWithFileFillColor(blue, "pdf"); } },
            { "imageIcon", { 40, 52 }, [=] { return VeskAssets::imageOfImageIconWithFileFillColor(blue); } },
            { "musicIcon", { 40, 51 }, [=] { return VeskAssets::imageOfMusicIconWithFileFillColor(blue); } },
            { "videoIcon", { 40, 52 }, [=] { return VeskAssets::imageOfVideoIconWithFileFillColor(blue); } },
            { "defaultIcon", { 240, 240 }, [] { return VeskAssets::imageOfDefaultIconWithIconFillColor(UIColor::lightGrayColor()); } },
            { "stringsIcon", { 40, 51 }, [=] { return VeskAssets::imageOfStringsIconWithFileFillColor(blue); } },
            { "dynamicDownloadIcon", { 40, 52 }, [] { return VeskAssets::imageOfDynamicDownloadIconWithDLIconProgress(0.5); } },
        };
    }

    // The image makers whose image is made once, with the setters of their target lists.
    struct CachedIcon {
        const char* name;
        CGSize canvas;
        std::shared_ptr<UIImage> (*make)();
        void (VeskAssets::*setTargets)(IconTargetList);
    };

    const CachedIcon kCachedIcons[] = {
        { "veskIcon", { 1024, 1024 }, &VeskAssets::imageOfVeskIcon, &VeskAssets::setVeskIconTargets },
        { "swiftIcon", { 40, 52 }, &VeskAssets::imageOfSwiftIcon, &VeskAssets::setSwiftIconTargets },
        { "zipIcon", { 40, 51 }, &VeskAssets::imageOfZipIcon, &VeskAssets::setZipIconTargets },
        { "trashIcon", { 25, 31 }, &VeskAssets::imageOfTrashIcon, &VeskAssets::setTrashIconTargets },
        { "bookmarkIcon", { 36, 31 }, &VeskAssets::imageOfBookmarkIcon, &VeskAssets::setBookmarkIconTargets },
        { "cutIcon", { 32, 31 }, &VeskAssets::imageOfCutIcon, &VeskAssets::setCutIconTargets },
        { "composeIcon", { 32, 31 }, &VeskAssets::imageOfComposeIcon, &VeskAssets::setComposeIconTargets },
        { "shareIcon", { 23, 31 }, &VeskAssets::imageOfShareIcon, &VeskAssets::setShareIconTargets },
        { "packageIcon", { 32, 31 }, &VeskAssets::imageOfPackageIcon, &VeskAssets::setPackageIconTargets },
        { "dynamicCopy", { 20, 31 }, &VeskAssets::imageOfDynamicCopy, &VeskAssets::setDynamicCopyTargets },
        { "menueIcon", { 50, 31 }, &VeskAssets::imageOfMenueIcon, &VeskAssets::setMenueIconTargets },
        { "linkIcon", { 31, 31 }, &VeskAssets::imageOfLinkIcon, &VeskAssets::setLinkIconTargets },
        { "infoButton", { 31, 31 }, &VeskAssets::imageOfInfoButton, &VeskAssets::setInfoButtonTargets },
        { "selectedInfoButton", { 30, 30 }, &VeskAssets::imageOfSelectedInfoButton, &VeskAssets::setSelectedInfoButtonTargets },
        { "documentIcon", { 35, 31 }, &VeskAssets::imageOfDocumentIcon, &VeskAssets::setDocumentIconTargets },
        { "gearIcon", { 31, 31 }, &VeskAssets::imageOfGearIcon, &VeskAssets::setGearIconTargets },
        { "plusCircleIcon", { 30, 30 }, &VeskAssets::imageOfPlusCircleIcon, &VeskAssets::setPlusCircleIconTargets },
        { "homeIcon", { 32, 31 }, &VeskAssets::imageOfHomeIcon, &VeskAssets::setHomeIconTargets },
    };

    bool painted(const UIImage& image)
    {
        return countPixels(image, CGRectMake(0, 0, image.size().width, image.size().height), [](const UIPixel& p) { return p.alpha > 0; }) > 0;
    }

    // An image view stand-in that records what it is sent.
    class RecordingView : public UIImageSettable {
    public:
        void setImage(std::shared_ptr<UIImage> image) override { received.push_back(std::move(image)); }
        std::vector<std::shared_ptr<UIImage>> received;
    };

    class IconImagesTest : public ::testing::Test {
    protected:
        void SetUp() override { UIScreen::mainScreen().setScale(2); }
        void TearDown() override { UIScreen::mainScreen().setScale(2); }
    };

    TEST_F(IconImagesTest, FreshImagesHaveTheirCanvasAtTheScreensScale)
    {
        for (CGFloat scale : { 1.0, 2.0 }) {
            UIScreen::mainScreen().setScale(scale);
            for (auto& maker : freshMakers()) {
                auto image = maker.make();
                ASSERT_TRUE(image) << maker.name;
                EXPECT_EQ(image->size(), maker.canvas) << maker.name;
                EXPECT_EQ(image->scale(), scale) << maker.name;
                EXPECT_TRUE(painted(*image)) << maker.name;
                EXPECT_NE(maker.make().get(), image.get()) << maker.name;
            }
        }
    }

    TEST_F(IconImagesTest, CachedImagesAreMadeOnceAtTheirCanvasAndSentToTheirTargets)
    {
        VeskAssets assets;
        EXPECT_FALSE(assets.linkIconTargets()) << "not assigned yet";
        for (auto& maker : kCachedIcons) {
            auto first = maker.make();
            ASSERT_TRUE(first) << maker.name;
            EXPECT_EQ(first->size(), maker.canvas) << maker.name;
            EXPECT_EQ(first->scale(), 2) << maker.name;
            EXPECT_TRUE(painted(*first)) << maker.name;
            // The same object on every later call, whatever the screen scale is now.
            UIScreen::mainScreen().setScale(1);
            EXPECT_EQ(maker.make().get(), first.get()) << maker.name;
            UIScreen::mainScreen().setScale(2);
            auto view = std::make_shared<RecordingView>();
            (assets.*maker.setTargets)({ view });
            ASSERT_EQ(view->received.size(), 1u) << maker.name;
            EXPECT_EQ(view->received[0].get(), first.get()) << maker.name;
        }
    }

    TEST_F(IconImagesTest, TargetListsAreClassWideAndEveryChangeSendsTheIconToEveryElement)
    {
        auto a = std::make_shared<RecordingView>(), b = std::make_shared<RecordingView>();
        VeskAssets assets;
        // A null element is skipped, as a message to nothing is.
        assets.setGearIconTargets({ a, nullptr });
        assets.modifyGearIconTargets([&](IconTargetList& list) { list.push_back(b); });
        EXPECT_EQ(a->received.size(), 2u);
        ASSERT_EQ(b->received.size(), 1u);
        EXPECT_EQ(b->received[0].get(), VeskAssets::imageOfGearIcon().get());
        EXPECT_EQ(*VeskAssets().gearIconTargets(), (IconTargetList { a, nullptr, b }));
        // Modifying a list never assigned starts from an empty one.
        auto c = std::make_shared<RecordingView>();
        assets.modifyPackageIconTargets([&](IconTargetList& list) { list.push_back(c); });
        EXPECT_EQ(c->received.size(), 1u);
        assets.setCutIconTargets({});
        EXPECT_TRUE(assets.cutIconTargets()->empty());
        // Without a current context a routine draws nothing and does not crash.
        VeskAssets::drawFolderIconWithFileFillColor(VeskAssets::flatBlue());
        VeskAssets::drawVeskIcon();
    }

}
}
