#include "app/AppTestSupport.h"
#include "webservice/WebRouteTestSupport.h"

#include "app/AppDelegate.h"
#include "app/Utility.h"
#include "app/VeskFileListController.h"
#include "model/SettingsKeys.h"
#include "model/VeskLocalizer.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "screens/SettingsTableViewController.h"
#include "webservice/VeskWebServices.h"

using namespace vesk;
using namespace vesk::platform;

namespace {

const bool installed = (installWebServices(false), true);

class SettingsScreenTest : public vesk::test::AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        UIApplication::sharedApplication().launch(std::make_shared<AppDelegate>());
        driver.tapBarButton(*driver.visible<VeskFileListController>()->documentFolder());
        Utility().openSettings();
        ASSERT_TRUE(screen = driver.visible<SettingsTableViewController>());
        table = screen->tableView();
    }
    std::shared_ptr<UISwitch> knob(int section) { return std::dynamic_pointer_cast<VeskSwitchCell>(table->cellForRowAtIndexPath({ section, 0 }))->knob(); }
    static bool stored(const std::string& key) { return NSUserDefaults::standardUserDefaults()->boolForKey(key); }
    // Taps the server section's row and answers the table of the screen it pushed.
    std::shared_ptr<UITableView> open(int row)
    {
        driver.tapRow(*table, row, 1);
        auto pushed = driver.visible<UITableViewController>();
        return pushed != screen ? pushed->tableView() : nullptr;
    }
    void block(const std::vector<std::pair<std::string, std::string>>& entries)
    {
        for (auto& [ip, name] : entries) {
            driver.visible<UIViewController>()->navigationItem().rightBarButtonItem()->tap();
            driver.typeIntoField(0, ip);
            driver.typeIntoField(1, name);
            driver.chooseAlertAction("Block");
        }
    }
    // "name address" per row, then the banners raised since the last look.
    std::vector<std::string> shown(UITableView& rows)
    {
        std::vector<std::string> lines;
        for (auto& cell : rows.visibleCells())
            lines.push_back(cell->textLabel()->text().value_or("") + " " + *cell->detailTextLabel()->text());
        for (auto& banner : VeskNotificationManager::queue())
            lines.push_back(std::string(notificationTypeName(banner->type())) + ": " + *banner->message());
        VeskNotificationManager::clearQueue();
        return lines;
    }
    std::int64_t statusOfARequest() { return vesk::test::httpGet(port, "/getDocDir").envelope()["statuscode"].integerValue().value_or(0); }

    std::shared_ptr<SettingsTableViewController> screen;
    std::shared_ptr<UITableView> table;
};

TEST_F(SettingsScreenTest, SectionsRowsSwitchesAndDisclosureMarks)
{
    std::vector<std::string> seen;
    for (int section = 0; section < table->numberOfSections(); ++section) {
        seen.push_back("# " + screen->titleForHeaderInSection(*table, section).value_or(""));
        for (int row = 0; row < table->numberOfRowsInSection(section); ++row) {
            auto cell = table->cellForRowAtIndexPath({ section, row });
            auto toggle = std::dynamic_pointer_cast<VeskSwitchCell>(cell);
            seen.push_back((toggle ? *toggle->title()->text() + (toggle->knob()->isOn() ? " on" : " off") : *cell->textLabel()->text())
                + (cell->accessoryType() == UITableViewCellAccessoryType::DisclosureIndicator ? " >" : ""));
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string> { "# Files", "Show hidden files off", "# Server", "HTTP Server off", "Webservices >", "Blocked IPs >", "# Clipboard", "Clear Clipboard", "# About", "About Vesk >" }));
    driver.tapRow(*table, 0, 3);
    EXPECT_EQ(driver.visibleScreen()->storyboardIdentifier(), "aboutVesk");
}

