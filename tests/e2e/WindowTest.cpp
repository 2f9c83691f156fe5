#include "e2e/VeskProcess.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/system/NotificationStub.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <tuple>
// Last: its macros (None, Bool, Status) would rewrite the headers above.
#include <X11/Xlib.h>

namespace {

using vesk::platform::UIImage;
using vesk::platform::UIPixel;
using vesk::test::isListening;
using vesk::test::NotificationStub;
using vesk::test::VeskProcess;

std::string commandOutput(const std::string& command)
{
    std::string output;
    if (auto* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (auto read = std::fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, read);
        ::pclose(pipe);
    }
    return output;
}

// vesk in a window on a virtual X display of 1280 x 1024 pixels, driven with xdotool and seen
// through ImageMagick's screenshots.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vesk-window-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        vesk = std::make_unique<VeskProcess>(root + "/home", root);
        // LeakSanitizer's exit check stops every thread with ptrace; the window system's and the
        // desktop bus's threads ending meanwhile can crash its tracer. Leaks are the unit tests' part.
        vesk->environment["ASAN_OPTIONS"] = "detect_leaks=0";
    }

    // Starts the virtual display; false when the tools are missing.
    bool startDisplay(const std::string& screen = "1280x1024x24")
    {
        if (std::system("{ command -v Xvfb && command -v xdotool && command -v import; } >/dev/null") != 0)
            return false;
        // Xvfb picks a free display and writes its number to the pipe.
        int pipe[2];
        if (::pipe(pipe) != 0)
            return false;
        m_server = ::fork();
        if (m_server == 0) {
            ::close(pipe[0]);
            auto fd = std::to_string(pipe[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipe[1]);
        // The number and its newline come in two writes: closing the pipe between them ends Xvfb.
        std::string number;
        char c = 0;
        for (;;) {
            auto got = ::read(pipe[0], &c, 1);
            if (got < 0 && errno == EINTR)
                continue;
            if (got != 1 || c == '\n')
                break;
            number += c;
        }
        ::close(pipe[0]);
        EXPECT_FALSE(number.empty()) << "Xvfb did not start";
        display = ":" + number;
        ::setenv("DISPLAY", display.c_str(), 1);
        return true;
    }
    void TearDown() override
    {
        vesk.reset();
        ::unsetenv("DISPLAY");
        if (m_server > 0) {
            ::kill(m_server, SIGTERM);
            ::waitpid(m_server, nullptr, 0);
        }
        if (!root.empty())
            vesk::platform::NSFileManager::defaultManager().removeItemAtPath(root);
    }

    std::shared_ptr<UIImage> screenshot()
    {
        auto path = root + "/screen.png";
        std::system(("import -window root " + path + " 2>/dev/null").c_str());
        return UIImage::imageWithContentsOfFile(path);
    }

    // Asks the window to close, as a window manager's close button does.
    void closeWindow(unsigned long window)
    {
        auto* connection = XOpenDisplay(display.c_str());
        ASSERT_NE(connection, nullptr);
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(connection, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(connection, window, False, NoEventMask, &event);
        XCloseDisplay(connection);
    }

    std::string root;
    std::string display;
    std::unique_ptr<VeskProcess> vesk;

private:
    pid_t m_server = -1;
};

TEST_F(WindowTest, ShowsTheScreenScaledToTheDesktopTakesClicksAndEndsWhenClosed)
{
    if (!startDisplay())
        GTEST_SKIP() << "Xvfb, xdotool or ImageMagick's import is missing: no window test";
    vesk->launch({ "--quick-action", "fileserver" });
    ASSERT_TRUE(vesk->waitUntilListening()) << vesk->errors();
    auto window = std::stoul("0" + commandOutput("xdotool search --sync --name '^Vesk$' 2>/dev/null | head -1"));
    ASSERT_NE(window, 0u) << vesk->errors();
    // The phone's 750 x 1334 pixels are drawn smaller to fit the desktop's height.
    auto geometry = commandOutput("xdotool getwindowgeometry " + std::to_string(window));
    EXPECT_NE(geometry.find("Geometry: 576x1024"), std::string::npos) << geometry;
    int left = (1280 - 576) / 2;

    // The server's banner rests in blue over the status-bar strip, above the navigation bar.
    auto banner = [](UIPixel p) { return p.blue > 190 && p.red < 100; };
    std::shared_ptr<UIImage> shot;
    EXPECT_TRUE(VeskProcess::waitUntil([&] { return (shot = screenshot()) && banner(shot->pixelAt(left + 5, 5)); }, std::chrono::seconds(10)))
        << vesk->errors();
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->pixelAt(left + 5, 40), (UIPixel { 247, 247, 247, 255 })) << "the navigation bar";
    EXPECT_EQ(shot->pixelAt(left - 5, 500), (UIPixel { 0, 0, 0, 255 })) << "the desktop beside the window";

    std::system(("xdotool mousemove " + std::to_string(left + 200) + " 400 click 1 key Escape").c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(vesk->ended()) << vesk->errors();

    closeWindow(window);
    EXPECT_EQ(vesk->waitForExit(), 0) << vesk->errors();
    EXPECT_FALSE(isListening(vesk->port)) << "the server stopped as the app went to the background";
}

TEST_F(WindowTest, ClicksIntoAFolderAndRenamesAFileThroughItsRowActions)
{
    if (!startDisplay())
        GTEST_SKIP() << "Xvfb, xdotool or ImageMagick's import is missing: no window test";
    auto documents = root + "/home/Documents";
    ASSERT_TRUE(vesk::platform::NSFileManager::defaultManager().createDirectoryAtPath(documents + "/Trip", true));
    std::ofstream(documents + "/Trip/a.txt") << "x";
    vesk->launch({});
    auto window = std::stoul("0" + commandOutput("xdotool search --sync --name '^Vesk$' 2>/dev/null | head -1"));
    ASSERT_NE(window, 0u) << vesk->errors();
    // The phone's points on the desktop: 576 pixels for 375 points, the window centred.
    constexpr double scale = 576.0 / 375;
    auto at = [&](double x, double y) { return std::to_string(std::lround((1280 - 576) / 2 + x * scale)) + " " + std::to_string(std::lround(y * scale)); };
    auto xdotool = [&](const std::string& arguments) {
        std::system(("xdotool " + arguments).c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    };
    // The first row's name: a folder's in blue, a file's in black.
    auto firstName = [&](const std::function<bool(UIPixel)>& test) {
        auto shot = screenshot();
        int found = 0;
        for (int y = std::lround(70 * scale); shot && y < std::lround(95 * scale); ++y) {
            for (int x = std::lround(352 + 62 * scale); x < std::lround(352 + 160 * scale); ++x)
                found += test(shot->pixelAt(x, y));
        }
        return found > 20;
    };
    auto blue = [](UIPixel p) { return p.blue > 180 && p.red < 60 && p.green < 60; };
    auto black = [](UIPixel p) { return p.red < 60 && p.green < 60 && p.blue < 60; };

    xdotool("windowfocus --sync " + std::to_string(window));
    xdotool("mousemove " + at(30, 645) + " click 1");
    EXPECT_TRUE(VeskProcess::waitUntil([&] { return firstName(blue); }, std::chrono::seconds(10))) << "Documents lists the folder Trip";
    xdotool("mousemove " + at(200, 90) + " click 1");
    EXPECT_TRUE(VeskProcess::waitUntil([&] { return firstName(black) && !firstName(blue); }, std::chrono::seconds(10))) << "Trip lists a.txt";
    std::filesystem::copy_file(root + "/screen.png", std::string(VESK_BINARY_DIR) + "/window-folder.png", std::filesystem::copy_options::overwrite_existing);
    // Right click: the row's actions; then More, and the sheet's Rename, second from its bottom.
    xdotool("mousemove " + at(200, 90) + " click 3");
    xdotool("mousemove " + at(264, 90) + " click 1");
    xdotool("mousemove " + at(187, 506) + " click 1");
    xdotool("type --delay 30 b.txt");
    xdotool("key Return");
    EXPECT_TRUE(VeskProcess::waitUntil([&] { return ::access((documents + "/Trip/b.txt").c_str(), F_OK) == 0; }, std::chrono::seconds(10))) << vesk->errors();
    EXPECT_NE(::access((documents + "/Trip/a.txt").c_str(), F_OK), 0);
    closeWindow(window);
    EXPECT_EQ(vesk->waitForExit(), 0) << vesk->errors();
}

TEST_F(WindowTest, MinimisedItGoesToTheBackgroundWithADesktopNoticeAndALaterStartHandsItAPicture)
{
    NotificationStub notifications;
    if (!startDisplay() || !notifications.start())
        GTEST_SKIP() << "Xvfb, xdotool, ImageMagick's import or dbus-daemon is missing: no window test";
    vesk->environment["DBUS_SESSION_BUS_ADDRESS"] = notifications.address;
    vesk->launch({ "--quick-action", "fileserver" });
    ASSERT_TRUE(vesk->waitUntilListening()) << vesk->errors();
    auto window = commandOutput("xdotool search --sync --name '^Vesk$' 2>/dev/null | head -1");
    ASSERT_NE(std::stoul("0" + window), 0u) << vesk->errors();

    // Without a window manager, taking the window off the screen is what minimising does. The
    // person brings it back, or chooses the notice's "Open", or the notice itself.
    auto shown = [] { return !commandOutput("xdotool search --onlyvisible --name '^Vesk$' 2>/dev/null").empty(); };
    std::vector<std::string> summaries;
    for (std::string back : { "windowmap", "open", "default" }) {
        std::system(("xdotool windowunmap --sync " + window).c_str());
        EXPECT_TRUE(VeskProcess::waitUntil([&] { return !isListening(vesk->port); }, std::chrono::seconds(10))) << "the server stopped";
        summaries.push_back("Webserver has stopped!");
        EXPECT_TRUE(VeskProcess::waitUntil([&] { return notifications.summaries() == summaries; }, std::chrono::seconds(10))) << back;
        EXPECT_EQ(notifications.actions(), (std::vector<std::string> { "default", "Open", "open", "Open" }));
        EXPECT_FALSE(shown());
        if (back == "windowmap")
            std::system(("xdotool windowmap --sync " + window).c_str());
        else
            notifications.invoke(back);
        EXPECT_TRUE(VeskProcess::waitUntil(shown, std::chrono::seconds(10))) << back << " shows the window again";
        EXPECT_TRUE(VeskProcess::waitUntil([&] { return isListening(vesk->port); }, std::chrono::seconds(10))) << "back in front after " << back << ", it serves again";
    }

    vesk::platform::UIGraphicsBeginImageContext({ 400, 400 });
    vesk::platform::UIColor::colorWithRed(1, 0, 0, 1)->setFill();
    vesk::platform::CGContextFillRect(vesk::platform::UIGraphicsGetCurrentContext(), { { 0, 0 }, { 400, 400 } });
    auto png = vesk::platform::UIImagePNGRepresentation(vesk::platform::UIGraphicsGetImageFromCurrentImageContext());
    vesk::platform::UIGraphicsEndImageContext();
    std::ofstream(root + "/red.png", std::ios::binary).write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    ::mkdir((root + "/second").c_str(), 0700);
    VeskProcess second(root + "/home", root + "/second");
    second.launch({ root + "/red.png" });
    EXPECT_EQ(second.waitForExit(), 0) << second.errors();
    auto red = [](UIPixel p) { return p.red > 200 && p.green < 60 && p.blue < 60; };
    EXPECT_TRUE(VeskProcess::waitUntil([&] { auto shot = screenshot(); return shot && red(shot->pixelAt(640, 512)); }, std::chrono::seconds(10)))
        << "the running app shows the picture";
    EXPECT_FALSE(isListening(second.port));
    // Above it, the server's banner stays.
    auto banner = [](UIPixel p) { return p.blue > 190 && p.red < 100; };
    EXPECT_TRUE(VeskProcess::waitUntil([&] { auto shot = screenshot(); return shot && banner(shot->pixelAt((1280 - 576) / 2 + 5, 5)); }, std::chrono::seconds(10)))
        << vesk->errors();
    std::filesystem::copy_file(root + "/screen.png", std::string(VESK_BINARY_DIR) + "/window-handed-over.png", std::filesystem::copy_options::overwrite_existing);
    closeWindow(std::stoul(window));
    EXPECT_EQ(vesk->waitForExit(), 0) << vesk->errors();
}

// A window manager (openbox) on the test's display for as long as it lives; absent when there is
// none to run.
class WindowManager {
public:
    explicit WindowManager(const std::string& display)
    {
        if (std::system("command -v openbox >/dev/null") != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, 1);
            ::dup2(quiet, 2);
            ::execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Running once it has announced itself on the root window.
        auto* connection = XOpenDisplay(display.c_str());
        if (!connection)
            return;
        auto check = XInternAtom(connection, "_NET_SUPPORTING_WM_CHECK", False);
        m_running = VeskProcess::waitUntil([&] {
            Atom type;
            int format;
            unsigned long count, after;
            unsigned char* data = nullptr;
            bool found = XGetWindowProperty(connection, DefaultRootWindow(connection), check, 0, 1, False, AnyPropertyType, &type, &format, &count, &after, &data) == Success && count > 0;
            if (data)
                XFree(data);
            return found;
        },
            std::chrono::seconds(10));
        XCloseDisplay(connection);
    }
    ~WindowManager()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool running() const { return m_running; }

private:
    pid_t m_pid = -1;
    bool m_running = false;
};

TEST_F(WindowTest, StartingSendsNoNoticeAndStartsTheServerOnceWhileAMinimiseStillSendsOne)
{
    NotificationStub notifications;
    if (!startDisplay() || !notifications.start())
        GTEST_SKIP() << "Xvfb, xdotool, ImageMagick's import or dbus-daemon is missing: no window test";
    vesk->environment["DBUS_SESSION_BUS_ADDRESS"] = notifications.address;
    auto starts = [&] {
        std::size_t count = 0;
        auto errors = vesk->errors();
        for (auto at = errors.find("Webserver: 127.0.0.1:"); at != std::string::npos; at = errors.find("Webserver: 127.0.0.1:", at + 1))
            ++count;
        return count;
    };
    std::unique_ptr<WindowManager> manager;
    for (bool managed : { false, true }) {
        if (managed) {
            manager = std::make_unique<WindowManager>(display);
            if (!manager->running()) {
                std::fprintf(stderr, "openbox is missing: no start under a window manager\n");
                break;
            }
        }
        vesk->launch({ "--quick-action", "fileserver" });
        ASSERT_TRUE(vesk->waitUntilListening()) << vesk->errors();
        auto window = commandOutput("xdotool search --sync --onlyvisible --name '^Vesk$' 2>/dev/null | head -1");
        ASSERT_NE(std::stoul("0" + window), 0u) << vesk->errors();
        ASSERT_TRUE(VeskProcess::waitUntil([&] { return starts() > 0; }));
        // A trip to the background would have sent its notice a second after it.
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        EXPECT_EQ(notifications.summaries(), std::vector<std::string> {}) << "managed: " << managed;
        EXPECT_EQ(starts(), 1u) << vesk->errors();
        EXPECT_TRUE(isListening(vesk->port));

        if (managed) {
            std::system(("xdotool windowminimize --sync " + window).c_str());
            EXPECT_TRUE(VeskProcess::waitUntil([&] { return !isListening(vesk->port); }, std::chrono::seconds(10))) << "minimised, the server stopped";
            EXPECT_TRUE(VeskProcess::waitUntil([&] { return notifications.summaries() == std::vector<std::string> { "Webserver has stopped!" }; }, std::chrono::seconds(10)));
            std::system(("xdotool windowactivate --sync " + window + " 2>/dev/null").c_str());
            EXPECT_TRUE(VeskProcess::waitUntil([&] { return isListening(vesk->port); }, std::chrono::seconds(10))) << "restored, it serves again";
            EXPECT_EQ(starts(), 2u) << vesk->errors();
        }
        closeWindow(std::stoul(window));
        EXPECT_EQ(vesk->waitForExit(), 0) << vesk->errors();
    }
}

TEST_F(WindowTest, OnThePadTheSettingsSheetTurnsTheServerOnAndATextFileShowsItsToolbar)
{
    if (!startDisplay())
        GTEST_SKIP() << "Xvfb, xdotool or ImageMagick's import is missing: no window test";
    ASSERT_TRUE(vesk::platform::NSFileManager::defaultManager().createDirectoryAtPath(root + "/home/Documents", true));
    std::ofstream(root + "/home/Documents/notes.txt") << "Packing list";
    ::setenv("VESK_SCREEN", "768x1024@2", 1);
    vesk->launch({});
    ::unsetenv("VESK_SCREEN");
    auto window = std::stoul("0" + commandOutput("xdotool search --sync --name '^Vesk$' 2>/dev/null | head -1"));
    ASSERT_NE(window, 0u) << vesk->errors();
    // The pad's 1536 x 2048 pixels at half size, a pixel a point; its sheets are 540 x 620 points in the middle.
    constexpr int left = (1280 - 768) / 2;
    auto at = [&](double x, double y) { return std::to_string(std::lround(left + x)) + " " + std::to_string(std::lround(y)); };
    auto click = [&](double x, double y) {
        std::system(("xdotool mousemove " + at(x, y) + " click 1").c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    };
    std::system(("xdotool windowfocus --sync " + std::to_string(window)).c_str());
    click(768 - 30, 1024 - 22);
    click(114 + 499, 202 + 220);
    EXPECT_TRUE(VeskProcess::waitUntil([&] { return isListening(vesk->port); }, std::chrono::seconds(10))) << "the server switch turned the server on" << vesk->errors();
    screenshot();
    std::filesystem::copy_file(root + "/screen.png", std::string(VESK_BINARY_DIR) + "/window-pad-settings.png", std::filesystem::copy_options::overwrite_existing);

    // Done, then Documents and the file: its viewer's sheet ends in the toolbar.
    click(114 + 503, 202 + 22);
    click(30, 1024 - 22);
    click(200, 64 + 26);
    auto bar = [](UIPixel p) { return p.red == 247 && p.green == 247 && p.blue == 247; };
    std::shared_ptr<UIImage> shot;
    EXPECT_TRUE(VeskProcess::waitUntil([&] { return (shot = screenshot()) && bar(shot->pixelAt(left + 384, 202 + 620 - 5)); }, std::chrono::seconds(10)));
    std::filesystem::copy_file(root + "/screen.png", std::string(VESK_BINARY_DIR) + "/window-pad-text.png", std::filesystem::copy_options::overwrite_existing);
    closeWindow(window);
    EXPECT_EQ(vesk->waitForExit(), 0) << vesk->errors();
}

TEST_F(WindowTest, WithoutAUsableDisplayRunsHeadlessAfterOneLine)
{
    ::setenv("DISPLAY", ":1999", 1);
    vesk->launch({ "--quick-action", "fileserver" });
    ASSERT_TRUE(vesk->waitUntilListening()) << vesk->errors();
    ASSERT_TRUE(vesk->waitForError("vesk: no window (")) << vesk->errors();
    EXPECT_NE(vesk->errors().find("running without one\n"), std::string::npos);
    EXPECT_EQ(vesk->stop(), 0) << vesk->errors();
}

// Where the window system has put a window and its frame, in screen pixels.
struct Placement {
    int x = 0, y = 0, width = 0, height = 0;
    long left = 0, right = 0, top = 0, bottom = 0;
};

Placement placementOf(const std::string& display, unsigned long window)
{
    Placement placement;
    auto* connection = XOpenDisplay(display.c_str());
    if (!connection)
        return placement;
    XWindowAttributes attributes;
    ::Window child;
    if (XGetWindowAttributes(connection, window, &attributes)) {
        placement.width = attributes.width;
        placement.height = attributes.height;
        XTranslateCoordinates(connection, window, DefaultRootWindow(connection), 0, 0, &placement.x, &placement.y, &child);
    }
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    auto extents = XInternAtom(connection, "_NET_FRAME_EXTENTS", False);
    if (XGetWindowProperty(connection, window, extents, 0, 4, False, AnyPropertyType, &type, &format, &count, &after, &data) == Success && count == 4) {
        auto* values = reinterpret_cast<long*>(data);
        placement.left = values[0];
        placement.right = values[1];
        placement.top = values[2];
        placement.bottom = values[3];
    }
    if (data)
        XFree(data);
    XCloseDisplay(connection);
    return placement;
}

TEST_F(WindowTest, UnderAWindowManagerTheTitleBarAndTheWholeScreenFitTheDesktop)
{
    constexpr int desktopWidth = 1600, desktopHeight = 1200;
    if (!startDisplay(std::to_string(desktopWidth) + "x" + std::to_string(desktopHeight) + "x24"))
        GTEST_SKIP() << "Xvfb, xdotool or ImageMagick's import is missing: no window test";
    WindowManager manager(display);
    if (!manager.running())
        GTEST_SKIP() << "openbox is missing: no window manager to frame the window";
    for (auto [screen, width, height] : { std::tuple("375x667@2", 375.0, 667.0), std::tuple("768x1024@2", 768.0, 1024.0) }) {
        SCOPED_TRACE(screen);
        ::setenv("VESK_SCREEN", screen, 1);
        vesk->launch({});
        ::unsetenv("VESK_SCREEN");
        auto window = std::stoul("0" + commandOutput("xdotool search --sync --onlyvisible --name '^Vesk$' 2>/dev/null | head -1"));
        ASSERT_NE(window, 0u) << vesk->errors();
        Placement at;
        // The app fits its window to the desktop once it is framed, then moves it to the middle:
        // what is read in between is on its way.
        auto placed = [&] {
            at = placementOf(display, window);
            return at.top > 0 && at.x - at.left >= 0 && at.y - at.top >= 0 && at.x + at.width + at.right <= desktopWidth
                && at.y + at.height + at.bottom <= desktopHeight && at.height >= desktopHeight - at.top - at.bottom - 1
                && std::abs((at.x - at.left) - (desktopWidth - (at.x + at.width + at.right))) <= 1;
        };
        EXPECT_TRUE(VeskProcess::waitUntil(placed, std::chrono::seconds(10)))
            << "frame " << at.left << " " << at.right << " " << at.top << " " << at.bottom << ", window " << at.x << "," << at.y << " " << at.width << "x" << at.height;
        // As tall as the room under the title bar allows, in the device's proportions.
        EXPECT_GE(at.height, desktopHeight - at.top - at.bottom - 1);
        EXPECT_NEAR(at.width, at.height * width / height, 1.0);
        EXPECT_NEAR(at.x - at.left, desktopWidth - (at.x + at.width + at.right), 1.0) << "in the middle";

        // The toolbar's last rows show, bar-coloured beside its first button.
        auto bar = [](UIPixel p) { return p.red == 247 && p.green == 247 && p.blue == 247; };
        std::shared_ptr<UIImage> shot;
        EXPECT_TRUE(VeskProcess::waitUntil([&] { return (shot = screenshot()) && bar(shot->pixelAt(at.x + 3, at.y + at.height - 3)); }, std::chrono::seconds(10)));
        std::filesystem::copy_file(root + "/screen.png", std::string(VESK_BINARY_DIR) + "/window-framed-" + std::to_string(int(width)) + ".png",
            std::filesystem::copy_options::overwrite_existing);
        closeWindow(window);
        EXPECT_EQ(vesk->waitForExit(), 0) << vesk->errors();
    }
}

}
