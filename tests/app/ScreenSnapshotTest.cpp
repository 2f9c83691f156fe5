#include "app/AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/VeskFileListController.h"
#include "model/Bookmarks.h"
#include "model/VeskFile.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/uikit/TableGeometry.h"
#include "platform/uikit/TextDrawing.h"
#include "platform/uikit/UIAlertControllerView.h"
#include "platform/uikit/UIControl.h"
#include "platform/uikit/UINavigationBar.h"
#include "platform/uikit/UIScrollView.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIToolbar.h"
#include "platform/uikit/UIViewRendering.h"
#include "screens/EditIconTableViewController.h"
#include "screens/VeskDownloadWebController.h"

#include <algorithm>
#include <cairo-pdf.h>
#include <filesystem>
#include <functional>
#include <typeinfo>

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
        if (pad) {
            UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 768, 1024));
            UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
        }
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
    bool pad = false;
};

// Every screen the app can show, walked on the phone and on the pad, looked at for what a person
// would see wrong: a view outside its screen, sheet or row; a control a tap at its centre does not
// reach; a presented screen one sees through; a text cut though there is room for it.
class ScreenLayoutTest : public ScreenSnapshotTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        pad = GetParam();
        ScreenSnapshotTest::SetUp();
    }

    // A view one cannot see through: opaque itself, or covered by opaque subviews.
    static bool opaque(UIView& view)
    {
        auto colour = view.backgroundColor();
        if ((colour && colour->alpha() >= 1) || dynamic_cast<UITableView*>(&view) || dynamic_cast<UINavigationBar*>(&view) || dynamic_cast<UIToolbar*>(&view))
            return true;
        for (CGFloat y = 0.5; y < view.bounds().size.height; y += 8) {
            for (CGFloat x = 0.5; x < view.bounds().size.width; x += 8) {
                if (std::ranges::none_of(view.subviews(), [&](auto& sub) { return !sub->isHidden() && CGRectContainsPoint(sub->frame(), { x, y }) && opaque(*sub); }))
                    return false;
            }
        }
        return true;
    }

    // Text cut though it would fit the room it has.
    static bool cut(const std::string& text, const std::shared_ptr<UIFont>& font, CGFloat width, CGFloat room)
    {
        auto needed = text::measure(text, font).width;
        return needed > width + 1 && needed < room - 30;
    }

    // The view at its place in the window, and what lies in it, within the box of its screen or row.
    void walk(UIView& view, CGRect rect, CGRect box)
    {
        if (view.isHidden() || view.alpha() <= 0.01)
            return;
        auto what = std::string(typeid(view).name()) + " at " + std::to_string(int(rect.origin.x)) + "," + std::to_string(int(rect.origin.y));
        auto shown = rect;
        // A picture keeps off its row's separators; one drawn at its own size lies around the view's centre.
        auto* image = dynamic_cast<UIImageView*>(&view);
        auto limit = image ? box.insetBy(0, 1) : box;
        if (auto size = image && image->image() ? image->image()->size() : CGSizeZero; image && image->contentMode() == UIViewContentMode::Center && size.width > 0)
            shown = CGRectMake(CGRectGetMidX(rect) - size.width / 2, CGRectGetMidY(rect) - size.height / 2, size.width, size.height);
        if (shown.size.width > 0 && shown.size.height > 0 && CGRectIntersection(shown, limit.insetBy(-0.5, -0.5)) != shown)
            found.push_back(what + " lies outside its screen or row");
        if (auto hit = window->hitTest({ CGRectGetMidX(rect), CGRectGetMidY(rect) }); dynamic_cast<UIControl*>(&view) && (!hit || !hit->isDescendantOfView(view)))
            found.push_back(what + " is not reached by a tap at its centre");
        // A label's text is cut though it and the texts beside it would fit; a path keeps its end.
        auto* label = dynamic_cast<UILabel*>(&view);
        auto within = CGRectIntersection(shown, box);
        if (image && image->image() && within.size.width >= 8)
            ++shownInRow.images;
        if (label && label->text() && !label->text()->empty() && within.size.width >= 20)
            ++shownInRow.names;
        if (label && label->numberOfLines() == 1 && label->text()) {
            CGFloat beside = 0;
            for (auto& other : view.superview()->subviews()) {
                auto* text = dynamic_cast<UILabel*>(other.get());
                if (text && text != label && !text->isHidden() && std::abs(other->frame().origin.y - view.frame().origin.y) < view.frame().size.height)
                    beside += text::measure(text->text().value_or(""), text->font()).width + 10;
            }
            if (cut(*label->text(), label->font(), rect.size.width, box.size.width - beside))
                found.push_back(what + ": \"" + *label->text() + "\" cut");
            if (label->text()->starts_with('/') && label->lineBreakMode() != NSLineBreakMode::ByTruncatingMiddle && cut(*label->text(), label->font(), rect.size.width, 1e6))
                found.push_back(what + ": the path \"" + *label->text() + "\" loses its end");
        }
        for (auto& button : dynamic_cast<UIAlertControllerView*>(&view) ? static_cast<UIAlertControllerView&>(view).buttons() : std::vector<UIAlertControllerView::Button> {}) {
            if (cut(button.action->title().value_or(""), UIFont::systemFontOfSize(17), button.frame.size.width - 16, 270))
                found.push_back("the alert button \"" + *button.action->title() + "\" cut");
        }
        if (dynamic_cast<UIScrollView*>(&view))
            return;
        auto subviews = view.subviews();
        // On the platform a custom view in a toolbar is one of its subviews.
        for (auto& item : dynamic_cast<UIToolbar*>(&view) ? static_cast<UIToolbar&>(view).items() : std::vector<std::shared_ptr<UIBarButtonItem>> {}) {
            if (item->customView() && item->customView()->superview().get() != &view)
                subviews.push_back(item->customView());
        }
        auto* table = dynamic_cast<UITableView*>(&view);
        for (auto& subview : subviews) {
            if (!table || !dynamic_cast<UITableViewCell*>(subview.get()))
                walk(*subview, subview->frame().offsetBy(rect.origin.x, rect.origin.y), box);
        }
        // A table's rows that show whole, each holding what lies in it; a row showing its
        // actions holds it in the room beside them.
        for (auto& indexPath : table ? table->indexPathsForVisibleRows() : std::vector<NSIndexPath> {}) {
            auto row = table->rectForRowAtIndexPath(indexPath).offsetBy(rect.origin.x, rect.origin.y - table->contentOffset().y);
            auto cell = table->cellForRowAtIndexPath(indexPath);
            auto actions = RevealedRowActions::current().on(*table, indexPath);
            for (auto width : actions ? tableDrawing::actionWidths(*actions) : std::vector<CGFloat> {})
                row.size.width -= width;
            shownInRow = {};
            for (auto& subview : cell&& CGRectGetMaxY(row) <= CGRectGetMaxY(rect) && row.origin.y >= rect.origin.y ? cell->subviews() : std::vector<std::shared_ptr<UIView>> {})
                walk(*subview, subview->frame().offsetBy(row.origin.x, row.origin.y), row);
            if (actions && (shownInRow.images == 0 || shownInRow.names == 0))
                found.push_back("the row beside its actions shows " + std::to_string(shownInRow.images) + " icons and " + std::to_string(shownInRow.names) + " names");
        }
    }

    std::vector<std::string> faults()
    {
        found.clear();
        UIRenderer::layoutWindow(*window);
        auto stack = driver.screenStack();
        for (auto& screen : stack) {
            auto view = screen->view();
            if (screen != stack.front() && !std::dynamic_pointer_cast<UIAlertController>(screen) && !opaque(*view))
                found.push_back(std::string(typeid(*screen).name()) + " can be seen through");
            walk(*view, view->frame(), view->frame());
        }
        return found;
    }

    std::shared_ptr<UITableView> table() { return std::dynamic_pointer_cast<UITableViewController>(driver.visibleScreen())->tableView(); }
    void tapRow(const std::string& text) { driver.tapRow(*table(), driver.rowWithText(*table(), text).value()); }
    void rowAction(const std::string& text, const std::string& action) { EXPECT_TRUE(driver.chooseRowAction(*table(), driver.rowWithText(*table(), text).value(), action)); }
    void close() { driver.topViewController()->dismissViewControllerAnimated(false); }
    void open(const std::string& name)
    {
        close();
        tapRow(name);
    }
    std::shared_ptr<VeskFileListController> list() { return std::dynamic_pointer_cast<VeskFileListController>(driver.visibleScreen()); }

    std::vector<std::string> found;
    // Icons and names seen in the row walked last, at least partly in sight.
    struct {
        int images = 0;
        int names = 0;
    } shownInRow;
    std::shared_ptr<UIWindow> window;
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
            { { "notes.txt", in(230, 70), &gray, 1500, "More" }, { "notes.txt", in(305, 70), &red, 1500, "Delete at the row's end" },
                { "notes.txt", in(12, 44), &dark, 400, "the row's icon beside them" }, { "notes.txt", in(62, 80), &dark, 100, "and its name" } } },
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

