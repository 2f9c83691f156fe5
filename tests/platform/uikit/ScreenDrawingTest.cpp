#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/UIDriver.h"
#include "platform/uikit/UINavigationBar.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIViewRendering.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

using namespace vesk::platform;

namespace {

struct Row {
    UITableViewCellStyle style;
    std::string text;
    std::string detail = "";
    UITableViewCellAccessoryType accessory = UITableViewCellAccessoryType::None;
};

// A table screen of the given rows; records what a person did to it.
class Rows : public UITableViewController {
public:
    explicit Rows(std::vector<Row> rows, UITableViewStyle style = UITableViewStyle::Plain)
        : UITableViewController(style)
        , m_rows(std::move(rows))
    {
    }
    int numberOfRowsInSection(UITableView&, int) override { return static_cast<int>(m_rows.size()); }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) override
    {
        auto& row = m_rows[static_cast<std::size_t>(indexPath.row)];
        auto cell = std::make_shared<UITableViewCell>(row.style, "cell");
        cell->textLabel()->setText(row.text);
        if (auto detail = cell->detailTextLabel())
            detail->setText(row.detail);
        cell->setAccessoryType(row.accessory);
        if (row.accessory == UITableViewCellAccessoryType::DisclosureIndicator)
            cell->textLabel()->setTextColor(UIColor::blueColor());
        return cell;
    }
    void didSelectRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) override { log.push_back("select " + std::to_string(indexPath.row)); }
    std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> editActionsForRowAtIndexPath(UITableView&, const NSIndexPath&) override
    {
        return std::vector { UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Destructive, "Delete",
            [this](UITableViewRowAction&, const NSIndexPath& indexPath) { log.push_back("delete " + std::to_string(indexPath.row)); }) };
    }
    std::vector<std::string> log;

private:
    std::vector<Row> m_rows;
};

class ScreenDrawingTest : public ::testing::Test {
protected:
    void SetUp() override { UIApplication::sharedApplication().reset(); }
    void TearDown() override
    {
        driver.drain();
        UIApplication::sharedApplication().reset();
        RunLoop::main().useSystemClock();
    }

    std::shared_ptr<UINavigationController> launch(std::shared_ptr<UIViewController> root)
    {
        auto navigation = UINavigationController::initWithRootViewController(root);
        UIStoryboard::storyboardWithName("Main").setInitialViewController([navigation] { return navigation; });
        UIApplication::sharedApplication().launch(std::make_shared<UIApplicationDelegate>());
        return navigation;
    }

    // Renders at scale 1 (a pixel per point) and keeps the picture in the build folder.
    std::shared_ptr<UIImage> shoot(const std::string& name)
    {
        auto image = driver.render(1);
        image->writePNGToFile((std::filesystem::path(VESK_BINARY_DIR) / (name + ".png")).string());
        return image;
    }

    // The pixels of the rectangle (in points) that pass the test.
    static int count(const UIImage& image, CGRect rect, const std::function<bool(UIPixel)>& test)
    {
        int found = 0;
        for (int y = int(rect.origin.y); y < int(CGRectGetMaxY(rect)); ++y) {
            for (int x = int(rect.origin.x); x < int(CGRectGetMaxX(rect)); ++x)
                found += test(image.pixelAt(x, y));
        }
        return found;
    }
    static bool dark(UIPixel p) { return p.red < 90 && p.green < 90 && p.blue < 90; }
    static bool blue(UIPixel p) { return p.blue > 180 && p.red < 90; }
    static bool gray(UIPixel p) { return p.red > 150 && p.red < 215 && std::abs(p.red - p.blue) < 12; }
    static bool red(UIPixel p) { return p.red > 200 && p.green < 110 && p.blue < 110; }
    static bool white(UIPixel p) { return p.red > 245 && p.green > 245 && p.blue > 245; }

    UIDriver driver;
};

