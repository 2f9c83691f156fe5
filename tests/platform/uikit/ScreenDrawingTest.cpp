#include "WebTestSupport.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/UIActivityIndicatorView.h"
#include "platform/uikit/UIAlertControllerView.h"
#include "platform/uikit/UIDriver.h"
#include "platform/uikit/UINavigationBar.h"
#include "platform/uikit/UIProgressView.h"
#include "platform/uikit/UISegmentedControl.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UISwitch.h"
#include "platform/uikit/UITextView.h"
#include "platform/uikit/UIViewRendering.h"
#include "platform/uikit/UIWebView.h"

#include <cairo-pdf.h>
#include <climits>
#include <filesystem>
#include <fstream>
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

    static int count(const UIImage& image, CGRect rect, const std::function<bool(UIPixel)>& test) { return vesk::test::countPixels(image, rect, test); }
    // The smallest rectangle holding the pixels of the rectangle that pass the test.
    static CGRect bounds(const UIImage& image, CGRect rect, const std::function<bool(UIPixel)>& test)
    {
        int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
        for (int y = int(rect.origin.y); y < int(CGRectGetMaxY(rect)); ++y) {
            for (int x = int(rect.origin.x); x < int(CGRectGetMaxX(rect)); ++x) {
                if (test(image.pixelAt(x, y))) {
                    left = std::min(left, x), right = std::max(right, x + 1);
                    top = std::min(top, y), bottom = std::max(bottom, y + 1);
                }
            }
        }
        return left > right ? CGRect {} : CGRectMake(left, top, right - left, bottom - top);
    }
    static bool dark(UIPixel p) { return p.red < 90 && p.green < 90 && p.blue < 90; }
    static bool blue(UIPixel p) { return p.blue > 180 && p.red < 90; }
    static bool gray(UIPixel p) { return p.red > 150 && p.red < 215 && std::abs(p.red - p.blue) < 12; }
    static bool red(UIPixel p) { return p.red > 200 && p.green < 110 && p.blue < 110; }
    static bool white(UIPixel p) { return p.red > 245 && p.green > 245 && p.blue > 245; }
    static bool green(UIPixel p) { return p.green > 190 && p.red < 110 && p.blue < 130; }

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

TEST_F(ScreenDrawingTest, GroupedSectionsHaveTheirHeadersAboveTheirRows)
{
    auto grouped = std::make_shared<Sections>();
    launch(grouped);
    auto image = shoot("screen-grouped");
    // Under the bar: the first header's room (55 points), its capitals at the bottom.
    EXPECT_EQ(image->pixelAt(200, 70), (UIPixel { 239, 239, 244, 255 })) << "the grouped background";
    EXPECT_GT(count(*image, CGRectMake(15, 64 + 30, 60, 25), gray), 10) << "FILE in grey capitals";
    EXPECT_TRUE(white(image->pixelAt(200, 64 + 55 + 20))) << "a row";
    EXPECT_GT(count(*image, CGRectMake(15, 64 + 55 + 88 + 17, 60, 38), gray), 10) << "the second header below the first section";
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

    // Without a cancel action, Escape takes the one that only closes the alert, if there is one.
    for (bool keepChangesNothing : { true, false }) {
        chosen.clear();
        auto ask = UIAlertController::alertControllerWithTitle("Discard?", std::nullopt, UIAlertControllerStyle::Alert);
        ask->addAction(UIAlertAction::actionWithTitle("Discard", UIAlertActionStyle::Destructive, [&](UIAlertAction&) { chosen.push_back("discard"); }));
        UIAlertAction::Handler keep;
        if (!keepChangesNothing)
            keep = [&](UIAlertAction&) { chosen.push_back("keep"); };
        ask->addAction(UIAlertAction::actionWithTitle("Keep", UIAlertActionStyle::Default, keep));
        driver.visibleScreen()->presentViewController(ask, false);
        driver.pressKey(UIKey::Escape);
        EXPECT_TRUE(chosen.empty()) << keepChangesNothing;
        EXPECT_EQ(driver.alert() == nullptr, keepChangesNothing) << "every action changes something: Escape leaves the choice open";
        if (driver.alert())
            driver.chooseAlertAction("Keep");
    }
}

