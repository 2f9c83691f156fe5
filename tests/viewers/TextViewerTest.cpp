#include "viewers/ViewerTestSupport.h"

#include "platform/foundation/NSString.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/TextDrawing.h"
#include "platform/uikit/UIKeyboard.h"
#include "viewers/InfoTableViewController.h"
#include "viewers/PlistViewController.h"
#include "viewers/TextEditorViewController.h"
#include "viewers/VeskFileViewController.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace vesk;
using namespace vesk::platform;
using vesk::test::ViewerTest;

namespace {

std::string repeated(const std::string& text, std::size_t times)
{
    std::string out;
    out.reserve(text.size() * times);
    while (times-- > 0)
        out += text;
    return out;
}

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
        // Read a mebibyte at a time: characters cut by a chunk's end, and a fault far in.
        { std::string((1 << 20) - 1, 'a') + "ü", std::string((1 << 20) - 1, 'a') + "ü" },
        { "\xFF\xFE" + repeated(std::string("a\0", 2), (1 << 19) - 1) + std::string("\x3D\xD8\x00\xDE", 4), std::string((1 << 19) - 1, 'a') + "😀" },
        { std::string(3 << 20, 'a') + "\xFC", std::nullopt },
        { "\xFF\xFE" + repeated(std::string("a\0", 2), 3 << 19) + "a", std::nullopt }, // half a unit at the end
    };
    for (auto& [bytes, text] : cases) {
        VeskNotificationManager::reset();
        auto viewer = open<TextViewController>(makeFile("notes.txt", bytes));
        if (!text) {
            EXPECT_EQ(viewer, nullptr) << "closed";
            EXPECT_EQ(banners(), std::vector<std::string> { errorBanner });
            continue;
        }
        ASSERT_NE(viewer, nullptr) << text->substr(0, 20);
        EXPECT_TRUE(viewer->textView()->text() == *text) << text->substr(0, 20);
        EXPECT_FALSE(viewer->textView()->isEditable());
        EXPECT_TRUE(driver.barButton(*viewer, "Edit")->isEnabled());
        viewer->dismiss();
    }

    // A FIFO that would never end.
    auto fifo = root() + "/pipe.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    VeskNotificationManager::reset();
    EXPECT_EQ(open<TextViewController>(fifo), nullptr);
    EXPECT_EQ(banners(), std::vector<std::string> { errorBanner });
}

TEST_F(TextViewerTest, FilesOverTheViewersLimitsCloseWithABannerThatNamesTheLimitFirst)
{
    // Never read: the size decides.
    auto big = makeFile("server.log");
    ASSERT_EQ(::truncate(big.c_str(), TextViewController::maximumTextBytes + 1), 0);
    auto bigList = makeFile("big.plist");
    ASSERT_EQ(::truncate(bigList.c_str(), PlistViewController::maximumListBytes + 1), 0);
    const std::pair<std::string, std::string> cases[] = {
        { big, "Warning: Texts of up to 1 GiB can be shown: \"server.log\" is bigger" },
        { bigList, "Warning: Property lists of up to 64 MiB can be shown: \"big.plist\" is bigger" },
    };
    for (auto& [path, banner] : cases) {
        VeskNotificationManager::reset();
        utility.openText(VeskFile::initWithPath(path), driver.screenStack().front());
        driver.drain();
        EXPECT_EQ(driver.visible<TextViewController>(), nullptr) << "closed";
        EXPECT_EQ(banners(), std::vector<std::string> { banner });
    }

    // Opened as text, a property list has the room the property-list viewer gives it.
    std::string bigText(20 << 20, 'a');
    auto list = makeFile("twenty.plist", "<plist><array><string>" + bigText + "</string></array></plist>");
    VeskNotificationManager::reset();
    utility.openText(VeskFile::initWithPath(list), driver.screenStack().front());
    driver.drain();
    auto viewer = driver.visible<TextViewController>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(banners().empty());
    EXPECT_NE(viewer->textView()->text().find(bigText), std::string::npos);
}

