#include "app/AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/VeskFileListController.h"
#include "model/Bookmarks.h"
#include "model/VeskFile.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/uikit/UIStoryboard.h"

#include <filesystem>
#include <functional>

using namespace vesk;
using namespace vesk::platform;

namespace {

using Colour = std::function<bool(UIPixel)>;
const Colour dark = [](UIPixel p) { return p.red < 90 && p.green < 90 && p.blue < 90; };
const Colour blue = [](UIPixel p) { return p.blue > 180 && p.red < 90 && p.green < 140; };
const Colour gray = [](UIPixel p) { return p.red > 140 && p.red < 215 && std::abs(p.red - p.blue) < 14; };
const Colour red = [](UIPixel p) { return p.red > 200 && p.green < 90 && p.blue < 90; };
const Colour orange = [](UIPixel p) { return p.red > 230 && p.green > 85 && p.green < 125 && p.blue < 60; };
const Colour green = [](UIPixel p) { return p.green > 190 && p.red < 110 && p.blue < 130; };

// A point of the screen a person would look at: at least (or, with a negative count, none of)
// so many pixels of the colour in the rectangle, which is in the named row when there is one.
struct Look {
    const char* row;
    CGRect rect;
    const Colour* colour;
    int count;
    const char* what;
};

struct Shot {
    const char* name;
    std::function<void()> act;
    std::vector<Look> looks;
};

// The real screens, used through the pointer and the keys as in the window, each drawn to a
// PNG in the build folder and looked at where a person would look.
class ScreenSnapshotTest : public test::AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        UIApplication::sharedApplication().launch(std::make_shared<AppDelegate>());
        driver.drain();
        folder = makeFolder("Holiday");
        makeFolder("Holiday/Docs");
        makeFile("Holiday/notes.txt", "Packing list\nsun cream\n");
        makeFile("Holiday/" + longName);
        ASSERT_EQ(::symlink("/nonexistent/target", (folder + "/Locked").c_str()), 0);
        UIGraphicsBeginImageContextWithOptions(CGSizeMake(40, 30), true, 1);
        UIColor::redColor()->setFill();
        CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 40, 30));
        UIGraphicsGetImageFromCurrentImageContext()->writePNGToFile(folder + "/picture.png");
        UIGraphicsEndImageContext();
        Bookmarks().save(VeskFile::initWithPath(folder + "/notes.txt"));
    }

    // Lets the background work, the watchers and the animations finish; a table makes its
    // cells, and so starts their icons, when it is drawn.
    void settle()
    {
        for (int round = 0; round < 4; ++round) {
            driver.render(1);
            driver.drain();
            driver.advance(0.5);
        }
        driver.drain();
    }

    static int count(const UIImage& image, CGRect rect, const Colour& test)
    {
        int found = 0;
        for (int y = int(rect.origin.y); y < int(CGRectGetMaxY(rect)); ++y) {
            for (int x = int(rect.origin.x); x < int(CGRectGetMaxX(rect)); ++x)
                found += test(image.pixelAt(x, y));
        }
        return found;
    }

    // Where the row of the file list with the name is on the screen.
    CGRect rowRect(const std::string& name)
    {
        auto table = driver.visible<VeskFileListController>()->tableView();
        auto row = driver.rowWithText(*table, name);
        EXPECT_TRUE(row) << name;
        return row ? table->rectForRowAtIndexPath(*row).offsetBy(0, table->frame().origin.y - table->contentOffset().y) : CGRectZero;
    }
    CGPoint rowPoint(const std::string& name) { return { 200, CGRectGetMidY(rowRect(name)) }; }

    std::string folder;
    const std::string longName = std::string(60, 'W') + ".txt";
};

