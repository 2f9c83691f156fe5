#include "app/AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/VeskFileCell.h"
#include "app/VeskFileListController.h"
#include "assets/VeskAssets.h"
#include "model/Bookmarks.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "model/ZipTestSupport.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/system/MemoryInfo.h"
#include "platform/uikit/UINavigationBar.h"
#include "platform/uikit/UIStoryboard.h"
#include "sdk/Analytics.h"
#include "viewers/InfoTableViewController.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <sys/stat.h>

using namespace vesk;
using namespace vesk::platform;

namespace {

class FileListTest : public test::AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        UIApplication::sharedApplication().launch(std::make_shared<AppDelegate>());
        folder = makeFolder("folder");
    }

    std::shared_ptr<UINavigationController> navigation() { return std::dynamic_pointer_cast<UINavigationController>(driver.screenStack().front()); }

    std::shared_ptr<VeskFileListController> open(const std::string& path)
    {
        auto list = UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList");
        list->setFile(VeskFile::initWithPath(path));
        navigation()->pushViewController(list, false);
        driver.drain();
        return list;
    }

    std::vector<std::string> rows(VeskFileListController& list)
    {
        auto titles = driver.rowTitles(*list.tableView());
        std::sort(titles.begin(), titles.end());
        return titles;
    }

    std::shared_ptr<VeskFileCell> cell(VeskFileListController& list, const std::string& name)
    {
        auto row = driver.rowWithText(*list.tableView(), name);
        return row ? std::dynamic_pointer_cast<VeskFileCell>(list.tableView()->cellForRowAtIndexPath(*row)) : nullptr;
    }

    // An item that can't be read, even by root: a link whose target is gone.
    void makeLocked(const std::string& name) { ASSERT_EQ(::symlink("/nonexistent/target", (folder + "/" + name).c_str()), 0); }

    // The alert or sheet on top as "title | message | actions"; chooses in it, lets the work run.
    std::string choose(const std::string& choice)
    {
        auto alert = driver.alert();
        if (!alert)
            return "no alert";
        std::string seen = alert->title().value_or("") + " | " + alert->message().value_or("-") + " |";
        for (auto& action : alert->actions())
            seen += " " + action->title().value_or("");
        EXPECT_TRUE(driver.chooseAlertAction(choice)) << seen;
        driver.drain();
        return seen;
    }
    // The banners raised since the last call, as "Type: text".
    std::vector<std::string> banners()
    {
        std::vector<std::string> texts;
        for (auto& banner : VeskNotificationManager::queue())
            texts.push_back(std::string(notificationTypeName(banner->type())) + ": " + banner->message().value_or(""));
        VeskNotificationManager::reset();
        return texts;
    }

    std::string folder;
};

TEST_F(FileListTest, DocumentsAndHomeButtonsMoveBetweenTheRootAndDocuments)
{
    auto root = driver.visible<VeskFileListController>();
    driver.tapBarButton(*root->documentFolder());
    auto documents = driver.visible<VeskFileListController>();
    EXPECT_EQ(documents->title(), "Documents");
    EXPECT_FALSE(documents->documentFolder()->isEnabled());
    EXPECT_TRUE(documents->homeButton()->isEnabled());
    driver.tapBarButton(*documents->homeButton());
    EXPECT_EQ(driver.visibleScreen(), root);
    auto below = open(VeskFileManager::defaultManager().getDocumentDirectory() + "/Sub");
    EXPECT_EQ(below->title(), "/Documents/Sub");
    EXPECT_FALSE(below->documentFolder()->isEnabled());
}