TEST_F(ScreenDrawingTest, AFieldShowsALongNameOnOneLineWithItsEndAndCaretInSight)
{
    for (bool pad : { false, true }) {
        SCOPED_TRACE(pad ? "pad" : "phone");
        if (pad) {
            UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 768, 1024));
            UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
        }
        launch(std::make_shared<Rows>(std::vector<Row> {}));
        auto alert = UIAlertController::alertControllerWithTitle("New Folder", std::nullopt, UIAlertControllerStyle::Alert);
        alert->addTextFieldWithConfigurationHandler([](UITextField&) {});
        alert->addAction(UIAlertAction::actionWithTitle("Create", UIAlertActionStyle::Default, [](UIAlertAction&) {}));
        driver.visibleScreen()->presentViewController(alert, false);
        // Words that would wrap, then a run that would be cut.
        driver.typeText("Photos of the long summer holiday by the sea " + std::string(40, 'W'));
        auto before = shoot(pad ? "screen-pad-long-field" : "screen-long-field");
        auto field = alert->textFields()[0];
        auto frame = field->convertRectToView(field->bounds(), nullptr);
        auto ink = bounds(*before, frame.insetBy(1, 1), dark);
        EXPECT_LE(ink.size.height, 16) << "one line";
        EXPECT_NEAR(CGRectGetMidY(ink), CGRectGetMidY(frame), 3) << "in the middle of the field";
        auto caret = bounds(*before, frame.insetBy(1, 1), blue);
        EXPECT_GE(caret.size.height, 10) << "the caret shows";
        EXPECT_GT(caret.origin.x, CGRectGetMaxX(frame) - 12) << "at the field's end";
        EXPECT_LE(CGRectGetMaxX(caret), CGRectGetMaxX(frame)) << "inside it";
        EXPECT_GT(CGRectGetMaxX(ink), caret.origin.x - 6) << "just after the text's end";

        // Typing more shows it at the caret: dots on the line where W's stood.
        auto justBefore = [&](const UIImage& image) {
            auto caret = bounds(image, frame.insetBy(1, 1), blue);
            return bounds(image, CGRectMake(caret.origin.x - 10, frame.origin.y + 1, 10, frame.size.height - 2), dark);
        };
        EXPECT_GE(justBefore(*before).size.height, 8) << "a W before the caret";
        driver.typeText("...");
        auto dots = justBefore(*driver.render(1));
        EXPECT_GT(dots.size.height, 0) << "the dots before the caret";
        EXPECT_LE(dots.size.height, 4);
        EXPECT_NEAR(CGRectGetMaxY(dots), CGRectGetMaxY(ink), 1) << "on the text's line";
        alert->dismissViewControllerAnimated(false);
        driver.drain();
    }
    UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 375, 667));
    UIDevice::currentDevice().reset();
}

// The text cut in the middle to the width of a white strip, and the ink's columns: where the first and
// last are, and the widest run of blank columns between them.
struct Columns {
    int first = -1;
    int last = -1;
    int widestGap = 0;
};
Columns drawnColumns(const std::string& shown, CGFloat width)
{
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(width + 20, 30), true, 1);
    UIColor::whiteColor()->setFill();
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, width + 20, 30));
    auto style = drawing::textStyle(UIFont::boldSystemFontOfSize(17), UIColor(0, 0, 0, 1));
    style.wrap = text::Wrap::TruncateMiddle;
    text::draw(UIGraphicsGetCurrentContext()->cairo(), shown, CGRectMake(10, 0, width, 30), style);
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    Columns columns;
    int blank = 0;
    for (int x = 0; x < int(width) + 20; ++x) {
        bool ink = false;
        for (int y = 0; y < 30 && !ink; ++y)
            ink = image->pixelAt(x, y).red < 160;
        if (!ink) {
            ++blank;
            continue;
        }
        if (columns.first < 0)
            columns.first = x;
        else
            columns.widestGap = std::max(columns.widestGap, blank);
        columns.last = x;
        blank = 0;
    }
    return columns;
}

TEST_F(ScreenDrawingTest, AMiddleCutKeepsBothEndsWithoutAGapAfterItsEllipsis)
{
    // The gaps of "H…H" drawn whole are the most a cut may leave.
    auto whole = drawnColumns("H\xE2\x80\xA6H", 200);
    ASSERT_GT(whole.widestGap, 0);
    const std::string path = "/" + std::string(50, 'H');
    for (CGFloat width = 60; width <= 300; width += 7) {
        SCOPED_TRACE(width);
        auto cut = drawnColumns(path, width);
        EXPECT_LE(cut.widestGap, whole.widestGap + 1) << "no gap after the ellipsis";
        EXPECT_LE(cut.first, 12) << "the start shows";
        EXPECT_GT(cut.last, 10 + width - 16) << "the cut fills the width to a letter";
        EXPECT_LE(cut.last, 10 + width) << "and stays in it";
    }
}

