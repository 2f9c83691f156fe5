#include "model/VeskNotificationManager.h"
#include "platform/display/DesktopWindow.h"
#include "platform/display/ScreenSetting.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIDriver.h"
#include "platform/uikit/UIPasteboard.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UITextView.h"
#include "platform/uikit/UIViewRendering.h"

#include <SDL.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <tuple>

using namespace vesk;
using namespace vesk::platform;

namespace {

TEST(ScreenSettingTest, SizesAndScalesAreReadStrictly)
{
    struct Case {
        const char* text;
        std::optional<CGSize> size;
        CGFloat scale;
        bool pad;
    };
    const Case cases[] = {
        { "375x667@2", CGSize { 375, 667 }, 2, false },
        { "768x1024@2", CGSize { 768, 1024 }, 2, true },
        { "1024x768@1.5", CGSize { 1024, 768 }, 1.5, true },
        { "", std::nullopt, 0, false },
        { "375x667", std::nullopt, 0, false },
        { "375@2x667", std::nullopt, 0, false },
        { "375x667@0", std::nullopt, 0, false },
        { "375x667@5", std::nullopt, 0, false },
        { "99x667@2", std::nullopt, 0, false },
        { "375x99999@2", std::nullopt, 0, false },
        { "-375x667@2", std::nullopt, 0, false },
        { "1e3x667@2", std::nullopt, 0, false },
        { "375 x667@2", std::nullopt, 0, false },
        { "375x667@2x", std::nullopt, 0, false },
    };
    for (auto& entry : cases) {
        auto setting = ScreenSetting::parse(entry.text);
        ASSERT_EQ(setting.has_value(), entry.size.has_value()) << entry.text;
        if (!setting)
            continue;
        EXPECT_EQ(CGSizeMake(setting->width, setting->height), *entry.size) << entry.text;
        EXPECT_EQ(setting->scale, entry.scale) << entry.text;
        EXPECT_EQ(setting->isPad(), entry.pad) << entry.text;
    }
    ::setenv("VESK_SCREEN", "768x1024@1", 1);
    EXPECT_FALSE(applyScreenFromEnvironment());
    EXPECT_EQ(UIScreen::mainScreen().bounds().size, CGSizeMake(768, 1024));
    EXPECT_EQ(UIDevice::currentDevice().userInterfaceIdiom(), UIUserInterfaceIdiom::Pad);
    ::setenv("VESK_SCREEN", "big", 1);
    EXPECT_TRUE(applyScreenFromEnvironment()) << "a bad value is told";
    EXPECT_EQ(UIScreen::mainScreen().bounds().size, CGSizeMake(768, 1024)) << "and changes nothing";
    ::unsetenv("VESK_SCREEN");
    ScreenSetting {}.apply();
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UIApplication::sharedApplication().reset();
        VeskNotificationManager::reset();
        UIStoryboard::storyboardWithName("Main").setInitialViewController([this] {
            root = std::make_shared<UIViewController>();
            return UINavigationController::initWithRootViewController(root);
        });
        UIApplication::sharedApplication().launch(std::make_shared<UIApplicationDelegate>());
    }
    void TearDown() override
    {
        VeskNotificationManager::reset();
        driver.drain();
        UIApplication::sharedApplication().reset();
        RunLoop::main().useSystemClock();
    }

    UIDriver driver;
    std::shared_ptr<UIViewController> root;
};

TEST_F(WindowTest, BannerSlidesDownOverTheStatusBarStrip)
{
    VeskNotificationManager::showNotification("\"a.txt\" has been deleted", NotificationType::Success, nullptr, nullptr, 3.0);
    driver.drain();
    driver.advance(0.125);
    auto green = [](UIPixel p) { return p.green > 150 && p.red < 120 && p.blue < 150; };
    auto halfway = driver.render(1);
    EXPECT_TRUE(green(halfway->pixelAt(3, 2))) << "the strip's lower half is in";
    EXPECT_FALSE(green(halfway->pixelAt(3, 15))) << "its upper half still above the window";
    driver.advance(0.2);
    auto shown = driver.render(1);
    shown->writePNGToFile((std::filesystem::path(VESK_BINARY_DIR) / "screen-banner.png").string());
    EXPECT_TRUE(green(shown->pixelAt(3, 2)) && green(shown->pixelAt(3, 18)));
    int text = 0;
    for (int x = 100; x < 275; ++x)
        text += shown->pixelAt(x, 10) == UIPixel { 255, 255, 255, 255 };
    EXPECT_GT(text, 5) << "white text in the middle";
    EXPECT_FALSE(green(shown->pixelAt(3, 25))) << "the bar below it";
    driver.advance(3.5);
    EXPECT_FALSE(green(driver.render(1)->pixelAt(3, 10))) << "gone after its time";
}

