#include "platform/uikit/RendererProcess.h"
#include "WebTestSupport.h"
#include "http/HeapFigure.h"
#include "http/HttpServer.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/system/NetworkInterfaces.h"
#include "platform/uikit/UIWebView.h"
#include "renderer/protocol/RendererProtocol.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

using namespace vesk;
using namespace vesk::platform;
using namespace std::chrono_literals;

namespace {

using Recorder = test::LoadRecorder;

using test::repeat;

// Whether the process is gone, reaped and all (a zombie keeps its /proc entry), within a bound.
bool gone(int pid, std::chrono::milliseconds bound = 3s)
{
    auto limit = std::chrono::steady_clock::now() + bound;
    while (std::filesystem::exists("/proc/" + std::to_string(pid))) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        RunLoop::main().runUntilIdle();
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class RendererProcessTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(folder); }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::filesystem::path write(const std::string& name, const std::string& content)
    {
        std::ofstream(folder / name, std::ios::binary) << content;
        return folder / name;
    }

    struct Opened {
        std::shared_ptr<UIWebView> web;
        std::shared_ptr<Recorder> recorder;
        int pid = 0;
    };
    // Loads the URL and waits for the load to end, noting the renderer it ran in.
    Opened open(const NSURL& url, std::chrono::milliseconds bound = std::chrono::seconds(renderer::workSeconds * 6))
    {
        Opened opened { std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603)), std::make_shared<Recorder>(), 0 };
        opened.web->setDelegate(opened.recorder);
        opened.web->loadRequest(NSURLRequest(url));
        RunLoop::main().runUntil(
            [&] {
                if (!opened.pid)
                    opened.pid = opened.web->rendererProcessID();
                return opened.recorder->calls.size() == 2;
            },
            bound);
        return opened;
    }

    // The view drawn at a pixel per point.
    static std::shared_ptr<UIImage> shoot(UIWebView& web)
    {
        UIGraphicsBeginImageContextWithOptions(web.bounds().size, true, 1);
        web.drawRect(web.bounds());
        auto image = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
        return image;
    }

    static bool red(UIPixel pixel) { return pixel.red > 200 && pixel.green < 60 && pixel.blue < 60; }

    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("vesk-renderer-" + std::to_string(::getpid()));
};

}

