#include "viewers/ViewerTestSupport.h"

#include "model/Bookmarks.h"
#include "platform/foundation/RunLoop.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIWebView.h"
#include "sdk/Analytics.h"
#include "viewers/InfoTableViewController.h"
#include "viewers/TextEditorViewController.h"
#include "viewers/VeskFileViewController.h"

#include <cairo-pdf.h>
#include <gif_lib.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <typeinfo>

using namespace vesk;
using namespace vesk::platform;
using vesk::test::ViewerTest;

namespace {

// A PDF of one blank page at the path.
void writeBlankPDF(const std::string& path)
{
    auto* surface = cairo_pdf_surface_create(path.c_str(), 300, 400);
    auto* cr = cairo_create(surface);
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

// A 4x4 GIF with one frame per delay (hundredths of a second).
std::string gifWithDelays(const std::vector<int>& delays)
{
    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(
        &out, [](GifFileType* file, const GifByteType* bytes, int length) {
            static_cast<std::string*>(file->UserData)->append(reinterpret_cast<const char*>(bytes), std::size_t(length));
            return length;
        },
        &error);
    EGifSetGifVersion(gif, true);
    GifColorType colors[2] = { { 0, 0, 0 }, { 255, 255, 255 } };
    ColorMapObject* map = GifMakeMapObject(2, colors);
    EGifPutScreenDesc(gif, 4, 4, 1, 0, map);
    GifPixelType line[4] = { 0, 1, 0, 1 };
    for (int delay : delays) {
        GraphicsControlBlock control { DISPOSAL_UNSPECIFIED, false, delay, NO_TRANSPARENT_COLOR };
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
        EGifPutImageDesc(gif, 0, 0, 4, 4, false, nullptr);
        for (int y = 0; y < 4; ++y)
            EGifPutLine(gif, line, 4);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

}

TEST_F(ViewerTest, EveryViewerShowsItsFileWithTheToolbarAndReportsMemoryWarnings)
{
    const std::pair<std::string, std::string> cases[] = {
        { makeFile("notes.txt", "hello"), "TextViewController.cpp" },
        { makePNG("photo.png", 8, 8), "ImageViewController.cpp" },
        { makeFile("list.plist", "<plist><dict/></plist>"), "PlistViewController.cpp" },
        { makeFile("page.html", "<p>hi</p>"), "WebViewController.cpp" },
        { makeFile("data.bin", "\x01\x02"), "UnknownViewController.cpp" },
    };
    for (auto& [path, source] : cases) {
        auto viewer = open<VeskFileViewController>(path);
        ASSERT_NE(viewer, nullptr) << path;
        EXPECT_EQ(viewer->title(), lastPathComponent(path));
        for (auto* title : { "Share", "Delete", "Info", "Done" })
            EXPECT_NE(driver.barButton(*viewer, title), nullptr) << path << " " << title;
        viewer->didReceiveMemoryWarning();
        auto event = Analytics::recordedEvents().back();
        EXPECT_EQ(event.name, "Memory Warning");
        EXPECT_TRUE(event.attributes.find("File")->string()->ends_with(source)) << path;
        EXPECT_TRUE(event.attributes.find("RAM")->isInteger());
        if (auto unknown = std::dynamic_pointer_cast<UnknownViewController>(viewer)) {
            EXPECT_NE(unknown->imageView()->image(), nullptr) << "the type icon";
        }
        EXPECT_TRUE(driver.tapBarButton(*viewer, "Done"));
        driver.drain();
        EXPECT_EQ(driver.screenStack().size(), 1u) << path;
    }
    EXPECT_TRUE(banners().empty());
}

TEST_F(ViewerTest, TitleCarriesTheStarWhileTheFileIsBookmarkedAndInfoOpensTheFacts)
{
    auto file = VeskFile::initWithPath(makeFile("notes.txt"));
    Bookmarks bookmarks;
    bookmarks.setup();
    bookmarks.save(file);
    auto viewer = open<TextViewController>(file->path());
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->title(), "\u2B50\uFE0Fnotes.txt");
    bookmarks.remove(file);
    driver.advance(0.6);
    EXPECT_EQ(viewer->title(), "notes.txt");
    bookmarks.save(file);
    driver.advance(0.6);
    EXPECT_EQ(viewer->title(), "\u2B50\uFE0Fnotes.txt");

    EXPECT_TRUE(driver.tapBarButton(*viewer, "Info"));
    auto info = driver.visible<InfoTableViewController>();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->file(), viewer->file());
    info->close();
    EXPECT_TRUE(driver.tapBarButton(*viewer, "Done"));
    driver.drain();
    bookmarks.remove(file);
    driver.advance(0.6);
    EXPECT_EQ(viewer->title(), "\u2B50\uFE0Fnotes.txt") << "a closed viewer no longer watches";
}

TEST_F(ViewerTest, WebViewerLoadsAPageWithWhatItReferencesAndClosesOnAFailedLoad)
{
    makePNG("logo.png", 2, 2);
    auto viewer = open<WebViewController>(makeFile("page.html", "<img src='logo.png'><img src='gone.png'>"));
    ASSERT_NE(viewer, nullptr);
    auto& resources = viewer->webView()->resources();
    ASSERT_EQ(resources.size(), 2u);
    EXPECT_EQ(resources[0].response->MIMEType, "image/png");
    EXPECT_FALSE(resources[1].response) << "a missing picture does not fail the page";
    EXPECT_FALSE(UIApplication::sharedApplication().isNetworkActivityIndicatorVisible());
    EXPECT_TRUE(banners().empty());
    viewer->dismiss();

    auto file = VeskFile::initWithPath(makeFile("gone.html"));
    ::unlink(file->path().c_str());
    utility.openWeb(file, driver.screenStack().front());
    EXPECT_TRUE(UIApplication::sharedApplication().isNetworkActivityIndicatorVisible());
    driver.drain();
    EXPECT_EQ(banners(), std::vector<std::string> { errorBanner });
    EXPECT_EQ(driver.screenStack().size(), 1u);
    EXPECT_FALSE(UIApplication::sharedApplication().isNetworkActivityIndicatorVisible());
}

TEST_F(ViewerTest, WebViewerShowsAPDFAndClosesWithTheErrorBannerOnADamagedOne)
{
    auto path = root() + "/pages.pdf";
    writeBlankPDF(path);
    auto viewer = open<WebViewController>(path);
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->webView()->showsRenderedPage());
    EXPECT_TRUE(banners().empty());
    viewer->dismiss();