TEST_F(ScreenDrawingTest, TextMeasuredToFitIsDrawnWholeAtAnyScale)
{
    // The pad's screen filling a window of 884 x 1179 pixels, a hair more scaled down than across:
    // glyphs placed so come out a hair wider than measured, and "Edit" once showed as "E…", the
    // root's "/" as "…".
    const CGFloat scale = 884.0 / 768, tall = 1179.0 / 1024;
    struct Case {
        std::string text;
        bool bold;
        text::Wrap wrap;
    };
    const std::vector<Case> cases {
        { "Edit", false, text::Wrap::TruncateTail },
        { "/", true, text::Wrap::TruncateMiddle },
        { "Documents", true, text::Wrap::TruncateMiddle },
    };
    auto darkPixels = [&](const Case& item, CGFloat width) {
        auto font = item.bold ? UIFont::boldSystemFontOfSize(17) : UIFont::systemFontOfSize(17);
        // As the window draws: the screen's points scaled onto its pixels.
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, int(200 * scale), int(30 * tall));
        auto* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_scale(cr, scale, tall);
        auto style = drawing::textStyle(font, UIColor(0, 0, 0, 1));
        style.wrap = item.wrap;
        text::draw(cr, item.text, CGRectMake(10, 0, width, 30), style);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        int count = 0;
        auto* pixels = cairo_image_surface_get_data(surface);
        auto stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < cairo_image_surface_get_height(surface); ++y) {
            auto* row = reinterpret_cast<const std::uint32_t*>(pixels + y * stride);
            for (int x = 0; x < cairo_image_surface_get_width(surface); ++x)
                count += ((row[x] >> 16) & 0xff) < 160;
        }
        cairo_surface_destroy(surface);
        return count;
    };
    for (auto& item : cases) {
        SCOPED_TRACE(item.text);
        auto measured = text::measure(item.text, item.bold ? UIFont::boldSystemFontOfSize(17) : UIFont::systemFontOfSize(17)).width;
        auto whole = darkPixels(item, 150);
        ASSERT_GT(whole, 0);
        EXPECT_NEAR(darkPixels(item, measured), whole, whole / 20) << "drawn in its measured width";
        EXPECT_LT(darkPixels(item, measured / 2), whole * 9 / 10) << "still cut where it does not fit";
    }
}

TEST_F(ScreenDrawingTest, AOneLineLabelThatDoesNotTruncateNeverWrapsToASecondLine)
{
    struct Case {
        NSLineBreakMode mode;
        NSTextAlignment alignment;
        std::string text;
    };
    const std::string words = "Photos of the long summer holiday by the sea";
    const std::vector<Case> cases {
        { NSLineBreakMode::ByClipping, NSTextAlignment::Left, words },
        { NSLineBreakMode::ByClipping, NSTextAlignment::Right, words },
        { NSLineBreakMode::ByClipping, NSTextAlignment::Center, words },
        { NSLineBreakMode::ByWordWrapping, NSTextAlignment::Left, words },
        { NSLineBreakMode::ByCharWrapping, NSTextAlignment::Left, words },
        { NSLineBreakMode::ByClipping, NSTextAlignment::Right, "Sea" },
        { NSLineBreakMode::ByClipping, NSTextAlignment::Center, "Sea" },
    };
    auto screen = std::make_shared<UIViewController>();
    screen->view()->setBackgroundColor(UIColor::whiteColor());
    std::vector<std::shared_ptr<UILabel>> labels;
    for (std::size_t index = 0; index < cases.size(); ++index) {
        auto label = std::make_shared<UILabel>(CGRectMake(40, 80 + 70 * CGFloat(index), 200, 60));
        label->setText(cases[index].text);
        label->setLineBreakMode(cases[index].mode);
        label->setTextAlignment(cases[index].alignment);
        screen->view()->addSubview(label);
        labels.push_back(label);
    }
    launch(screen);
    auto image = shoot("screen-one-line-labels");
    for (std::size_t index = 0; index < cases.size(); ++index) {
        SCOPED_TRACE(index);
        auto frame = labels[index]->convertRectToView(labels[index]->bounds(), nullptr);
        auto ink = bounds(*image, frame, dark);
        ASSERT_GT(ink.size.height, 8);
        EXPECT_LE(ink.size.height, 22) << "one line";
        EXPECT_NEAR(CGRectGetMidY(ink), CGRectGetMidY(frame), 4) << "in the middle of the label";
        bool fits = cases[index].text.size() < 10;
        switch (cases[index].alignment) {
        case NSTextAlignment::Right:
            EXPECT_GT(CGRectGetMaxX(ink), CGRectGetMaxX(frame) - 4) << "up to the right edge";
            break;
        case NSTextAlignment::Center:
            if (fits) {
                EXPECT_NEAR(CGRectGetMidX(ink), CGRectGetMidX(frame), 3) << "centred";
            }
            break;
        default:
            EXPECT_LT(ink.origin.x, frame.origin.x + 4) << "from the left edge";
            EXPECT_GT(CGRectGetMaxX(ink), CGRectGetMaxX(frame) - 8) << "cut at the right edge, not wrapped";
            break;
        }
    }
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
    auto item = rows->navigationController()->navigationBar()->convertRectToView(add->frame(), nullptr);
    EXPECT_TRUE(white(image->pixelAt(int(CGRectGetMidX(item)), int(CGRectGetMaxY(item)) + 6))) << "its arrow pointing at the item";
    EXPECT_EQ(count(*image, CGRectMake(0, 130, 768, 894), blue), 0) << "no Cancel button";
    driver.tapAt({ 100, 600 });
    EXPECT_EQ(chosen, std::vector<std::string> { "cancel" }) << "a tap outside the popover cancels";
    UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 375, 667));
    UIDevice::currentDevice().reset();
}