// Pages and documents that crash, hang or exhaust a page engine: each ends in a drawn page or a
// failed load within its time, the app goes on, and its renderer is gone afterwards.
TEST_F(RendererProcessTest, HostileDocumentsEndInADrawnPageOrAFailedLoadAndLeaveNoProcess)
{
    write("a.css", "@import url(b.css); p { color: red }");
    write("b.css", "@import url(a.css); p { color: blue }");
    std::string flipped = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + std::string(504, '\0');
    std::mt19937 random(7);
    for (int i = 0; i < 8192; ++i)
        flipped += static_cast<char>(random());
    // A real Word 97 document with bytes flipped here and there, as a damaged copy has them.
    std::ifstream letterFile(std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/letter.doc", std::ios::binary);
    std::string letter((std::istreambuf_iterator<char>(letterFile)), {});
    ASSERT_FALSE(letter.empty());
    std::string fonts;
    for (int i = 0; i < 200000; ++i)
        fonts += "font" + std::to_string(i) + ",";
    std::string rules = "<style>", nth = "<style>";
    for (int i = 0; i < 20000; ++i)
        rules += ".c" + std::to_string(i) + " div span a { color: red }";
    for (int i = 0; i < 2000; ++i)
        nth += "p:nth-child(" + std::to_string(i) + "n+1) { color: blue }";
    struct Case {
        const char* name;
        std::string file;
        std::string content;
    };
    std::vector<Case> cases {
        { "a plain page", "plain.html", "<p>plain</p>" },
        { "style sheets importing each other", "imports.html", "<link rel=stylesheet href=a.css><p>x</p>" },
        { "div x31 selector against 30 nested divs", "selector.html", "<style>" + repeat("div ", 31) + "b { color: red }</style>" + repeat("<div>", 30) + "<b>x</b>" },
        { "cell spans of 2147483647", "spans.html", "<table><tr><td colspan=2147483647 rowspan=2147483647>x</td></tr></table>" },
        { "a corrupt Word document", "corrupt.doc", flipped },
        { "200,000 font names", "fonts.html", "<p style=\"font-family: " + fonts + "serif\">x</p>" },
        { "an SVG blur of 8000x8000", "blur.svg",
            "<svg xmlns='http://www.w3.org/2000/svg' width='8000' height='8000'><filter id='f'><feGaussianBlur stdDeviation='300'/></filter>"
            "<rect width='8000' height='8000' fill='red' filter='url(#f)'/></svg>" },
        { "100,000 nested @media", "media.html", "<style>" + repeat("@media screen {", 100000) + "p { color: red }" + repeat("}", 100000) + "</style><p>x</p>" },
        { "25,000 floats", "floats.html", repeat("<div style='float:left;width:3px'>x</div>", 25000) },
        { "one selector of 20,000 parts", "parts.html", "<style>" + repeat("div ", 20000) + "{ color: red }</style><div>x</div>" },
        { "20,000 rules of .cN div span a", "rules.html", rules + "</style>" + repeat("<div class=c1><div><span><a>x</a></span></div></div>", 2000) },
        { "2,000 :nth-child rules", "nth.html", nth + "</style>" + repeat("<p>x</p>", 5000) },
        { "nested display:table", "tables.html", repeat("<div style='display:table'><div style='display:table-cell'>", 100) + "x" },
    };
    for (int copy = 0; copy < 12; ++copy) {
        auto bytes = letter;
        for (int flip = 0; flip < 8; ++flip)
            bytes[random() % bytes.size()] ^= static_cast<char>(1 << (random() % 8));
        cases.push_back({ "a damaged Word document", "damaged" + std::to_string(copy) + ".doc", bytes });
    }
    for (auto& test : cases) {
        auto started = std::chrono::steady_clock::now();
        auto opened = open(NSURL::fileURLWithPath(write(test.file, test.content).string()));
        auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ASSERT_EQ(opened.recorder->calls.size(), 2u) << test.name << ": the load ends";
        EXPECT_LT(seconds, renderer::workSeconds * 3 + 15) << test.name;
        if (opened.recorder->calls[1] == "finish") {
            EXPECT_TRUE(opened.web->showsRenderedPage()) << test.name;
            EXPECT_TRUE(opened.web->renderedPixels()) << test.name << ": finished with its pixels";
        } else {
            EXPECT_FALSE(opened.web->showsRenderedPage()) << test.name;
        }
        if (test.file == std::string("plain.html")) {
            EXPECT_EQ(opened.recorder->calls[1], "finish");
        }
        ASSERT_GT(opened.pid, 0) << test.name << ": it ran in a renderer";
        opened.web.reset();
        EXPECT_TRUE(gone(opened.pid)) << test.name << ": its renderer ends with its view";
    }
}

// Inline SVGs that would take a renderer's memory or time, or reach outside their page: each
// page is drawn within its time, and nothing outside it is asked for.
TEST_F(RendererProcessTest, HostileInlineSVGsAreDrawnWithinTheRenderersBoundsAndReachNothing)
{
    std::atomic<int> served { 0 };
    HttpServer server;
    server.registerHandler("^/", [&](const HttpRequest&) {
        ++served;
        return HttpResponse::RAW(404, "Not Found", HttpHeaders {}, HttpBytes {});
    });
    server.start(0, "127.0.0.1");
    auto http = "http://127.0.0.1:" + std::to_string(server.port());
    // One drawn beside each: the page's other SVGs are drawn all the same.
    const std::string plain = "<svg width=100 height=100><rect width=100 height=100 fill=red /></svg>";
    std::string uses = "<svg width=100 height=100><defs><g id=a0><rect width=1 height=1 fill=blue /></g>";
    for (int i = 1; i <= 10; ++i)
        uses += "<g id=a" + std::to_string(i) + ">" + repeat("<use href=#a" + std::to_string(i - 1) + " />", 10) + "</g>";
    uses += "</defs><use href=#a10 /></svg>" + plain;
    const std::string blur = "<filter id=f><feGaussianBlur stdDeviation=2 /></filter><rect width=6 height=6 fill=blue filter=url(#f) /><rect width=3 height=3 fill=red />";
    const std::string named = "<svg width=100 height=100><style>@import url(" + http + "/a.css); rect { fill: url(" + http + "/p.svg#p) }</style>"
        + "<image href='file:///etc/passwd' width=9 height=9 /><image href='" + http + "/x.png' width=9 height=9 /><use href='" + http + "/u.svg#a' />"
        + "<image href='page.html' width=9 height=9 /><rect width=100 height=100 style='fill: red' /></svg>";
    struct Case {
        const char* name;
        std::string page;
    };
    const Case cases[] = {
        { "a billion pixels with a blur",
            plain + "<svg width=1000000000 height=1000000000><filter id=f><feGaussianBlur stdDeviation=300 /></filter><rect width=1000000000 height=1000000000 fill=blue filter=url(#f) /></svg>" },
        { "1,500 with blurs", repeat("<svg width=6 height=6>" + blur + "</svg>", 1500) },
        { "1,000 of a million pixels on top of each other",
            repeat("<svg width=1000 height=1000 style='position: absolute; top: 0; left: 0'><rect width=1000 height=1000 fill=red /></svg>", 1000) },
        { "nested 20,000 deep", repeat(plain + "<svg><g>", 20000) },
        { "ten billion uses beside a plain one", uses },
        { "files, the network and style sheets named", named },
    };
    for (auto& test : cases) {
        auto started = std::chrono::steady_clock::now();
        auto opened = open(NSURL::fileURLWithPath(write("page.html", test.page).string()));
        auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" })) << test.name;
        EXPECT_LT(seconds, renderer::workSeconds * 3 + 15) << test.name;
        ASSERT_TRUE(opened.web->renderedPixels()) << test.name;
        auto image = shoot(*opened.web);
        EXPECT_GT(test::countPixels(*image, CGRectMake(0, 0, 375, 603), red), 30) << test.name << ": drawn";
        EXPECT_TRUE(opened.web->resources().empty()) << test.name;
        opened.web.reset();
        EXPECT_TRUE(gone(opened.pid)) << test.name << ": its renderer ends with its view";
    }
    EXPECT_EQ(served.load(), 0);
    server.stop();
}

TEST_F(RendererProcessTest, AnEndedRendererKeepsWhatItDrewAndOneEndedBeforeDrawingFailsTheLoad)
{
    auto page = write("red.html", "<body style='margin:0'><div style='width:100px;height:100px;background:#ff0000'></div>" + repeat("<p>line</p>", 200) + "</body>");
    auto opened = open(NSURL::fileURLWithPath(page.string()));
    ASSERT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" }));
    shoot(*opened.web);
    RunLoop::main().runUntil([&] { return opened.web->renderedPixels() && opened.web->renderedPixels()->scale == 1; });
    EXPECT_TRUE(red(shoot(*opened.web)->pixelAt(50, 50))) << "drawn";
    ASSERT_GT(opened.pid, 0);
    ::kill(opened.pid, SIGKILL);
    EXPECT_TRUE(gone(opened.pid)) << "reaped";
    RunLoop::main().drain();
    EXPECT_TRUE(opened.web->showsRenderedPage());
    EXPECT_TRUE(red(shoot(*opened.web)->pixelAt(50, 50))) << "what was drawn stays";
    opened.web->requestPixels(375, 603, 1, 500);
    EXPECT_TRUE(red(shoot(*opened.web)->pixelAt(50, 50))) << "and nothing new comes";

    // The renderer waits for a style sheet the server holds back, and is ended then.
    std::atomic<bool> asked = false, release = false;
    HttpServer server;
    server.registerHandler("^/page.html$", [](const HttpRequest&) {
        std::string body = "<link rel=stylesheet href=style.css><p>page</p>";
        return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", "text/html" } }, HttpBytes(body.begin(), body.end()));
    });
    server.registerHandler("^/style.css$", [&](const HttpRequest&) {
        asked = true;
        while (!release)
            std::this_thread::sleep_for(5ms);
        std::string body = "p { color: red }";
        return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", "text/css" } }, HttpBytes(body.begin(), body.end()));
    });
    server.start(0, "127.0.0.1");
    auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    auto recorder = std::make_shared<Recorder>();
    web->setDelegate(recorder);
    web->loadRequest(NSURLRequest(*NSURL::URLWithString("http://127.0.0.1:" + std::to_string(server.port()) + "/page.html")));
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return asked && web->rendererProcessID() > 0; }));
    int pid = web->rendererProcessID();
    ::kill(pid, SIGKILL);
    release = true;
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return recorder->calls.size() == 2; }));
    server.stop();
    EXPECT_EQ(recorder->calls, (std::vector<std::string> { "start", "fail" }));
    EXPECT_FALSE(web->showsRenderedPage());
    EXPECT_TRUE(gone(pid));
}