    utility.openWeb(VeskFile::initWithPath(makeFile("damaged.pdf", "%PDF-1.4\n" + std::string(2000, 'x'))), driver.screenStack().front());
    driver.drain();
    EXPECT_EQ(banners(), std::vector<std::string> { errorBanner });
    EXPECT_EQ(driver.screenStack().size(), 1u);
    EXPECT_FALSE(UIApplication::sharedApplication().isNetworkActivityIndicatorVisible());
}

// The page is drawn by a renderer process: one that ends after drawing leaves the page on screen,
// one that ends (here: breaks its protocol) before drawing fails the load, and so does one that
// ends after drawing a long page's first part, before the whole.
TEST_F(ViewerTest, WebViewerKeepsAPageWhoseRendererEndsAndClosesWhenItEndsBeforeDrawing)
{
    auto viewer = open<WebViewController>(makeFile("page.html", "<p>page</p>"));
    ASSERT_NE(viewer, nullptr);
    auto pid = viewer->webView()->rendererProcessID();
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGKILL);
    RunLoop::main().runUntil([&] { return viewer->webView()->rendererProcessID() == 0; });
    driver.drain();
    EXPECT_TRUE(viewer->webView()->renderedPixels()) << "what was drawn stays";
    EXPECT_TRUE(banners().empty());
    EXPECT_EQ(driver.screenStack().size(), 2u);
    viewer->dismiss();

    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    withRenderer(script, "endless-header", [&] {
        utility.openWeb(VeskFile::initWithPath(makeFile("other.html", "<p>other</p>")), driver.screenStack().front());
        driver.drain();
    });
    EXPECT_EQ(banners(), std::vector<std::string> { errorBanner });
    EXPECT_EQ(driver.screenStack().size(), 1u);
    driver.advance(4);

    for (bool wholeTold : { false, true }) {
        SCOPED_TRACE(wholeTold ? "the whole page's facts told" : "only its first part's");
        ::setenv("VESK_RENDERER", script.c_str(), 1);
        ::setenv("VESK_HOSTILE_RENDERER", "first-part", 1);
        if (wholeTold)
            ::setenv("VESK_HOSTILE_RENDERER_WHOLE", "1", 1);
        utility.openWeb(VeskFile::initWithPath(makeFile("long.html", "<p>long</p>")), driver.screenStack().front());
        driver.drain();
        ::unsetenv("VESK_HOSTILE_RENDERER_WHOLE");
        ::unsetenv("VESK_HOSTILE_RENDERER");
        ::unsetenv("VESK_RENDERER");
        EXPECT_EQ(banners(), std::vector<std::string> { errorBanner });
        EXPECT_EQ(driver.screenStack().size(), 1u);
        EXPECT_FALSE(UIApplication::sharedApplication().isNetworkActivityIndicatorVisible());
        driver.advance(4);
    }
}

