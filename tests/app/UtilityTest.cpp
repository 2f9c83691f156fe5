#include "app/AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/Utility.h"
#include "app/VeskFileListController.h"
#include "model/VeskFile.h"
#include "viewers/InfoTableViewController.h"
#include "viewers/VeskFileViewController.h"

#include <sys/utsname.h>

using namespace vesk;
using namespace vesk::platform;
using vesk::test::AppTest;

namespace {

enum class Viewer {
    Image,
    Text,
    Plist,
    Web,
    Unknown,
    None,
};

const char* viewerName(Viewer viewer)
{
    switch (viewer) {
    case Viewer::Image:
        return "image";
    case Viewer::Text:
        return "text";
    case Viewer::Plist:
        return "plist";
    case Viewer::Web:
        return "web";
    case Viewer::Unknown:
        return "unknown";
    case Viewer::None:
        return "none";
    }
    return "?";
}

Viewer viewerOf(const std::shared_ptr<UIViewController>& screen)
{
    if (!screen)
        return Viewer::None;
    if (std::dynamic_pointer_cast<ImageViewController>(screen))
        return Viewer::Image;
    if (std::dynamic_pointer_cast<TextViewController>(screen))
        return Viewer::Text;
    if (std::dynamic_pointer_cast<PlistViewController>(screen))
        return Viewer::Plist;
    if (std::dynamic_pointer_cast<WebViewController>(screen))
        return Viewer::Web;
    if (std::dynamic_pointer_cast<UnknownViewController>(screen))
        return Viewer::Unknown;
    return Viewer::None;
}

class UtilityTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        UIApplication::sharedApplication().launch(std::make_shared<AppDelegate>());
    }

    std::shared_ptr<UIViewController> first() { return driver.screenStack().front(); }

    // Opens the file over the first screen; answers the viewer shown and closes it again.
    Viewer open(const std::string& name)
    {
        auto file = VeskFile::initWithPath(makeFile(name));
        utility.openItem(first(), file, CGRectMake(10, 10, 1, 1));
        auto stack = driver.screenStack();
        if (stack.size() == 1)
            return Viewer::None;
        auto navigation = std::dynamic_pointer_cast<UINavigationController>(stack.back());
        EXPECT_NE(navigation, nullptr);
        EXPECT_EQ(stack.size(), 2u);
        auto viewer = navigation ? navigation->topViewController() : nullptr;
        if (auto fileViewer = std::dynamic_pointer_cast<VeskFileViewController>(viewer)) {
            EXPECT_EQ(fileViewer->file(), file);
        }
        first()->dismissViewControllerAnimated(false);
        driver.drain();
        return viewerOf(viewer);
    }

    Utility utility;
};

TEST_F(UtilityTest, TheExtensionAloneChoosesTheViewerImageTextZipPlistWeb)
{
    struct Case {
        const char* name;
        Viewer viewer;
    };
    const Case cases[] = {
        { "photo.png", Viewer::Image },
        { "photo.jpeg", Viewer::Image },
        { "anim.gif", Viewer::Image },
        { "PHOTO.PNG", Viewer::Unknown },
        { "notes.txt", Viewer::Text },
        { "data.json", Viewer::Text },
        { "feed.xml", Viewer::Text },
        { "archive.zip", Viewer::None },
        { "settings.plist", Viewer::Plist },
        { "page.html", Viewer::Web },
        { "manual.pdf", Viewer::Web },
        { "README", Viewer::Unknown },
        { "movie.mp4", Viewer::Unknown },
    };
    for (auto& testCase : cases)
        EXPECT_EQ(viewerName(open(testCase.name)), std::string(viewerName(testCase.viewer))) << testCase.name;
}

TEST_F(UtilityTest, ViewersAreFormSheetsOnAPadAndFullScreenElsewhere)
{
    utility.openImage(VeskFile::initWithPath(makeFile("a.txt")), first());
    ASSERT_EQ(driver.screenStack().size(), 2u);
    EXPECT_EQ(driver.topViewController()->modalPresentationStyle(), UIModalPresentationStyle::FullScreen);
    EXPECT_NE(driver.visible<ImageViewController>(), nullptr) << "openImage ignores the extension";
    first()->dismissViewControllerAnimated(false);
    driver.drain();

    UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
    auto file = VeskFile::initWithPath(makeFile("b.txt"));
    utility.showInfo(first(), file);
    ASSERT_EQ(driver.screenStack().size(), 2u);
    EXPECT_EQ(driver.topViewController()->modalPresentationStyle(), UIModalPresentationStyle::FormSheet);
    auto info = driver.visible<InfoTableViewController>();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->file(), file);
}

TEST_F(UtilityTest, PreviewsAreBuiltWithoutPresentingAndZipPreviewsAsUnknown)
{
    auto folder = VeskFile::initWithPath(makeFolder("Music"));
    auto list = std::dynamic_pointer_cast<VeskFileListController>(utility.getViewControllerForPath(folder));
    ASSERT_NE(list, nullptr) << "a folder gives a bare file list";
    EXPECT_EQ(list->file(), folder);

    auto archive = VeskFile::initWithPath(makeFile("backup.zip"));
    auto wrapped = std::dynamic_pointer_cast<UINavigationController>(utility.getViewControllerForPath(archive));
    ASSERT_NE(wrapped, nullptr);
    auto unknown = std::dynamic_pointer_cast<UnknownViewController>(wrapped->topViewController());
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(unknown->file(), archive);

    auto list2 = VeskFile::initWithPath(makeFile("Info.plist"));
    auto plist = std::dynamic_pointer_cast<UINavigationController>(utility.getViewControllerForPath(list2));
    ASSERT_NE(plist, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<PlistViewController>(plist->topViewController()), nullptr);
    EXPECT_EQ(driver.screenStack().size(), 1u) << "nothing is presented";
}

TEST_F(UtilityTest, TopMostControllerFollowsTheChainOfPresentations)
{
    EXPECT_EQ(utility.getTopMostViewController(), first());
    utility.openText(VeskFile::initWithPath(makeFile("a.txt")), first());
    auto viewer = driver.topViewController();
    utility.openWeb(VeskFile::initWithPath(makeFile("b.html")), viewer);
    EXPECT_EQ(driver.screenStack().size(), 3u);
    EXPECT_EQ(utility.getTopMostViewController(), driver.screenStack()[2]);

    UIApplication::sharedApplication().reset();
    EXPECT_EQ(utility.getTopMostViewController(), nullptr) << "no window";
    utility.openSettings();
}

TEST_F(UtilityTest, AppFacts)
{
    EXPECT_EQ(Utility::getVersion(), "1.0");
    EXPECT_EQ(Utility::getBuildNumber(), "1");
    EXPECT_FALSE(utility.isIpad());
    UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
    EXPECT_TRUE(utility.isIpad());
    EXPECT_EQ(utility.getAppDelegate(), UIApplication::sharedApplication().delegate());

    struct utsname names { };
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_EQ(Utility::platform(), names.machine);
    EXPECT_EQ(Utility::platform().find('\0'), std::string::npos);
    EXPECT_EQ(Utility::getADID().size(), 40u);
    if (::getgid() < 11) {
        EXPECT_TRUE(Utility::isJailbroken());
    } else {
        EXPECT_EQ(Utility::isJailbroken(), Utility::hasCydia());
    }
}

}
