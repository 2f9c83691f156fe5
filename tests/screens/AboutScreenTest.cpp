#include "app/AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/Utility.h"
#include "assets/VeskAssets.h"
#include "platform/uikit/UIStoryboard.h"
#include "screens/AboutVeskTableViewController.h"
#include "sdk/Analytics.h"

using namespace vesk;
using namespace vesk::platform;

namespace {

class AboutScreenTest : public test::AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        UIApplication::sharedApplication().launch(std::make_shared<AppDelegate>());
        DesktopServices::setShared(desktop);
        screen = UIStoryboard::storyboardWithName("Main").instantiate<AboutVeskTableViewController>("aboutVesk");
        driver.topViewController()->presentViewController(UINavigationController::initWithRootViewController(screen), false);
        table = screen->tableView();
    }

    void TearDown() override
    {
        DesktopServices::setShared(nullptr);
        AppTest::TearDown();
    }

    int events(const std::string& name)
    {
        auto all = Analytics::recordedEvents();
        return static_cast<int>(std::count_if(all.begin(), all.end(), [&](auto& event) { return event.name == name; }));
    }
    std::shared_ptr<VeskNotification> banner() { return VeskNotificationManager::queue().back(); }
    void chooseReport(const std::string& way)
    {
        driver.tapRow(*table, 0, 2);
        ASSERT_EQ(driver.alert()->title(), "How do you want to report it?");
        ASSERT_TRUE(driver.chooseAlertAction(way));
        driver.drain();
    }

    std::shared_ptr<DesktopRecorder> desktop = std::make_shared<DesktopRecorder>();
    std::shared_ptr<AboutVeskTableViewController> screen;
    std::shared_ptr<UITableView> table;
};

TEST_F(AboutScreenTest, ShowsTheIconVersionBuildAndDeveloper)
{
    EXPECT_EQ(screen->title(), "About Vesk");
    EXPECT_EQ(table->numberOfSections(), 3);
    std::vector<std::string> rows;
    for (int section = 0; section < 3; ++section) {
        for (int row = 0; row < table->numberOfRowsInSection(section); ++row) {
            auto cell = table->cellForRowAtIndexPath({ section, row });
            auto detail = cell->detailTextLabel() ? cell->detailTextLabel()->text().value_or("") : "";
            rows.push_back(cell->textLabel()->text().value_or("") + "|" + detail + "|" + std::to_string(int(table->rectForRowAtIndexPath({ section, row }).size.height)));
        }
    }
    EXPECT_EQ(rows, (std::vector<std::string> { "||138", "Version|1.0|44", "Build|1|44", "Developer|The Vesk developers|44", "Report a bug||44" }));
    EXPECT_EQ(table->cellForRowAtIndexPath({ 1, 2 })->accessoryType(), UITableViewCellAccessoryType::DisclosureIndicator);
    EXPECT_EQ(table->cellForRowAtIndexPath({ 2, 0 })->textLabel()->textColor(), VeskAssets::flatRed());
    auto icon = std::dynamic_pointer_cast<AboutVeskIconTableViewCell>(table->cellForRowAtIndexPath({ 0, 0 }));
    EXPECT_TRUE(icon->iconImageView()->image());
    for (int row : { 0, 1 }) {
        driver.tapRow(*table, row, 1);
        EXPECT_FALSE(table->indexPathForSelectedRow());
        EXPECT_EQ(driver.visibleScreen(), screen);
    }
}

TEST_F(AboutScreenTest, OutsidePagesOpenInsideFromNineOnAndTheTrackerIsCounted)
{
    for (auto version : { "8.4", "9.0", "10.0" }) {
        UIDevice::currentDevice().setSystemVersion(version);
        driver.tapRow(*table, 2, 1);
        driver.drain();
        chooseReport("Github");
        EXPECT_EQ(driver.visibleScreen(), screen) << "the page closes itself once the desktop has it";
    }
    std::vector<std::string> pages { "https://vesk.example.org/developers", "https://vesk.example.org/issues" };
    EXPECT_EQ(UIApplication::sharedApplication().openedURLs(), pages) << "below 9.0 the pages leave the app";
    auto twice = pages;
    twice.insert(twice.end(), pages.begin(), pages.end());
    EXPECT_EQ(desktop->pages(), twice);
    EXPECT_EQ(events("Opened Github issue tracker"), 3);
}

TEST_F(AboutScreenTest, TheBugMailCarriesTheDeviceFactsAndItsResultShowsABanner)
{
    UIDevice::currentDevice().setSystemVersion("10.3");
    struct Case {
        MFMailComposeResult result;
        std::string banner;
        NotificationType type;
    };
    for (auto& [result, text, type] : std::vector<Case> {
             { MFMailComposeResult::Cancelled, "Don't hesitate to contact me:)", NotificationType::Success },
             { MFMailComposeResult::Saved, "I hope you'll send it later:)", NotificationType::Success },
             { MFMailComposeResult::Sent, "Thanks for reporting this bug!", NotificationType::Success },
             { MFMailComposeResult::Failed, "Opps, there was an error!", NotificationType::Error } }) {
        desktop->setMailResult(result);
        chooseReport("Email");
        EXPECT_EQ(banner()->message(), text);
        EXPECT_EQ(banner()->type(), type);
        EXPECT_EQ(driver.visibleScreen(), screen) << "the composer is dismissed";
    }
    EXPECT_EQ(events("Send bug email"), 1);
    auto mail = desktop->mails().back();
    EXPECT_EQ(mail.subject, "Vesk bugreport 1.0 (1)");
    EXPECT_EQ(mail.body, "\n\n\n\nDon't change this:\n==========\niOS: 10.3\nDevice: " + Utility::platform() + "\nJailbroken: " + (Utility::isJailbroken() ? "true" : "false") + "\n==========");
    EXPECT_EQ(mail.toRecipients.size(), 1u);
    EXPECT_FALSE(mail.isHTML);

    desktop->setCanSendMail(false);
    chooseReport("Email");
    EXPECT_EQ(banner()->message(), "Mail is not configured!");
    EXPECT_EQ(banner()->type(), NotificationType::Error);
    EXPECT_EQ(desktop->mails().size(), 4u);
}

}