// A renderer whose system-call filter can't be loaded (seccomp missing from the kernel) draws
// nothing: the load fails with the banner. Started the same way with seccomp there, it draws.
TEST_F(ViewerTest, WebViewerClosesWithTheErrorBannerWhenTheRendererCanLoadNoFilter)
{
    auto viewer = withRenderer(VESK_HOSTILE_THREADS_RENDERER, "real", [&] { return open<WebViewController>(makeFile("page.html", "<p>page</p>")); });
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->webView()->showsRenderedPage());
    EXPECT_TRUE(banners().empty());
    viewer->dismiss();

    withRenderer(VESK_HOSTILE_THREADS_RENDERER, "no-seccomp", [&] {
        utility.openWeb(VeskFile::initWithPath(makeFile("other.html", "<p>other</p>")), driver.screenStack().front());
        driver.drain();
    });
    EXPECT_EQ(banners(), std::vector<std::string> { errorBanner });
    EXPECT_EQ(driver.screenStack().size(), 1u);
}

TEST_F(ViewerTest, WebViewerStaysOpenAndScrollsForALinkWithinThePage)
{
    auto viewer = open<WebViewController>(makeFile("long.html", "<body style='margin:0'><a href='#bottom' style='display:block;height:2000px'>down</a>"
                                                                "<div id='bottom' style='height:3000px;background:#ff0000'></div></body>"));
    ASSERT_NE(viewer, nullptr);
    auto red = [](const UIImage& image) {
        int found = 0;
        for (int y = 0; y < image.pixelHeight(); y += 4) {
            for (int x = 0; x < image.pixelWidth(); x += 4) {
                auto p = image.pixelAt(x, y);
                found += p.red > 240 && p.green < 20 && p.blue < 20;
            }
        }
        return found;
    };
    EXPECT_EQ(red(*driver.render(1)), 0);
    auto size = driver.render(1)->size();
    driver.tapAt({ size.width / 2, size.height / 2 });
    driver.drain();
    EXPECT_TRUE(banners().empty());
    EXPECT_EQ(driver.visible<WebViewController>(), viewer) << "the viewer stays open";
    EXPECT_EQ(viewer->webView()->request()->URL.lastPathComponent(), "long.html");
    EXPECT_FALSE(viewer->webView()->isLoading());
    EXPECT_GT(red(*driver.render(1)), 1000) << "scrolled to the target";
}