TEST_F(ScreenDrawingTest, OnAPadSheetsAndPopoversShowTheirEdgesOverTheDimmedScreen)
{
    UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 768, 1024));
    UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
    auto rows = std::make_shared<Rows>(std::vector<Row> {});
    launch(rows);
    // A sheet as grey as white dimmed, as a PDF's pages lie on.
    auto grey = std::make_shared<UIViewController>();
    grey->view()->setBackgroundColor(std::make_shared<UIColor>(0.6, 0.6, 0.6, 1));
    grey->setModalPresentationStyle(UIModalPresentationStyle::FormSheet);
    rows->presentViewController(grey, false);
    auto image = shoot("screen-pad-grey-sheet");
    auto sheet = grey->view()->frame();
    auto level = [&](CGFloat x, CGFloat y) { return int(image->pixelAt(int(x), int(y)).red); };
    for (auto y : { CGRectGetMidY(sheet), sheet.origin.y + 20 }) {
        auto inside = level(sheet.origin.x + 4, y), edge = level(sheet.origin.x - 1, y), beside = level(sheet.origin.x - 40, y);
        EXPECT_NEAR(inside, beside, 6) << "the same grey in and beside the sheet";
        EXPECT_LT(edge, beside - 40) << "its left edge shows";
        EXPECT_LT(level(CGRectGetMaxX(sheet), y), beside - 40) << "and its right edge";
        EXPECT_LT(level(sheet.origin.x - 6, y), beside - 10) << "a shade beside it";
    }
    EXPECT_LT(level(CGRectGetMidX(sheet), sheet.origin.y - 1), level(CGRectGetMidX(sheet), sheet.origin.y - 40) - 40) << "its top edge shows";
    grey->dismissViewControllerAnimated(false);

    auto add = std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::Add, [](UIBarButtonItem&) {});
    rows->navigationItem().setRightBarButtonItem(add);
    auto actions = UIAlertController::alertControllerWithTitle(std::nullopt, std::nullopt, UIAlertControllerStyle::ActionSheet);
    actions->addAction(UIAlertAction::actionWithTitle("New Folder", UIAlertActionStyle::Default, [](UIAlertAction&) {}));
    actions->popoverPresentationController().setBarButtonItem(add);
    rows->presentViewController(actions, false);
    image = shoot("screen-pad-popover-edge");
    auto button = std::dynamic_pointer_cast<UIAlertControllerView>(actions->view())->buttons().at(0).frame;
    auto y = CGRectGetMidY(button);
    EXPECT_TRUE(white(image->pixelAt(int(button.origin.x) + 4, int(y)))) << "the popover unshaded";
    EXPECT_LT(level(button.origin.x - 1, y), level(button.origin.x - 40, y) - 40) << "its edge shows";
    actions->dismissViewControllerAnimated(false);
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

// A screen of loose views; it zooms its first image view.
class Board : public UIViewController, public UIScrollViewDelegate {
public:
    std::shared_ptr<UIView> viewForZoomingInScrollView(UIScrollView&) override { return zoomed; }
    template<typename View>
    std::shared_ptr<View> add(std::shared_ptr<View> view, CGRect frame, UIView* into = nullptr)
    {
        view->setFrame(frame);
        (into ? *into : *this->view()).addSubview(view);
        return view;
    }
    std::shared_ptr<UIView> zoomed;
};

std::shared_ptr<UIImage> filled(CGSize size, std::vector<std::shared_ptr<UIColor>> bands)
{
    UIGraphicsBeginImageContextWithOptions(size, true, 1);
    for (std::size_t band = 0; band < bands.size(); ++band) {
        bands[band]->setFill();
        CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, band * size.height / bands.size(), size.width, size.height / bands.size()));
    }
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