// Below Documents a folder is named from there, wherever the app's home lies, and its back
// button reads the previous screen's title where that fits beside its own, else "Back".
TEST_F(FileListTest, FoldersBelowDocumentsAreNamedFromDocumentsOnThePhoneAndThePad)
{
    auto documents = VeskFileManager::defaultManager().getDocumentDirectory();
    ASSERT_EQ(documents, root() + "/home/Documents");
    makeFolder("home/Documents/Project/Sub");
    makeFolder("home/Documents/Photos of the whole summer");
    makeFolder("home/Documents2");
    for (bool pad : { false, true }) {
        if (pad) {
            UIApplication::sharedApplication().reset();
            UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 768, 1024));
            UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
            UIApplication::sharedApplication().launch(std::make_shared<AppDelegate>());
        }
        driver.tapBarButton(*driver.visible<VeskFileListController>()->documentFolder());
        std::vector<std::string> seen;
        for (auto path : { "/Photos of the whole summer", "", "/Project", "/Project/Sub" }) {
            if (!*path) {
                navigation()->popViewControllerAnimated(false);
                continue;
            }
            auto list = open(documents + path);
            driver.render();
            seen.push_back(list->title().value_or("") + " < " + navigation()->navigationBar()->backTitle());
            EXPECT_FALSE(list->documentFolder()->isEnabled()) << path;
        }
        EXPECT_EQ(seen, (std::vector<std::string> { pad ? "/Documents/Photos of the whole summer < Documents" : "/Documents/Photos of the whole summer < Back", "/Documents/Project < Documents", pad ? "/Documents/Project/Sub < /Documents/Project" : "/Documents/Project/Sub < Back" })) << "pad: " << pad;
        auto beside = open(documents + "2");
        EXPECT_EQ(beside->title(), documents + "2");
        EXPECT_TRUE(beside->documentFolder()->isEnabled()) << "not below Documents";
    }
}

TEST_F(FileListTest, BrowsingOpensFoldersRefusesUnreadableItemsAndFollowsTheFolder)
{
    makeFolder("folder/Sub");
    makeFile("folder/notes.txt");
    makeLocked("Locked");
    auto list = open(folder);
    EXPECT_EQ(rows(*list), (std::vector<std::string> { "Locked", "Sub", "notes.txt" }));

    driver.tapRow(*list->tableView(), *driver.rowWithText(*list->tableView(), "Locked"));
    auto banner = VeskNotificationManager::queue().at(0);
    EXPECT_EQ(banner->message(), "You don't have permissions to view this directory or file");
    EXPECT_EQ(banner->type(), NotificationType::Error);

    driver.tapRow(*list->tableView(), *driver.rowWithText(*list->tableView(), "Sub"));
    EXPECT_EQ(driver.visible<VeskFileListController>()->file()->path(), folder + "/Sub");

    // Off screen the list does not follow its folder; back on screen it catches up.
    makeFile("folder/while-away.txt");
    driver.advance(1.0);
    driver.drain();
    EXPECT_EQ(list->files().size(), 3u);
    navigation()->popViewControllerAnimated(false);
    driver.drain();
    EXPECT_EQ(list->files().size(), 4u);
    makeFile("folder/new.txt");
    driver.advance(1.0);
    driver.drain();
    EXPECT_TRUE(driver.rowWithText(*list->tableView(), "new.txt"));
}

TEST_F(FileListTest, EditModeSelectsReadableRowsForItsToolbar)
{
    for (auto name : { "a.txt", "b.txt", "c.txt" })
        makeFile(std::string("folder/") + name);
    makeLocked("Locked");
    auto list = open(folder);
    auto table = list->tableView();
    ASSERT_TRUE(driver.tapBarButton(*list, "Edit"));
    driver.drain();
    EXPECT_EQ(list->title(), "None selected");
    EXPECT_EQ(list->navigationItem().prompt(), folder);
    EXPECT_TRUE(list->navigationItem().hidesBackButton());
    EXPECT_EQ(rows(*list), (std::vector<std::string> { "a.txt", "b.txt", "c.txt" }));
    EXPECT_EQ(list->toolbarItems(), list->editingToolBarItems());
    EXPECT_TRUE(driver.barButton(*list, "Zip") && driver.barButton(*list, "Copy/Move"));
    auto enabled = [&] { return std::count_if(list->toolbarItems().begin(), list->toolbarItems().end(), [](auto& item) { return item->isEnabled(); }); };
    EXPECT_EQ(enabled(), 0);

    for (int row = 0; row < 3; ++row)
        driver.tapRow(*table, row);
    EXPECT_EQ(list->title(), "3 selected");
    EXPECT_EQ(enabled(), 5);
    for (int row = 0; row < 3; ++row)
        driver.tapRow(*table, row);
    EXPECT_EQ(list->title(), "None selected");
    EXPECT_EQ(enabled(), 0);

    ASSERT_TRUE(driver.tapBarButton(*list, "Done"));
    driver.drain();
    EXPECT_EQ(list->title(), folder);
    EXPECT_FALSE(list->navigationItem().prompt());
    EXPECT_EQ(list->toolbarItems(), list->normalToolBarItems());
    EXPECT_EQ(rows(*list).size(), 4u);
}