TEST_F(ScreenSnapshotTest, RealScreensShowWhatAPersonExpects)
{
    constexpr CGFloat toolbar = 667 - 22;
    auto in = [](CGFloat x, CGFloat width) { return CGRectMake(x, 0, width, 52); };
    std::vector<Shot> shots {
        { "root", [] {},
            { { nullptr, CGRectMake(120, 20, 135, 44), &dark, 20, "the title" }, { nullptr, CGRectMake(62, 64, 200, 5 * 52), &blue, 100, "folder names in blue" },
                { nullptr, CGRectMake(345, 64, 20, 52), &gray, 6, "a folder's disclosure mark" }, { nullptr, CGRectMake(0, 623, 375, 44), &blue, 200, "the toolbar's buttons" } } },
        { "documents", [&] { driver.tapAt({ 30, toolbar }); settle(); },
            { { nullptr, CGRectMake(120, 20, 135, 44), &dark, 20, "the title Documents" }, { nullptr, CGRectMake(8, 623, 44, 44), &blue, -1, "the Documents button disabled" },
                { nullptr, CGRectMake(8, 623, 44, 44), &gray, 20, "in grey" }, { nullptr, CGRectMake(100, 623, 180, 44), &blue, 50, "the others enabled" } } },
        { "folder", [&] {
             auto list = UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList");
             list->setFile(VeskFile::initWithPath(folder));
             std::dynamic_pointer_cast<UINavigationController>(driver.screenStack().front())->pushViewController(list, false);
             settle(); },
            { { "Docs", in(62, 120), &blue, 20, "Docs in blue" }, { "Docs", in(345, 20), &gray, 6, "with its disclosure mark" },
                { "Docs", in(12, 44), &red, 500, "the folder icon in its place" }, { "Locked", in(62, 120), &red, 20, "Locked in red" },
                { "notes.txt", in(0, 4), &orange, 150, "the bookmark marker of notes.txt" }, { "Locked", in(0, 4), &orange, -1, "none on Locked" },
                { "picture.png", in(12, 44), &red, 1000, "the picture's thumbnail" } } },
        { "edit-three-selected", [&] {
             driver.tapAt({ 350, 42 });
             settle();
             for (auto name : { "Docs", "notes.txt", "picture.png" })
                 driver.tapAt(rowPoint(name));
             settle(); },
            { { nullptr, CGRectMake(120, 44, 135, 30), &dark, 20, "the title 3 selected under the prompt" }, { "Docs", in(9, 22), &blue, 100, "a filled selection mark" },
                { longName.c_str(), in(100, 200), &dark, 300, "a long name" }, { longName.c_str(), in(369, 6), &dark, -1, "cut short with an ellipsis" },
                { nullptr, CGRectMake(0, 623, 375, 44), &blue, 100, "the edit toolbar enabled" } } },
        { "row-actions", [&] {
             driver.tapAt({ 350, 72 });
             settle();
             driver.rightClickAt(rowPoint("notes.txt")); },
            { { "notes.txt", in(230, 70), &gray, 1500, "More" }, { "notes.txt", in(305, 70), &red, 1500, "Delete at the row's end" } } },
        { "more-sheet", [&] { driver.tapAt({ 300, rowPoint("notes.txt").y }); },
            { { nullptr, CGRectMake(10, 600, 355, 57), &blue, 20, "Cancel at the bottom" }, { nullptr, CGRectMake(10, 200, 355, 390), &blue, 200, "the sheet's actions" } } },
        { "rename-alert", [&] {
             auto sheet = driver.alert();
             sheet->chooseAction(sheet->actionWithTitle("Rename")); },
            { { nullptr, CGRectMake(52, 250, 270, 170), &dark, 100, "the title, message and name" }, { nullptr, CGRectMake(60, 250, 260, 170), &blue, 20, "the caret and the buttons" } } },
        { "banner", [&] {
             driver.pressKey(UIKey::Escape);
             VeskNotificationManager::showNotification("Saved", NotificationType::Success, {}, {}, 3);
             driver.advance(0.3); },
            { { nullptr, CGRectMake(0, 0, 375, 20), &green, 2000, "the green banner over the status bar" } } },
        { "text-viewer", [&] {
             driver.advance(4);
             driver.tapAt(rowPoint("notes.txt"));
             settle(); },
            { { nullptr, CGRectMake(120, 20, 135, 44), &dark, 20, "the file's name" }, { nullptr, CGRectMake(0, 64, 200, 50), &dark, 100, "its text" } } },
        { "image-viewer", [&] {
             driver.tapAt({ 30, 42 });
             settle();
             driver.tapAt(rowPoint("picture.png"));
             settle(); },
            { { nullptr, CGRectMake(167, 330, 40, 30), &red, 1000, "the picture in the middle" }, { nullptr, CGRectMake(100, 623, 175, 44), &blue, 100, "the Light and Gray segments" } } },
        { "settings", [&] {
             driver.tapAt({ 30, 42 });
             settle();
             driver.tapAt({ 345, toolbar });
             settle(); },
            { { nullptr, CGRectMake(120, 20, 135, 44), &dark, 20, "the title" }, { nullptr, CGRectMake(300, 120, 75, 44), &green, -1, "the hidden-files switch off" } } },
        { "settings-switch-on", [&] { driver.tapAt({ 334, 141 }); },
            { { nullptr, CGRectMake(300, 120, 75, 44), &green, 500, "the hidden-files switch on" } } },
    };
    for (auto& shot : shots) {
        shot.act();
        settle();
        auto image = driver.render(1);
        image->writePNGToFile((std::filesystem::path(VESK_BINARY_DIR) / (std::string("real-") + shot.name + ".png")).string());
        for (auto& look : shot.looks) {
            auto rect = look.row ? look.rect.offsetBy(0, rowRect(look.row).origin.y) : look.rect;
            auto found = count(*image, rect, *look.colour);
            if (look.count < 0)
                EXPECT_EQ(found, 0) << shot.name << ": " << look.what;
            else
                EXPECT_GE(found, look.count) << shot.name << ": " << look.what;
        }
    }
}

}