TEST_F(ScreenDrawingTest, ControlsDrawTheirStateAndTakeThePointer)
{
    auto board = std::make_shared<Board>();
    launch(board);
    auto knob = board->add(std::make_shared<UISwitch>(), CGRectMake(20, 80, 51, 31));
    auto segments = board->add(std::make_shared<UISegmentedControl>(std::vector<std::string> { "Light", "Gray" }), CGRectMake(100, 80, 140, 29));
    segments->setSelectedSegmentIndex(0);
    auto bar = board->add(std::make_shared<UIProgressView>(), CGRectMake(20, 130, 200, 4));
    bar->setProgress(0.5);
    auto spinner = board->add(UIActivityIndicatorView::initWithActivityIndicatorStyle(UIActivityIndicatorViewStyle::Gray), CGRectMake(300, 80, 20, 20));
    spinner->startAnimating();
    auto scroll = board->add(std::make_shared<UIScrollView>(), CGRectMake(20, 150, 150, 150));
    scroll->setDelegate(board);
    scroll->setMaximumZoomScale(4);
    board->zoomed = board->add(std::make_shared<UIImageView>(filled({ 150, 300 }, { UIColor::redColor(), UIColor::blueColor() })), CGRectMake(0, 0, 150, 300), scroll.get());
    scroll->setContentSize({ 150, 300 });
    auto frames = board->add(std::make_shared<UIImageView>(), CGRectMake(200, 150, 50, 50));
    frames->setImage(UIImage::animatedImageWithImages({ filled({ 50, 50 }, { UIColor::redColor() }), filled({ 50, 50 }, { UIColor::blueColor() }) }, 1));

    auto image = shoot("screen-controls");
    EXPECT_EQ(count(*image, CGRectMake(20, 80, 51, 31), green), 0) << "the switch is off";
    EXPECT_GT(count(*image, CGRectMake(100, 80, 70, 29), blue), 1000) << "the first segment filled";
    EXPECT_GT(count(*image, CGRectMake(20, 130, 100, 4), blue), 300) << "half the bar in progress";
    EXPECT_GT(count(*image, CGRectMake(120, 130, 100, 4), gray), 300) << "the rest of the track";
    EXPECT_GT(count(*image, CGRectMake(300, 80, 20, 20), gray), 20) << "the spinner";
    EXPECT_GT(count(*image, CGRectMake(20, 150, 150, 150), red), 20000) << "the top of the scrolled picture";
    EXPECT_EQ(count(*image, CGRectMake(200, 150, 50, 50), red), 2500) << "the first frame";
    EXPECT_TRUE(UIRenderer::needsDisplay()) << "the spinner turns and the frames play";

    driver.tapAt({ 45, 95 });
    driver.tapAt({ 200, 95 });
    driver.dragFrom({ 95, 280 }, { 95, 180 });
    driver.advance(0.5);
    image = shoot("screen-controls-used");
    EXPECT_TRUE(knob->isOn());
    EXPECT_GT(count(*image, CGRectMake(20, 80, 51, 31), green), 500) << "the switch on";
    EXPECT_EQ(segments->selectedSegmentIndex(), 1);
    EXPECT_GT(count(*image, CGRectMake(170, 80, 70, 29), blue), 1000) << "the second segment filled";
    EXPECT_EQ(scroll->contentOffset().y, 100) << "the content followed the pointer";
    EXPECT_GT(count(*image, CGRectMake(20, 250, 150, 50), blue), 7000) << "the bottom of the picture scrolled in";
    EXPECT_EQ(count(*image, CGRectMake(200, 150, 50, 50), blue), 2500) << "the second frame half a second on";

    UIEventDispatcher::shared().zoom({ 95, 225 }, 2);
    EXPECT_EQ(scroll->zoomScale(), 2);
    EXPECT_EQ(scroll->contentOffset(), (CGPoint { 75, 275 })) << "the point under the pointer stays put";
}

TEST_F(ScreenDrawingTest, TextViewTypesAtItsCaretAndKeepsItInView)
{
    auto board = std::make_shared<Board>();
    launch(board);
    auto text = board->add(std::make_shared<UITextView>(), CGRectMake(0, 64, 375, 200));
    text->setFont(UIFont::systemFontOfSize(17));
    text->setText("one\ntwo");
    auto image = shoot("screen-text-view");
    EXPECT_GT(count(*image, CGRectMake(0, 64, 60, 50), dark), 50) << "the text";
    EXPECT_EQ(count(*image, CGRectMake(0, 64, 375, 200), blue), 0) << "no caret before the view is tapped";

    driver.tapAt({ 8, 64 + 8 + 10 });
    driver.typeText("é");
    driver.pressKey(UIKey::Right);
    driver.pressKey(UIKey::Backspace);
    driver.pressKey(UIKey::Down);
    driver.pressKey(UIKey::Return);
    EXPECT_EQ(text->text(), "éne\nt\nwo") << "typed at the caret, a character at a time";
    for (int line = 0; line < 30; ++line)
        driver.pressKey(UIKey::Return);
    EXPECT_GT(text->contentOffset().y, 400) << "the caret stays in view";
    image = shoot("screen-text-view-typed");
    EXPECT_GT(count(*image, CGRectMake(0, 64, 20, 200), blue), 20) << "the caret";
    driver.scrollAt({ 100, 100 }, -10000);
    EXPECT_EQ(text->contentOffset().y, 0);
}

