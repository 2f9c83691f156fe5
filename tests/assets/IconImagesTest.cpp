#include "assets/VeskAssets.h"

#include "platform/graphics/UIScreen.h"

#include "platform/graphics/GraphicsTestSupport.h"

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

    // The image makers whose image is made once.
    std::vector<Maker> cachedMakers()
    {
        return {
            { "veskIcon", { 1024, 1024 }, &VeskAssets::imageOfVeskIcon },
            { "swiftIcon", { 40, 52 }, &VeskAssets::imageOfSwiftIcon },
            { "zipIcon", { 40, 51 }, &VeskAssets::imageOfZipIcon },
            { "trashIcon", { 25, 31 }, &VeskAssets::imageOfTrashIcon },
            { "bookmarkIcon", { 36, 31 }, &VeskAssets::imageOfBookmarkIcon },
            { "cutIcon", { 32, 31 }, &VeskAssets::imageOfCutIcon },
            { "composeIcon", { 32, 31 }, &VeskAssets::imageOfComposeIcon },
            { "shareIcon", { 23, 31 }, &VeskAssets::imageOfShareIcon },
            { "packageIcon", { 32, 31 }, &VeskAssets::imageOfPackageIcon },
            { "dynamicCopy", { 20, 31 }, &VeskAssets::imageOfDynamicCopy },
            { "menueIcon", { 50, 31 }, &VeskAssets::imageOfMenueIcon },
            { "linkIcon", { 31, 31 }, &VeskAssets::imageOfLinkIcon },
            { "infoButton", { 31, 31 }, &VeskAssets::imageOfInfoButton },
            { "selectedInfoButton", { 30, 30 }, &VeskAssets::imageOfSelectedInfoButton },
            { "documentIcon", { 35, 31 }, &VeskAssets::imageOfDocumentIcon },
            { "gearIcon", { 31, 31 }, &VeskAssets::imageOfGearIcon },
            { "plusCircleIcon", { 30, 30 }, &VeskAssets::imageOfPlusCircleIcon },
            { "homeIcon", { 32, 31 }, &VeskAssets::imageOfHomeIcon },
        };
    }

    bool painted(const UIImage& image)
    {
        for (int y = 0; y < image.pixelHeight(); y += 1)
            for (int x = 0; x < image.pixelWidth(); x += 1)
                if (image.pixelAt(x, y).alpha > 0)
                    return true;
        return false;
    }

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
                EXPECT_EQ(image->pixelWidth(), int(maker.canvas.width * scale)) << maker.name;
                EXPECT_EQ(image->pixelHeight(), int(maker.canvas.height * scale)) << maker.name;
                EXPECT_TRUE(painted(*image)) << maker.name;
            }
        }
    }

    TEST_F(IconImagesTest, CachedImagesAreMadeOnceAtTheirCanvas)
    {
        for (auto& maker : cachedMakers()) {
            auto first = maker.make();
            ASSERT_TRUE(first) << maker.name;
            EXPECT_EQ(first->size(), maker.canvas) << maker.name;
            EXPECT_EQ(first->scale(), 2) << maker.name;
            EXPECT_TRUE(painted(*first)) << maker.name;
            // The same object on every later call, whatever the screen scale is now.
            UIScreen::mainScreen().setScale(1);
            EXPECT_EQ(maker.make().get(), first.get()) << maker.name;
            UIScreen::mainScreen().setScale(2);
        }
    }

    TEST_F(IconImagesTest, FreshImagesAreNewObjectsWithEqualPixels)
    {
        auto color = VeskAssets::flatRed();
        auto a = VeskAssets::imageOfFolderIconWithFileFillColor(color);
        auto b = VeskAssets::imageOfFolderIconWithFileFillColor(color);
        EXPECT_NE(a.get(), b.get());
        EXPECT_TRUE(a->hasEqualPixels(*b));
    }

    TEST_F(IconImagesTest, LeftOutArgumentsTakeTheirDefaults)
    {
        auto byDefault = VeskAssets::imageOfDynamicDownloadIconWithDLIconProgress();
        EXPECT_TRUE(byDefault->hasEqualPixels(*VeskAssets::imageOfDynamicDownloadIconWithDLIconProgress(1.0)));
        EXPECT_FALSE(byDefault->hasEqualPixels(*VeskAssets::imageOfDynamicDownloadIconWithDLIconProgress(0.5)));

        auto file = VeskAssets::imageOfFileIconWithFileFillColor();
        EXPECT_TRUE(file->hasEqualPixels(*VeskAssets::imageOfFileIconWithFileFillColor(UIColor::colorWithRed(1, 0, 0, 1), "txt")));
        EXPECT_TRUE(hasColor(pixelAtPoint(*file, 1, 50), 1, 0, 0));
        EXPECT_TRUE(isTransparent(pixelAtPoint(*file, 39.5, 0.5))); // above the cut corner

        auto folder = VeskAssets::imageOfFolderIconWithFileFillColor();
        EXPECT_TRUE(hasColor(pixelAtPoint(*folder, 28, 30), 1, 0, 0));
        auto dial = VeskAssets::imageOfCircularProgresWithTransparentColor();
        EXPECT_TRUE(dial->hasEqualPixels(*VeskAssets::imageOfCircularProgresWithTransparentColor(
            UIColor::colorWithRed(0.06, 0.06, 0.06, 1), UIColor::colorWithRed(1, 1, 1, 1), 0.403)));
        EXPECT_TRUE(hasColor(pixelAtPoint(*dial, 123, 190), 0.06, 0.06, 0.06)); // the inner disc, below the text
    }

    TEST_F(IconImagesTest, DrawingRoutinesPaintIntoTheCurrentContextAtFixedCoordinates)
    {
        // Into a larger context the icon keeps its size and place from the top-left corner.
        auto big = render({ 100, 100 }, 1, [] { VeskAssets::drawFolderIconWithFileFillColor(VeskAssets::flatBlue()); });
        EXPECT_TRUE(hasColor(big->pixelAt(28, 30), *VeskAssets::flatBlue()));
        EXPECT_TRUE(isTransparent(big->pixelAt(70, 30)));
        EXPECT_TRUE(isTransparent(big->pixelAt(28, 60)));
        // Without a current context a routine draws nothing and does not crash.
        VeskAssets::drawFolderIconWithFileFillColor(VeskAssets::flatBlue());
        VeskAssets::drawVeskIcon();
    }

    // An image view stand-in that records what it is sent.
    class RecordingView : public UIImageSettable {
    public:
        void setImage(std::shared_ptr<UIImage> image) override { received.push_back(std::move(image)); }
        std::vector<std::shared_ptr<UIImage>> received;
    };

    TEST_F(IconImagesTest, AssigningATargetListSendsEveryElementTheCachedIcon)
    {
        auto a = std::make_shared<RecordingView>(), b = std::make_shared<RecordingView>();
        VeskAssets assets;
        assets.setTrashIconTargets({ a, b });
        ASSERT_EQ(a->received.size(), 1u);
        ASSERT_EQ(b->received.size(), 1u);
        EXPECT_EQ(a->received[0].get(), VeskAssets::imageOfTrashIcon().get());
        EXPECT_EQ(b->received[0].get(), VeskAssets::imageOfTrashIcon().get());
        // Class-wide: another instance reads the same list.
        auto read = VeskAssets().trashIconTargets();
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, (IconTargetList { a, b }));
    }

    TEST_F(IconImagesTest, AssigningBeforeTheFirstRequestRendersAndCachesTheIcon)
    {
        auto view = std::make_shared<RecordingView>();
        VeskAssets().setHomeIconTargets({ view });
        ASSERT_EQ(view->received.size(), 1u);
        EXPECT_EQ(VeskAssets::imageOfHomeIcon().get(), view->received[0].get());
    }

    TEST_F(IconImagesTest, EmptyAndUnassignedLists)
    {
        VeskAssets assets;
        EXPECT_FALSE(assets.linkIconTargets());
        assets.setCutIconTargets({});
        auto read = assets.cutIconTargets();
        ASSERT_TRUE(read);
        EXPECT_TRUE(read->empty());
        // A null element is skipped, as a message to nothing is.
        auto view = std::make_shared<RecordingView>();
        assets.setShareIconTargets({ nullptr, view });
        EXPECT_EQ(view->received.size(), 1u);
    }

    TEST_F(IconImagesTest, ModifyingTheStoredListPushesTheIconToEveryElementAgain)
    {
        auto a = std::make_shared<RecordingView>(), b = std::make_shared<RecordingView>();
        VeskAssets assets;
        assets.setGearIconTargets({ a });
        assets.modifyGearIconTargets([&](IconTargetList& list) { list.push_back(b); });
        EXPECT_EQ(a->received.size(), 2u);
        EXPECT_EQ(b->received.size(), 1u);
        EXPECT_EQ(assets.gearIconTargets()->size(), 2u);
        // Modifying a list never assigned starts from an empty one.
        auto c = std::make_shared<RecordingView>();
        assets.modifyPackageIconTargets([&](IconTargetList& list) { list.push_back(c); });
        EXPECT_EQ(c->received.size(), 1u);
        EXPECT_EQ(c->received[0].get(), VeskAssets::imageOfPackageIcon().get());
    }

    TEST_F(IconImagesTest, EveryTargetListPushesItsOwnIcon)
    {
        using Setter = void (VeskAssets::*)(IconTargetList);
        struct Entry {
            Setter set;
            std::shared_ptr<UIImage> (*maker)();
        } entries[] = {
            { &VeskAssets::setVeskIconTargets, &VeskAssets::imageOfVeskIcon },
            { &VeskAssets::setSwiftIconTargets, &VeskAssets::imageOfSwiftIcon },
            { &VeskAssets::setZipIconTargets, &VeskAssets::imageOfZipIcon },
            { &VeskAssets::setTrashIconTargets, &VeskAssets::imageOfTrashIcon },
            { &VeskAssets::setBookmarkIconTargets, &VeskAssets::imageOfBookmarkIcon },
            { &VeskAssets::setCutIconTargets, &VeskAssets::imageOfCutIcon },
            { &VeskAssets::setComposeIconTargets, &VeskAssets::imageOfComposeIcon },
            { &VeskAssets::setShareIconTargets, &VeskAssets::imageOfShareIcon },
            { &VeskAssets::setPackageIconTargets, &VeskAssets::imageOfPackageIcon },
            { &VeskAssets::setDynamicCopyTargets, &VeskAssets::imageOfDynamicCopy },
            { &VeskAssets::setMenueIconTargets, &VeskAssets::imageOfMenueIcon },
            { &VeskAssets::setLinkIconTargets, &VeskAssets::imageOfLinkIcon },
            { &VeskAssets::setInfoButtonTargets, &VeskAssets::imageOfInfoButton },
            { &VeskAssets::setSelectedInfoButtonTargets, &VeskAssets::imageOfSelectedInfoButton },
            { &VeskAssets::setDocumentIconTargets, &VeskAssets::imageOfDocumentIcon },
            { &VeskAssets::setGearIconTargets, &VeskAssets::imageOfGearIcon },
            { &VeskAssets::setPlusCircleIconTargets, &VeskAssets::imageOfPlusCircleIcon },
            { &VeskAssets::setHomeIconTargets, &VeskAssets::imageOfHomeIcon },
        };
        VeskAssets assets;
        for (auto& entry : entries) {
            auto view = std::make_shared<RecordingView>();
            (assets.*entry.set)({ view });
            ASSERT_EQ(view->received.size(), 1u);
            EXPECT_EQ(view->received[0].get(), entry.maker().get());
        }
    }

}
}