TEST_F(FileListTest, TheSelectionFollowsItsItemsThroughEveryReload)
{
    for (auto name : { "a.txt", "b.txt", "c.txt" })
        makeFile(std::string("folder/") + name);
    Bookmarks store;
    store.setup();
    store.save(VeskFile::initWithPath(folder + "/a.txt"));
    auto list = open(folder);
    auto table = list->tableView();
    auto row = [&](const char* name) { return *driver.rowWithText(*table, name); };
    auto marked = [&] {
        std::vector<std::string> names;
        for (auto& path : table->indexPathsForSelectedRows())
            names.push_back(list->files().at(static_cast<std::size_t>(path.row))->name());
        std::sort(names.begin(), names.end());
        return names;
    };
    auto watch = [&] {
        driver.advance(1.0);
        driver.drain();
    };
    // Unchanged listings leave the table alone; a chmod is a change the rows show.
    table->visibleCells();
    driver.drain();
    auto reloads = table->reloadCount();
    watch();
    list->reload();
    driver.drain();
    EXPECT_EQ(table->reloadCount(), reloads);
    ::chmod((folder + "/c.txt").c_str(), 0600);
    watch();
    table->visibleCells();
    driver.drain();
    EXPECT_EQ(cell(*list, "c.txt")->detailsLabel()->text(), "-rw-------");

    driver.tapBarButton(*list, "Edit");
    driver.drain();
    driver.tapRow(*table, row("a.txt"));
    driver.tapRow(*table, row("b.txt"));
    makeFile("folder/0.txt");
    watch();
    EXPECT_EQ(marked(), (std::vector<std::string> { "a.txt", "b.txt" }));
    EXPECT_EQ(list->title(), "2 selected");
    ::unlink((folder + "/b.txt").c_str());
    watch();
    EXPECT_EQ(marked(), std::vector<std::string> { "a.txt" });
    EXPECT_EQ(list->title(), "1 selected");
    driver.tapRow(*table, row("a.txt"));
    EXPECT_EQ(list->title(), "None selected");
    EXPECT_FALSE(list->editingToolBarItems().back()->isEnabled());

    for (auto name : { "0.txt", "a.txt" })
        driver.tapRow(*table, row(name));
    driver.tapBarButton(*list->editingToolBarItems().back());
    EXPECT_EQ(choose("Delete"), "Delete 2 files | This action can't be reversed | Cancel Delete");
    EXPECT_EQ(banners(), std::vector<std::string> { "Success: 2 files have been deleted" });
    EXPECT_EQ(ziptest::filesBelow(folder), std::vector<std::string> { "c.txt" });
    store.setup();
    EXPECT_EQ(store.count(), 0) << "the deleted bookmark is gone from the stored list";
}

TEST_F(FileListTest, RowActionsFollowTheKindOfItem)
{
    makeFile("folder/a.txt");
    makeFile("folder/movie.veskDL");
    makeLocked("Locked");
    auto list = open(folder);
    auto table = list->tableView();
    auto row = [&](const char* name) { return *driver.rowWithText(*table, name); };
    EXPECT_EQ(driver.swipeRow(*table, row("a.txt")), (std::vector<std::string> { "Delete", "More", "Info" }));
    // A link that leads nowhere can't be read through, but is still an item to rename, copy or delete.
    EXPECT_EQ(driver.swipeRow(*table, row("Locked")), (std::vector<std::string> { "Delete", "More" }));
    EXPECT_EQ(driver.swipeRow(*table, row("movie.veskDL")), std::vector<std::string> { "Cancel" });
    EXPECT_TRUE(driver.chooseRowAction(*table, row("movie.veskDL"), "Cancel"));
    EXPECT_FALSE(NSFileManager::defaultManager().fileExistsAtPath(folder + "/movie.veskDL"));
    EXPECT_TRUE(driver.chooseRowAction(*table, row("a.txt"), "Info"));
    auto shown = std::dynamic_pointer_cast<UINavigationController>(driver.topViewController());
    EXPECT_TRUE(shown && std::dynamic_pointer_cast<InfoTableViewController>(shown->topViewController()));
}