TEST_F(ScreenDrawingTest, ADragLetGoWhileMovingCoastsSlowerAndSlowerUntilItStops)
{
    auto board = std::make_shared<Board>();
    launch(board);
    auto text = board->add(std::make_shared<UITextView>(), CGRectMake(0, 64, 375, 603));
    text->setEditable(false);
    std::string lines;
    for (int line = 0; line < 3000; ++line)
        lines += "line " + std::to_string(line) + "\n";
    text->setText(lines);
    shoot("screen-coasting");
    auto offset = [&] { return text->contentOffset().y; };

    driver.dragFrom({ 200, 500 }, { 200, 300 }, 0.1);
    auto released = offset();
    EXPECT_EQ(released, 200) << "the content followed the pointer";
    driver.advance(0.1);
    auto first = offset() - released;
    driver.advance(0.1);
    auto second = offset() - released - first;
    EXPECT_GT(first, 0) << "it coasts on";
    EXPECT_GT(second, 0);
    EXPECT_LT(second, first) << "slowing down";
    driver.advance(5);
    auto stopped = offset();
    EXPECT_GT(stopped, released + first + second);
    driver.advance(1);
    EXPECT_EQ(offset(), stopped) << "and it stops";

    // A press stops it at once; a drag held still before it is let go, or a slow one, does not coast.
    driver.dragFrom({ 200, 500 }, { 200, 300 }, 0.1);
    driver.advance(0.05);
    auto pressed = offset();
    driver.tapAt({ 200, 300 });
    driver.advance(1);
    EXPECT_EQ(offset(), pressed);
    auto& events = UIEventDispatcher::shared();
    events.pointerDown({ 200, 500 });
    driver.advance(0.05);
    events.pointerMoved({ 200, 300 });
    driver.advance(0.2);
    events.pointerUp({ 200, 300 });
    auto held = offset();
    driver.advance(1);
    EXPECT_EQ(offset(), held) << "held still";

    // Hard flicks end at the end of the content, not past it.
    for (int flick = 0; flick < 20 && offset() < text->contentSize().height - 603; ++flick) {
        driver.dragFrom({ 200, 600 }, { 200, 100 }, 0.05);
        driver.advance(5);
    }
    EXPECT_EQ(offset(), text->contentSize().height - 603);
}

TEST_F(ScreenDrawingTest, ScrollingShowsAnIndicatorThatCanBeDraggedAndPagesAreAScreenLong)
{
    auto board = std::make_shared<Board>();
    launch(board);
    auto text = board->add(std::make_shared<UITextView>(), CGRectMake(0, 64, 375, 603));
    text->setEditable(false);
    std::string lines;
    for (int line = 0; line < 3000; ++line)
        lines += "line " + std::to_string(line) + "\n";
    text->setText(lines + "the end");
    auto image = shoot("screen-indicator-none");
    // Below the bar's hairline.
    auto strip = CGRectMake(365, 66, 10, 601);
    auto knob = [](UIPixel p) { return p.red < 200 && std::abs(p.red - p.blue) < 12; };
    EXPECT_EQ(count(*image, strip, knob), 0) << "no indicator before scrolling";

    driver.scrollAt({ 200, 300 }, 40);
    image = shoot("screen-indicator-top");
    auto shown = bounds(*image, strip, knob);
    EXPECT_GT(shown.size.height, 30) << "the indicator shows while scrolling";
    EXPECT_LT(shown.origin.y, 64 + 10) << "at the top";
    driver.advance(2);
    EXPECT_TRUE(UIRenderer::needsDisplay()) << "it is due to go";
    EXPECT_EQ(count(*shoot("screen-indicator-gone"), strip, knob), 0) << "and went";

    // Held and dragged to the bottom, the content follows to its end; halfway, to its middle.
    auto end = [&] { return text->contentSize().height - 603; };
    driver.dragFrom({ 370, shown.origin.y + 5 }, { 370, 64 + 603 + 50 });
    EXPECT_EQ(text->contentOffset().y, end());
    image = shoot("screen-indicator-end");
    EXPECT_GT(CGRectGetMaxY(bounds(*image, strip, knob)), 64 + 603 - 10) << "the indicator at the bottom";
    driver.dragFrom({ 370, 64 + 603 - 10 }, { 370, 64 + 603 / 2.0 });
    EXPECT_NEAR(text->contentOffset().y / end(), 0.5, 0.05);
    EXPECT_NEAR(CGRectGetMidY(bounds(*shoot("screen-indicator-middle"), strip, knob)), 64 + 603 / 2.0, 25);
    driver.tapAt({ 370, 64 + 603 / 2.0 });
    EXPECT_NEAR(text->contentOffset().y / end(), 0.5, 0.05) << "a tap on it moves nothing";

    // A page is a screen less a little overlap; under an alert the keys page nothing.
    driver.pressKey(UIKey::Home);
    driver.pressKey(UIKey::PageDown);
    auto page = text->contentOffset().y;
    EXPECT_GT(page, 603 / 2.0);
    EXPECT_LT(page, 603);
    driver.pressKey(UIKey::PageDown);
    EXPECT_EQ(text->contentOffset().y, 2 * page);
    driver.pressKey(UIKey::PageUp);
    EXPECT_EQ(text->contentOffset().y, page);
    driver.pressKey(UIKey::End);
    auto alert = UIAlertController::alertControllerWithTitle("Sure?", std::nullopt, UIAlertControllerStyle::Alert);
    alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, nullptr));
    board->presentViewController(alert, false);
    driver.pressKey(UIKey::Home);
    EXPECT_EQ(text->contentOffset().y, end());
}