TEST_F(ScreenDrawingTest, NavigationScreenShowsBarsCellsAndTruncatesLongNames)
{
    std::string longName(300, 'W');
    auto rows = std::make_shared<Rows>(std::vector<Row> {
        { UITableViewCellStyle::Default, "Documents", "", UITableViewCellAccessoryType::DisclosureIndicator },
        { UITableViewCellStyle::Value1, "Size", "12 KB" },
        { UITableViewCellStyle::Subtitle, "notes.txt", "rw-r--r--", UITableViewCellAccessoryType::Checkmark },
        { UITableViewCellStyle::Default, longName + "\xff<b>" },
    });
    rows->setTitle("Files");
    auto zip = std::make_shared<UIBarButtonItem>(std::optional<std::string>("Zip"), UIBarButtonItemStyle::Plain, [](UIBarButtonItem&) {});
    auto trash = std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::Trash, [](UIBarButtonItem&) {});
    trash->setEnabled(false);
    rows->setToolbarItems({ zip, std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::FlexibleSpace, nullptr), trash });
    auto navigation = launch(rows);
    navigation->setToolbarHidden(false);
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(20, 20), true, 1);
    UIColor::redColor()->setFill();
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 20, 20));
    rows->tableView()->cellForRowAtIndexPath({ 0, 0 })->imageView()->setImage(UIGraphicsGetImageFromCurrentImageContext());
    UIGraphicsEndImageContext();
    auto image = shoot("screen-table");

    EXPECT_GT(count(*image, CGRectMake(150, 20, 75, 44), dark), 20) << "the title";
    // Rows start under the bar (64 points) and are 44 points high.
    EXPECT_EQ(count(*image, CGRectMake(15, 76, 20, 20), red), 400) << "the icon";
    EXPECT_GT(count(*image, CGRectMake(50, 64, 100, 44), blue), 20) << "the folder name in blue beside it";
    EXPECT_GT(count(*image, CGRectMake(350, 75, 15, 22), gray), 6) << "the disclosure mark";
    EXPECT_GT(count(*image, CGRectMake(280, 108, 80, 44), gray), 20) << "the value-1 detail, grey, at the right";
    EXPECT_GT(count(*image, CGRectMake(340, 152, 30, 44), blue), 6) << "the checkmark";
    EXPECT_GT(count(*image, CGRectMake(300, 196, 60, 44), dark), 20) << "the long name runs up to the margin";
    EXPECT_EQ(count(*image, CGRectMake(362, 196, 13, 43), dark), 0) << "and no further";
    EXPECT_EQ(count(*image, CGRectMake(15, 241, 360, 40), dark), 0) << "nor into the row below";
    EXPECT_GT(count(*image, CGRectMake(0, 623, 80, 44), blue), 10) << "the enabled toolbar item";
    EXPECT_EQ(count(*image, CGRectMake(300, 623, 75, 44), blue), 0) << "the disabled one is grey";
    EXPECT_GT(count(*image, CGRectMake(300, 623, 75, 44), gray), 10);

    auto pushed = std::make_shared<Rows>(std::vector<Row> {});
    pushed->navigationItem().setPrompt("/Documents");
    navigation->pushViewController(pushed, false);
    image = shoot("screen-pushed");
    EXPECT_GT(count(*image, CGRectMake(120, 20, 135, 30), dark), 20) << "the prompt above the bar's row";
    EXPECT_GT(count(*image, CGRectMake(5, 60, 70, 30), blue), 20) << "the back button reads Files";
    EXPECT_EQ(image->pixelAt(200, 90), (UIPixel { 247, 247, 247, 255 })) << "the bar grew";
    EXPECT_EQ(count(*image, CGRectMake(15, 94, 300, 44), blue), 0) << "the first screen's rows are gone";
    driver.pressKey(UIKey::Escape);
    EXPECT_EQ(navigation->viewControllers().size(), 1u);
}

// Two sections with headers; editing with multiple selection marks the chosen rows.
class Sections : public Rows {
public:
    Sections()
        : Rows({ { UITableViewCellStyle::Value1, "Name", "a.txt" }, { UITableViewCellStyle::Value1, "Size", "3 bytes" } }, UITableViewStyle::Grouped)
    {
    }
    int numberOfSectionsInTableView(UITableView&) override { return 2; }
    std::optional<std::string> titleForHeaderInSection(UITableView&, int section) override { return section ? "Dates" : "File"; }
};