namespace {

TEST_P(ScreenLayoutTest, EveryScreenLiesWhereAPersonCanSeeAndReachIt)
{
    window = UIApplication::sharedApplication().keyWindow();
    makeFile("Holiday/page.html", "<h1>Page</h1><p>Some text</p>");
    makeFile("Holiday/data.bin", std::string("\x01\x02", 2));
    // A PDF's pages lie on grey, as grey as the dimmed list beside a pad's sheet.
    auto* pdf = cairo_pdf_surface_create((folder + "/pages.pdf").c_str(), 300, 400);
    auto* cr = cairo_create(pdf);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, 40, 40, 220, 20);
    cairo_fill(cr);
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(pdf);
    makeFile("Holiday/list.plist", "<plist version=\"1.0\"><dict><key>On</key><true/><key>Name</key><string>A long value of the list that needs some room</string></dict></plist>");
    VeskDownloadWebController::setStartPage("http://127.0.0.1:" + std::to_string(port) + "/");
    auto push = [&](std::shared_ptr<UIViewController> screen) { driver.visibleScreen()->navigationController()->pushViewController(screen, false); };
    std::vector<std::pair<std::string, std::function<void()>>> screens {
        { "root", [] {} },
        { "documents", [&] { driver.tapBarButton(*list()->documentFolder()); } },
        { "folder", [&] {
             auto folderList = UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList");
             folderList->setFile(VeskFile::initWithPath(folder));
             push(folderList); } },
        { "row-actions", [&] { driver.rightClickAt(rowPoint("notes.txt")); } },
        { "row-actions-long-name", [&] { driver.rightClickAt(rowPoint(longName)); } },
        { "edit", [&] { driver.tapBarButton(*list()->editButton()); tapRow("Docs"); tapRow("notes.txt"); } },
        { "more-sheet", [&] { driver.tapBarButton(*list()->editButton()); settle(); rowAction("notes.txt", "More"); } },
        { "rename-alert", [&] { driver.chooseAlertAction("Rename"); } },
        { "rename-long-name", [&] { driver.typeText("A name for the notes that is longer than the field " + longName); } },
        { "delete-sheet", [&] { close(); rowAction("notes.txt", "Delete"); } },
        { "add-sheet", [&] { close(); driver.tapBarButton(*list()->addItemButton()); } },
        { "browser", [&] { driver.chooseAlertAction("Add from Web"); } },
        { "text-viewer", [&] { open("notes.txt"); } },
        { "text-editor", [&] { driver.tapBarButton(*driver.visibleScreen(), "Edit"); } },
        { "cancel-alert", [&] { driver.visibleScreen()->navigationItem().leftBarButtonItem()->tap(); } },
        { "info", [&] { driver.chooseAlertAction("Yes, cancel..."); driver.tapBarButton(*driver.visibleScreen(), "Info"); } },
        { "image-viewer", [&] { close(); open("picture.png"); } },
        { "plist-viewer", [&] { open("list.plist"); } },
        { "web-viewer", [&] { open("page.html"); } },
        { "pdf-viewer", [&] { open("pages.pdf"); } },
        { "unknown-viewer", [&] { open("data.bin"); } },
        { "settings", [&] { close(); driver.tapBarButton(*list()->settingsButton()); } },
        { "webservices", [&] { tapRow("Webservices"); } },
        { "blocked-ips", [&] { driver.visibleScreen()->navigationController()->popViewControllerAnimated(false); tapRow("Blocked IPs"); } },
        { "block-ip-alert", [&] { driver.visibleScreen()->navigationItem().rightBarButtonItem()->tap(); } },
        { "about", [&] { close(); driver.visibleScreen()->navigationController()->popViewControllerAnimated(false); tapRow("About Vesk"); } },
        { "icon-editor", [&] { push(std::make_shared<EditIconTableViewController>()); } },
        { "bookmarks", [&] { close(); driver.tapBarButton(*list()->bookmarkButton()); } },
    };
    for (auto& [name, act] : screens) {
        act();
        settle();
        driver.render(1)->writePNGToFile((std::filesystem::path(VESK_BINARY_DIR) / ((pad ? "pad-" : "phone-") + name + ".png")).string());
        EXPECT_EQ(faults(), std::vector<std::string> {}) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(PhoneAndPad, ScreenLayoutTest, ::testing::Bool(), [](auto& info) { return info.param ? "Pad" : "Phone"; });

}