TEST_F(TextViewerTest, ALongNameIsShortenedInItsMiddleSoTheBannerStillSaysIsBigger)
{
    auto characters = [](const std::string& text) {
        return std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
    };
    std::string ascii = "quarterly-financial-report-" + std::string(165, 'x') + "-end.log";
    ASSERT_EQ(characters(ascii), 200);
    // Two bytes to most characters: a cut between bytes would break one.
    std::string accented = repeated("Grüße-", 28) + "end.log";
    for (auto& name : { ascii, accented }) {
        VeskNotificationManager::reset();
        auto big = makeFile(name);
        ASSERT_EQ(::truncate(big.c_str(), TextViewController::maximumTextBytes + 1), 0);
        utility.openText(VeskFile::initWithPath(big), driver.screenStack().front());
        driver.drain();
        auto queued = VeskNotificationManager::queue();
        ASSERT_EQ(queued.size(), 1u);
        auto label = queued[0]->label();
        auto shown = label->text().value_or("");
        std::string before = "Texts of up to 1 GiB can be shown: \"", after = "\" is bigger";
        ASSERT_TRUE(shown.starts_with(before) && shown.ends_with(after)) << shown;
        EXPECT_TRUE(isValidUTF8(shown)) << shown;
        // The name's head and tail, about as long, around a "…".
        auto shortened = shown.substr(before.size(), shown.size() - before.size() - after.size());
        auto cut = shortened.find("\xE2\x80\xA6");
        ASSERT_NE(cut, std::string::npos) << shown;
        auto head = shortened.substr(0, cut), tail = shortened.substr(cut + 3);
        EXPECT_TRUE(name.starts_with(head) && name.ends_with(tail)) << shown;
        EXPECT_GE(characters(tail), 3) << shown;
        EXPECT_TRUE(characters(head) - characters(tail) == 0 || characters(head) - characters(tail) == 1) << shown;
        EXPECT_LE(text::measure(shown, label->font()).width, label->bounds().size.width) << "one line on the phone, cut nowhere else";
        EXPECT_GT(text::measure(shown + "xx", label->font()).width, label->bounds().size.width) << "as much of the name as fits";
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

TEST_F(TextViewerTest, TheEditorTakesTextsOfUpToItsLimitAndABiggerOneIsShownWithABanner)
{
    constexpr auto limit = TextEditorViewController::maximumTextBytes;
    auto path = makeFile("huge.log", std::string(limit, 'a'));
    auto viewer = open<TextViewController>(path);
    ASSERT_NE(viewer, nullptr);
    auto editor = edit(*viewer);
    ASSERT_NE(editor, nullptr) << "exactly the limit";
    EXPECT_EQ(editor->textView()->text().size(), limit);
    EXPECT_TRUE(banners().empty());
    editor->dismissViewControllerAnimated(false);
    viewer->dismiss();
    driver.drain();

    std::ofstream(path, std::ios::app) << "a";
    viewer = open<TextViewController>(path);
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->textView()->text().size(), limit + 1);
    EXPECT_TRUE(driver.tapBarButton(*viewer, "Edit"));
    driver.drain();
    EXPECT_EQ(banners(), std::vector<std::string> { "Warning: Texts of up to 16 MiB can be edited: \"huge.log\" is bigger" });
    EXPECT_EQ(driver.visible<TextViewController>(), viewer) << "the viewer stays, with no editor over it";
}

TEST_F(TextViewerTest, EscapeGoesBackOneScreenAsTheScreensOwnButtonsDo)
{
    auto list = driver.visibleScreen();
    auto path = makeFile("notes.txt", "old");
    auto viewer = open<TextViewController>(path);
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(driver.tapBarButton(*viewer, "Info"));
    ASSERT_NE(driver.visible<InfoTableViewController>(), nullptr);
    driver.pressKey(UIKey::Escape);
    driver.drain();
    EXPECT_EQ(driver.visibleScreen(), viewer) << "the information screen closed";

    // The editor asks first, as its Cancel button does.
    auto editor = edit(*viewer);
    ASSERT_NE(editor, nullptr);
    driver.typeText(" and new");
    driver.pressKey(UIKey::Escape);
    ASSERT_NE(driver.alert(), nullptr);
    EXPECT_EQ(driver.alert()->title(), "Cancel editmode");
    // A second Escape answers the alert with the choice that changes nothing.
    driver.pressKey(UIKey::Escape);
    driver.drain();
    EXPECT_EQ(driver.alert(), nullptr);
    EXPECT_EQ(driver.visible<TextEditorViewController>(), editor) << "still editing";
    EXPECT_EQ(editor->textView()->text(), "old and new");
    driver.pressKey(UIKey::Escape);
    ASSERT_NE(driver.alert(), nullptr);
    EXPECT_EQ(driver.alert()->actions().size(), 2u);
    EXPECT_TRUE(driver.chooseAlertAction("Yes, cancel..."));
    driver.drain();
    EXPECT_EQ(driver.visibleScreen(), viewer);
    EXPECT_EQ(contentsOf(path), "old");

    driver.pressKey(UIKey::Escape);
    driver.drain();
    EXPECT_EQ(driver.visibleScreen(), list) << "the viewer closed as Done closes it";
}

// Nothing waits for the read of a closed viewer's text: the screen is gone at once, and the
// text, when it comes, goes nowhere and raises no banner.
TEST_F(TextViewerTest, AViewerClosedWhileItsTextIsReadIsGoneAtOnce)
{
    auto path = makeFile("big.log", repeated("a line of the log\n", 1 << 20));
    utility.openItem(driver.screenStack().front(), VeskFile::initWithPath(path), CGRectMake(0, 0, 1, 1));
    std::weak_ptr<TextViewController> viewer = driver.visible<TextViewController>();
    ASSERT_FALSE(viewer.expired());
    driver.pressKey(UIKey::Escape);
    EXPECT_TRUE(viewer.expired());
    driver.drain();
    EXPECT_EQ(driver.screenStack().size(), 1u);
    EXPECT_TRUE(banners().empty());
}

namespace {

// A log of 200 MB on the phone and on the pad: narrow lines between a wide first and last line,
// so where the screen is in the file shows in its pixels.
class BigTextTest : public TextViewerTest, public ::testing::WithParamInterface<bool> {
protected:
    void beforeLaunch() override
    {
        if (GetParam()) {
            UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 768, 1024));
            UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
        }
    }

    std::string makeLog()
    {
        auto path = root() + "/big.log";
        std::string chunk;
        while (chunk.size() < (1 << 20))
            chunk += std::string(45, '.') + "\n";
        std::ofstream out(path, std::ios::binary);
        out << std::string(25, 'W') << "\n";
        for (int count = 0; count < 200; ++count)
            out << chunk;
        out << std::string(25, 'M');
        EXPECT_TRUE(out.flush()) << path;
        return path;
    }

    // The rows of the text view where a wide line is drawn, in points from the view's top.
    std::pair<int, int> wideRows(UITextView& view, const std::string& name)
    {
        auto shot = driver.render(2);
        shot->writePNGToFile((std::filesystem::path(VESK_BINARY_DIR) / ((GetParam() ? "pad-" : "phone-") + name + ".png")).string());
        auto frame = view.convertRectToView(view.bounds(), nullptr);
        int first = -1, last = -1;
        for (int y = 0; y < int(frame.size.height); ++y) {
            for (int x = 180; x < 240; ++x) {
                auto pixel = shot->pixelAt(int(frame.origin.x + x) * 2, int(frame.origin.y + y) * 2);
                if (pixel.red < 90 && pixel.green < 90 && pixel.blue < 90) {
                    first = first < 0 ? y : first;
                    last = y;
                }
            }
        }
        return { first, last };
    }
};

}