TEST_F(FileListTest, ToolbarsAndRowActionsCarryOutTheFileOperations)
{
    makeFolder("folder/keep");
    makeFolder("folder/Sub");
    for (auto name : { "a.txt", "b.txt", "gone.txt", "keep/inside.txt" })
        makeFile(std::string("folder/") + name);
    ASSERT_EQ(::symlink((folder + "/keep").c_str(), (folder + "/link").c_str()), 0);
    auto list = open(folder);
    auto table = list->tableView();
    auto row = [&](const char* name) { return *driver.rowWithText(*table, name); };
    auto select = [&](std::initializer_list<const char*> names) {
        driver.tapBarButton(*list, "Edit");
        driver.drain();
        for (auto name : names)
            driver.tapRow(*table, row(name));
    };

    select({ "a.txt", "b.txt" });
    driver.tapBarButton(*list, "Zip");
    EXPECT_EQ(choose("Zip"), "Zip 2 file(s) | • a.txt\r• b.txt\r | Cancel Zip");
    EXPECT_EQ(ziptest::entryNames(folder + "/Archive.zip"), (std::vector<std::string> { "a.txt", "b.txt" }));
    select({ "a.txt" });
    driver.tapBarButton(*list, "Copy/Move");
    EXPECT_EQ(choose("Copy"), "Copy/Move | If you select move the file(s) will be deleted after you past it (them) to the new direction. | Cancel Copy Move");
    EXPECT_EQ(list->title(), folder) << "each operation ends the edit mode";
    driver.tapRow(*table, row("Sub"));
    auto sub = driver.visible<VeskFileListController>();
    // On a pad the add sheet points at its button, in the toolbar at the foot of the screen.
    UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
    driver.render();
    for (auto entry : { "Past \"a.txt\"", "Add Dirctory", "Add Dirctory" }) {
        driver.tapBarButton(*sub->addItemButton());
        EXPECT_EQ(CGRectGetMaxY(sub->view()->convertRectToView(driver.alert()->popoverPresentationController().sourceRect(), nullptr)), 667);
        choose(entry);
    }
    driver.advance(1.0);
    driver.drain();
    EXPECT_EQ(rows(*sub), (std::vector<std::string> { "New Directory", "a.txt" }));
    navigation()->popViewControllerAnimated(false);

    driver.chooseRowAction(*table, row("b.txt"), "More");
    EXPECT_EQ(choose("Save to bookmarks"), "\"b.txt\" | - | Cancel Share File Copy/Move Save to documents Open as... Zip Rename Save to bookmarks");
    driver.chooseRowAction(*table, row("b.txt"), "More");
    choose("Rename");
    driver.typeIntoField(0, "c.txt");
    EXPECT_EQ(choose("Rename"), "Rename \"b.txt\" | Please type in the new name | Cancel Rename");
    driver.advance(1.0);
    driver.drain();
    EXPECT_TRUE(Bookmarks().isInBookmarks(*VeskFile::initWithPath(folder + "/c.txt")));

    // Deleting: a link goes without its target, an item gone meanwhile is counted as failed.
    select({ "link", "gone.txt", "c.txt" });
    driver.tapBarButton(*list->editingToolBarItems().back());
    EXPECT_EQ(choose("Cancel"), "Delete 3 files | This action can't be reversed | Cancel Delete");
    EXPECT_EQ(list->title(), "3 selected");
    driver.tapBarButton(*list->editingToolBarItems().back());
    ::unlink((folder + "/gone.txt").c_str());
    driver.chooseAlertAction("Delete");
    // Leaving edit mode while the work runs: its end must not switch the screen back.
    driver.tapBarButton(*list, "Done");
    driver.drain();
    EXPECT_FALSE(list->isInEditMode());
    EXPECT_EQ(list->title(), folder);
    EXPECT_FALSE(Bookmarks().isInBookmarks(*VeskFile::initWithPath(folder + "/c.txt")));
    for (auto name : { "Archive.zip", "a.txt" }) {
        driver.chooseRowAction(*table, row(name), "Delete");
        if (name == std::string("a.txt"))
            ::unlink((folder + "/a.txt").c_str());
        EXPECT_EQ(choose("Delete"), "Delete \"" + std::string(name) + "\" | This action can't be reversed | Cancel Delete");
    }
    EXPECT_EQ(banners(), (std::vector<std::string> { "Success: Done zipping \"2\" file(s)", "Info: \"a.txt\" has been coppied", "Success: \"a.txt\" has been past", "Success: New directory has been created", "Success: New directory has been created", "Info: \"b.txt\" has been added to bookmarks", "Success: \"b.txt\" has been renamed", "Warning: Could not delete 1 Files!", "Success: \"Archive.zip\" has been deleted", "Error: \"a.txt\" can't be deleted" }));
    EXPECT_EQ(ziptest::filesBelow(folder), (std::vector<std::string> { "Sub/", "Sub/New Directory/", "Sub/a.txt", "keep/", "keep/inside.txt" }));
}