TEST_F(ScreenDrawingTest, GroupedSectionsAndEditModeMarks)
{
    auto grouped = std::make_shared<Sections>();
    launch(grouped);
    auto table = grouped->tableView();
    auto image = shoot("screen-grouped");
    // Under the bar: the first header's room (55 points), its capitals at the bottom.
    EXPECT_EQ(image->pixelAt(200, 70), (UIPixel { 239, 239, 244, 255 })) << "the grouped background";
    EXPECT_GT(count(*image, CGRectMake(15, 64 + 30, 60, 25), gray), 10) << "FILE in grey capitals";
    EXPECT_TRUE(white(image->pixelAt(200, 64 + 55 + 20))) << "a row";
    EXPECT_GT(count(*image, CGRectMake(15, 64 + 55 + 88 + 17, 60, 38), gray), 10) << "the second header below the first section";

    table->setAllowsMultipleSelectionDuringEditing(true);
    grouped->setEditing(true, false);
    driver.tapAt({ 200, 64 + 55 + 44 + 20 });
    image = shoot("screen-editing");
    EXPECT_GT(count(*image, CGRectMake(9, 64 + 55 + 44 + 11, 22, 22), blue), 100) << "the selected row's filled mark";
    EXPECT_EQ(count(*image, CGRectMake(9, 64 + 55 + 11, 22, 22), blue), 0) << "an empty mark on the other";
    EXPECT_GT(count(*image, CGRectMake(9, 64 + 55 + 11, 22, 22), gray), 10);
}

TEST_F(ScreenDrawingTest, AlertTakesTypingReturnAndEscape)
{
    launch(std::make_shared<Rows>(std::vector<Row> { { UITableViewCellStyle::Default, "a.txt" } }));
    std::vector<std::string> chosen;
    auto alert = UIAlertController::alertControllerWithTitle("Rename", "Enter a new name", UIAlertControllerStyle::Alert);
    alert->addTextFieldWithConfigurationHandler([](UITextField& field) { field.setText("a.txt"); });
    alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel, [&](UIAlertAction&) { chosen.push_back("cancel"); }));
    auto ok = UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, [&](UIAlertAction&) { chosen.push_back("ok " + alert->textFields()[0]->text()); });
    alert->addAction(ok);
    driver.visibleScreen()->presentViewController(alert, false);
    auto image = shoot("screen-alert");
    EXPECT_TRUE(gray(image->pixelAt(5, 100)) || image->pixelAt(5, 100).red < 170) << "the screen is dimmed";
    EXPECT_GT(count(*image, CGRectMake(52, 250, 270, 170), white), 5000) << "the alert's box";
    EXPECT_GT(count(*image, CGRectMake(160, 250, 60, 40), dark), 20) << "its title";
    EXPECT_GT(count(*image, CGRectMake(60, 300, 260, 40), blue), 2) << "the caret in the field";

    driver.typeText("b");
    driver.pressKey(UIKey::Backspace);
    driver.typeText("é");
    EXPECT_EQ(alert->textFields()[0]->text(), "a.txté");
    driver.pressKey(UIKey::Backspace);
    driver.pressKey(UIKey::Return);
    EXPECT_EQ(chosen, std::vector<std::string> { "ok a.txt" }) << "Return chooses the only action that is no cancel";
    EXPECT_FALSE(driver.alert());
    EXPECT_FALSE(UIEventDispatcher::shared().acceptsText()) << "the field left with its alert";

    driver.visibleScreen()->presentViewController(alert, false);
    driver.pressKey(UIKey::Escape);
    EXPECT_EQ(chosen.back(), "cancel");
}

TEST_F(ScreenDrawingTest, ActionSheetButtonsSitAtTheBottomAndTakeTaps)
{
    launch(std::make_shared<Rows>(std::vector<Row> {}));
    std::vector<std::string> chosen;
    auto sheet = UIAlertController::alertControllerWithTitle("a.txt", std::nullopt, UIAlertControllerStyle::ActionSheet);
    for (auto [title, style] : { std::pair { "Copy", UIAlertActionStyle::Default }, { "Delete", UIAlertActionStyle::Destructive }, { "Cancel", UIAlertActionStyle::Cancel } })
        sheet->addAction(UIAlertAction::actionWithTitle(title, style, [&chosen, title = std::string(title)](UIAlertAction&) { chosen.push_back(title); }));
    driver.visibleScreen()->presentViewController(sheet, false);
    auto image = shoot("screen-sheet");
    // From the bottom: the cancel button apart, then Delete in red above it, then Copy.
    EXPECT_GT(count(*image, CGRectMake(10, 600, 355, 57), blue), 20) << "Cancel";
    EXPECT_GT(count(*image, CGRectMake(10, 535, 355, 57), red), 20) << "Delete, destructive";
    EXPECT_GT(count(*image, CGRectMake(10, 478, 355, 57), blue), 20) << "Copy";
    driver.tapAt({ 187, 10 });
    EXPECT_TRUE(chosen.empty()) << "a tap beside a phone's sheet does nothing";
    driver.tapAt({ 187, 506 });
    EXPECT_EQ(chosen, std::vector<std::string> { "Copy" });
}