// A document past the inline cap goes to the renderer in sealed shared memory, whole: the
// first page's objects lie behind 40 MiB of picture data, and draw.
TEST_F(RendererProcessTest, ADocumentTooBigToGoInlineComesSealedInSharedMemoryAndDraws)
{
    std::size_t pictureBytes = 40u << 20;
    std::string content = "1 0 0 rg 0 0 100 100 re f";
    auto pdf = test::pdfWithObjects({ "<< /Type /Catalog /Pages 3 0 R >>",
        "<< /Type /XObject /Subtype /Image /Width 4096 /Height " + std::to_string(pictureBytes / 4096 / 4)
            + " /ColorSpace /DeviceCMYK /BitsPerComponent 8 /Length " + std::to_string(pictureBytes) + " >>\nstream\n" + std::string(pictureBytes, '\x40') + "\nendstream",
        "<< /Type /Pages /Kids [4 0 R 4 0 R] /Count 2 >>",
        "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 200 100] /Resources << /XObject << /Big 2 0 R >> >> /Contents 5 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream" });
    ASSERT_GT(pdf.size(), renderer::maximumResourceBody);
    auto big = write("big.pdf", pdf);
    auto small = write("small.pdf", test::pdfWithObjects({ "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>" }));

    // What the renderer is handed, as one that looks at it sees it; then the renderer named
    // before, if any, draws it.
    auto* named = std::getenv("VESK_RENDERER");
    std::string before = named ? named : "";
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    ::setenv("VESK_HOSTILE_RENDERER", "document", 1);
    auto size = std::to_string(pdf.size());
    for (auto& [path, handed] : std::vector<std::pair<std::filesystem::path, std::string>> { { big, size + " sealed " + size }, { small, "0 none" } }) {
        auto opened = open(NSURL::fileURLWithPath(path.string()), 20s);
        EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" })) << path;
        EXPECT_EQ(opened.web->title(), handed) << path;
    }
    ::unsetenv("VESK_HOSTILE_RENDERER");
    if (named)
        ::setenv("VESK_RENDERER", before.c_str(), 1);
    else
        ::unsetenv("VESK_RENDERER");

    auto opened = open(NSURL::fileURLWithPath(big.string()));
    ASSERT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" }));
    shoot(*opened.web);
    RunLoop::main().runUntil([&] { return opened.web->renderedPixels() && opened.web->renderedPixels()->scale == 1; });
    // Pages 359 points wide, 8 from the edges: the left half of the first one red, its right white.
    auto image = shoot(*opened.web);
    EXPECT_EQ(test::countPixels(*image, CGRectMake(12, 12, 170, 170), red), 170 * 170);
    EXPECT_EQ(test::countPixels(*image, CGRectMake(192, 12, 170, 170), [](UIPixel pixel) { return pixel.red > 250 && pixel.green > 250 && pixel.blue > 250; }), 170 * 170);
}

// The app takes its renderer for a stranger: one that breaks the protocol or floods the app
// with messages is ended and what it sent is never shown; one that stops halfway through a
// message stalls nothing.
TEST_F(RendererProcessTest, ARendererThatBreaksTheProtocolIsEndedAndFailsItsLoad)
{
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    auto page = write("page.html", "<p>x</p>");
    for (auto* mode : { "unsealed-frame", "frame-too-small", "frame-too-big", "growable-frame", "frame-without-memory", "own-memory", "endless-header", "unknown-message",
             "many-descriptors", "memory-hog", "flood" }) {
        ::setenv("VESK_HOSTILE_RENDERER", mode, 1);
        auto opened = open(NSURL::fileURLWithPath(page.string()), 20s);
        EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "fail" })) << mode;
        EXPECT_FALSE(opened.web->renderedPixels()) << mode;
        if (opened.pid) {
            EXPECT_TRUE(gone(opened.pid)) << mode;
        }
    }
    ::setenv("VESK_HOSTILE_RENDERER", "half-a-message", 1);
    auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(page.string())));
    int pid = 0;
    RunLoop::main().runUntil([&] { return (pid = web->rendererProcessID()) > 0; });
    RunLoop::main().runUntil([] { return false; }, 300ms);
    EXPECT_TRUE(web->isLoading()) << "still waiting for its pixels";
    web.reset();
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(gone(pid)) << "ended with its view";
    ::unsetenv("VESK_HOSTILE_RENDERER");
    ::unsetenv("VESK_RENDERER");
}

// Once the whole page's facts are in, a renderer only draws and answers clicks: one that says
// anything else nobody would read (failures by the thousand, half of a message of 32 MB) is
// ended at once, its page left shown, and none of it is held. What the app queued for a renderer
// that stopped reading goes as it ends, while its view stays.
TEST_F(RendererProcessTest, WhatNobodyWouldReadOrSendEndsWithTheRenderer)
{
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    auto page = write("page.html", "<p>x</p>");
    ::setenv("VESK_HOSTILE_RENDERER", "after-facts", 1);
    for (auto* said : { "failures", "half" }) {
        ::setenv("VESK_HOSTILE_RENDERER_ASK", said, 1);
        auto before = test::heapInUse();
        auto opened = open(NSURL::fileURLWithPath(page.string()), 20s);
        EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" })) << said;
        EXPECT_TRUE(opened.pid && gone(opened.pid, 10s)) << said;
        RunLoop::main().drain();
        EXPECT_TRUE(opened.web->renderedPixels()) << said << ": its page stays";
        EXPECT_LT(double(test::heapInUse()) - double(before), 16e6) << said << ": none of it held";
    }

    // Three pictures of 20 MB each wait for a renderer that reads nothing after its first frame.
    ::setenv("VESK_HOSTILE_RENDERER", "deaf", 1);
    std::string pictures;
    for (int index = 0; index < 3; ++index) {
        auto picture = write("picture" + std::to_string(index) + ".png", "");
        std::filesystem::resize_file(picture, 20u << 20);
        pictures += NSURL::fileURLWithPath(picture.string()).absoluteString() + " ";
    }
    ::setenv("VESK_HOSTILE_RENDERER_ASK", pictures.c_str(), 1);
    auto before = test::heapInUse();
    auto opened = open(NSURL::fileURLWithPath(page.string()), 20s);
    EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" }));
    EXPECT_GT(double(test::heapInUse()) - double(before), 40e6) << "the pictures wait to be sent";
    ASSERT_GT(opened.pid, 0);
    ::kill(opened.pid, SIGKILL);
    EXPECT_TRUE(gone(opened.pid));
    auto released = [&] { return double(test::heapInUse()) - double(before) < 16e6; };
    EXPECT_TRUE(RunLoop::main().runUntil(released, 5s)) << "nothing waits for a renderer that ended";
    EXPECT_TRUE(opened.web->renderedPixels());
    for (auto* name : { "VESK_HOSTILE_RENDERER_ASK", "VESK_HOSTILE_RENDERER", "VESK_RENDERER" })
        ::unsetenv(name);
}