TEST_P(BigTextTest, ABigLogOpensAndScrollsToItsLastLineAndBack)
{
    auto viewer = open<TextViewController>(makeLog());
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(banners().empty());
    auto view = viewer->textView();
    auto height = view->frame().size.height;
    auto [top, bottom] = wideRows(*view, "big-text-start");
    EXPECT_GE(top, 0) << "the first line shows";
    EXPECT_LT(bottom, 30) << "at the top";

    auto center = view->convertRectToView(view->bounds(), nullptr);
    CGPoint point { CGRectGetMidX(center), CGRectGetMidY(center) };
    driver.scrollAt(point, 1e12);
    std::tie(top, bottom) = wideRows(*view, "big-text-end");
    EXPECT_EQ(view->contentOffset().y, view->contentSize().height - height) << "at the end";
    EXPECT_GT(top, height - 40) << "the last line shows at the bottom";
    EXPECT_LT(bottom, height);

    // Two screens up, where the lines get measured, then down to a few points short of the
    // end: what was measured meanwhile moved nothing on screen.
    driver.scrollAt(point, -2 * height);
    wideRows(*view, "big-text-above-end");
    driver.scrollAt(point, 2 * height - 4);
    std::tie(top, bottom) = wideRows(*view, "big-text-near-end");
    EXPECT_EQ(view->contentOffset().y, view->contentSize().height - height - 4);
    EXPECT_GT(top, height - 40) << "the last line still shows";
    EXPECT_LT(bottom, height);

    driver.scrollAt(point, -1e12);
    std::tie(top, bottom) = wideRows(*view, "big-text-back");
    EXPECT_EQ(view->contentOffset().y, 0);
    EXPECT_GE(top, 0) << "back at the first line";
    EXPECT_LT(bottom, 30);
}