TEST_F(ScreenDrawingTest, WebViewShowsPDFPagesLaidOutHTMLAndPictures)
{
    auto folder = std::filesystem::path(VESK_BINARY_DIR) / "web-pages";
    std::filesystem::create_directories(folder);
    auto* pdf = cairo_pdf_surface_create((folder / "page.pdf").c_str(), 200, 100);
    auto* cr = cairo_create(pdf);
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_rectangle(cr, 0, 0, 100, 100);
    cairo_fill(cr);
    cairo_show_page(cr);
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(pdf);
    std::ofstream(folder / "page.css") << ".left { background-color: #ff0000 } td { width: 40px; height: 20px; padding: 0 }";
    std::ofstream(folder / "page.html") << "<html><head><title>T</title><link rel=stylesheet href=page.css><link rel=stylesheet href=gone.css>"
                                           "<style>body { margin: 0 } .right { background: #00ff00 }</style><script>x()</script></head><body>"
                                           "<img src=page.png><img src=gone.png><table cellspacing=0><tr><td class=left></td><td class=right></td></tr></table>"
                                           "<ul><li>one</li><li>two</li></ul><p>The <a href=\"page.png\">picture</a></p><p>"
                                        << [] {
                                               std::string words;
                                               for (int word = 0; word < 600; ++word)
                                                   words += "word ";
                                               return words;
                                           }()
                                        << "</p><img src=page.svg><p>end</p></body></html>";
    std::ofstream(folder / "page.svg") << "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='50'><rect width='100' height='50' fill='#ff0000'/></svg>";
    filled({ 60, 60 }, { UIColor::blueColor() })->writePNGToFile(folder / "page.png");

    auto board = std::make_shared<Board>();
    launch(board);
    auto web = board->add(std::make_shared<UIWebView>(), CGRectMake(0, 64, 375, 603));
    auto open = [&](const char* name) {
        web->loadRequest(NSURLRequest(NSURL::fileURLWithPath((folder / name).string())));
        driver.drain();
        return shoot(std::string("screen-web-") + name);
    };
    auto image = open("page.pdf");
    EXPECT_GT(count(*image, CGRectMake(8, 72, 179, 179), red), 30000) << "the first page's red half";
    EXPECT_GT(count(*image, CGRectMake(0, 64, 375, 603), white), 30000) << "the white pages";
    EXPECT_TRUE(gray(image->pixelAt(3, 300))) << "on grey";
    EXPECT_TRUE(gray(image->pixelAt(100, 600))) << "grey below the last page too";

    image = open("page.svg");
    EXPECT_GE(count(*image, CGRectMake(0, 64, 375, 603), red), 99 * 49) << "an SVG file, drawn";
    EXPECT_EQ(count(*image, CGRectMake(139, 65, 98, 49), red), 98 * 49) << "at the top, centred";
    image = open("page.html");
    EXPECT_EQ(count(*image, CGRectMake(0, 65, 60, 60), blue), 60 * 59) << "the picture beside the page, at its place (under the bar's line)";
    auto left = bounds(*image, CGRectMake(0, 124, 375, 200), red), right = bounds(*image, CGRectMake(0, 124, 375, 200), green);
    EXPECT_EQ(left.size, CGSizeMake(40, 20)) << "a cell coloured by the linked style sheet";
    EXPECT_EQ(right.size, CGSizeMake(40, 20)) << "and one by the page's own";
    EXPECT_EQ(left.origin.y, right.origin.y) << "side by side";
    EXPECT_EQ(CGRectGetMaxX(left), right.origin.x);
    auto bullets = bounds(*image, CGRectMake(0, CGRectGetMaxY(left), 36, 45), dark);
    EXPECT_GT(bullets.size.height, 16) << "two bullets, one over the other";
    EXPECT_LT(bullets.size.width, 10);
    EXPECT_GT(count(*image, CGRectMake(40, bullets.origin.y - 5, 100, bullets.size.height + 10), dark), 40) << "the items beside them";
    auto link = bounds(*image, CGRectMake(0, CGRectGetMaxY(bullets), 375, 100), blue);
    EXPECT_GT(link.size.width, 30) << "the link in its colour";
    driver.scrollAt({ 100, 300 }, 100000);
    image = shoot("screen-web-html-end");
    EXPECT_GT(count(*image, CGRectMake(0, 400, 100, 267), dark), 20) << "its last line scrolled into view";
    EXPECT_EQ(count(*image, CGRectMake(0, 400, 375, 267), red), 100 * 50) << "an SVG picture in the page";
    driver.scrollAt({ 100, 300 }, -100000);
    driver.tapAt({ 300, CGRectGetMidY(link) });
    driver.drain();
    EXPECT_EQ(web->request()->URL.lastPathComponent(), "page.html") << "a click beside a link follows nothing";
    driver.tapAt({ CGRectGetMidX(link), CGRectGetMidY(link) });
    driver.drain();
    image = shoot("screen-web-page.png");
    EXPECT_EQ(web->request()->URL.lastPathComponent(), "page.png");
    EXPECT_EQ(count(*image, CGRectMake(158, 65, 58, 58), blue), 58 * 58) << "the linked picture, centred";
}