// Frames a renderer sends faster than the main loop shows them do not pile up: only the newest
// waits, and each one shown lets the one before it go.
TEST_F(RendererProcessTest, FramesWaitingForTheMainLoopAreOnlyTheNewest)
{
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    ::setenv("VESK_HOSTILE_RENDERER", "frame-flood", 1);
    auto mappedFrames = [] {
        std::ifstream maps("/proc/self/maps");
        int count = 0;
        for (std::string line; std::getline(maps, line);)
            count += line.find("/memfd:vesk-frame") != std::string::npos;
        return count;
    };
    auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(write("page.html", "<p>x</p>").string())));
    int pid = 0;
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return (pid = web->rendererProcessID()) > 0; }));
    // The main loop stands still while the renderer sends all it has and ends.
    auto ended = [&] { return !std::filesystem::exists("/proc/" + std::to_string(pid)); };
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!ended() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(ended());
    EXPECT_LE(mappedFrames(), 2) << "one shown, one waiting";
    RunLoop::main().runUntil([&] { return web->renderedPixels() != nullptr; });
    RunLoop::main().drain();
    EXPECT_TRUE(web->renderedPixels());
    EXPECT_LE(mappedFrames(), 1);
    web.reset();
    ::unsetenv("VESK_HOSTILE_RENDERER");
    ::unsetenv("VESK_RENDERER");
}

// A renderer that keeps a descriptor of every memory lent for its frames holds no more than a
// handful, and makes the app make no more memory than a few frames' worth: the app lends again
// what it made. Its frames still show.
TEST_F(RendererProcessTest, ARendererKeepingTheMemoryLentForFramesMakesTheAppMakeNoMore)
{
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    ::setenv("VESK_HOSTILE_RENDERER", "keep-memory", 1);
    auto made = RendererProcess::frameMemoriesMade();
    auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(write("page.html", "<p>x</p>").string())));
    int pid = 0;
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return (pid = web->rendererProcessID()) > 0; }));
    // The memory for frames it holds a descriptor of.
    std::size_t held = 0;
    auto folder = "/proc/" + std::to_string(pid) + "/fd";
    // The main loop shows frames as they come, lets them go, and stands still now and then.
    for (int turn = 0; std::filesystem::exists(folder) && turn < 2000; ++turn) {
        std::error_code error;
        std::size_t now = 0;
        for (auto it = std::filesystem::directory_iterator(folder, error); !error && it != std::filesystem::directory_iterator(); it.increment(error))
            now += std::filesystem::read_symlink(it->path(), error).string().starts_with("/memfd:vesk-frame");
        held = std::max(held, now);
        if (turn % 10 < 7)
            RunLoop::main().runUntilIdle();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(gone(pid)) << "it sent all its frames";
    EXPECT_LE(held, renderer::maximumDescriptors);
    EXPECT_LE(RendererProcess::frameMemoriesMade() - made, 4u);
    RunLoop::main().runUntil([&] { return web->renderedPixels() != nullptr; });
    EXPECT_TRUE(web->renderedPixels()) << "its frames show";
    ::unsetenv("VESK_HOSTILE_RENDERER");
    ::unsetenv("VESK_RENDERER");
}

// A renderer taken over inside its sandbox asks for 3,000 threads as fast as it can: it never
// runs more than the limit at once, and one that keeps asking past it is ended, its load failed.
TEST_F(RendererProcessTest, ARendererAskingForThreadsWithoutEndRunsNoMoreThanTheLimitAndIsEnded)
{
    ::setenv("VESK_RENDERER", VESK_HOSTILE_THREADS_RENDERER, 1);
    auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    auto recorder = std::make_shared<Recorder>();
    web->setDelegate(recorder);
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(write("page.html", "<p>x</p>").string())));
    std::atomic<int> pid = 0;
    std::atomic<bool> done = false;
    std::size_t most = 0;
    std::thread counting([&] {
        while (!done) {
            std::ifstream status("/proc/" + std::to_string(pid) + "/status");
            for (std::string line; pid && std::getline(status, line);) {
                if (line.starts_with("Threads:"))
                    most = std::max<std::size_t>(most, std::stoul(line.substr(8)));
            }
        }
    });
    RunLoop::main().runUntil(
        [&] {
            if (!pid)
                pid = web->rendererProcessID();
            return recorder->calls.size() == 2;
        },
        20s);
    done = true;
    counting.join();
    EXPECT_EQ(recorder->calls, (std::vector<std::string> { "start", "fail" }));
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(gone(pid));
    EXPECT_LE(most, renderer::maximumThreads) << "threads at once";
    EXPECT_GT(most, 1u) << "it was given some";
    ::unsetenv("VESK_RENDERER");
}

