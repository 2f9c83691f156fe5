#include "app/AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/BookmarksController.h"
#include "app/Utility.h"
#include "app/VeskFileListController.h"
#include "model/Bookmarks.h"
#include "model/VeskFile.h"

#include <algorithm>

using namespace vesk;
using namespace vesk::platform;

namespace {

class BookmarksScreenTest : public test::AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        UIApplication::sharedApplication().launch(std::make_shared<AppDelegate>());
        store.setup();
        for (auto name : { "a.txt", "b.txt" })
            store.save(VeskFile::initWithPath(makeFile(name)));
        store.save(VeskFile::initWithPath(makeFolder("Pictures")));
        Utility().openBookmarks();
        driver.drain();
        screen = driver.visible<BookmarksController>();
        ASSERT_TRUE(screen);
        table = screen->tableView();
    }

    std::vector<std::string> rows()
    {
        auto titles = driver.rowTitles(*table);
        std::sort(titles.begin(), titles.end());
        return titles;
    }
    NSIndexPath row(const std::string& name) { return *driver.rowWithText(*table, name); }
    std::string banner() { return VeskNotificationManager::queue().back()->message().value_or(""); }

    Bookmarks store;
    std::shared_ptr<BookmarksController> screen;
    std::shared_ptr<UITableView> table;
};

TEST_F(BookmarksScreenTest, RemovesOneItemAndOffersOpenAsForFiles)
{
    EXPECT_EQ(screen->title(), "Bookmarks");
    EXPECT_EQ(rows(), (std::vector<std::string> { "Pictures", "a.txt", "b.txt" }));
    EXPECT_TRUE(screen->deleteButton()->isEnabled());
    EXPECT_EQ(driver.swipeRow(*table, row("Pictures")), std::vector<std::string> { "Remove" });
    EXPECT_EQ(driver.swipeRow(*table, row("a.txt")), (std::vector<std::string> { "Remove", "Open as..." }));

    EXPECT_TRUE(driver.chooseRowAction(*table, row("a.txt"), "Remove"));
    EXPECT_EQ(banner(), "\"a.txt\" has been removed from bookmarks");
    EXPECT_EQ(VeskNotificationManager::queue().back()->type(), NotificationType::Info);
    EXPECT_EQ(rows(), (std::vector<std::string> { "Pictures", "b.txt" }));

    EXPECT_TRUE(driver.chooseRowAction(*table, row("b.txt"), "Open as...") && driver.chooseAlertAction("Image"));
    EXPECT_EQ(driver.visibleScreen()->storyboardIdentifier(), "image");
    screen->dismissViewControllerAnimated(false);

    // An item deleted while the screen was covered leaves the list when its row's watcher sees
    // it go, as the rows are made again.
    ::unlink((root() + "/b.txt").c_str());
    driver.advance(0.5);
    EXPECT_EQ(rows(), std::vector<std::string> { "Pictures" });

    driver.tapRow(*table, row("Pictures"));
    auto list = driver.visible<VeskFileListController>();
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->isBookmarks());
    EXPECT_FALSE(list->bookmarkButton()->isEnabled());
    EXPECT_FALSE(list->documentFolder()->isEnabled());
}

TEST_F(BookmarksScreenTest, RemovesAllItemsAfterConfirmation)
{
    driver.tapBarButton(*screen->deleteButton());
    ASSERT_TRUE(driver.alert());
    EXPECT_EQ(driver.alert()->title(), "Remove all...");
    EXPECT_EQ(driver.alert()->message(), "This can't be reversed!");
    EXPECT_TRUE(driver.chooseAlertAction("Cancel"));
    EXPECT_EQ(rows().size(), 3u);

    driver.tapBarButton(*screen->deleteButton());
    EXPECT_TRUE(driver.chooseAlertAction("Remove all"));
    EXPECT_EQ(banner(), "All bookmarks have been deleted");
    EXPECT_EQ(VeskNotificationManager::queue().back()->type(), NotificationType::Success);
    EXPECT_TRUE(rows().empty());
    EXPECT_TRUE(store.reloadBookmarks().empty());
}

}
