#include "platform/uikit/UIWebView.h"
#include "WebTestSupport.h"
#include "http/HttpServer.h"
#include "platform/foundation/NSURLCache.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIGraphics.h"
#include "renderer/protocol/RendererProtocol.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

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

std::size_t residentBytes()
{
    std::size_t pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Local pages and the files beside them, made in a folder of the test's own.
class UIWebViewLocalTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(folder); }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::filesystem::path write(const std::filesystem::path& name, const std::string& content)
    {
        std::filesystem::create_directories((folder / name).parent_path());
        std::ofstream(folder / name, std::ios::binary) << content;
        return folder / name;
    }
    // A file of that size that takes no disk, and names for it that take none either.
    std::vector<std::string> links(const std::string& name, std::uintmax_t size, int count)
    {
        auto file = write(name, "");
        std::filesystem::resize_file(file, size);
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            names.push_back(std::to_string(i) + "-" + name);
            std::filesystem::create_hard_link(file, folder / names.back());
        }
        return names;
    }
    // Loads the page and waits for the load to end; the peak growth of the app's resident memory
    // while it ran, if asked.
    std::shared_ptr<UIWebView> open(const std::filesystem::path& page, std::size_t* grown = nullptr)
    {
        auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
        web->setDelegate(recorder);
        std::atomic<bool> done = false;
        std::atomic<std::size_t> peak = 0;
        auto before = residentBytes();
        std::thread sampler([&] {
            while (!done) {
                peak = std::max(peak.load(), residentBytes());
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(page.string())));
        EXPECT_TRUE(RunLoop::main().runUntil([&] { return recorder->calls.size() == 2; }, std::chrono::seconds(60)));
        done = true;
        sampler.join();
        if (grown)
            *grown = peak > before ? peak - before : 0;
        return web;
    }
    std::size_t loaded(const UIWebView& web)
    {
        return static_cast<std::size_t>(std::count_if(web.resources().begin(), web.resources().end(), [](auto& resource) { return resource.response.has_value(); }));
    }

    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("vesk-local-" + std::to_string(::getpid()));
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

// A PDF of one blank page whose content stream inflates to the mebibytes of zeros. Each
// mebibyte is deflated on its own after a full flush, so one piece repeated makes the stream.
std::string inflatingPDF(std::size_t mebibytes)
{
    std::vector<unsigned char> zeros(1 << 20), piece(64 << 10);
    z_stream stream {};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    auto deflated = [&] {
        stream.next_in = zeros.data();
        stream.avail_in = static_cast<uInt>(zeros.size());
        stream.next_out = piece.data();
        stream.avail_out = static_cast<uInt>(piece.size());
        deflate(&stream, Z_FULL_FLUSH);
        return std::string(piece.begin(), piece.end() - stream.avail_out);
    };
    std::string body = "\x78\xda" + deflated();
    auto again = deflated();
    deflateEnd(&stream);
    for (std::size_t step = 1; step < mebibytes; ++step)
        body += again;
    // An empty last block, then the Adler-32 of zeros: 1, and the count below it.
    std::uint32_t adler = static_cast<std::uint32_t>(((mebibytes << 20) % 65521) << 16 | 1);
    body += std::string("\x03\x00", 2);
    for (int shift = 24; shift >= 0; shift -= 8)
        body += static_cast<char>(adler >> shift);

    return test::pdfWithObjects({ "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>",
        "<< /Length " + std::to_string(body.size()) + " /Filter /FlateDecode >>\nstream\n" + body + "\nendstream" });
}

double processorSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

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

// A page of 256 pictures of 127 MB each: the app never holds them, and the page is shown
// without them.
TEST_F(UIWebViewLocalTest, PicturesPastTheirCapFailAndThePageIsShownWithoutThem)
{
    std::string markup = "<p>huge</p>";
    for (auto& name : links("huge.png", 127u << 20, 256))
        markup += "<img src='" + name + "'>";
    std::size_t grown = 0;
    auto web = open(write("huge.html", markup), &grown);
    EXPECT_EQ(recorder->calls, (std::vector<std::string> { "start", "finish" }));
    EXPECT_TRUE(web->showsRenderedPage());
    EXPECT_EQ(web->resources().size(), 256u);
    EXPECT_EQ(loaded(*web), 0u);
    EXPECT_LT(grown, 300u << 20);
}

// Pictures are taken until the page's total is spent; a style sheet past its cap fails.
TEST_F(UIWebViewLocalTest, APageTakesNoMoreThanItsTotalAndNoStyleSheetPastItsCap)
{
    constexpr std::size_t pictureSize = 20u << 20;
    static_assert(pictureSize <= UIWebView::maximumPictureBytes);
    auto small = write("small.css", "p { color: blue }");
    std::filesystem::resize_file(write("big.css", ""), UIWebView::maximumStyleSheetBytes + 1);
    std::string markup = "<link rel=stylesheet href=small.css><link rel=stylesheet href=big.css><p>pictures</p>";
    for (auto& name : links("big.png", pictureSize, 16))
        markup += "<img src='" + name + "'>";
    auto web = open(write("total.html", markup));
    EXPECT_EQ(recorder->calls, (std::vector<std::string> { "start", "finish" }));
    std::map<std::string, bool> sheets;
    for (auto& resource : web->resources()) {
        if (resource.URL.pathExtension() == "css")
            sheets[resource.URL.lastPathComponent()] = resource.response.has_value();
    }
    EXPECT_EQ(sheets, (std::map<std::string, bool> { { "big.css", false }, { "small.css", true } }));
    EXPECT_EQ(loaded(*web) - 1, (UIWebView::maximumPageBytes - std::filesystem::file_size(small)) / pictureSize);
}

// A local page reads regular files of its own folder (or of Documents when it lies there),
// links within it included, and nothing else: not the app's own /proc files, not a file
// beside its folder, not a FIFO, not a link leading out.
TEST_F(UIWebViewLocalTest, ALocalPageReadsOnlyRegularFilesInsideItsFolder)
{
    auto home = folder / "home";
    ::setenv("VESK_HOME", home.c_str(), 1);
    write("outside.png", "outside");
    write("site/inside.png", "inside");
    write("site/sub/deeper.png", "deeper");
    write("home/Documents/shared.png", "shared");
    ASSERT_EQ(::mkfifo((folder / "site/fifo.png").c_str(), 0600), 0);
    std::filesystem::create_symlink(folder / "outside.png", folder / "site/out.png");
    std::filesystem::create_symlink("inside.png", folder / "site/in.png");
    std::filesystem::create_directory_symlink(folder, folder / "site/up");
    struct Case {
        const char* page;
        std::string reference;
        bool readable;
    };
    std::vector<Case> cases {
        { "site/page.html", "inside.png", true },
        { "site/page.html", "sub/deeper.png", true },
        { "site/page.html", "in.png", true },
        { "site/page.html", "file:///proc/self/environ", false },
        { "site/page.html", "file:///proc/self/maps", false },
        { "site/page.html", "../outside.png", false },
        { "site/page.html", "fifo.png", false },
        { "site/page.html", "out.png", false },
        { "site/page.html", "up/outside.png", false },
        { "site/sub/page.html", "../inside.png", false },
        { "home/Documents/sub/page.html", "../shared.png", true },
        { "home/Documents/sub/page.html", "../../../outside.png", false },
    };
    for (auto& test : cases) {
        auto page = write(test.page, "<p>x</p><img src='" + test.reference + "'>");
        recorder->calls.clear();
        auto web = open(page);
        EXPECT_EQ(recorder->calls, (std::vector<std::string> { "start", "finish" })) << test.reference;
        ASSERT_EQ(web->resources().size(), 1u) << test.reference;
        auto& resource = web->resources().front();
        EXPECT_EQ(resource.response.has_value(), test.readable) << test.page << " " << test.reference;
        if (test.readable) {
            EXPECT_EQ(resource.length, std::filesystem::file_size(std::filesystem::canonical(page.parent_path() / test.reference))) << test.reference;
        }
    }
    ::unsetenv("VESK_HOME");
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
    // One page comes from the network, to count what giving it a renderer again fetches.
    std::atomic<int> scriptHits { 0 }, pictureHits { 0 };
    HttpServer server;
    server.registerHandler("^/page1.html$", [](const HttpRequest&) {
        std::string body = "<a href=next.html>page 1</a><script src=app.js></script><img src=logo.png>";
        return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", "text/html" } }, HttpBytes(body.begin(), body.end()));
    });
    server.registerHandler("^/app.js$", [&](const HttpRequest&) {
        ++scriptHits;
        return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", "text/javascript" } }, HttpBytes { 'x' });
    });
    server.registerHandler("^/logo.png$", [&](const HttpRequest&) {
        ++pictureHits;
        return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", "image/png" } }, HttpBytes { 'x' });
    });
    server.start(0, "127.0.0.1");
    for (int index = 0; index < 5; ++index) {
        auto path = folder / ("page" + std::to_string(index) + ".html");
        std::ofstream(path) << "<a href=next.html>page " << index << "</a>";
        auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 320, 480));
        web->setDelegate(recorder);
        if (index == 1)
            web->loadRequest(NSURLRequest(*NSURL::URLWithString("http://127.0.0.1:" + std::to_string(server.port()) + "/page1.html")));
        else
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
    // Its picture is fetched again for the new renderer, after anything else it references.
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return pictureHits == 2; }));
    EXPECT_EQ(scriptHits, 1) << "what the page references was counted once";

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
    server.stop();
    std::filesystem::remove_all(folder);
}