TEST_F(SettingsScreenTest, EscapeGoesBackFromAPushedScreenThenClosesSettingsAsDoneDoes)
{
    auto list = driver.screenStack().front();
    driver.tapRow(*table, 0, 3);
    ASSERT_NE(driver.visibleScreen(), screen);
    driver.pressKey(UIKey::Escape);
    driver.drain();
    EXPECT_EQ(driver.visibleScreen(), screen);
    driver.pressKey(UIKey::Escape);
    driver.drain();
    EXPECT_EQ(driver.topViewController(), list);
}

TEST_F(SettingsScreenTest, HiddenFilesSwitchStoresPostsAndTheListShowsDotFilesAfterDone)
{
    makeFile("home/Documents/.dot");
    std::vector<bool> posted;
    NSNotificationCenter::defaultCenter().addObserver(this, hashedDefaultsKey2(), [&](const NSNotification&) { posted.push_back(stored(hashedDefaultsKey2())); });
    for (int flips = 0; flips < 3; ++flips)
        knob(0)->flip();
    NSNotificationCenter::defaultCenter().removeObserver(this);
    EXPECT_EQ(posted, (std::vector<bool> { true, false, true })) << "stored before posting";
    EXPECT_TRUE(driver.tapBarButton(*screen, "Done"));
    driver.drain();
    EXPECT_EQ(driver.rowTitles(*driver.visible<UITableViewController>()->tableView()), std::vector<std::string> { ".dot" });
}

TEST_F(SettingsScreenTest, ServerSwitchStartsAndStopsTheServerThenStoresTheSwitch)
{
    std::optional<bool> storedWhenStarting;
    VeskHTTPServer::setWifiWatchLauncher([&](VeskHTTPServer&) { storedWhenStarting = stored(hashedDefaultsKey7()); });
    knob(1)->flip();
    EXPECT_EQ(storedWhenStarting, false);
    EXPECT_TRUE(vesk::test::isListening(port) && stored(hashedDefaultsKey7()));
    knob(1)->flip();
    EXPECT_FALSE(vesk::test::isListening(port) || stored(hashedDefaultsKey7()));
    VeskHTTPServer::setWifiWatchLauncher({});
}

TEST_F(SettingsScreenTest, ClearClipboardRemovesTheEntryAndSaysSoEvenWhenEmpty)
{
    NSUserDefaults::standardUserDefaults()->setObject(Value(Dictionary { { "methode", Value("copy") } }), hashedDefaultsKey6());
    driver.tapRow(*table, 0, 2);
    driver.tapRow(*table, 0, 2);
    EXPECT_FALSE(NSUserDefaults::standardUserDefaults()->objectForKey(hashedDefaultsKey6()));
    auto queue = VeskNotificationManager::queue();
    ASSERT_EQ(queue.size(), 2u);
    EXPECT_TRUE(queue[1]->message() == "Clipboard has been cleared!" && queue[1]->type() == NotificationType::Info);
}

TEST_F(SettingsScreenTest, DocumentationShowsEveryServiceAndTranslatesOnlyItsProse)
{
    auto lang = VeskLocalizer::localizationTableFilePath();
    NSFileManager::defaultManager().createDirectoryAtPath(stringByDeletingLastPathComponent(lang), true);
    NSFileManager::defaultManager().createFileAtPath(lang, *dataFromPropertyList(Value(Dictionary { { "Webservices", Value("Dienste") }, { "Set File", Value("Datei senden") }, { "Example", Value("Beispiel") }, { "\"base64\" or \"raw\"", Value("B/R") }, { "GET", Value("-") }, { "JSON object", Value("-") } }), PropertyListFormat::XML));
    VeskLocalizer::shared()->getTranslationTable();
    auto docs = open(1);
    ASSERT_TRUE(docs);
    std::string seen = *driver.visibleScreen()->title(); // the texts shown, in one line
    for (int section = 0; section < 8; ++section)
        seen += "|" + *docs->dataSource()->titleForHeaderInSection(*docs, section) + " " + std::to_string(docs->numberOfRowsInSection(section));
    for (auto at : { NSIndexPath { 0, 1 }, NSIndexPath { 0, 2 }, NSIndexPath { 0, 4 }, NSIndexPath { 1, 3 }, NSIndexPath { 1, 4 } }) {
        auto cell = docs->cellForRowAtIndexPath(at);
        seen += "|" + *cell->textLabel()->text() + (cell->style() == UITableViewCellStyle::Value1 ? " = " : " / ") + *cell->detailTextLabel()->text();
    }
    NSFileManager::defaultManager().createFileAtPath(lang, *dataFromPropertyList(Value(Dictionary {}), PropertyListFormat::XML));
    VeskLocalizer::shared()->getTranslationTable();
    EXPECT_EQ(seen, "Dienste|Get File 7|Datei senden 5|Get Fileicon 6|Get Fileinfo 4|Get Home-directory 4|Get Documents-directory 4|Get Bookmarks 4| 0"
                    "|Methode = GET|Beispiel = /getFile?path=/?type=raw|Param-\"type\" / B/R|Response / JSON object|Info / File is been saved in document directory");
}