// SDL's dummy video driver stands in for a desktop of 1024 x 768 pixels.
TEST_F(WindowTest, WindowFitsTheDesktopAndTurnsClicksIntoTaps)
{
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    std::string failure;
    auto window = DesktopWindow::open(failure);
    ::unsetenv("SDL_VIDEODRIVER");
    ASSERT_TRUE(window) << failure;
    EXPECT_NEAR(window->pointScale(), 768.0 / 667, 0.01) << "the phone's 1334 pixels do not fit: drawn smaller";
    int taps = 0;
    auto button = std::make_shared<UIButton>(CGRectMake(100, 100, 100, 44));
    button->setTitle("Open", UIControlState::Normal);
    button->addTarget(UIControlEvent::TouchUpInside, [&](UIControl&) { ++taps; });
    root->view()->addSubview(button);
    bool closed = false;
    window->setCloseHandler([&] { closed = true; });

    auto click = [&](CGPoint point) {
        for (auto type : { SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP }) {
            SDL_Event event {};
            event.type = type;
            event.button.button = SDL_BUTTON_LEFT;
            event.button.x = int(point.x * window->pointScale());
            event.button.y = int(point.y * window->pointScale());
            SDL_PushEvent(&event);
        }
        window->step();
    };
    // The root view fills the window under the bars.
    click({ 150, 122 });
    EXPECT_EQ(taps, 1);
    click({ 150, 160 });
    EXPECT_EQ(taps, 1) << "beside the button";
    EXPECT_FALSE(UIRenderer::needsDisplay()) << "the step drew what changed";

    // Tab and Shift-Tab go round an alert's fields; Return goes on to the next, and submits
    // only from the last.
    auto alert = UIAlertController::alertControllerWithTitle("Block IP", std::nullopt, UIAlertControllerStyle::Alert);
    alert->addTextFieldWithConfigurationHandler({});
    alert->addTextFieldWithConfigurationHandler({});
    std::string blocked;
    alert->addAction(UIAlertAction::actionWithTitle("Block", UIAlertActionStyle::Default, [&](UIAlertAction&) { blocked = alert->textFields()[0]->text() + "|" + alert->textFields()[1]->text(); }));
    root->presentViewController(alert, false);
    window->step();
    auto send = [&](SDL_Keycode key, Uint16 mod, const char* text) {
        SDL_Event event {};
        event.type = text ? SDL_TEXTINPUT : SDL_KEYDOWN;
        event.key.keysym.sym = key;
        event.key.keysym.mod = mod;
        if (text)
            std::strcpy(event.text.text, text);
        SDL_PushEvent(&event);
        window->step();
    };
    for (auto [key, mod, text] : std::vector<std::tuple<SDL_Keycode, Uint16, const char*>> { { 0, 0, "10.0.0.1" }, { SDLK_RETURN, 0, nullptr },
             { 0, 0, "printer" }, { SDLK_TAB, KMOD_LSHIFT, nullptr }, { 0, 0, "0" }, { SDLK_TAB, 0, nullptr } })
        send(key, mod, text);
    EXPECT_EQ(blocked, "");
    send(SDLK_RETURN, 0, nullptr);
    EXPECT_EQ(blocked, "10.0.0.10|printer");

    // The pasteboard and the desktop's clipboard, both ways.
    UIPasteboard::generalPasteboard().setString("from the app");
    window->step();
    char* desktop = SDL_GetClipboardText();
    EXPECT_STREQ(desktop, "from the app");
    SDL_free(desktop);
    SDL_SetClipboardText("from the desktop");
    SDL_Event copied {};
    copied.type = SDL_CLIPBOARDUPDATE;
    SDL_PushEvent(&copied);
    window->step();
    EXPECT_EQ(UIPasteboard::generalPasteboard().string(), "from the desktop");

    SDL_Event quit {};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    window->step();
    EXPECT_TRUE(closed);
}

