#include "viewers/ViewerTestSupport.h"

#include "platform/uikit/UIPasteboard.h"
#include "viewers/InfoTableViewController.h"

#include <sys/stat.h>

using namespace vesk;
using namespace vesk::platform;
using vesk::test::ViewerTest;

namespace {

class InfoScreenTest : public ViewerTest {
protected:
    // The screen for the path, before and after its facts arrive.
    std::shared_ptr<InfoTableViewController> show(const std::string& path)
    {
        utility.showInfo(driver.screenStack().front(), VeskFile::initWithPath(path));
        return driver.visible<InfoTableViewController>();
    }

    // Every section as "title: row=detail, ...".
    static std::vector<std::string> sections(InfoTableViewController& screen)
    {
        std::vector<std::string> texts;
        auto table = screen.tableView();
        for (int section = 1; section < table->numberOfSections(); ++section) {
            std::string text = *screen.titleForHeaderInSection(*table, section) + ":";
            for (int row = 0; row < table->numberOfRowsInSection(section); ++row) {
                auto cell = table->cellForRowAtIndexPath({ section, row });
                text += " " + cell->textLabel()->text().value_or("") + "=" + cell->detailTextLabel()->text().value_or("-");
            }
            texts.push_back(text);
        }
        return texts;
    }
};

}

TEST_F(InfoScreenTest, AFileShowsLoadingRowsThenItsFactsAndATapCopiesOne)
{
    auto path = makeFile("notes.txt", "hello");
    ::chmod(path.c_str(), 0644);
    auto screen = show(path);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->title(), "Fileinfo");
    EXPECT_EQ(sections(*screen), (std::vector<std::string> { "Fileinfo: Loading...=", "Additional Infos: Loading...=" }));
    driver.drain();

    auto table = screen->tableView();
    auto header = std::dynamic_pointer_cast<InfoTableViewCell>(table->cellForRowAtIndexPath({ 0, 0 }));
    ASSERT_NE(header, nullptr);
    driver.drain();
    EXPECT_EQ(header->fileName()->text(), "notes.txt");
    EXPECT_NE(header->fileIcon()->image(), nullptr);
    EXPECT_EQ(table->rectForRowAtIndexPath({ 0, 0 }).size.height, 85);
    EXPECT_EQ(table->rectForRowAtIndexPath({ 1, 0 }).size.height, 44);

    auto shown = sections(*screen);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(shown[0].starts_with("Fileinfo: Posix=-rw-r--r-- Size=5 bytes Path=" + path + " Created=")) << shown[0];
    EXPECT_EQ(shown[0].find("1970"), std::string::npos);
    EXPECT_NE(shown[0].find(" Modified="), std::string::npos);
    EXPECT_EQ(shown[1], "Additional infos: MIME-Type=text/plain");

    driver.tapRow(*table, 0, 0);
    EXPECT_TRUE(banners().empty()) << "the header copies nothing";
    driver.tapRow(*table, 1, 1);
    EXPECT_EQ(UIPasteboard::generalPasteboard().string(), "5 bytes");
    EXPECT_EQ(banners(), std::vector<std::string> { "Info: \"Size\" has been added to your Clipboard" });
}

TEST_F(InfoScreenTest, FoldersPicturesAndBundlesAddTheirOwnFacts)
{
    auto folder = makeFolder("Music");
    makeFile("Music/a.mp3");
    makeFile("Music/.hidden");
    makePNG("photo@2x.png", 641, 480);
    auto bundle = makeFolder("Tool.app");
    makeFile("Tool.app/Info.plist", "<plist><dict><key>CFBundleIdentifier</key><string>com.example.tool</string>"
                                    "<key>CFBundleVersion</key><integer>7</integer></dict></plist>");
    const std::pair<std::string, std::string> cases[] = {
        { folder, "Additional infos: MIME-Type=text/directory Subfiles=1" },
        { root() + "/photo@2x.png", "Additional infos: MIME-Type=image/png Dimensions=320.5x240 px" },
        { bundle, "Additional infos: MIME-Type=text/directory Bundle-ID=com.example.tool Build=-" },
        { "/proc/version", "Additional infos: MIME-Type=unknown" },
    };
    for (auto& [path, additional] : cases) {
        auto screen = show(path);
        driver.drain();
        auto shown = sections(*screen);
        ASSERT_EQ(shown.size(), 2u) << path;
        EXPECT_EQ(shown[1], additional);
        if (path.starts_with("/proc")) {
            EXPECT_NE(shown[0].find(" Created=Unknown "), std::string::npos) << "no birth time recorded: " << shown[0];
        }
        screen->close();
    }
}