TEST_F(ScreenDrawingTest, LongGroupedTablesScrollToTheirLastRowAndAlertsHoldWhatTheAppAdds)
{
    std::vector<Row> many;
    for (int row = 0; row < 12; ++row)
        many.push_back({ UITableViewCellStyle::Default, "row " + std::to_string(row) });
    class Sectioned : public Rows {
    public:
        using Rows::Rows;
        int numberOfSectionsInTableView(UITableView&) override { return 4; }
        std::optional<std::string> titleForHeaderInSection(UITableView&, int) override { return "Part"; }
    };
    auto sectioned = std::make_shared<Sectioned>(many, UITableViewStyle::Grouped);
    launch(sectioned);
    driver.scrollAt({ 100, 300 }, 100000);
    auto image = shoot("screen-grouped-end");
    EXPECT_GT(count(*image, CGRectMake(15, 667 - 17 - 44, 100, 44), dark), 20) << "the last row above the last footer";

    std::vector<std::string> events;
    auto alert = UIAlertController::alertControllerWithTitle("Unzipping", "", UIAlertControllerStyle::Alert);
    alert->addTextFieldWithConfigurationHandler([&](UITextField& field) {
        field.addTarget(UIControlEvent::EditingDidBegin, [&](UIControl&) { events.push_back("begin"); });
        field.addTarget(UIControlEvent::EditingDidEnd, [&](UIControl&) { events.push_back("end"); });
    });
    auto bar = UIProgressView::initWithProgressViewStyle(UIProgressViewStyle::Bar);
    bar->setFrame(CGRectMake(0, alert->view()->frame().size.height - 2.5, alert->view()->frame().size.width, 2.5));
    bar->setProgress(1);
    auto spinner = UIActivityIndicatorView::initWithActivityIndicatorStyle(UIActivityIndicatorViewStyle::WhiteLarge);
    spinner->setColor(UIColor::blackColor());
    spinner->setCenter({ 130.5, 65.5 });
    spinner->startAnimating();
    alert->view()->addSubview(spinner);
    sectioned->presentViewController(alert, false);
    alert->view()->addSubview(bar);
    image = shoot("screen-alert-progress");
    EXPECT_EQ(count(*image, CGRectMake(0, 660, 375, 7), blue), 0) << "not at the screen's bottom";
    auto box = bar->frame();
    EXPECT_EQ(box.size.width, 270) << "as wide as the alert";
    EXPECT_GT(count(*image, CGRectMake(box.origin.x, box.origin.y, 270, 3), blue), 500) << "along the alert's bottom edge";
    EXPECT_EQ(spinner->frame().origin.x, box.origin.x + 112) << "the spinner placed in the box";
    EXPECT_GT(count(*image, spinner->frame(), dark), 30) << "and drawn there";
    // A message set once the alert is up is measured anew: the box grows to hold its lines.
    alert->setMessage("one\rtwo\rthree");
    driver.render();
    EXPECT_GT(bar->frame().origin.y, box.origin.y + 20) << "the bottom edge moved down";
    alert->dismissViewControllerAnimated(false);
    shoot("screen-alert-gone");
    EXPECT_EQ(events, (std::vector<std::string> { "begin", "end" }));
}

}