// Files opened one over the other: a fifth page renderer ends the one of the viewer covered
// longest, which keeps its last frame and, shown again, draws at its scroll place with a new one.
TEST_F(ViewerTest, WebViewersCoveredLongestGiveUpTheirRenderersAndRedrawWhenShownAgain)
{
    auto first = open<WebViewController>(makeFile("stripes.html", "<body style='margin:0'><div style='height:1000px;background:#0000ff'></div>"
                                                                  "<div style='height:500px;background:#00ff00'></div><div style='height:4000px;background:#ff0000'></div></body>"));
    ASSERT_NE(first, nullptr);
    auto size = driver.render(1)->size();
    CGPoint middle { size.width / 2, size.height / 2 };
    auto colourAt = [&](const UIImage& image, CGFloat y = 0) {
        auto p = image.pixelAt(int(middle.x), int(y ? y : middle.y));
        return p.red > 240 && p.green < 20 && p.blue < 20 ? "red" : p.green > 240 && p.red < 20 && p.blue < 20 ? "green"
            : p.blue > 240 && p.red < 20 && p.green < 20                                                       ? "blue"
                                                                                                               : "other";
    };
    driver.scrollAt(middle, 1200);
    auto before = driver.render(1);
    // The edge of green and red is on screen, so that the place shows to the point.
    ASSERT_STREQ(colourAt(*before), "green");
    ASSERT_STREQ(colourAt(*before, size.height - 100), "red");
    auto firstPid = first->webView()->rendererProcessID();
    ASSERT_GT(firstPid, 0);

    std::vector<std::shared_ptr<WebViewController>> covering;
    for (int index = 2; index <= 5; ++index) {
        utility.openItem(driver.topViewController(), VeskFile::initWithPath(makeFile("page" + std::to_string(index) + ".html", "<p>page</p>")), CGRectMake(0, 0, 1, 1));
        driver.drain();
        covering.push_back(driver.visible<WebViewController>());
        ASSERT_NE(covering.back(), nullptr);
        ASSERT_NE(covering.back(), first);
        EXPECT_GT(covering.back()->webView()->rendererProcessID(), 0) << "the viewer on screen has its renderer";
        if (index < 5) {
            EXPECT_EQ(first->webView()->rendererProcessID(), firstPid) << index << " renderers fit";
        }
    }
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return first->webView()->rendererProcessID() == 0; }));
    errno = 0;
    EXPECT_TRUE(::kill(firstPid, 0) != 0 && errno == ESRCH) << "the first viewer's renderer is gone";
    for (auto& viewer : covering)
        EXPECT_GT(viewer->webView()->rendererProcessID(), 0);
    EXPECT_TRUE(first->webView()->renderedPixels()) << "its last frame stays";

    // Back down, one Done at a time.
    for (auto it = covering.rbegin(); it != covering.rend(); ++it) {
        EXPECT_TRUE(driver.tapBarButton(**it, "Done"));
        driver.drain();
    }
    covering.clear();
    ASSERT_EQ(driver.visible<WebViewController>(), first);
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return first->webView()->rendererProcessID() > 0; }));
    EXPECT_NE(first->webView()->rendererProcessID(), firstPid);
    driver.drain();
    auto after = driver.render(1);
    EXPECT_STREQ(colourAt(*after), "green") << "at its scroll place";
    int differing = 0;
    for (int y = 0; y < before->pixelHeight(); y += 2) {
        for (int x = 0; x < before->pixelWidth(); x += 2) {
            auto a = before->pixelAt(x, y), b = after->pixelAt(x, y);
            differing += a.red != b.red || a.green != b.green || a.blue != b.blue;
        }
    }
    EXPECT_EQ(differing, 0) << "the screen is as it was";
    // Further down than its last frame reached: only a live renderer draws it.
    driver.scrollAt(middle, 1500);
    EXPECT_STREQ(colourAt(*driver.render(1)), "red");
    EXPECT_TRUE(banners().empty());
}

