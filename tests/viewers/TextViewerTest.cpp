#include "viewers/ViewerTestSupport.h"

#include "platform/uikit/UIKeyboard.h"
#include "viewers/TextEditorViewController.h"
#include "viewers/VeskFileViewController.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace vesk;
using namespace vesk::platform;
using vesk::test::ViewerTest;

namespace {

std::string contentsOf(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

class TextViewerTest : public ViewerTest {
protected:
    // The editor opened from the viewer's Edit button.
    std::shared_ptr<TextEditorViewController> edit(TextViewController& viewer)
    {
        EXPECT_TRUE(driver.tapBarButton(viewer, "Edit"));
        return driver.visible<TextEditorViewController>();
    }
};

}

TEST_F(TextViewerTest, TextIsDecodedFromUTF8OrAByteOrderMarkAndAnythingElseIsAnError)
{
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        { "Grüße", "Grüße" },
        { "\xEF\xBB\xBF"
          "bom8",
            "bom8" },
        { std::string("\xFF\xFE"
                      "G\0r\0\xFC\0",
              8),
            "Grü" },
        { std::string("\xFE\xFF\0G\0r\0\xFC", 8), "Grü" },
        { "latin \xFC", std::nullopt },
        { std::string("\xFF\xFE\x00\xD8", 4), std::nullopt }, // a lone surrogate
    };
    for (auto& [bytes, text] : cases) {
        VeskNotificationManager::reset();
        auto viewer = open<TextViewController>(makeFile("notes.txt", bytes));
        if (!text) {
            EXPECT_EQ(viewer, nullptr) << "closed";
            EXPECT_EQ(banners(), std::vector<std::string> { errorBanner });
            continue;
        }
        ASSERT_NE(viewer, nullptr) << *text;
        EXPECT_EQ(viewer->textView()->text(), *text);
        EXPECT_FALSE(viewer->textView()->isEditable());
        EXPECT_TRUE(driver.barButton(*viewer, "Edit")->isEnabled());
        viewer->dismiss();
    }

    // Too big to read whole, and a FIFO that would never end.
    auto big = makeFile("big.txt");
    ASSERT_EQ(::truncate(big.c_str(), TextViewController::maximumTextBytes + 1), 0);
    auto fifo = root() + "/pipe.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (auto& path : { big, fifo }) {
        VeskNotificationManager::reset();
        EXPECT_EQ(open<TextViewController>(path), nullptr) << path;
        EXPECT_EQ(banners(), std::vector<std::string> { errorBanner }) << path;
    }
}

TEST_F(TextViewerTest, APropertyListShowsItsDescriptionAndCannotBeEdited)
{
    auto path = makeFile("list.plist", "<plist><dict><key>name</key><string>Vesk äpp</string><key>items</key>"
                                       "<array><integer>1</integer><dict><key>a</key><true/></dict></array></dict></plist>");
    utility.openText(VeskFile::initWithPath(path), driver.screenStack().front());
    driver.drain();
    auto viewer = driver.visible<TextViewController>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->textView()->text(), "{\n    items =     (\n        1,\n                {\n            a = 1;\n        }\n    );\n    name = \"Vesk \\U00e4pp\";\n}");
    EXPECT_FALSE(driver.barButton(*viewer, "Edit")->isEnabled()) << "its description would replace the list";
}

TEST_F(TextViewerTest, EditorSavesAtomicallyAndTheViewerShowsTheSavedText)
{
    auto path = makeFile("notes.txt", std::string("\xFF\xFE"
                                                  "a\0",
                                          4));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    // As root, someone else's file: the replacement must not become root's.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    struct stat before { };
    ::stat(path.c_str(), &before);
    auto viewer = open<TextViewController>(path);
    ASSERT_NE(viewer, nullptr);
    auto editor = edit(*viewer);
    ASSERT_NE(editor, nullptr);
    auto text = editor->textView();
    EXPECT_EQ(text->text(), "a");
    EXPECT_TRUE(text->isFirstResponder());
    EXPECT_EQ(text->contentInset().bottom, UIKeyboard::frame().size.height);

    text->typeText("neu äöü");
    EXPECT_TRUE(driver.tapBarButton(*editor, "Save"));
    EXPECT_EQ(driver.alert()->title(), "Save notes.txt");
    EXPECT_TRUE(driver.chooseAlertAction("Cancel"));
    EXPECT_EQ(driver.visible<TextEditorViewController>(), editor) << "editing goes on";
    EXPECT_TRUE(driver.tapBarButton(*editor, "Save"));
    EXPECT_TRUE(driver.chooseAlertAction("Save"));
    driver.drain();

    EXPECT_EQ(contentsOf(path), "neu äöü") << "written as UTF-8";
    struct stat after { };
    ::stat(path.c_str(), &after);
    EXPECT_NE(after.st_ino, before.st_ino) << "a new file renamed over the old one";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(std::pair(after.st_uid, after.st_gid), std::pair(before.st_uid, before.st_gid));
    EXPECT_EQ(banners(), std::vector<std::string> { "Info: notes.txt has been saved!" });
    EXPECT_EQ(driver.visible<TextViewController>(), viewer);
    EXPECT_EQ(viewer->textView()->text(), "neu äöü");
    EXPECT_FALSE(UIKeyboard::isVisible());
    EXPECT_EQ(text->contentInset().bottom, UIKeyboard::frame().size.height) << "hiding keeps the inset";
}

TEST_F(TextViewerTest, AFailedSaveKeepsTheEditsAndCancelLeavesTheFile)
{
    auto path = makeFile("notes.txt", "old");
    utility.openText(VeskFile::initWithPath(path), driver.screenStack().front());
    auto viewer = driver.visible<TextViewController>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_FALSE(driver.barButton(*viewer, "Edit")->isEnabled()) << "an editor on no text would save nothing over the file";
    driver.drain();
    auto editor = edit(*viewer);
    ASSERT_NE(editor, nullptr);
    bool called = false;
    editor->setSavedFileCallback([&] { called = true; });
    editor->textView()->typeText("new");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    driver.tapBarButton(*editor, "Save");
    driver.chooseAlertAction("Save");
    EXPECT_EQ(banners(), std::vector<std::string> { "Error: \"notes.txt\" could not be saved!" });
    EXPECT_EQ(driver.visible<TextEditorViewController>(), editor);
    EXPECT_EQ(editor->textView()->text(), "new");
    EXPECT_EQ(contentsOf(path), "old");
    EXPECT_FALSE(called);

    driver.tapBarButton(*editor, "Cancel");
    EXPECT_EQ(driver.alert()->message(), "This will not save your changes.");
    driver.chooseAlertAction("No, keep on editing");
    EXPECT_EQ(driver.visible<TextEditorViewController>(), editor);
    driver.tapBarButton(*editor, "Cancel");
    driver.chooseAlertAction("Yes, cancel...");
    driver.drain();
    EXPECT_EQ(driver.visible<TextViewController>(), viewer);
    EXPECT_EQ(contentsOf(path), "old");
    EXPECT_FALSE(called);
}
