#include "platform/uikit/UIWebView.h"
#include "WebTestSupport.h"
#include "http/HttpServer.h"
#include "platform/foundation/NSURLCache.h"
#include "platform/foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <signal.h>
#include <unistd.h>

using namespace vesk;
using namespace vesk::platform;

namespace {

using Recorder = test::LoadRecorder;

// Counts what the loader asks of the shared cache and what it hands to it.
class CountingCache : public NSURLCache {
public:
    std::optional<NSCachedURLResponse> cachedResponseForRequest(const NSURLRequest&) override
    {
        std::lock_guard lock(mutex);
        ++asked;
        return std::nullopt;
    }
    void storeCachedResponse(const NSCachedURLResponse& cached, const NSURLRequest&) override
    {
        std::lock_guard lock(mutex);
        stored.push_back(cached.response.URL.path());
    }
    std::mutex mutex;
    int asked = 0;
    std::vector<std::string> stored;
};

}

TEST(UIWebViewTest, APageAndEachResourceItReferencesAreLoadedOnceInDelegateOrder)
{
    std::mutex mutex;
    std::map<std::string, int> hits;
    HttpServer server;
    auto serve = [&](std::string type, std::string body) {
        return [&, type, body](const HttpRequest& request) {
            std::lock_guard lock(mutex);
            ++hits[request.url];
            return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", type } }, HttpBytes(body.begin(), body.end()));
        };
    };
    server.registerHandler("^/page.html$", serve("text/html; charset=utf-8", "<html><head><link rel=stylesheet href=style.css><link rel=canonical href=/other>"
                                                                             "<script src='/app.js'></script></head><body><img src=logo.png><img src='logo.png#again'>"
                                                                             "<img src='file:///etc/passwd'></body></html>"));
    server.registerHandler("^/style.css$", serve("text/css", "p{}"));
    server.registerHandler("^/app.js$", serve("text/javascript", "never run"));
    server.registerHandler("^/logo.png$", serve("image/png", "png"));
    server.start(0, "127.0.0.1");
    auto cache = std::make_shared<CountingCache>();
    NSURLCache::setSharedURLCache(cache);

    auto web = std::make_shared<UIWebView>();
    auto recorder = std::make_shared<Recorder>();
    web->setDelegate(recorder);
    auto page = "http://127.0.0.1:" + std::to_string(server.port()) + "/page.html";
    web->loadRequest(NSURLRequest(*NSURL::URLWithString(page)));
    EXPECT_TRUE(web->isLoading());
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return recorder->calls.size() == 2; }));
    server.stop();
    NSURLCache::setSharedURLCache(nullptr);

    EXPECT_EQ(recorder->calls, (std::vector<std::string> { "start", "finish" }));
    EXPECT_FALSE(web->isLoading());
    EXPECT_EQ(hits, (std::map<std::string, int> { { "/page.html", 1 }, { "/style.css", 1 }, { "/app.js", 1 }, { "/logo.png", 1 } }))
        << "a page from the network never reaches into the disk";
    ASSERT_EQ(web->resources().size(), 3u);
    EXPECT_EQ(web->resources()[2].response->MIMEType, "image/png");
    EXPECT_EQ(cache->asked, 4);
    EXPECT_EQ(cache->stored, (std::vector<std::string> { "/page.html", "/style.css", "/app.js", "/logo.png" }));
}

// Pages nested far deeper than a parser may recurse, or with an element every few bytes.
TEST(UIWebViewTest, HostilePagesLoadAndKeepTheirTextAndLinks)
{
    auto repeat = [](std::string_view part, int times) {
        std::string page;
        for (int i = 0; i < times; ++i)
            page += part;
        return page;
    };
    struct Case {
        const char* name;
        std::string page;
    };
    std::vector<Case> cases {
        { "quotes", repeat("<q>", 300000) },
        { "spans", repeat("<span>", 300000) },
        { "cells", repeat("<table><tr><td>", 70000) },
        { "blocks", repeat("<div>", 100000) + "x" + repeat("</div>", 100000) },
        { "reopened", repeat("<div><b id=x></div>x", 50000) },
        { "adopted", repeat("<a><div></a>", 50000) },
        { "links", repeat("<a href=x.html>x</a>", 100000) },
    };
    auto folder = std::filesystem::temp_directory_path() / ("vesk-hostile-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    for (auto& test : cases) {
        auto path = folder / (std::string(test.name) + ".html");
        std::ofstream(path) << "<a href=end.html>end</a>" << test.page;
        auto web = std::make_shared<UIWebView>();
        auto recorder = std::make_shared<Recorder>();
        web->setDelegate(recorder);
        web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(path.string())));
        EXPECT_TRUE(RunLoop::main().runUntil([&] { return recorder->calls.size() == 2; }, std::chrono::seconds(120))) << test.name;
        EXPECT_EQ(recorder->calls, (std::vector<std::string> { "start", "finish" })) << test.name;
        ASSERT_FALSE(web->links().empty()) << test.name;
        EXPECT_EQ(web->links().front().URL.lastPathComponent(), "end.html") << test.name;
    }
    std::filesystem::remove_all(folder);
}