// Pages handed over one after another stack their viewers, each over the last: the renderers of
// those covered longest are ended, and what the app held for each (its socket, the descriptors to
// end and wake it, its frame memories, its thread) goes at once, all but the frame its viewer still
// shows. 200 hand-overs leave the app's descriptors and memory where the first few left them.
TEST_F(ViewerTest, TwoHundredPagesHandedOverLeaveTheAppsDescriptorsAndMemoryFlat)
{
    auto page = NSURL::fileURLWithPath(makeFile("page.html", "<p>page</p>")).absoluteString();
    struct Figures {
        int descriptors = 0;
        int frameMemories = 0;
        double virtualMB = 0;
    };
    auto figures = [] {
        Figures now;
        for (auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            ++now.descriptors;
            now.frameMemories += std::filesystem::read_symlink(entry.path(), error).string().starts_with("/memfd:vesk-frame");
        }
        // The address space but the frames shown, each mapped where its viewer shows it.
        std::ifstream maps("/proc/self/maps");
        for (std::string line; std::getline(maps, line);) {
            if (line.find("/memfd:vesk-frame") != std::string::npos)
                continue;
            auto dash = line.find('-');
            now.virtualMB += double(std::stoull(line.substr(dash + 1, line.find(' ') - dash - 1), nullptr, 16) - std::stoull(line.substr(0, dash), nullptr, 16)) / (1 << 20);
        }
        return now;
    };
    auto handOver = [&](int count) {
        for (int index = 0; index < count; ++index) {
            UIApplication::sharedApplication().handOver({ { UIApplicationLaunchOptionsURLKey, Value(page) } });
            driver.drain();
        }
    };
    // A renderer that draws its page and waits, quick to start.
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    ::setenv("VESK_HOSTILE_RENDERER", "ask", 1);
    handOver(10);
    auto before = figures();
    handOver(190);
    auto after = figures();
    auto shown = driver.visible<WebViewController>();
    ASSERT_NE(shown, nullptr);
    EXPECT_GT(shown->webView()->rendererProcessID(), 0);
    EXPECT_TRUE(shown->webView()->renderedPixels());
    EXPECT_GE(driver.screenStack().size(), 201u) << "each viewer over the last";
    EXPECT_LE(after.descriptors, before.descriptors + 8);
    EXPECT_LE(after.frameMemories, 4 * 4) << "only live renderers' frame memories";
    // A thread kept for each would hold its stack, 8 MB apiece: 1.5 GB.
    EXPECT_LT(after.virtualMB - before.virtualMB, 400);
    EXPECT_TRUE(banners().empty());
    ::unsetenv("VESK_HOSTILE_RENDERER");
    ::unsetenv("VESK_RENDERER");
}

TEST_F(ViewerTest, PicturesFitOrCentreZoomBetweenLimitsAndTakeAGrayBackground)
{
    auto small = open<ImageViewController>(makePNG("small.png", 20, 10));
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->imageView()->contentMode(), UIViewContentMode::Center);
    EXPECT_EQ(small->imageView()->image()->size().width, 20);
    small->dismiss();

    auto large = open<ImageViewController>(makePNG("large.png", 800, 1600));
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(large->imageView()->contentMode(), UIViewContentMode::ScaleAspectFit);
    auto scroll = large->scrollView();
    scroll->pinch(4);
    EXPECT_EQ(scroll->zoomScale(), 4);
    scroll->pinch(100);
    EXPECT_EQ(scroll->zoomScale(), 10);
    scroll->pinch(0.001);
    EXPECT_EQ(scroll->zoomScale(), 1);
    auto segments = large->segmentedControl();
    EXPECT_EQ(segments->titleForSegmentAtIndex(1), "Gray");
    segments->tapSegment(1);
    EXPECT_TRUE(large->view()->backgroundColor()->isEqual(*UIColor::grayColor()));
    segments->tapSegment(0);
    EXPECT_TRUE(large->view()->backgroundColor()->isEqual(*UIColor::whiteColor()));
}