TEST_F(SettingsScreenTest, BlockRefusesEmptyMalformedAndIPv6AddressesAndStoresTheNumericForm)
{
    auto list = open(2);
    ASSERT_TRUE(list);
    block({ { "", "" }, { "", "pc" }, { "10.0.0.1", "" }, { " \t", "pc" }, { "10.0.0.256", "pc" }, { "host.lan", "pc" }, { "fe80::1%lo", "" } });
    std::string ip = "Error: Please enter an IP!", again = "Error: Error, please try again!", blocked = "Success: IP has been blocked!";
    EXPECT_EQ(shown(*list), (std::vector<std::string> { again, ip, "Error: Please enter a name!", ip, ip, ip, again }));
    EXPECT_FALSE(NSUserDefaults::standardUserDefaults()->objectForKey(hashedDefaultsKey8()));
    block({ { " 10.0.0.9 ", "b" }, { "::FFFF:10.0.0.5", "a" }, { "2001:DB8:0::1", "c" }, { "10.0.0.9", "b2" } });
    // The server listens on IPv4 only: an IPv6 entry could never match a client.
    EXPECT_EQ(shown(*list), (std::vector<std::string> { "a 10.0.0.5", "b2 10.0.0.9", blocked, blocked, ip, blocked }));
}

TEST_F(SettingsScreenTest, ABlockRefusesTheClientUntilUnblockedEvenAfterARestart)
{
    auto list = open(2);
    VeskHTTPServer::start();
    vesk::test::Client kept(port); // opened before the block and kept alive across it
    auto bannedOnKept = [&] { return kept.send("GET /getDocDir HTTP/1.1\r\nConnection: keep-alive\r\n\r\n") && kept.readResponse().find("You have been banned!") != std::string::npos; };
    EXPECT_FALSE(bannedOnKept());
    EXPECT_EQ(statusOfARequest(), 200);
    block({ { "127.0.0.1", "me" }, { "10.0.0.2", "other" } });
    EXPECT_EQ(statusOfARequest(), 403);
    EXPECT_TRUE(bannedOnKept()) << "the open connection's next request is refused too";
    driver.drain();
    shown(*list);
    // The restart reloads the service's list from the store, where an entry came in meanwhile.
    VeskHTTPServer::updateBlockedIP("10.0.0.1", "new", false);
    VeskHTTPServer::stop();
    VeskHTTPServer::start();
    EXPECT_TRUE(driver.chooseRowAction(*list, { 0, 1 }, "Unblock"));
    EXPECT_EQ(shown(*list), (std::vector<std::string> { "new 10.0.0.1", "other 10.0.0.2" }));
    EXPECT_EQ(statusOfARequest(), 200);
    EXPECT_TRUE(driver.chooseRowAction(*list, { 0, 0 }, "Unblock"));
    EXPECT_EQ(shown(*list), std::vector<std::string> { "other 10.0.0.2" });
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->dictionaryForKey(hashedDefaultsKey8()), (Dictionary { { "10.0.0.2", Value("other") } }));
}

}
