#include "viewers/ViewerTestSupport.h"

#include "platform/graphics/UIScreen.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/UIStoryboard.h"
#include "screens/VeskSwitchCell.h"
#include "viewers/VeskFileViewController.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace vesk;
using namespace vesk::platform;
using vesk::test::ViewerTest;

namespace {

const char* list = "<plist><dict>"
                   "<key>name</key><string>Vesk</string>"
                   "<key>enabled</key><true/>"
                   "<key>count</key><integer>0</integer>"
                   "<key>items</key><array><string>first</string><dict><key>deep</key><array/></dict><real>2.5</real><true/></array>"
                   "</dict></plist>";

class PlistViewerTest : public ViewerTest {
protected:
    std::shared_ptr<PlistViewController> top() { return driver.visible<PlistViewController>(); }
    std::shared_ptr<VeskSwitchCell> switchAt(PlistViewController& level, int row)
    {
        return std::dynamic_pointer_cast<VeskSwitchCell>(level.tableView()->cellForRowAtIndexPath({ 0, row }));
    }
};

}

TEST_F(PlistViewerTest, LevelsDrillDownByTheirPathWithSwitchesForBooleansOnly)
{
    auto path = makeFile("settings.plist", list);
    auto rootLevel = open<PlistViewController>(path);
    ASSERT_NE(rootLevel, nullptr);
    auto table = rootLevel->tableView();
    EXPECT_EQ(driver.rowTitles(*table), (std::vector<std::string> { "name", "", "count", "items" }));
    EXPECT_EQ(table->cellForRowAtIndexPath({ 0, 0 })->detailTextLabel()->text(), "Vesk");
    EXPECT_EQ(table->cellForRowAtIndexPath({ 0, 2 })->detailTextLabel()->text(), "0");
    EXPECT_EQ(switchAt(*rootLevel, 1)->title()->text(), "enabled");
    EXPECT_TRUE(switchAt(*rootLevel, 1)->knob()->isOn());
    auto items = table->cellForRowAtIndexPath({ 0, 3 });
    EXPECT_EQ(items->accessoryType(), UITableViewCellAccessoryType::DisclosureIndicator);
    EXPECT_EQ(items->detailTextLabel()->text(), std::nullopt);
    EXPECT_FALSE(driver.barButton(*rootLevel, "Back")->isEnabled());

    // A flip changes nothing: the viewer never writes the file.
    switchAt(*rootLevel, 1)->knob()->flip();
    std::ostringstream stored;
    stored << std::ifstream(path).rdbuf();
    EXPECT_EQ(stored.str(), list);

    driver.tapRow(*table, 3);
    auto itemsLevel = top();
    ASSERT_NE(itemsLevel, rootLevel);
    EXPECT_EQ(itemsLevel->keys(), std::vector<std::string> { "items" });
    EXPECT_EQ(driver.rowTitles(*itemsLevel->tableView()), (std::vector<std::string> { "0", "1", "2", "" }));
    EXPECT_EQ(itemsLevel->tableView()->cellForRowAtIndexPath({ 0, 2 })->detailTextLabel()->text(), "2.5");
    EXPECT_EQ(switchAt(*itemsLevel, 3)->title()->text(), std::nullopt) << "an array index names no switch";
    EXPECT_TRUE(driver.barButton(*itemsLevel, "Back")->isEnabled());
    driver.tapRow(*itemsLevel->tableView(), 0);
    EXPECT_EQ(top(), itemsLevel) << "a leaf opens nothing";
    driver.tapRow(*itemsLevel->tableView(), 1);
    EXPECT_EQ(top()->keys(), (std::vector<std::string> { "items", "1" }));
    EXPECT_EQ(driver.rowTitles(*top()->tableView()), std::vector<std::string> { "deep" });

    driver.tapBarButton(*top(), "Back");
    EXPECT_EQ(top(), itemsLevel);
    EXPECT_TRUE(banners().empty());

    // On a pad the delete sheet points at the button down in the navigation controller's toolbar.
    UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
    driver.tapBarButton(*itemsLevel, "Delete");
    EXPECT_GT(driver.alert()->popoverPresentationController().sourceRect().origin.y, UIScreen::mainScreen().bounds().size.height / 2);
}

TEST_F(PlistViewerTest, APathThatLeadsNowhereOrAListThatIsNoContainerCloses)
{
    auto path = makeFile("settings.plist", list);
    auto cases = std::vector<std::pair<std::string, std::vector<std::string>>> {
        { path, { "missing" } },
        { path, { "items", "7" } },
        { path, { "items", "-1" } },
        { path, { "name" } },
        { makeFile("scalar.plist", "<plist><string>just text</string></plist>"), {} },
        { makeFile("broken.plist", "<plist><dict>"), {} },
    };
    for (auto& [file, keys] : cases) {
        VeskNotificationManager::reset();
        auto level = UIStoryboard::storyboardWithName("Main").instantiate<PlistViewController>("plist");
        level->setFile(VeskFile::initWithPath(file));
        level->setKeys(keys);
        driver.screenStack().front()->presentViewController(UINavigationController::initWithRootViewController(level), false);
        EXPECT_EQ(level->tableView()->numberOfRowsInSection(0), 0);
        driver.drain();
        EXPECT_EQ(banners(), std::vector<std::string> { errorBanner }) << file << " " << keys.size();
        EXPECT_EQ(driver.screenStack().size(), 1u);
    }
}

TEST_F(PlistViewerTest, AListOverTheLimitSaysSoAndOnlyOneThatFailsToParseIsAnError)
{
    // Never read: the size decides.
    auto big = makeFile("big.plist");
    ASSERT_EQ(::truncate(big.c_str(), PlistViewController::maximumListBytes + (1 << 20)), 0);
    auto atLimit = makeFile("limit.plist", std::string(list) + std::string(PlistViewController::maximumListBytes - std::strlen(list), '\n'));
    const std::pair<std::string, std::string> cases[] = {
        { big, "Warning: Property lists of up to 64 MiB can be shown: \"big.plist\" is bigger" },
        { makeFile("broken.plist", "<plist><dict><key>a</key>"), errorBanner },
        { atLimit, "" },
    };
    for (auto& [path, banner] : cases) {
        VeskNotificationManager::reset();
        auto level = open<PlistViewController>(path);
        driver.drain();
        if (banner.empty()) {
            ASSERT_NE(level, nullptr) << "a list of the limit's size opens";
            EXPECT_EQ(level->tableView()->numberOfRowsInSection(0), 4);
            EXPECT_TRUE(banners().empty());
            continue;
        }
        EXPECT_EQ(top(), nullptr) << path << " closed";
        EXPECT_EQ(banners(), std::vector<std::string> { banner });
    }
}

TEST_F(PlistViewerTest, EscapeGoesBackALevelAndClosesTheFirst)
{
    auto listScreen = driver.visibleScreen();
    auto rootLevel = open<PlistViewController>(makeFile("settings.plist", list));
    ASSERT_NE(rootLevel, nullptr);
    driver.tapRow(*rootLevel->tableView(), 3);
    ASSERT_NE(top(), rootLevel);
    driver.pressKey(UIKey::Escape);
    driver.drain();
    EXPECT_EQ(top(), rootLevel) << "back one level, as its Back button goes";
    driver.pressKey(UIKey::Escape);
    driver.drain();
    EXPECT_EQ(driver.visibleScreen(), listScreen);
}