TEST_F(ViewerTest, AnimatedGIFListsEachFrameForItsDelay)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t entries; // 0: a still picture
        double duration;
    };
    auto damaged = gifWithDelays({ 10, 10 });
    damaged.resize(damaged.size() - 12);
    const Case cases[] = {
        { "even.gif", gifWithDelays({ 10, 10, 10 }), 3, 0.3 },
        { "uneven.gif", gifWithDelays({ 10, 20, 10 }), 4, 0.4 },
        { "zero.gif", gifWithDelays({ 0, 0 }), 2, 0.02 },
        { "damaged.gif", damaged, 1, 0.1 },
        { "upper.GIF", gifWithDelays({ 10, 20 }), 0, 0 },
    };
    for (auto& test : cases) {
        // As "Open as... Image" does: "upper.GIF" is no picture by its extension.
        utility.openImage(VeskFile::initWithPath(makeFile(test.name, test.bytes)), driver.screenStack().front());
        driver.drain();
        auto viewer = driver.visible<ImageViewController>();
        ASSERT_NE(viewer, nullptr) << test.name;
        auto image = viewer->imageView()->image();
        ASSERT_NE(image, nullptr) << test.name;
        EXPECT_EQ(image->images().size(), test.entries) << test.name;
        EXPECT_NEAR(image->duration(), test.duration, 1e-9) << test.name;
        viewer->dismiss();
    }
    auto still = open<ImageViewController>(makePNG("still.gif", 4, 4));
    ASSERT_NE(still, nullptr);
    ASSERT_NE(still->imageView()->image(), nullptr) << "a PNG named .gif still shows";
    EXPECT_EQ(still->imageView()->image()->images().size(), 1u);
    still->dismiss();
    auto garbage = open<ImageViewController>(makeFile("garbage.gif", "GIF89a\x04\x00\x04\x00 not really"));
    ASSERT_NE(garbage, nullptr);
    EXPECT_EQ(garbage->imageView()->image(), nullptr);
    EXPECT_TRUE(banners().empty()) << "an undecodable picture only leaves the view empty";
    garbage->dismiss();

    auto fifo = root() + "/pipe.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    open<ImageViewController>(fifo);
    EXPECT_EQ(banners(), std::vector<std::string> { errorBanner }) << "never read from a FIFO";
    EXPECT_EQ(driver.screenStack().size(), 1u);
}

namespace {

// What a screen holds that must go with it, by name.
struct Held {
    std::vector<std::pair<std::string, std::weak_ptr<const void>>> objects;

    void add(std::string what, std::weak_ptr<const void> object) { objects.emplace_back(std::move(what), std::move(object)); }

    // The screen, its navigation controller, every view under its root and its bar items.
    void addScreen(UIViewController& screen)
    {
        add("the screen", screen.weak_from_this());
        if (auto navigation = screen.navigationController())
            add("its navigation controller", navigation);
        std::function<void(const std::shared_ptr<UIView>&)> visit = [&](const std::shared_ptr<UIView>& view) {
            auto& shown = *view;
            add(std::string("a view: ") + typeid(shown).name(), view);
            for (auto& subview : view->subviews())
                visit(subview);
        };
        visit(screen.view());
        for (auto& item : { screen.navigationItem().leftBarButtonItem(), screen.navigationItem().rightBarButtonItem() })
            add("a navigation bar item", item);
        for (auto& item : screen.toolbarItems())
            add("a toolbar item", item);
    }

    std::vector<std::string> alive() const
    {
        std::vector<std::string> names;
        for (auto& [what, object] : objects) {
            if (!object.expired())
                names.push_back(what);
        }
        return names;
    }
};

class ClosedViewerTest : public ViewerTest, public ::testing::WithParamInterface<bool> {
protected:
    void beforeLaunch() override
    {
        if (GetParam()) {
            UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 768, 1024));
            UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
        }
    }

    // Lets a closing screen's animation, queued blocks and timers run out, and the window draw
    // what is left, as it does after every change.
    void settle()
    {
        driver.drain();
        driver.advance(2);
        driver.drain();
        driver.render();
    }
};

}

