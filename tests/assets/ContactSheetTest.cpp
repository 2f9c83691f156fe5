#include "assets/VeskAssets.h"

#include "platform/graphics/CGContext.h"
#include "platform/graphics/NSStringDrawing.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/graphics/UIFont.h"
#include "platform/graphics/UIScreen.h"

#include "platform/graphics/GraphicsTestSupport.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

namespace vesk::testing {
namespace {

    struct Sample {
        std::string label;
        std::function<std::shared_ptr<UIImage>()> make;
    };

    std::vector<Sample> everyIcon()
    {
        using A = VeskAssets;
        return {
            { "veskIcon", &A::imageOfVeskIcon },
            { "videoIcon2", [] { return A::imageOfVideoIcon2WithFileFillColor(A::flatDeepBlue()); } },
            { "videoIcon3", [] { return A::imageOfVideoIcon3WithFileFillColor(); } },
            { "progres 0.403", [] { return A::imageOfCircularProgresWithTransparentColor(); } },
            { "progres 0", [] { return A::imageOfCircularProgresWithTransparentColor(UIColor::colorWithRed(0.06, 0.06, 0.06, 1), UIColor::whiteColor(), 0); } },
            { "progres 0.76", [] { return A::imageOfCircularProgresWithTransparentColor(UIColor::clearColor(), UIColor::blackColor(), 0.76); } },
            { "progres 1", [] { return A::imageOfCircularProgresWithTransparentColor(UIColor::colorWithRed(0.06, 0.06, 0.06, 1), UIColor::whiteColor(), 1); } },
            { "folderIcon", [] { return A::imageOfFolderIconWithFileFillColor(A::flatRed()); } },
            { "executableIcon", [] { return A::imageOfExecutableIconWithFileFillColor(A::flatGreen()); } },
            { "fileIcon txt", [] { return A::imageOfFileIconWithFileFillColor(A::txtColor(), "txt"); } },
            { "fileIcon PDF", [] { return A::imageOfFileIconWithFileFillColor(A::pdfColor(), "PDF"); } },
            { "fileIcon long", [] { return A::imageOfFileIconWithFileFillColor(A::plistColor(), "verylongsuffix"); } },
            { "fileIcon markup", [] { return A::imageOfFileIconWithFileFillColor(A::htmlColor(), "<b>x</b>"); } },
            { "fileIcon bad utf8", [] { return A::imageOfFileIconWithFileFillColor(A::flatPurple(), "a\xff"); } },
            { "fileIcon empty", [] { return A::imageOfFileIconWithFileFillColor(A::jsColor(), ""); } },
            { "imageIcon", [] { return A::imageOfImageIconWithFileFillColor(A::flatBlue()); } },
            { "musicIcon", [] { return A::imageOfMusicIconWithFileFillColor(A::flatOrange()); } },
            { "videoIcon", [] { return A::imageOfVideoIconWithFileFillColor(A::flatDeepBlue()); } },
            { "swiftIcon", &A::imageOfSwiftIcon },
            { "defaultIcon", [] { return A::imageOfDefaultIconWithIconFillColor(UIColor::lightGrayColor()); } },
            { "stringsIcon", [] { return A::imageOfStringsIconWithFileFillColor(A::flatBlue()); } },
            { "zipIcon", &A::imageOfZipIcon },
            { "download 1", [] { return A::imageOfDynamicDownloadIconWithDLIconProgress(); } },
            { "download 0.5", [] { return A::imageOfDynamicDownloadIconWithDLIconProgress(0.5); } },
            { "download 0", [] { return A::imageOfDynamicDownloadIconWithDLIconProgress(0); } },
            { "trashIcon", &A::imageOfTrashIcon },
            { "bookmarkIcon", &A::imageOfBookmarkIcon },
            { "cutIcon", &A::imageOfCutIcon },
            { "composeIcon", &A::imageOfComposeIcon },
            { "shareIcon", &A::imageOfShareIcon },
            { "packageIcon", &A::imageOfPackageIcon },
            { "dynamicCopy", &A::imageOfDynamicCopy },
            { "menueIcon", &A::imageOfMenueIcon },
            { "linkIcon", &A::imageOfLinkIcon },
            { "infoButton", &A::imageOfInfoButton },
            { "selectedInfoButton", &A::imageOfSelectedInfoButton },
            { "documentIcon", &A::imageOfDocumentIcon },
            { "gearIcon", &A::imageOfGearIcon },
            { "plusCircleIcon", &A::imageOfPlusCircleIcon },
            { "homeIcon", &A::imageOfHomeIcon },
        };
    }