TEST_P(BigTextTest, KeysAndTheDraggedIndicatorReachTheLastLineOfALongText)
{
    // 200,000 numbered lines between a wide first and last line.
    auto path = root() + "/numbered.log";
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string(25, 'W') << "\n";
        char line[16];
        for (int number = 1; number <= 200000; ++number) {
            std::snprintf(line, sizeof line, "%06d\n", number);
            out << line;
        }
        out << std::string(25, 'M');
    }
    auto viewer = open<TextViewController>(path);
    ASSERT_NE(viewer, nullptr);
    auto view = viewer->textView();
    auto height = view->frame().size.height;
    auto atStart = [&](const std::string& name) {
        auto [top, bottom] = wideRows(*view, name);
        return top >= 0 && bottom < 30;
    };
    auto atEnd = [&](const std::string& name) {
        auto [top, bottom] = wideRows(*view, name);
        return top > height - 40 && bottom < height;
    };
    // The indicator: grey pixels at the right edge, and how far down they reach.
    auto indicatorBottom = [&] {
        auto shot = driver.render(2);
        auto frame = view->convertRectToView(view->bounds(), nullptr);
        int lowest = -1;
        // Below the bar's hairline.
        for (int y = 2; y < int(height); ++y) {
            auto pixel = shot->pixelAt(int(CGRectGetMaxX(frame) - 4.5) * 2, int(frame.origin.y + y) * 2);
            if (pixel.red < 200 && pixel.red == pixel.blue)
                lowest = y;
        }
        return lowest;
    };
    ASSERT_TRUE(atStart("numbered-start"));
    // Where the screen is, now that it has been laid out.
    auto frame = view->convertRectToView(view->bounds(), nullptr);
    EXPECT_EQ(indicatorBottom(), -1) << "no indicator before scrolling";

    driver.pressKey(UIKey::TextEnd);
    EXPECT_TRUE(atEnd("numbered-ctrl-end")) << "Ctrl+End";
    EXPECT_GT(indicatorBottom(), height - 10) << "the indicator shows, at the bottom";
    driver.pressKey(UIKey::TextStart);
    EXPECT_TRUE(atStart("numbered-ctrl-home")) << "Ctrl+Home";

    driver.pressKey(UIKey::End);
    EXPECT_TRUE(atEnd("numbered-end")) << "End";
    driver.pressKey(UIKey::Home);
    EXPECT_TRUE(atStart("numbered-home")) << "Home";

    int presses = 0;
    for (CGFloat before = -1; before != view->contentOffset().y && presses < 100000; ++presses) {
        before = view->contentOffset().y;
        driver.pressKey(UIKey::PageDown);
    }
    EXPECT_GT(presses, 200000 * 12 / height) << "a page at a time";
    EXPECT_TRUE(atEnd("numbered-page-down")) << "Page Down";
    driver.pressKey(UIKey::Home);
    ASSERT_TRUE(atStart("numbered-top-again"));

    // The indicator held at the top and dragged to the bottom: the end is one drag away.
    driver.dragFrom({ CGRectGetMaxX(frame) - 4, frame.origin.y + 10 }, { CGRectGetMaxX(frame) - 4, CGRectGetMaxY(frame) + 100 });
    EXPECT_TRUE(atEnd("numbered-dragged")) << "the indicator dragged to the bottom";
    driver.advance(2);
    EXPECT_EQ(indicatorBottom(), -1) << "the indicator goes when scrolling stops";
}

INSTANTIATE_TEST_SUITE_P(Layouts, BigTextTest, ::testing::Values(false, true), [](const auto& info) { return info.param ? "Pad" : "Phone"; });