TEST_P(ClosedViewerTest, EveryViewerClosedByDoneOrEscapeIsDestroyedWithItsViewsAndContents)
{
    auto pdf = root() + "/pages.pdf";
    writeBlankPDF(pdf);
    const std::string paths[] = {
        makeFile("notes.txt", std::string(100'000, 'x')),
        makeFile("list.plist", "<plist><dict><key>a</key><array><string>b</string></array></dict></plist>"),
        makePNG("photo.png", 64, 64),
        makeFile("moving.gif", gifWithDelays({ 10, 20, 10 })),
        makeFile("page.html", "<p>hi</p>"),
        pdf,
        makeFile("data.bin", "\x01\x02"),
    };
    for (auto& path : paths) {
        for (bool byKey : { false, true }) {
            Held held;
            {
                auto viewer = open<VeskFileViewController>(path);
                ASSERT_NE(viewer, nullptr) << path;
                held.addScreen(*viewer);
                if (auto text = std::dynamic_pointer_cast<TextViewController>(viewer)) {
                    ASSERT_EQ(text->textView()->text().size(), 100'000u);
                    held.add("the text", text->textView()->textBuffer());
                }
                if (auto image = std::dynamic_pointer_cast<ImageViewController>(viewer)) {
                    ASSERT_NE(image->imageView()->image(), nullptr) << path;
                    held.add("the picture", image->imageView()->image());
                    for (auto& frame : image->imageView()->image()->images())
                        held.add("a frame of the picture", frame);
                }
                if (auto list = std::dynamic_pointer_cast<PlistViewController>(viewer)) {
                    // A level further down, then back, as a person browses.
                    driver.tapRow(*list->tableView(), 0);
                    settle();
                    auto level = driver.visible<PlistViewController>();
                    ASSERT_NE(level, list) << "the array opened";
                    held.addScreen(*level);
                    EXPECT_TRUE(driver.tapBarButton(*level, "Back"));
                    settle();
                    ASSERT_EQ(driver.visibleScreen(), viewer);
                }
                // A pointer taken on the screen, so that the events keep what they last touched.
                driver.tapAt({ 100, 300 });
                driver.drain();
                ASSERT_EQ(driver.visibleScreen(), viewer) << path;
                if (byKey)
                    driver.pressKey(UIKey::Escape);
                else
                    EXPECT_TRUE(driver.tapBarButton(*viewer, "Done"));
            }
            settle();
            EXPECT_EQ(driver.screenStack().size(), 1u) << path;
            EXPECT_EQ(held.alive(), std::vector<std::string> {}) << path << (byKey ? " closed by Escape" : " closed by Done");
        }
    }
    EXPECT_TRUE(banners().empty());
}

TEST_P(ClosedViewerTest, TheEditorAndInfoClosedAreDestroyedAndSoIsTheirViewer)
{
    auto path = makeFile("notes.txt", "old");
    for (const char* button : { "Cancel", "Save" }) {
        Held viewerHeld, editorHeld, infoHeld;
        {
            auto viewer = open<TextViewController>(path);
            ASSERT_NE(viewer, nullptr);
            viewerHeld.addScreen(*viewer);
            EXPECT_TRUE(driver.tapBarButton(*viewer, "Info"));
            driver.drain();
            auto info = driver.visible<InfoTableViewController>();
            ASSERT_NE(info, nullptr);
            infoHeld.addScreen(*info);
            info.reset();
            driver.pressKey(UIKey::Escape);
            settle();
            EXPECT_EQ(infoHeld.alive(), std::vector<std::string> {});
            ASSERT_EQ(driver.visibleScreen(), viewer);
            EXPECT_TRUE(driver.tapBarButton(*viewer, "Edit"));
            driver.drain();
            auto editor = driver.visible<TextEditorViewController>();
            ASSERT_NE(editor, nullptr);
            editorHeld.addScreen(*editor);
            driver.typeText(" and new");
            EXPECT_TRUE(driver.tapBarButton(*editor, button));
            ASSERT_NE(driver.alert(), nullptr);
            EXPECT_TRUE(driver.chooseAlertAction(std::string(button) == "Save" ? "Save" : "Yes, cancel..."));
        }
        settle();
        EXPECT_EQ(editorHeld.alive(), std::vector<std::string> {}) << button;
        auto viewer = driver.visible<TextViewController>();
        ASSERT_NE(viewer, nullptr);
        EXPECT_EQ(viewer->textView()->text(), std::string(button) == "Save" ? "old and new" : "old");
        viewerHeld.add("the text", viewer->textView()->textBuffer());
        EXPECT_TRUE(driver.tapBarButton(*viewer, "Done"));
        viewer.reset();
        settle();
        EXPECT_EQ(viewerHeld.alive(), std::vector<std::string> {}) << button;
    }
}

INSTANTIATE_TEST_SUITE_P(PhoneAndPad, ClosedViewerTest, ::testing::Values(false, true), [](const auto& info) { return info.param ? "Pad" : "Phone"; });