namespace {

// A renderer taken over inside its sandbox that misbehaves with its threads as the mode says,
// given a page to load.
std::unique_ptr<RendererProcess> startThreadsRenderer(const char* mode)
{
    ::setenv("VESK_RENDERER", VESK_HOSTILE_THREADS_RENDERER, 1);
    ::setenv("VESK_HOSTILE_RENDERER", mode, 1);
    auto process = RendererProcess::start({});
    ::unsetenv("VESK_HOSTILE_RENDERER");
    ::unsetenv("VESK_RENDERER");
    if (process) {
        renderer::Load load;
        load.URL = "file:///page.html";
        load.data = { '<', 'p', '>' };
        load.viewport = { 375, 603 };
        process->send(load);
    }
    return process;
}

bool endsWithin(RendererProcess& process, std::chrono::milliseconds bound)
{
    auto limit = std::chrono::steady_clock::now() + bound;
    while (!process.hasEnded() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(10ms);
    return process.hasEnded();
}

double appProcessorSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}

// Threads of other kinds than pthread_create's are refused by the filter itself, never asked of
// the app: one with a descriptor table of its own (whose descriptors, under a limit of their own,
// the app would not see), with a pidfd, as a vfork, as the process's sibling.
TEST(RendererThreadsTest, ARendererGetsNoThreadOfAnotherKindThanItsLibrariesMake)
{
    auto process = startThreadsRenderer("odd-threads");
    ASSERT_TRUE(process);
    auto message = process->nextMessage(20s);
    auto* info = message ? std::get_if<renderer::PageInfo>(&*message) : nullptr;
    ASSERT_TRUE(info);
    EXPECT_EQ(info->title, "0") << "threads of other kinds made";
}

// A renderer taken over ends its first thread and runs on in another: read through the first, it
// would hold no memory and no descriptors. It is ended within a second or so.
TEST(RendererThreadsTest, ARendererWhoseFirstThreadEndsIsEnded)
{
    auto process = startThreadsRenderer("leader-exits");
    ASSERT_TRUE(process);
    auto pid = process->pid();
    auto message = process->nextMessage(20s);
    auto* info = message ? std::get_if<renderer::PageInfo>(&*message) : nullptr;
    ASSERT_TRUE(info) << "the thread left behind spoke";
    EXPECT_EQ(info->title, "alone");
    EXPECT_TRUE(endsWithin(*process, 3s));
    EXPECT_TRUE(gone(pid));
}

// A renderer taken over keeps 8 threads making threads that live a millisecond: granting each
// costs the app more than it costs the renderer, so past its share it is refused, and ended,
// having cost the app a fraction of the renderer's own time limit.
TEST(RendererThreadsTest, ARendererMakingThreadsWithoutEndIsEndedPastItsShare)
{
    auto before = appProcessorSeconds();
    auto process = startThreadsRenderer("churn");
    ASSERT_TRUE(process);
    EXPECT_TRUE(endsWithin(*process, std::chrono::seconds(renderer::workSeconds * 3)));
    EXPECT_LT(appProcessorSeconds() - before, renderer::workSeconds / 4.0) << "the app's processor time";
}

// Frames of each size are drawn in memory lent for that size, also when the view goes back to a
// size it had: each is drawn, and its pixels show.
TEST_F(RendererProcessTest, AViewResizedToAndFroIsDrawnAtEachSize)
{
    auto opened = open(NSURL::fileURLWithPath(write("red.html", "<body style='margin:0;background:#ff0000'>x</body>").string()));
    ASSERT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" }));
    for (double width : { 500.0, 375.0, 500.0, 320.0, 375.0, 320.0 }) {
        opened.web->requestPixels(width, 603, 1, 0);
        auto drawn = [&] {
            auto& pixels = opened.web->renderedPixels();
            return pixels && pixels->place.size.width == width && pixels->scale == 1;
        };
        ASSERT_TRUE(RunLoop::main().runUntil(drawn)) << width;
        EXPECT_TRUE(red(opened.web->renderedPixels()->image->pixelAt(static_cast<int>(width) - 1, 602))) << width;
    }
}

// A renderer draws only in the memory the app lends it, which can't be made to hold more.
TEST_F(RendererProcessTest, TheMemoryLentForFramesCanNotBeGrown)
{
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    ::setenv("VESK_HOSTILE_RENDERER", "grow-memory", 1);
    auto opened = open(NSURL::fileURLWithPath(write("page.html", "<p>x</p>").string()), 20s);
    EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" }));
    EXPECT_EQ(opened.web->title(), "refused refused") << "grown, written past its end";
    EXPECT_TRUE(opened.web->renderedPixels()) << "and its frame, drawn there, shown";
    ::unsetenv("VESK_HOSTILE_RENDERER");
    ::unsetenv("VESK_RENDERER");
}

// Answers to what a renderer asks for give it the limit again, but a renderer that keeps asking
// while it works is still ended at the cap counted from the app's last piece of work.
TEST(RendererWorkClockTest, AnswersExtendTheLimitOnlyUpToTheCap)
{
    RendererWorkClock clock(10, 60);
    EXPECT_FALSE(clock.isExceeded(10));
    EXPECT_TRUE(clock.isExceeded(10.5)) << "from the start";
    clock.workGiven(5);
    EXPECT_FALSE(clock.isExceeded(15));
    EXPECT_TRUE(clock.isExceeded(15.5));
    // An answer every 9 s of work carries it on, up to 60 s after the work was given.
    for (double at = 14; at < 65; at += 9) {
        SCOPED_TRACE(at);
        EXPECT_FALSE(clock.isExceeded(at));
        clock.answerGiven(at);
    }
    EXPECT_TRUE(clock.isExceeded(65.5)) << "past the cap, however recent the answer";
    clock.workGiven(70);
    EXPECT_FALSE(clock.isExceeded(79)) << "new work starts the count again";
    EXPECT_TRUE(clock.isExceeded(80.5));
}

// A renderer that lifts its own time limit and works on is ended once it has used the limit's
// processor time since it was last given work: one that owes its first pixels fails its load,
// one that has shown its page and owes nothing leaves the page shown.
TEST_F(RendererProcessTest, ARendererThatWorksPastTheTimeLimitIsEndedBusyOrIdle)
{
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    auto page = write("page.html", "<p>x</p>");
    struct Spinner {
        const char* mode;
        std::shared_ptr<UIWebView> web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
        std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
        int pid = 0;
        double seconds = 0;
    };
    Spinner spinners[] { { "spin" }, { "idle-spin" } };
    for (auto& spinner : spinners) {
        ::setenv("VESK_HOSTILE_RENDERER", spinner.mode, 1);
        spinner.web->setDelegate(spinner.recorder);
        spinner.web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(page.string())));
        ASSERT_TRUE(RunLoop::main().runUntil([&] { return (spinner.pid = spinner.web->rendererProcessID()) > 0; }));
    }
    auto started = std::chrono::steady_clock::now();
    RunLoop::main().runUntil(
        [&] {
            bool running = false;
            // Its processor time as last seen while it ran.
            for (auto& spinner : spinners) {
                if (auto seconds = RendererProcess::processorSeconds(spinner.pid)) {
                    spinner.seconds = *seconds;
                    running = true;
                }
            }
            return !running;
        },
        std::chrono::seconds(renderer::workSeconds * 6));
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    RunLoop::main().drain();
    for (auto& spinner : spinners) {
        EXPECT_TRUE(gone(spinner.pid)) << spinner.mode;
        EXPECT_LE(spinner.seconds, renderer::workSeconds + 2) << spinner.mode << ": ended at the limit";
    }
    EXPECT_GE(spinners[1].seconds, renderer::workSeconds - 1) << "not before it";
    EXPECT_LT(seconds, renderer::workSeconds * 3 + 15);
    EXPECT_EQ(spinners[0].recorder->calls, (std::vector<std::string> { "start", "fail" }));
    EXPECT_EQ(spinners[1].recorder->calls, (std::vector<std::string> { "start", "finish" }));
    EXPECT_TRUE(spinners[1].web->showsRenderedPage());
    ::unsetenv("VESK_HOSTILE_RENDERER");
    ::unsetenv("VESK_RENDERER");
}

