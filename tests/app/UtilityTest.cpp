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

// The kind of viewer a screen is, or "none".
std::string viewerOf(const std::shared_ptr<UIViewController>& screen)
{
    if (std::dynamic_pointer_cast<ImageViewController>(screen))
        return "image";
    if (std::dynamic_pointer_cast<TextViewController>(screen))
        return "text";
    if (std::dynamic_pointer_cast<PlistViewController>(screen))
        return "plist";
    if (std::dynamic_pointer_cast<WebViewController>(screen))
        return "web";
    if (std::dynamic_pointer_cast<UnknownViewController>(screen))
        return "unknown";
    return "none";
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
    std::string open(const std::string& name)
    {
        auto file = VeskFile::initWithPath(makeFile(name));
        utility.openItem(first(), file, CGRectMake(10, 10, 1, 1));
        auto stack = driver.screenStack();
        if (stack.size() == 1)
            return "none";
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
    const std::pair<const char*, const char*> cases[] = {
        { "photo.png", "image" },
        { "photo.jpeg", "image" },
        { "anim.gif", "image" },
        { "PHOTO.PNG", "unknown" },
        { "notes.txt", "text" },
        { "data.json", "text" },
        { "feed.xml", "text" },
        { "settings.plist", "plist" },
        { "page.html", "web" },
        { "manual.pdf", "web" },
        { "README", "unknown" },
        { "movie.mp4", "unknown" },
    };
    for (auto [name, viewer] : cases)
        EXPECT_EQ(open(name), viewer) << name;
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

TEST_F(UtilityTest, PlatformIsTheMachineNameWithoutItsPadding)
{
    struct utsname names { };
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_EQ(Utility::platform(), names.machine);
    EXPECT_EQ(Utility::platform().find('\0'), std::string::npos);
    EXPECT_EQ(Utility::getADID().size(), 40u);
}

TEST_F(UtilityTest, ConvertCfTypeToStringAnswersOnlyAStringsText)
{
    EXPECT_EQ(utility.convertCfTypeToString(Value("Vesk")), "Vesk");
    EXPECT_EQ(utility.convertCfTypeToString(Value(std::string("a\0b", 3))), std::string("a\0b", 3));
    for (auto& other : { Value(), Value(true), Value(12), Value(1.5), Value(Bytes { 'V' }), Value(Date { 1 }), Value(Array { Value("Vesk") }),
             Value(Dictionary { { "Vesk", Value("Vesk") } }) })
        EXPECT_EQ(utility.convertCfTypeToString(other), "") << int(other.type());
}

}
