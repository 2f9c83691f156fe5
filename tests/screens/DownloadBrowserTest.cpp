#include "app/AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/Utility.h"
#include "app/VeskFileListController.h"
#include "http/HttpServer.h"
#include "platform/foundation/NSURLConnection.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIWebView.h"
#include "screens/VeskDownloadWebController.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace vesk;
using namespace vesk::platform;

namespace {

class DownloadBrowserTest : public test::AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        UIApplication::sharedApplication().launch(std::make_shared<AppDelegate>());
        auto serve = [](std::string type, std::string body) {
            return [type, body](const HttpRequest&) {
                return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", type } }, HttpBytes(body.begin(), body.end()));
            };
        };
        server.registerHandler("^/page.html$", serve("text/html", "<img src=logo.png><script src=app.js></script>"
                                                                  "<a href='clip.mp4?x=1'>Clip</a> <a href=CLIP.MP4>Loud clip</a>"));
        server.registerHandler("^/logo.png$", serve("image/png", "png"));
        server.registerHandler("^/long.html$", [this, serve](const HttpRequest& request) {
            ++longHits;
            return serve("text/html", "<body style='margin:0'><a href='#bottom' style='display:block;height:100px'>down</a><div style='height:3000px'></div>"
                                      "<div id=bottom style='height:600px;background:#ff0000'></div></body>")(request);
        });
        server.registerHandler("^/links.html$", [this, serve](const HttpRequest& request) {
            // Held back while a test keeps the page loading.
            for (int wait = 0; held && wait < 500; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return serve("text/html", "<body style='margin:0'><a href=next.html style='display:block;height:100px'>next</a></body>")(request);
        });
        server.registerHandler("^/next.html$", [this, serve](const HttpRequest& request) {
            ++nextHits;
            return serve("text/html", "<body style='margin:0;background:#ff0000'><a href=links.html style='display:block;height:100px'>back</a></body>")(request);
        });
        server.registerHandler("^/app.js$", serve("text/javascript", "never run"));
        server.registerHandler("^/(clip.mp4|CLIP.MP4)$", serve("video/mp4", "mp4"));
        server.start(0, "127.0.0.1");
        host = "127.0.0.1:" + std::to_string(server.port());
        VeskDownloadWebController::setStartPage("http://" + host + "/page.html");
    }

    void TearDown() override
    {
        server.stop();
        NSURLCache::setSharedURLCache(nullptr);
        AppTest::TearDown();
    }

    // Opens the browser through the add sheet's "Add from Web" and waits for the start page.
    std::atomic<int> longHits = 0;
    std::atomic<int> nextHits = 0;
    std::atomic<bool> held = false;

    std::shared_ptr<VeskDownloadWebController> open()
    {
        Utility().addFileOrDir(root(), driver.visible<VeskFileListController>(), CGRectZero);
        EXPECT_TRUE(driver.chooseAlertAction("Add from Web"));
        auto browser = driver.visible<VeskDownloadWebController>();
        EXPECT_EQ(browser->path(), root());
        EXPECT_EQ(browser->title(), "Loading 127.0.0.1...");
        EXPECT_FALSE(browser->downloadableItemsButton()->isEnabled());
        driver.drain();
        return browser;
    }

    // The rows of the items list ("name | MIME type"); the list is closed again.
    std::vector<std::string> listedItems(VeskDownloadWebController& browser)
    {
        EXPECT_TRUE(driver.tapBarButton(browser, "Items"));
        auto list = driver.visible<VeskDownloadTableViewController>();
        EXPECT_EQ(list->title(), "Downloadable content");
        std::vector<std::string> rows;
        auto table = list->tableView();
        for (int row = 0; row < table->numberOfRowsInSection(0); ++row) {
            auto cell = table->cellForRowAtIndexPath({ 0, row });
            rows.push_back(*cell->textLabel()->text() + " | " + *cell->detailTextLabel()->text());
            driver.tapRow(*table, row);
            EXPECT_FALSE(table->indexPathForSelectedRow());
        }
        driver.tapBarButton(*list->navigationItem().leftBarButtonItem());
        return rows;
    }