// A renderer that asks for one resource after another and never tells of its page gets its
// page's share of answers, and the question past it ends it: its load fails well within the
// minute a page may take, and it cost the app only a few seconds of processor time.
TEST_F(RendererProcessTest, ARendererThatAsksWithoutEndIsEndedPastItsShare)
{
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    ::setenv("VESK_HOSTILE_RENDERER", "ask-forever", 1);
    auto processorSeconds = [] {
        rusage usage {};
        ::getrusage(RUSAGE_SELF, &usage);
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    auto before = processorSeconds();
    auto started = std::chrono::steady_clock::now();
    auto opened = open(NSURL::fileURLWithPath(write("page.html", "<p>x</p>").string()), 60s);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "fail" }));
    EXPECT_LT(took, 60s);
    EXPECT_LT(processorSeconds() - before, 5.0) << "the app's work on the load";
    EXPECT_TRUE(opened.pid && gone(opened.pid));
    ::unsetenv("VESK_HOSTILE_RENDERER");
    ::unsetenv("VESK_RENDERER");
}

// A renderer leads the view only where a click it was sent leads, once: a link named for no
// click, or again for a click already answered, ends the renderer and loads nothing, whatever
// file it names; the page stays shown. A click on a real link loads where it leads.
TEST_F(RendererProcessTest, ALinkIsFollowedOnlyAsTheOneAnswerToAClick)
{
    auto page = write("page.html", "<body style='margin:0'><a href='other.html' style='display:block;height:100px'>go</a></body>");
    write("other.html", "<p>other</p>");
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    ::setenv("VESK_HOSTILE_RENDERER", "unasked-link", 1);
    ::setenv("VESK_HOSTILE_RENDERER_LEAD", NSURL::fileURLWithPath(write("secret.html", "<p>secret</p>").string()).absoluteString().c_str(), 1);
    for (auto* when : { "next", "answered" }) {
        ::setenv("VESK_HOSTILE_RENDERER_ASK", when, 1);
        auto opened = open(NSURL::fileURLWithPath(page.string()), 20s);
        ASSERT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" })) << when;
        if (std::string(when) == "answered")
            opened.web->clickAt(CGPointMake(10, 10));
        EXPECT_TRUE(opened.pid && gone(opened.pid, 10s)) << when;
        RunLoop::main().drain();
        EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" })) << when;
        EXPECT_EQ(opened.web->request()->URL.lastPathComponent(), "page.html") << when;
        EXPECT_TRUE(opened.web->showsRenderedPage()) << when;
    }
    for (auto* name : { "VESK_HOSTILE_RENDERER_LEAD", "VESK_HOSTILE_RENDERER_ASK", "VESK_HOSTILE_RENDERER", "VESK_RENDERER" })
        ::unsetenv(name);

    auto opened = open(NSURL::fileURLWithPath(page.string()));
    ASSERT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" }));
    opened.web->clickAt(CGPointMake(10, 10));
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return opened.recorder->calls.size() == 4; }));
    EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish", "start", "finish" }));
    EXPECT_EQ(opened.web->request()->URL.lastPathComponent(), "other.html");
}

// A renderer taken over asks only for what its page could read: a local page its own folder's
// regular files and nothing inside the machine's network, a page from the network nothing from
// the disk at all.
TEST_F(RendererProcessTest, ARendererGetsOnlyWhatItsPageMayRead)
{
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    ::setenv("VESK_HOSTILE_RENDERER", "ask", 1);
    auto inside = write("inside.css", "p { color: red }");
    auto page = write("page.html", "<p>x</p>");
    auto outside = std::filesystem::path(folder).concat("-outside.css");
    std::ofstream(outside) << "secret";
    ASSERT_EQ(::mkfifo((folder / "fifo.css").c_str(), 0600), 0);
    std::filesystem::create_symlink(outside, folder / "out.css");
    HttpServer server;
    server.registerHandler("^/style.css$", [](const HttpRequest&) {
        std::string body = "p {}";
        return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", "text/css" } }, HttpBytes(body.begin(), body.end()));
    });
    server.registerHandler("^/page.html$", [](const HttpRequest&) {
        std::string body = "<p>x</p>";
        return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", "text/html" } }, HttpBytes(body.begin(), body.end()));
    });
    server.start(0, "127.0.0.1");
    auto http = "http://127.0.0.1:" + std::to_string(server.port());
    auto file = [](const std::filesystem::path& path) { return NSURL::fileURLWithPath(path.string()).absoluteString(); };
    struct Case {
        NSURL page;
        std::string asked;
        std::string got;
    };
    std::vector<Case> cases {
        { NSURL::fileURLWithPath(page.string()),
            file(inside) + " file:///proc/self/environ file:///proc/self/cmdline " + file(outside) + " " + file(folder / "fifo.css") + " " + file(folder / "out.css") + " file://elsewhere" + inside.string() + " " + http + "/style.css",
            "1:16 0 0 0 0 0 0 0" },
        { *NSURL::URLWithString(http + "/page.html"), file(inside) + " file:///proc/self/environ " + http + "/style.css", "0 0 1:4" },
    };
    for (auto& test : cases) {
        ::setenv("VESK_HOSTILE_RENDERER_ASK", test.asked.c_str(), 1);
        auto opened = open(test.page, 20s);
        EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" })) << test.page.absoluteString();
        EXPECT_EQ(opened.web->title(), test.got) << test.page.absoluteString();
    }
    server.stop();
    std::filesystem::remove(outside);
    ::unsetenv("VESK_HOSTILE_RENDERER_ASK");
    ::unsetenv("VESK_HOSTILE_RENDERER");
    ::unsetenv("VESK_RENDERER");
}

