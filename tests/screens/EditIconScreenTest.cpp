#include "app/AppTestSupport.h"

#include "app/PreviewTableViewCell.h"
#include "screens/EditIconTableViewController.h"

using namespace vesk;
using namespace vesk::platform;

namespace {

class EditIconScreenTest : public test::AppTest { };

TEST_F(EditIconScreenTest, ShowsThePreviewAboveTheColourRow)
{
    auto screen = std::make_shared<EditIconTableViewController>();
    screen->setPath(makeFolder("Pictures"));
    auto table = screen->tableView();
    EXPECT_EQ(screen->title(), "Edit icon");
    ASSERT_EQ(table->numberOfSections(), 2);
    auto preview = std::dynamic_pointer_cast<PreviewTableViewCell>(table->cellForRowAtIndexPath({ 0, 0 }));
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->path(), root() + "/Pictures");
    EXPECT_TRUE(std::dynamic_pointer_cast<ColorTableViewCell>(table->cellForRowAtIndexPath({ 1, 0 })));
    EXPECT_EQ(table->rectForRowAtIndexPath({ 0, 0 }).size.height, 200);
    EXPECT_EQ(table->rectForRowAtIndexPath({ 1, 0 }).size.height, 44);
    driver.drain();
    EXPECT_TRUE(preview->fileIcon()->image());
    for (int section : { 0, 1 }) {
        driver.tapRow(*table, 0, section);
        EXPECT_FALSE(table->indexPathForSelectedRow());
    }
}

}