TEST_F(FileListTest, TheMemoryReportSendsItsEventAlsoWhenTheQueryFails)
{
    setMemoryInfoSource([](std::string*) { return std::optional<MemoryFigures>(); });
    open(folder)->gotMemoryWarning("FileList");
    setMemoryInfoSource({});
    auto event = Analytics::recordedEvents().back();
    EXPECT_EQ(event.name, "Memory Warning");
    EXPECT_EQ(*event.attributes.find("File")->string(), "FileList");
    EXPECT_EQ(event.attributes.find("RAM")->integerValue(), 0);
}

TEST_F(FileListTest, CellsShowKindAndBookmarkAndAReusedCellShowsItsOwnIcon)
{
    makeFolder("folder/Sub");
    makeLocked("Locked");
    auto bookmarked = VeskFile::initWithPath(makeFile("folder/kept.txt"));
    Bookmarks store;
    store.setup();
    store.save(bookmarked);
    // Pictures that can't be read for a thumbnail show the type icon, and never hold up the list.
    ASSERT_EQ(::mkfifo((folder + "/pipe.png").c_str(), 0644), 0);
    makeFile("folder/bad.png", "not a picture");
    auto list = open(folder);
    list->tableView()->visibleCells();
    ASSERT_TRUE(driver.drain());
    for (auto name : { "pipe.png", "bad.png" })
        EXPECT_EQ(cell(*list, name)->fileIcon()->image()->size(), CGSizeMake(40, 52)) << name;
    auto sameColor = [](auto color, auto expected) { return color && color->isEqual(*expected); };
    auto sub = cell(*list, "Sub"), locked = cell(*list, "Locked"), kept = cell(*list, "kept.txt");
    EXPECT_TRUE(sameColor(sub->fileTitle()->textColor(), UIColor::blueColor()));
    EXPECT_EQ(sub->accessoryType(), UITableViewCellAccessoryType::DisclosureIndicator);
    EXPECT_TRUE(sameColor(kept->fileTitle()->textColor(), UIColor::blackColor()));
    EXPECT_EQ(kept->accessoryType(), UITableViewCellAccessoryType::None);
    EXPECT_TRUE(sameColor(locked->fileTitle()->textColor(), UIColor::redColor()));
    EXPECT_TRUE(sub->isMultiSelectable() && kept->isMultiSelectable() && !locked->isMultiSelectable());
    EXPECT_TRUE(sameColor(kept->favView()->backgroundColor(), VeskAssets::flatOrange()));
    EXPECT_TRUE(sameColor(sub->favView()->backgroundColor(), UIColor::clearColor()));
    EXPECT_EQ(kept->detailsLabel()->text(), "-rw-r--r--");
    store.remove(bookmarked);
    driver.advance(0.5);
    EXPECT_TRUE(sameColor(kept->favView()->backgroundColor(), UIColor::clearColor()));

    // A long folder of wide pictures and texts, scrolled through faster than icons are made.
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(1600, 800), false, 1);
    auto png = UIImagePNGRepresentation(UIGraphicsGetImageFromCurrentImageContext());
    UIGraphicsEndImageContext();
    auto wide = makeFolder("wide");
    for (int i = 0; i < 150; ++i)
        makeFile("wide/" + std::to_string(i) + (i % 3 ? ".txt" : ".png"), i % 3 ? "x" : std::string(png.begin(), png.end()));
    auto many = open(wide);
    auto table = many->tableView();
    for (CGFloat y = 0; y < table->contentHeight(); y += 260)
        table->setContentOffset({ 0, y });
    driver.drain();
    EXPECT_LT(table->subviews().size(), 25u) << "a screenful of cells, reused";
    for (auto& shown : table->visibleCells()) {
        auto fileCell = std::dynamic_pointer_cast<VeskFileCell>(shown);
        bool picture = fileCell->file()->suffix() == "png";
        EXPECT_EQ(fileCell->fileIcon()->image()->size(), picture ? CGSizeMake(44, 22) : CGSizeMake(40, 52)) << fileCell->file()->name();
    }
}