    // A light checkerboard, so that transparent parts of an icon show as such.
    void drawChecker(const CGRect& r)
    {
        UIColor(0.93, 0.93, 0.93, 1).setFill();
        UIBezierPath::bezierPathWithRect(r).fill();
        UIColor(0.85, 0.85, 0.85, 1).setFill();
        for (CGFloat y = r.origin.y; y < CGRectGetMaxY(r); y += 8)
            for (CGFloat x = r.origin.x + (int((y - r.origin.y) / 8) % 2) * 8; x < CGRectGetMaxX(r); x += 16)
                UIBezierPath::bezierPathWithRect(CGRectMake(x, y, 8, 8)).fill();
    }

    TEST(ContactSheetTest, EveryIconOnOneSheet)
    {
        UIScreen::mainScreen().setScale(2);
        auto samples = everyIcon();
        constexpr CGFloat cellWidth = 140, cellHeight = 160, box = 120;
        constexpr int columns = 8;
        int rows = int((samples.size() + columns - 1) / columns);
        CGSize sheetSize { columns * cellWidth, rows * cellHeight };

        std::vector<std::shared_ptr<UIImage>> images;
        for (auto& sample : samples)
            images.push_back(sample.make());

        NSStringAttributes label;
        label.font = UIFont::systemFontOfSize(11);
        label.foregroundColor = UIColor::colorWithRed(0.2, 0.2, 0.2, 1);
        label.paragraphStyle.alignment = NSTextAlignmentCenter;

        auto sheet = render(sheetSize, 2, [&] {
            UIColor(1, 1, 1, 1).setFill();
            UIBezierPath::bezierPathWithRect(CGRectMake(0, 0, sheetSize.width, sheetSize.height)).fill();
            for (size_t i = 0; i < samples.size(); ++i) {
                CGFloat x = (i % columns) * cellWidth, y = (i / columns) * cellHeight;
                auto boxRect = CGRectMake(x + (cellWidth - box) / 2, y + 8, box, box);
                drawChecker(boxRect);
                if (auto& image = images[i]) {
                    // Small icons at twice their size, large ones fitted into the box.
                    auto size = image->size();
                    CGFloat zoom = std::min({ 2.0, box / size.width, box / size.height });
                    CGSize shown { size.width * zoom, size.height * zoom };
                    image->drawInRect(CGRectMake(CGRectGetMidX(boxRect) - shown.width / 2, CGRectGetMidY(boxRect) - shown.height / 2,
                        shown.width, shown.height));
                }
                drawInRect(samples[i].label, CGRectMake(x, y + box + 14, cellWidth, 30), label);
            }
        });
        ASSERT_TRUE(sheet);
        auto path = std::filesystem::path(VESK_BINARY_DIR) / "contact-sheet.png";
        ASSERT_TRUE(sheet->writePNGToFile(path.string()));
        EXPECT_GT(std::filesystem::file_size(path), 1000u);
        // The app icon also on its own, at full size.
        ASSERT_TRUE(images[0]->writePNGToFile((std::filesystem::path(VESK_BINARY_DIR) / "app-icon.png").string()));

        for (size_t i = 0; i < samples.size(); ++i) {
            ASSERT_TRUE(images[i]) << samples[i].label;
            bool painted = false;
            for (int y = 0; y < images[i]->pixelHeight() && !painted; ++y)
                for (int x = 0; x < images[i]->pixelWidth() && !painted; ++x)
                    painted = images[i]->pixelAt(x, y).alpha > 0;
            EXPECT_TRUE(painted) << samples[i].label;
        }
    }

}
}