TEST(UIWebViewTest, AWordDocumentLibwvCannotReadFailsTheLoad)
{
    auto path = std::filesystem::temp_directory_path() / ("vesk-not-word-" + std::to_string(::getpid()) + ".doc");
    std::ofstream(path) << "plain text, no Word document";
    auto web = std::make_shared<UIWebView>();
    auto recorder = std::make_shared<Recorder>();
    web->setDelegate(recorder);
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(path.string())));
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return recorder->calls.size() == 2; }));
    EXPECT_EQ(recorder->calls, (std::vector<std::string> { "start", "fail" }));
    EXPECT_FALSE(web->showsRenderedPage());
    std::filesystem::remove(path);
}

TEST(UIWebViewTest, APageIsReadInTheCharsetItsResponseNames)
{
    HttpServer server;
    auto serve = [](std::string type, std::string body) {
        return [type, body](const HttpRequest&) { return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", type } }, HttpBytes(body.begin(), body.end())); };
    };
    // The response's charset comes before the page's own.
    server.registerHandler("^/latin.html$", serve("text/html; charset=ISO-8859-1", "<meta charset=utf-8><a href=x.html>Caf\xe9 cr\xe8me</a>"));
    server.registerHandler("^/meta.html$", serve("text/html", "<meta charset=koi8-r><a href=x.html>\xf0\xd2\xc9\xd7\xc5\xd4</a>"));
    server.start(0, "127.0.0.1");
    for (auto [path, text] : { std::pair { "/latin.html", "Caf\u00e9 cr\u00e8me" }, std::pair { "/meta.html", "\u041f\u0440\u0438\u0432\u0435\u0442" } }) {
        auto web = std::make_shared<UIWebView>();
        auto recorder = std::make_shared<Recorder>();
        web->setDelegate(recorder);
        web->loadRequest(NSURLRequest(*NSURL::URLWithString("http://127.0.0.1:" + std::to_string(server.port()) + path)));
        EXPECT_TRUE(RunLoop::main().runUntil([&] { return recorder->calls.size() == 2; }));
        ASSERT_EQ(web->links().size(), 1u) << path;
        EXPECT_EQ(web->links().front().text, text) << path;
    }
    server.stop();
}

// Renderers are few: a covered view gives its renderer up for a new one and gets one again
// when shown; views on screen keep theirs, however many there are.
TEST(UIWebViewTest, ACoveredViewGivesUpItsRendererAndGetsOneWhenShownAgain)
{
    auto folder = std::filesystem::temp_directory_path() / ("vesk-renderers-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    auto gone = [](int pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; };
    std::vector<std::shared_ptr<UIWebView>> views;
    std::vector<int> pids;
    auto recorder = std::make_shared<Recorder>();
    for (int index = 0; index < 5; ++index) {
        auto path = folder / ("page" + std::to_string(index) + ".html");
        std::ofstream(path) << "<a href=next.html>page " << index << "</a>";
        auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 320, 480));
        web->setDelegate(recorder);
        web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(path.string())));
        ASSERT_TRUE(RunLoop::main().runUntil([&] { return !web->isLoading(); }));
        ASSERT_TRUE(web->showsRenderedPage());
        views.push_back(web);
        pids.push_back(web->rendererProcessID());
    }
    for (auto pid : pids)
        EXPECT_GT(pid, 0) << "five views on screen keep five renderers";

    views[1]->setOnScreen(false);
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return views[1]->rendererProcessID() == 0 && gone(pids[1]); }));
    EXPECT_TRUE(views[1]->renderedPixels()) << "what it drew stays";
    for (int index : { 0, 2, 3, 4 })
        EXPECT_EQ(views[index]->rendererProcessID(), pids[index]) << index;

    // Shown again, with nothing covered to end: one more than the bound runs.
    auto revision = views[1]->pageRevision();
    views[1]->setOnScreen(true);
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return views[1]->rendererProcessID() > 0 && views[1]->pageRevision() > revision; }));
    EXPECT_NE(views[1]->rendererProcessID(), pids[1]);
    for (int index : { 0, 2, 3, 4 })
        EXPECT_EQ(views[index]->rendererProcessID(), pids[index]) << index;
    ASSERT_EQ(views[1]->links().size(), 1u);
    EXPECT_EQ(views[1]->links().front().text, "page 1");
    EXPECT_EQ(recorder->calls.size(), 10u) << "a renderer given back is no new load";

    // A covered view that is loading keeps its renderer; it gives it up once done.
    views[3]->loadRequest(NSURLRequest(NSURL::fileURLWithPath((folder / "page2.html").string())));
    views[3]->setOnScreen(false);
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return !views[3]->isLoading(); }));
    EXPECT_EQ(recorder->calls.back(), "finish");
    EXPECT_EQ(views[3]->links().front().text, "page 2");
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return views[3]->rendererProcessID() == 0; }));
    for (int index : { 0, 1, 2, 4 })
        EXPECT_GT(views[index]->rendererProcessID(), 0) << index;
    views.clear();
    RunLoop::main().drain();
    std::filesystem::remove_all(folder);
}