    void typeAddress(VeskDownloadWebController& browser, const std::string& text)
    {
        ASSERT_TRUE(driver.tapBarButton(browser, "Address"));
        ASSERT_TRUE(driver.typeIntoField(0, text));
        ASSERT_TRUE(driver.chooseAlertAction("Open"));
        driver.drain();
    }

    HttpServer server;
    std::string host;
};

TEST_F(DownloadBrowserTest, SecondVisitListsTheStoredResourcesWithTheirTypes)
{
    auto browser = open();
    EXPECT_EQ(browser->title(), "127.0.0.1");
    EXPECT_TRUE(browser->downloadableItemsButton()->isEnabled());
    EXPECT_EQ(listedItems(*browser), std::vector<std::string> {}) << "nothing was stored before the first visit";

    ASSERT_TRUE(driver.tapBarButton(*browser, "Home"));
    driver.drain();
    std::vector<std::string> expected { "page.html | text/html", "logo.png | image/png", "app.js | text/javascript" };
    EXPECT_EQ(listedItems(*browser), expected);
    typeAddress(*browser, host + "/page.html");
    EXPECT_EQ(listedItems(*browser), expected) << "each load starts a new list";
}

TEST_F(DownloadBrowserTest, VideoLinksOfferADownloadAndLoadAnyway)
{
    auto browser = open();
    auto web = browser->webView();
    // A click on the first link, where it is drawn below the bar.
    driver.tapAt({ 20, 64 + 8 + 9 });
    // The page's renderer answers where the click leads.
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return driver.alert() != nullptr; }));
    auto alert = driver.alert();
    EXPECT_EQ(alert->title(), "Download video");
    EXPECT_EQ(alert->message(), "Do you want to download \"clip.mp4?x=1\"");
    EXPECT_EQ(alert->actions().size(), 2u);
    EXPECT_EQ(alert->actions()[0]->style(), UIAlertActionStyle::Cancel);
    // The link loads behind the alert; it may have finished by now.
    ASSERT_TRUE(web->request());
    EXPECT_EQ(web->request()->URL.lastPathComponent(), "clip.mp4");
    EXPECT_TRUE(driver.chooseAlertAction("Download"));
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return !web->isLoading() && web->response(); }));
    EXPECT_EQ(web->response()->MIMEType, "video/mp4");

    browser->backToGoogle();
    driver.drain();
    ASSERT_TRUE(driver.tapLink(*web, "Loud clip"));
    EXPECT_FALSE(driver.alert()) << "the extension is compared case-sensitively";
}

TEST_F(DownloadBrowserTest, ALinkWithinThePageScrollsWithoutARequest)
{
    VeskDownloadWebController::setStartPage("http://" + host + "/long.html");
    auto browser = open();
    auto web = browser->webView();
    auto red = [&] {
        auto image = driver.render(1);
        auto p = image->pixelAt(100, 300);
        return p.red > 240 && p.green < 20 && p.blue < 20;
    };
    EXPECT_FALSE(red());
    driver.tapAt({ 20, 64 + 50 });
    driver.drain();
    EXPECT_TRUE(red()) << "scrolled to the target";
    EXPECT_FALSE(web->isLoading());
    EXPECT_EQ(web->request()->URL.path(), "/long.html");
    EXPECT_EQ(longHits, 1) << "no new request";
}