TEST_F(FileListTest, PeeksPreviewReadableRowsAndRefuseOthersWithATap)
{
    makeFolder("folder/Sub");
    makeLocked("Locked");
    auto list = open(folder);
    auto table = list->tableView();
    int taps = 0;
    NSNotificationCenter::defaultCenter().addObserver(this, "tap", [&](auto&) { ++taps; });
    auto rect = [&](const char* name) { return table->rectForRowAtIndexPath(*driver.rowWithText(*table, name)); };
    auto preview = std::dynamic_pointer_cast<VeskFileListController>(driver.peek(*list, { 10, rect("Sub").origin.y + 1 }));
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->file()->path(), folder + "/Sub");
    EXPECT_EQ(preview->preferredContentSize(), CGSizeMake(0, 400));
    EXPECT_EQ(list->previewRegistrations()[0].context->sourceRect(), rect("Sub"));
    EXPECT_FALSE(driver.peek(*list, { 10, rect("Locked").origin.y + 1 }));
    EXPECT_FALSE(driver.peek(*list, { 10, 5000 }));
    EXPECT_EQ(taps, 2);
    NSNotificationCenter::defaultCenter().removeObserver(this);
    driver.pop(*list, preview);
    EXPECT_EQ(driver.visibleScreen(), preview);

    UIViewController::setForceTouchCapability(UIForceTouchCapability::Unavailable);
    EXPECT_TRUE(open(folder)->previewRegistrations().empty());
    UIViewController::setForceTouchCapability(UIForceTouchCapability::Available);
}

struct DeletionRecorder : VeskFileCellDelegate {
    int calls = 0;
    bool didDeleteFile(const std::shared_ptr<VeskFile>&) override { return ++calls > 0; }
};

TEST_F(FileListTest, UnloadedAndReleasedCellsAndListsStopWatching)
{
    driver.advance(0.5);
    auto timers = RunLoop::main().timerCount();
    auto recorder = std::make_shared<DeletionRecorder>();
    auto watch = [&](const std::string& name) {
        auto cell = std::make_shared<VeskFileCell>("fileCell");
        cell->setFile(VeskFile::initWithPath(makeFile(name)));
        cell->setDelegate(recorder);
        cell->setup();
        return cell;
    };
    auto live = watch("live"), unloaded = watch("unloaded"), released = watch("released");
    unloaded->unload();
    released.reset();
    UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList")->view();
    for (auto name : { "live", "unloaded" })
        ::unlink((root() + "/" + name).c_str());
    driver.advance(0.5);
    driver.drain();
    EXPECT_EQ(recorder->calls, 1);
    EXPECT_EQ(RunLoop::main().timerCount(), timers);
}

// Holds its first listing back until the test lets it go.
class HeldList : public VeskFileListController {
public:
    std::promise<void> release;
    std::shared_future<void> gate { release.get_future().share() };
    mutable std::atomic<int> listings { 0 };

protected:
    Files listFolder(const std::string& path) const override
    {
        auto files = VeskFileListController::listFolder(path);
        if (listings.fetch_add(1) == 0)
            gate.wait();
        return files;
    }
};

TEST_F(FileListTest, AListingThatEndsLateNeverReplacesANewerOne)
{
    makeFile("folder/a.txt");
    auto list = std::make_shared<HeldList>();
    list->setFile(VeskFile::initWithPath(folder));
    list->view();
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return list->listings > 0; }));
    makeFile("folder/b.txt");
    list->reload();
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return list->files().size() == 2; }));
    list->release.set_value();
    driver.drain();
    EXPECT_EQ(list->files().size(), 2u);
}

}