TEST_F(WindowTest, PagingKeysScrollTheScreenAndWithControlMoveACaretToTheTextsEnds)
{
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    std::string failure;
    auto window = DesktopWindow::open(failure);
    ::unsetenv("SDL_VIDEODRIVER");
    ASSERT_TRUE(window) << failure;
    auto text = std::make_shared<UITextView>(CGRectMake(0, 64, 375, 603));
    text->setEditable(false);
    std::string lines;
    for (int line = 0; line < 1999; ++line)
        lines += std::to_string(line) + "\n";
    text->setText(lines + "1999");
    root->view()->addSubview(text);
    window->step();
    auto press = [&](SDL_Keycode key, Uint16 mod) {
        SDL_Event event {};
        event.type = SDL_KEYDOWN;
        event.key.keysym.sym = key;
        event.key.keysym.mod = mod;
        SDL_PushEvent(&event);
        window->step();
        return text->contentOffset().y;
    };
    auto end = [&] { return text->contentSize().height - 603; };
    EXPECT_GT(press(SDLK_PAGEDOWN, 0), 0);
    EXPECT_EQ(press(SDLK_PAGEUP, 0), 0);
    EXPECT_EQ(press(SDLK_END, 0), end());
    EXPECT_EQ(press(SDLK_HOME, 0), 0);

    // Being edited, Home and End keep to the line; with Control they go to the text's ends.
    text->setEditable(true);
    text->becomeFirstResponder();
    EXPECT_EQ(press(SDLK_HOME, KMOD_LCTRL), 0);
    EXPECT_EQ(text->caretOffset(), 0u);
    press(SDLK_END, 0);
    EXPECT_EQ(text->caretOffset(), 1u);
    EXPECT_EQ(press(SDLK_END, KMOD_RCTRL), end());
    EXPECT_EQ(text->caretOffset(), text->text().size());
    press(SDLK_HOME, 0);
    EXPECT_EQ(text->caretOffset(), text->text().size() - 4);
    press(SDLK_PAGEUP, 0);
    auto above = text->caretOffset();
    EXPECT_LT(above, text->text().size() - 4 * 20) << "a page up";
    EXPECT_EQ(text->text()[above - 1], '\n') << "at the start of a line, where the caret was";
}
}

TEST_F(WindowTest, TheWheelTiltedOrTurnedWithShiftScrollsSideways)
{
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    std::string failure;
    auto window = DesktopWindow::open(failure);
    ::unsetenv("SDL_VIDEODRIVER");
    ASSERT_TRUE(window) << failure;
    auto scroll = std::make_shared<UIScrollView>(CGRectMake(0, 64, 375, 603));
    scroll->setContentSize({ 2000, 2000 });
    root->view()->addSubview(scroll);
    window->step();
    // The pointer over the scroll view, in the one window there is.
    SDL_WarpMouseInWindow(SDL_GetWindowFromID(1), int(200 * window->pointScale()), int(300 * window->pointScale()));
    window->step();
    auto wheel = [&](float x, float y, SDL_Keymod mods) {
        SDL_SetModState(mods);
        SDL_Event event {};
        event.type = SDL_MOUSEWHEEL;
        event.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
        event.wheel.preciseX = x;
        event.wheel.preciseY = y;
        SDL_PushEvent(&event);
        window->step();
        SDL_SetModState(KMOD_NONE);
        return scroll->contentOffset();
    };
    EXPECT_EQ(wheel(0, -1, KMOD_NONE), CGPointMake(0, 40)) << "turned towards you: down";
    EXPECT_EQ(wheel(1, 0, KMOD_NONE), CGPointMake(40, 40)) << "tilted right: right";
    EXPECT_EQ(wheel(0, -2, KMOD_LSHIFT), CGPointMake(120, 40)) << "turned towards you with Shift: right";
    EXPECT_EQ(wheel(0, 1, KMOD_RSHIFT), CGPointMake(80, 40)) << "and away: left";
    EXPECT_EQ(wheel(-1, 1, KMOD_NONE), CGPointMake(40, 0)) << "both at once";
}