// The items list covers the browser on a phone; closed again, the page's links still lead on,
// and a page whose load the list cut short is loaded again.
TEST_F(DownloadBrowserTest, LinksWorkAfterTheItemsListCloses)
{
    VeskDownloadWebController::setStartPage("http://" + host + "/links.html");
    auto browser = open();
    auto web = browser->webView();
    auto red = [&] {
        auto p = driver.render(1)->pixelAt(100, 300);
        return p.red > 240 && p.green < 20 && p.blue < 20;
    };
    auto shows = [&](const std::string& path) {
        return RunLoop::main().runUntil([&] { return !web->isLoading() && web->response() && web->response()->URL.path() == path; });
    };
    EXPECT_EQ(listedItems(*browser), std::vector<std::string> {});
    driver.tapAt({ 20, 64 + 50 });
    ASSERT_TRUE(shows("/next.html")) << "the link leads on";
    EXPECT_EQ(nextHits, 1);
    EXPECT_TRUE(red());

    held = true;
    driver.tapAt({ 20, 64 + 50 });
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return web->isLoading(); }));
    ASSERT_TRUE(driver.tapBarButton(*browser, "Items"));
    EXPECT_FALSE(web->isLoading()) << "covered, the browser stops its load";
    driver.tapBarButton(*driver.visible<VeskDownloadTableViewController>()->navigationItem().leftBarButtonItem());
    EXPECT_EQ(driver.visible<VeskDownloadWebController>(), browser);
    held = false;
    ASSERT_TRUE(shows("/links.html")) << "shown again, the page loads again";
    driver.drain();
    EXPECT_FALSE(red());
    driver.tapAt({ 20, 64 + 50 });
    ASSERT_TRUE(shows("/next.html"));
    EXPECT_EQ(nextHits, 2);
    EXPECT_TRUE(red());
}

TEST_F(DownloadBrowserTest, OnlyWebAddressesLoadAndAFailureTitlesTheScreen)
{
    auto browser = open();
    auto closed = "http://127.0.0.1:" + std::to_string(test::freeLoopbackPort()) + "/";
    NSError failure;
    NSURLConnection::sendSynchronousRequest(NSURLRequest(*NSURL::URLWithString(closed)), nullptr, &failure);
    typeAddress(*browser, closed);
    EXPECT_EQ(browser->title(), failure.localizedDescription);

    for (auto refused : { "file:///etc/passwd", "javascript:alert(1)", "mailto:a@b.c", "http:nohost" }) {
        typeAddress(*browser, "  " + host + "/page.html");
        EXPECT_EQ(browser->title(), "127.0.0.1") << "a host without a scheme is taken as http";
        typeAddress(*browser, refused);
        EXPECT_EQ(browser->title(), "unsupported URL") << refused;
        EXPECT_EQ(browser->webView()->request()->URL.scheme(), "http") << refused;
    }
}

// A page whose renderer ends (here: breaks its protocol) before it drew anything is that page's
// failed load; the next page shows.
TEST_F(DownloadBrowserTest, APageWhoseRendererEndsBeforeDrawingFailsItsLoad)
{
    auto browser = open();
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    ::setenv("VESK_HOSTILE_RENDERER", "endless-header", 1);
    typeAddress(*browser, "http://" + host + "/page.html");
    ::unsetenv("VESK_HOSTILE_RENDERER");
    ::unsetenv("VESK_RENDERER");
    EXPECT_EQ(browser->title(), NSError::posix(ECANCELED).localizedDescription);
    typeAddress(*browser, "http://" + host + "/page.html");
    EXPECT_EQ(browser->title(), "127.0.0.1");
    EXPECT_TRUE(browser->webView()->showsRenderedPage());
}

TEST_F(DownloadBrowserTest, AClosedBrowserIsFreedAndHearsNothing)
{
    std::weak_ptr<VeskDownloadWebController> weak = open();
    ASSERT_TRUE(driver.tapBarButton(*weak.lock(), "Home"));
    // The reports of this load reach the main queue after the browser has gone.
    driver.tapBarButton(*weak.lock()->navigationItem().leftBarButtonItem());
    EXPECT_TRUE(weak.expired()) << "neither the cache nor the web view keeps it";
    driver.drain();
}

}