// A renderer taken over names the app's own server by every name and address that reaches it:
// as a style sheet, a picture, a link and a click, and behind a redirect. Nothing of it is
// fetched. A page from a server inside the machine still gets what its own origin serves.
TEST_F(RendererProcessTest, ARendererReachesNothingInsideTheMachineButItsPagesOwnOrigin)
{
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    auto respond = [](std::string type, std::string body) {
        return [type, body](const HttpRequest&) { return HttpResponse::RAW(200, "OK", HttpHeaders { { "Content-Type", type } }, HttpBytes(body.begin(), body.end())); };
    };
    // Stands in for the app's own server; nothing may reach it.
    std::atomic<int> served { 0 };
    HttpServer own;
    own.registerHandler("^/getFile", [&](const HttpRequest& request) {
        ++served;
        return respond("text/plain", "root:secret")(request);
    });
    own.start(0, "127.0.0.1");
    auto port = std::to_string(own.port());
    std::vector<std::string> hosts { "127.0.0.1", "localhost", "[::1]", "vesk.localhost" };
    for (auto& address : interfaceAddresses().value_or(std::vector<InterfaceAddress> {})) {
        if (address.up && !address.loopback && !address.linkLocal) {
            hosts.push_back(address.family == AddressFamily::IPv6 ? "[" + address.address + "]" : address.address);
            break;
        }
    }
    std::string secrets, refused;
    for (auto& host : hosts) {
        secrets += "http://" + host + ":" + port + "/getFile?path=/etc/shadow&type=raw ";
        refused += "0 ";
    }
    HttpServer site;
    site.registerHandler("^/page.html$", respond("text/html", "<p>x</p>"));
    site.registerHandler("^/own.css$", respond("text/css", "p {}"));
    site.registerHandler("^/own.png$", respond("image/png", "png"));
    site.registerHandler("^/away$", [&](const HttpRequest&) { return HttpResponse::MovedPermanently("http://127.0.0.1:" + port + "/getFile?path=/etc/shadow"); });
    site.start(0, "127.0.0.1");
    auto origin = "http://127.0.0.1:" + std::to_string(site.port());
    auto page = *NSURL::URLWithString(origin + "/page.html");

    ::setenv("VESK_HOSTILE_RENDERER", "ask", 1);
    struct Case {
        NSURL page;
        std::string got;
    };
    for (auto& test : { Case { NSURL::fileURLWithPath(write("page.html", "<p>x</p>").string()), refused + "0 0" }, Case { page, refused + "1:4 0" } }) {
        ::setenv("VESK_HOSTILE_RENDERER_ASK", (secrets + origin + "/own.css " + origin + "/away").c_str(), 1);
        auto opened = open(test.page, 20s);
        EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" })) << test.page.absoluteString();
        EXPECT_EQ(opened.web->title(), test.got) << test.page.absoluteString();
    }

    ::setenv("VESK_HOSTILE_RENDERER", "name", 1);
    ::setenv("VESK_HOSTILE_RENDERER_ASK", (secrets + origin + "/own.png " + origin + "/away").c_str(), 1);
    ::setenv("VESK_HOSTILE_RENDERER_LEAD", ("http://localhost:" + port + "/getFile?path=/etc/shadow").c_str(), 1);
    auto opened = open(page, 20s);
    EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish" }));
    std::vector<bool> loaded;
    for (auto& resource : opened.web->resources())
        loaded.push_back(resource.response.has_value());
    auto expected = std::vector<bool>(hosts.size(), false);
    expected.insert(expected.end(), { true, false });
    EXPECT_EQ(loaded, expected) << "only the page's own picture";
    // Where its links and clicks lead fails to load like an unreachable page.
    ASSERT_EQ(opened.web->links().size(), hosts.size() + 2);
    opened.web->clickAt(CGPointMake(10, 10));
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return opened.recorder->calls.size() == 4; }));
    opened.web->followLink(opened.web->links().front());
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return opened.recorder->calls.size() == 6; }));
    EXPECT_EQ(opened.recorder->calls, (std::vector<std::string> { "start", "finish", "start", "fail", "start", "fail" }));
    EXPECT_EQ(served, 0) << "the app's own server was never asked";

    site.stop();
    own.stop();
    for (auto* name : { "VESK_HOSTILE_RENDERER_LEAD", "VESK_HOSTILE_RENDERER_ASK", "VESK_HOSTILE_RENDERER", "VESK_RENDERER" })
        ::unsetenv(name);
}