// Poppler takes about ten seconds of processor time for this page. The app only hands it over
// and keeps drawing; the renderer is ended by its time limit, or draws a blank page.
TEST(UIWebViewTest, APDFInflatingToTwoGigabytesLoadsInTheRendererWithTheAppIdle)
{
    auto path = std::filesystem::temp_directory_path() / ("vesk-inflating-" + std::to_string(::getpid()) + ".pdf");
    std::ofstream(path, std::ios::binary) << inflatingPDF(2048);
    auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    auto recorder = std::make_shared<Recorder>();
    web->setDelegate(recorder);
    auto processor = processorSeconds();
    auto started = std::chrono::steady_clock::now();
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(path.string())));
    int pid = 0;
    std::chrono::duration<double> longestTurn {};
    // Turned and drawn as the window does, so that a view that parsed the page would stall here.
    while (recorder->calls.size() < 2 && std::chrono::steady_clock::now() - started < std::chrono::seconds(renderer::workSeconds * 6)) {
        auto turn = std::chrono::steady_clock::now();
        RunLoop::main().runUntil([&] { return recorder->calls.size() == 2; }, std::chrono::milliseconds(50));
        UIGraphicsBeginImageContextWithOptions(web->bounds().size, true, 1);
        web->drawRect(web->bounds());
        UIGraphicsEndImageContext();
        longestTurn = std::max<std::chrono::duration<double>>(longestTurn, std::chrono::steady_clock::now() - turn);
        if (!pid)
            pid = web->rendererProcessID();
    }
    processor = processorSeconds() - processor;
    ASSERT_EQ(recorder->calls.size(), 2u) << "the load ends";
    EXPECT_GT(pid, 0) << "in a renderer";
    EXPECT_LT(processor, 3) << "the app's own processor time";
    EXPECT_LT(longestTurn.count(), 2) << "the app keeps turning";
    if (recorder->calls[1] == "fail")
        EXPECT_FALSE(web->showsRenderedPage());
    else
        EXPECT_TRUE(web->renderedPixels());
    web.reset();
    std::filesystem::remove(path);
}