TEST_F(ScreenDrawingTest, OnAPadSheetsAreCentredAndActionSheetsPointAtTheirItem)
{
    UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 768, 1024));
    UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
    auto rows = std::make_shared<Rows>(std::vector<Row> { { UITableViewCellStyle::Default, "a.txt" } });
    auto add = std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::Add, [](UIBarButtonItem&) {});
    rows->navigationItem().setRightBarButtonItem(add);
    launch(rows);
    auto sheet = UINavigationController::initWithRootViewController(std::make_shared<Rows>(std::vector<Row> {}));
    sheet->setModalPresentationStyle(UIModalPresentationStyle::FormSheet);
    rows->presentViewController(sheet, false);
    auto image = shoot("screen-pad-sheet");
    EXPECT_TRUE(gray(image->pixelAt(50, 500)) || image->pixelAt(50, 500).red < 170) << "dimmed around the sheet";
    EXPECT_TRUE(white(image->pixelAt(384, 500))) << "the sheet in the middle";
    sheet->dismissViewControllerAnimated(false);

    std::vector<std::string> chosen;
    auto actions = UIAlertController::alertControllerWithTitle(std::nullopt, std::nullopt, UIAlertControllerStyle::ActionSheet);
    actions->addAction(UIAlertAction::actionWithTitle("New Folder", UIAlertActionStyle::Default, [&](UIAlertAction&) { chosen.push_back("folder"); }));
    actions->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel, [&](UIAlertAction&) { chosen.push_back("cancel"); }));
    actions->popoverPresentationController().setBarButtonItem(add);
    rows->presentViewController(actions, false);
    image = shoot("screen-pad-popover");
    // Below the item at the bar's right end, without a cancel button.
    EXPECT_GT(count(*image, CGRectMake(440, 72, 318, 50), blue), 20) << "New Folder under the + item";
    EXPECT_EQ(count(*image, CGRectMake(0, 130, 768, 894), blue), 0) << "no Cancel button";
    driver.tapAt({ 100, 600 });
    EXPECT_EQ(chosen, std::vector<std::string> { "cancel" }) << "a tap outside the popover cancels";
    UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 375, 667));
    UIDevice::currentDevice().reset();
}

TEST_F(ScreenDrawingTest, PointerTapsScrollsAndRevealsRowActions)
{
    std::vector<Row> many;
    for (int row = 0; row < 100; ++row)
        many.push_back({ UITableViewCellStyle::Default, "row " + std::to_string(row) });
    auto rows = std::make_shared<Rows>(many);
    launch(rows);
    auto table = rows->tableView();
    shoot("screen-rows");
    EXPECT_FALSE(UIRenderer::needsDisplay()) << "nothing changed since the drawing";

    driver.dragFrom({ 200, 500 }, { 200, 300 });
    EXPECT_EQ(table->contentOffset().y, 200);
    EXPECT_TRUE(UIRenderer::needsDisplay()) << "the table scrolled";
    driver.scrollAt({ 200, 300 }, -1000);
    EXPECT_EQ(table->contentOffset().y, 0) << "never above the first row";
    driver.scrollAt({ 200, 300 }, 100000);
    EXPECT_EQ(table->contentOffset().y, 100 * 44 - (667 - 64)) << "nor below the last";
    driver.scrollAt({ 200, 300 }, -100000);
    driver.tapAt({ 100, 64 + 44 * 2 + 10 });
    EXPECT_EQ(rows->log, std::vector<std::string> { "select 2" });

    driver.rightClickAt({ 100, 64 + 44 * 3 + 10 });
    auto image = shoot("screen-row-actions");
    EXPECT_GT(count(*image, CGRectMake(300, 64 + 44 * 3, 75, 44), red), 1000) << "the Delete button at the row's end";
    driver.tapAt({ 340, 64 + 44 * 3 + 20 });
    EXPECT_EQ(rows->log.back(), "delete 3");

    driver.dragFrom({ 300, 64 + 44 * 5 + 20 }, { 150, 64 + 44 * 5 + 25 });
    driver.tapAt({ 100, 64 + 44 * 7 + 20 });
    EXPECT_EQ(rows->log.back(), "delete 3") << "a tap elsewhere only closes the revealed actions";
    driver.tapAt({ 100, 64 + 44 * 7 + 20 });
    EXPECT_EQ(rows->log.back(), "select 7");

    shoot("screen-rows");
    table->cellForRowAtIndexPath({ 0, 1 })->textLabel()->setText("renamed");
    EXPECT_TRUE(UIRenderer::needsDisplay()) << "a label changed";
}

}