// Each side reads the other's messages as hostile: cut short anywhere, with a byte too many, or
// with a value out of range, a message is refused.
TEST(RendererProtocolTest, MessagesCutShortLongerOrOutOfRangeAreRefused)
{
    using namespace renderer;
    Viewport viewport { 375, 603, 2, 0, 120 };
    std::vector<Bytes> app {
        encode(AppMessage(Load { DocumentKind::HTML, "file:///a.html", "text/html", { 'h', 'i' }, viewport })),
        encode(AppMessage(Load { DocumentKind::PDF, "file:///a.pdf", "", { '%', 'P', 'D', 'F', '-' }, viewport })),
        encode(AppMessage(Load { DocumentKind::PDF, "file:///a.pdf", "", {}, viewport, 40u << 20 })),
        encode(AppMessage(viewport)),
        encode(AppMessage(Click { 3, 10, 20 })),
        encode(AppMessage(Resource { "file:///a.png", true, "image/png", { 1, 2, 3 } })),
        encode(AppMessage(FrameMemory {})),
    };
    std::vector<Bytes> rendered {
        encode(RendererMessage(Request { "file:///a.css" })),
        encode(RendererMessage(PageInfo { true, "T", 900, std::string("/"), { "a.js" }, { { "text", "b.html" } }, { "file:///c.png" } })),
        encode(RendererMessage(Frame { viewport, 750, 1206, 3000, 900, 1200 })),
        encode(RendererMessage(LinkAt { 3, std::string("file:///b.html#end"), 120 })),
        encode(RendererMessage(Failed { "no" })),
        encode(RendererMessage(Threads {})),
    };
    auto decodes = [](const Bytes& message, std::size_t size, std::size_t extra, bool fromApp) {
        Bytes payload(size + extra);
        std::copy_n(message.begin() + 8, size, payload.begin());
        std::uint32_t type;
        std::memcpy(&type, message.data(), 4);
        return fromApp ? decodeAppMessage(type, payload.data(), payload.size()).has_value() : decodeRendererMessage(type, payload.data(), payload.size()).has_value();
    };
    for (bool fromApp : { true, false }) {
        for (auto& message : fromApp ? app : rendered) {
            auto size = message.size() - 8;
            EXPECT_TRUE(decodes(message, size, 0, fromApp));
            EXPECT_FALSE(decodes(message, size, 1, fromApp)) << "a byte too many";
            for (std::size_t cut = 0; cut < size; ++cut)
                EXPECT_FALSE(decodes(message, cut, 0, fromApp)) << "cut at " << cut;
        }
    }
    for (auto bad : { Viewport { 0, 603, 2, 0 }, Viewport { 375, 603, 100, 0 }, Viewport { 375, 603, 2, -1 }, Viewport { std::nan(""), 603, 2, 0 }, Viewport { 375, 603, 2, 0, -1 },
             Viewport { 375, 603, 2, 0, INFINITY } }) {
        auto message = encode(AppMessage(bad));
        EXPECT_FALSE(decodeAppMessage(2, message.data() + 8, message.size() - 8));
    }
    for (auto bad : { Frame { viewport, 0, 10, 0, 0 }, Frame { viewport, 10, 10, 39, 0 }, Frame { viewport, 100000, 10, 400000, 0 }, Frame { viewport, 750, 1206, 3000, 900, -1 },
             Frame { viewport, 750, 1206, 3000, 900, std::nan("") } }) {
        auto message = encode(RendererMessage(bad));
        EXPECT_FALSE(decodeRendererMessage(103, message.data() + 8, message.size() - 8));
    }
    for (auto bad : { Load { DocumentKind::PDF, "file:///a", "", { '%' }, viewport, 40u << 20 }, Load { DocumentKind::PDF, "file:///a", "", {}, viewport, maximumSharedDocument + 1 } }) {
        auto message = encode(AppMessage(bad));
        EXPECT_FALSE(decodeAppMessage(1, message.data() + 8, message.size() - 8)) << "a document both inline and shared, or shared past the cap";
    }
    auto unknownKind = encode(AppMessage(Load { DocumentKind::PDF, "file:///a", "", {}, viewport }));
    ++unknownKind[8];
    EXPECT_FALSE(decodeAppMessage(1, unknownKind.data() + 8, unknownKind.size() - 8)) << "a kind of document past the last";
    EXPECT_FALSE(decodeAppMessage(100, nullptr, 0)) << "a renderer's message is no app's";
    EXPECT_FALSE(decodeRendererMessage(1, nullptr, 0));
}

// A shared document is read only from memory that can neither change nor shrink under the
// reader, and holds all it is said to; what the app makes is such memory.
TEST(RendererProtocolTest, ASharedDocumentIsReadOnlyFromSealedMemoryHoldingAllOfIt)
{
    using namespace renderer;
    Bytes document(100000);
    for (std::size_t i = 0; i < document.size(); ++i)
        document[i] = static_cast<std::uint8_t>(i * 31 + i / 251);
    int made = makeSharedDocument(document.data(), document.size());
    ASSERT_GE(made, 0);
    EXPECT_EQ(readSharedDocument(made, document.size()), document);
    Bytes prefix(document.begin(), document.begin() + 1000);
    EXPECT_EQ(readSharedDocument(made, 1000), prefix) << "only what the message says";
    EXPECT_EQ(::pwrite(made, "x", 1, 0), -1) << "the app's memory can't be written";
    EXPECT_NE(::ftruncate(made, 10), 0) << "nor shrunk";

    auto memory = [&](std::size_t size, int seals) {
        int fd = static_cast<int>(::syscall(SYS_memfd_create, "test", MFD_CLOEXEC | MFD_ALLOW_SEALING));
        EXPECT_EQ(::pwrite(fd, document.data(), size, 0), static_cast<ssize_t>(size));
        if (seals) {
            EXPECT_EQ(::fcntl(fd, F_ADD_SEALS, seals), 0);
        }
        return fd;
    };
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    auto file = std::filesystem::temp_directory_path() / ("vesk-shared-" + std::to_string(::getpid()));
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(document.data()), static_cast<std::streamsize>(document.size()));
    struct Case {
        const char* name;
        int fd;
        std::size_t size;
    };
    constexpr int whole = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;
    std::vector<Case> cases {
        { "unsealed", memory(document.size(), 0), document.size() },
        { "free to shrink", memory(document.size(), F_SEAL_GROW | F_SEAL_WRITE), document.size() },
        { "free to change", memory(document.size(), F_SEAL_SHRINK | F_SEAL_GROW), document.size() },
        { "sealed but short", memory(document.size() - 1, whole), document.size() },
        { "sealed and empty", memory(0, whole), 1 },
        { "nothing said", dup(made), 0 },
        { "past the cap", dup(made), maximumSharedDocument + 1 },
        { "a pipe", pipeEnds[0], 1 },
        { "a file", ::open(file.c_str(), O_RDONLY | O_CLOEXEC), document.size() },
        { "no descriptor", -1, 1 },
    };
    for (auto& test : cases) {
        EXPECT_FALSE(readSharedDocument(test.fd, test.size)) << test.name;
        if (test.fd >= 0)
            ::close(test.fd);
    }
    ::close(pipeEnds[1]);
    ::close(made);
    std::filesystem::remove(file);
}
