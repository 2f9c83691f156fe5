// Web pages as a person sees them in a web view: drawn to PNG in the build folder and read back
// by their pixels.

#include "WebTestSupport.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/MemoryInfo.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIDriver.h"
#include "platform/uikit/UINavigationBar.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIWebView.h"
#include "renderer/engine/WebPage.h"

#include <cairo-pdf.h>
#include <filesystem>
#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif
#include <fstream>
#include <functional>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

using namespace vesk::platform;

namespace {

class Board : public UIViewController { };

// The heap in use: under AddressSanitizer without the freed memory it holds back.
std::size_t liveBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return taskMemoryInfo()->residentSize;
#endif
}

class Loads : public UIWebViewDelegate {
public:
    bool shouldStartLoadWithRequest(UIWebView&, const NSURLRequest& request, UIWebViewNavigationType) override
    {
        asked.push_back(request.URL.lastPathComponent());
        return true;
    }
    void didFailLoadWithError(UIWebView&, const std::optional<NSError>&) override { ++failed; }
    std::vector<std::string> asked;
    int failed = 0;
};

class WebPageDrawingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UIApplication::sharedApplication().reset();
        folder = std::filesystem::path(VESK_BINARY_DIR) / "web-drawing";
        std::filesystem::create_directories(folder);
        auto navigation = UINavigationController::initWithRootViewController(board);
        UIStoryboard::storyboardWithName("Main").setInitialViewController([navigation] { return navigation; });
        UIApplication::sharedApplication().launch(std::make_shared<UIApplicationDelegate>());
        web->setFrame(CGRectMake(0, 64, 375, 603));
        web->setDelegate(loads);
        board->view()->addSubview(web);
    }
    void TearDown() override
    {
        driver.drain();
        UIApplication::sharedApplication().reset();
        RunLoop::main().useSystemClock();
    }

    void write(const std::string& name, std::string_view bytes) { std::ofstream(folder / name, std::ios::binary) << bytes; }

    // Loads the file into the web view and draws the screen at the scale to a PNG.
    std::shared_ptr<UIImage> open(const std::string& name, CGFloat scale = 1)
    {
        web->loadRequest(NSURLRequest(NSURL::fileURLWithPath((folder / name).string())));
        driver.drain();
        return shoot(name, scale);
    }
    std::shared_ptr<UIImage> shoot(const std::string& name, CGFloat scale = 1)
    {
        auto image = driver.render(scale);
        image->writePNGToFile((std::filesystem::path(VESK_BINARY_DIR) / ("screen-web-" + name + ".png")).string());
        return image;
    }

    static int count(const UIImage& image, CGRect rect, const std::function<bool(UIPixel)>& test) { return vesk::test::countPixels(image, rect, test); }
    static bool dark(UIPixel p) { return p.red < 90 && p.green < 90 && p.blue < 90; }
    static bool red(UIPixel p) { return p.red > 240 && p.green < 20 && p.blue < 20; }
    static bool green(UIPixel p) { return p.green > 240 && p.red < 20 && p.blue < 20; }
    static bool blue(UIPixel p) { return p.blue > 240 && p.red < 20 && p.green < 20; }
    static bool white(UIPixel p) { return p.red > 250 && p.green > 250 && p.blue > 250; }

    std::filesystem::path folder;
    std::shared_ptr<Board> board = std::make_shared<Board>();
    std::shared_ptr<UIWebView> web = std::make_shared<UIWebView>();
    std::shared_ptr<Loads> loads = std::make_shared<Loads>();
    UIDriver driver;
};

}

TEST_F(WebPageDrawingTest, PagesInLatin1AndUTF16ReadAsTheirUTF8Twin)
{
    const std::string body = "<body style='margin:0'><p style='font-size:40px'>Caf\u00e9 cr\u00e8me</p></body>";
    write("utf8.html", body);
    write("latin1.html", "<meta charset=\"iso-8859-1\"><body style='margin:0'><p style='font-size:40px'>Caf\xe9 cr\xe8me</p></body>");
    write("misread.html", "<meta charset=\"utf-8\"><body style='margin:0'><p style='font-size:40px'>Caf\xe9 cr\xe8me</p></body>");
    std::string utf16 = "\xFF\xFE";
    for (char16_t unit : std::u16string(u"<body style='margin:0'><p style='font-size:40px'>Caf\u00e9 cr\u00e8me</p></body>")) {
        utf16 += static_cast<char>(unit & 0xff);
        utf16 += static_cast<char>(unit >> 8);
    }
    write("utf16.html", utf16);

    auto expected = open("utf8.html");
    EXPECT_GT(count(*expected, CGRectMake(0, 64, 375, 80), dark), 200) << "the text is drawn";
    EXPECT_TRUE(open("latin1.html")->hasEqualPixels(*expected)) << "a Latin-1 page that says so";
    EXPECT_TRUE(open("utf16.html")->hasEqualPixels(*expected)) << "a UTF-16 page with its byte-order mark";
    EXPECT_FALSE(open("misread.html")->hasEqualPixels(*expected)) << "Latin-1 bytes read as UTF-8 show otherwise";
}

TEST_F(WebPageDrawingTest, AnInPageLinkScrollsToItsTargetWithoutALoad)
{
    write("long.html", "<body style='margin:0'><a href='#bottom' style='display:block;height:100px'>down</a><a href='#nowhere'>nowhere</a>"
                       "<div style='height:3000px'></div><div id='bottom' style='height:50px;background:#ff0000'></div>"
                       "<div style='height:1000px'></div></body>");
    auto image = open("long.html");
    EXPECT_EQ(count(*image, CGRectMake(0, 64, 375, 603), red), 0);
    driver.tapAt({ 100, 64 + 130 });
    driver.drain();
    image = shoot("long-nowhere");
    EXPECT_EQ(count(*image, CGRectMake(0, 64, 375, 603), red), 0) << "a fragment the page lacks stays put";
    driver.tapAt({ 100, 64 + 50 });
    driver.drain();
    image = shoot("long-bottom");
    EXPECT_EQ(count(*image, CGRectMake(0, 65, 375, 49), red), 375 * 49) << "the target at the top of the view (under the bar's line)";
    EXPECT_EQ(loads->asked, std::vector<std::string> { "long.html" }) << "no new load";
    EXPECT_EQ(loads->failed, 0);
    EXPECT_EQ(web->request()->URL.lastPathComponent(), "long.html");
    EXPECT_FALSE(web->isLoading());
}

TEST_F(WebPageDrawingTest, ATapOnASummaryOpensAndClosesItsDetails)
{
    write("details.html", "<body style='margin:0'><details><summary style='font-size:30px'>More</summary>"
                          "<div style='height:100px;background:#ff0000'></div></details><div style='height:50px;background:#0000ff'></div></body>");
    auto image = open("details.html");
    EXPECT_EQ(count(*image, CGRectMake(0, 64, 375, 603), red), 0) << "closed";
    EXPECT_GT(count(*image, CGRectMake(0, 64, 375, 100), blue), 0);
    driver.tapAt({ 50, 64 + 15 });
    driver.drain();
    image = shoot("details-opened");
    EXPECT_GT(count(*image, CGRectMake(0, 64 + 40, 375, 100), red), 375 * 80) << "open";
    driver.tapAt({ 50, 64 + 15 });
    driver.drain();
    image = shoot("details-closed-again");
    EXPECT_EQ(count(*image, CGRectMake(0, 64, 375, 603), red), 0) << "closed again";
    EXPECT_EQ(loads->asked, std::vector<std::string> { "details.html" }) << "no new load";
    EXPECT_EQ(loads->failed, 0);
}

TEST_F(WebPageDrawingTest, AnSVGFileShowsItsRelativePictureCrispAtScaleAndAtItsSize)
{
    UIGraphicsBeginImageContextWithOptions({ 20, 20 }, true, 1);
    UIColor::blueColor()->setFill();
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 20, 20));
    UIGraphicsGetImageFromCurrentImageContext()->writePNGToFile(folder / "up.png");
    UIGraphicsEndImageContext();
    // 75 points are 100 CSS pixels; a stripe half a pixel wide is one device pixel at scale 2.
    write("picture.svg", "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' width='75pt' height='37.5pt' viewBox='0 0 100 50'>"
                         "<rect width='100' height='50' fill='#00ff00'/><rect x='50.5' width='0.5' height='50' fill='#ff0000'/>"
                         "<image xlink:href='up.png' width='20' height='20'/></svg>");
    auto image = open("picture.svg", 2);
    // Centred at the top: 137.5 points from the left, 64 from the top, the first row under the
    // bar's line.
    CGRect drawn = CGRectMake(275, 129, 200, 99);
    EXPECT_EQ(count(*image, CGRectMake(0, 129, 750, 1205), white) + count(*image, drawn, [](UIPixel) { return true; }), 750 * 1205)
        << "all white around it, at its size";
    EXPECT_EQ(count(*image, drawn, [](UIPixel p) { return green(p) || red(p) || blue(p); }), 200 * 99) << "all of it";
    EXPECT_EQ(count(*image, CGRectMake(275, 129, 40, 39), blue), 40 * 39) << "the picture from its folder";
    EXPECT_EQ(count(*image, CGRectMake(275 + 101, 129, 1, 99), red), 99) << "the stripe, one device pixel wide";
    EXPECT_EQ(count(*image, CGRectMake(275 + 100, 129, 1, 99), green) + count(*image, CGRectMake(275 + 102, 129, 1, 99), green), 198) << "not blurred";
    EXPECT_EQ(count(*image, CGRectMake(275 + 40, 128 + 40, 160, 60), [](UIPixel p) { return green(p) || red(p); }), 160 * 60) << "no other shade";

    // One that references a FIFO draws without its pictures rather than wait on it.
    std::filesystem::remove(folder / "pipe.png");
    ASSERT_EQ(::mkfifo((folder / "pipe.png").c_str(), 0600), 0);
    write("piped.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='50'><rect width='100' height='50' fill='#00ff00'/>"
                       "<image href='pipe.png' width='20' height='20'/><image href='up.png' x='50' width='20' height='20'/></svg>");
    image = open("piped.svg");
    EXPECT_TRUE(green(image->pixelAt(137 + 10, 64 + 10)) && green(image->pixelAt(137 + 60, 64 + 10))) << "drawn, without pictures";

    // A huge one with a filter is drawn no larger than the view: its filter stays cheap.
    write("huge.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='8000' height='8000'><filter id='f'><feGaussianBlur stdDeviation='100'/></filter>"
                      "<rect x='2000' y='2000' width='4000' height='4000' fill='#ff0000' filter='url(#f)'/></svg>");
    image = open("huge.svg", 2);
    EXPECT_TRUE(red(image->pixelAt(375, 128 + 375))) << "its middle, the view's width wide";
    EXPECT_TRUE(white(image->pixelAt(375, 128 + 760))) << "and no taller";
}

TEST_F(WebPageDrawingTest, ThePageBackgroundFillsTheWholeView)
{
    write("body.html", "<body style='background:#00ff00'><p>short</p></body>");
    auto image = open("body.html");
    EXPECT_GT(count(*image, CGRectMake(0, 64, 375, 603), green), 375 * 603 * 9 / 10) << "the body's background at the sides and below";
    EXPECT_TRUE(green(image->pixelAt(1, 65)) && green(image->pixelAt(373, 665)));

    write("root.html", "<html style='background:#0000ff'><body style='background:#ff0000;height:100px;margin:20px'></body></html>");
    image = open("root.html");
    EXPECT_EQ(count(*image, CGRectMake(20, 84, 335, 100), red), 335 * 100) << "the body's box in its own colour";
    EXPECT_EQ(count(*image, CGRectMake(0, 65, 375, 602), blue), 375 * 602 - 335 * 100) << "the root's around it, to the view's edges";

    write("plain.html", "<p>plain</p>");
    image = open("plain.html");
    EXPECT_GT(count(*image, CGRectMake(0, 64, 375, 603), white), 375 * 603 * 9 / 10) << "white when neither has one";
}

TEST_F(WebPageDrawingTest, ARealWord97DocumentShowsItsText)
{
    // Made with LibreOffice: soffice --headless --convert-to doc:"MS Word 97" letter.html
    std::filesystem::copy_file(std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/letter.doc", folder / "letter.doc",
        std::filesystem::copy_options::overwrite_existing);
    auto image = open("letter.doc");
    EXPECT_EQ(loads->failed, 0);
    ASSERT_TRUE(web->showsRenderedPage());
    auto lines = [&](CGRect rect) {
        int rows = 0;
        for (int y = int(rect.origin.y); y < int(CGRectGetMaxY(rect)); ++y)
            rows += count(*image, CGRectMake(rect.origin.x, y, rect.size.width, 1), dark) > 0;
        return rows;
    };
    EXPECT_GT(count(*image, CGRectMake(0, 65, 375, 200), dark), 300) << "its text";
    EXPECT_GT(lines(CGRectMake(0, 65, 375, 200)), 15) << "on two lines at least";
    EXPECT_LT(count(*image, CGRectMake(0, 265, 375, 400), dark), 10) << "and nothing else";
}

TEST_F(WebPageDrawingTest, LargePicturesDrawnSmallAreKeptAtTheirDrawnSize)
{
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 3000, 3000);
    auto* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 1);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(surface, (folder / "big0.png").c_str());
    cairo_surface_destroy(surface);
    std::string page = "<body style='margin:0'>";
    for (int i = 0; i < 8; ++i) {
        if (i > 0)
            std::filesystem::copy_file(folder / "big0.png", folder / ("big" + std::to_string(i) + ".png"), std::filesystem::copy_options::overwrite_existing);
        page += "<img src=big" + std::to_string(i) + ".png width=40>";
    }
    write("big.html", page + "<div style='background:url(big0.png);background-size:40px 40px;width:40px;height:40px'></div></body>");
    auto before = liveBytes();
    auto image = open("big.html");
    auto after = liveBytes();
    EXPECT_EQ(count(*image, CGRectMake(0, 65, 320, 39), blue), 320 * 39) << "the pictures, 40 points wide";
    EXPECT_EQ(count(*image, CGRectMake(0, 105, 40, 60), blue), 40 * 40) << "the background, below them";
    // Eight kept at full size would hold 288 MB.
    EXPECT_LT(after, before + (64u << 20));

    // Pictures without a width of their own are kept no wider than the page, even before
    // they are drawn.
    std::string sized = "<body style='margin:0'>";
    for (int i = 0; i < 8; ++i)
        sized += "<img src=big" + std::to_string(i) + ".png style='max-width:100%'>";
    write("big-unsized.html", sized);
    auto unshown = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    before = liveBytes();
    unshown->loadRequest(NSURLRequest(NSURL::fileURLWithPath((folder / "big-unsized.html").string())));
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return !unshown->isLoading(); }));
    driver.drain();
    EXPECT_LT(liveBytes(), before + (64u << 20));
    unshown.reset();

    // A picture the page was given at full size gives up its pixels once drawn small.
    auto shown = WebPage::create("<body style='margin:0'><img src=big0.png width=40></body>", NSURL::fileURLWithPath((folder / "big.html").string()), nullptr);
    ASSERT_TRUE(shown);
    shown->layout(375);
    auto full = UIImage::imageWithData(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(std::ifstream(folder / "big0.png", std::ios::binary).rdbuf()), {}));
    std::weak_ptr<UIImage> held = full;
    shown->setPicture(NSURL::fileURLWithPath((folder / "big0.png").string()), std::move(full));
    EXPECT_FALSE(held.expired());
    shown->layout(375);
    UIGraphicsBeginImageContextWithOptions({ 375, 100 }, true, 1);
    shown->draw(UIGraphicsGetCurrentContext()->cairo(), CGRectMake(0, 0, 375, 100));
    image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    EXPECT_TRUE(held.expired()) << "its full-size pixels are let go";
    EXPECT_EQ(count(*image, CGRectMake(0, 0, 40, 39), blue), 40 * 39) << "and it is still drawn";
}

TEST_F(WebPageDrawingTest, APictureWithAMarginAndNoSizeIsDrawnAsCrisplyAsWithout)
{
    // Stripes one pixel wide, black and white by turns: shrunk and drawn large again they are grey.
    int error = 0;
    auto* gif = EGifOpenFileName((folder / "stripes.gif").c_str(), false, &error);
    ASSERT_TRUE(gif);
    GifColorType colors[2] = { { 0, 0, 0 }, { 255, 255, 255 } };
    auto* map = GifMakeMapObject(2, colors);
    EGifPutScreenDesc(gif, 40, 20, 1, 0, map);
    EGifPutImageDesc(gif, 0, 0, 40, 20, false, nullptr);
    GifPixelType row[40];
    for (int x = 0; x < 40; ++x)
        row[x] = x % 2;
    for (int y = 0; y < 20; ++y)
        EGifPutLine(gif, row, 40);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    // SQLite's logo on every page of its documentation: `.logo { float: left; margin: 1px }`.
    for (auto place : { "margin: 1px", "border: 1px solid white", "padding: 1px" }) {
        SCOPED_TRACE(place);
        write("logo.html", std::string("<body style='margin:0'><img class=logo src=stripes.gif border=0 style='float: left; ") + place + "'><p style='margin: 0'>Text</p>");
        auto image = open("logo.html", 2);
        write("unspaced.html", "<body style='margin:0'><div style='float: left; padding: 1px'><img src=stripes.gif style='float: left'></div><p style='margin: 0'>Text</p>");
        auto twin = open("unspaced.html", 2);
        EXPECT_GT(count(*twin, CGRectMake(0, 128, 100, 60), [](UIPixel p) { return p.red < 80; }), 40 * 30) << "its black stripes";
        EXPECT_TRUE(image->hasEqualPixels(*twin));
    }
}

TEST_F(WebPageDrawingTest, AnInlineSVGIsDrawnAsTheSameSVGInAPictureOfItsSize)
{
    const std::string shapes = "<rect width='100' height='50' fill='#00ff00'/><circle cx='25' cy='25' r='20' fill='#ff0000'/>"
                               "<path d='M50,45 L95,5' stroke='#0000ff' stroke-width='3'/><text x='55' y='40' font-family='Liberation Sans' font-size='14'>Hi</text>";
    std::string diagram;
    for (int i = 0; i < 299; ++i)
        diagram += "<path d='M" + std::to_string(i % 100) + ",0 l0,10' stroke='#0000ff'/>";
    diagram += "<rect x='50' y='20' width='50' height='30' fill='#ff0000'/>";
    auto file = [](const std::string& size, const std::string& content) { return "<svg xmlns='http://www.w3.org/2000/svg' " + size + ">" + content + "</svg>"; };
    struct Case {
        const char* name;
        std::string page;
        std::string picture;
        std::string twin;
    };
    const Case cases[] = {
        { "sized by its attributes", "<svg width='120' height='60' viewBox='0 0 100 50'>" + shapes + "</svg>", file("width='120' height='60' viewBox='0 0 100 50'", shapes),
            "<img src=inline.svg width=120 height=60>" },
        { "a view box alone, as wide as its container", "<div style='width: 200px'><svg viewBox='0 0 100 50'>" + shapes + "</svg></div>",
            file("width='200' height='100' viewBox='0 0 100 50'", shapes), "<div style='width: 200px'><img src=inline.svg width=200 height=100></div>" },
        { "a view box and a width from the page's styles", "<style>.icon { width: 80px }</style><p>Icon <svg class=icon viewBox='0 0 100 50'>" + shapes + "</svg> here",
            file("width='80' height='40' viewBox='0 0 100 50'", shapes), "<p>Icon <img src=inline.svg width=80 height=40> here" },
        { "no size at all", "<svg>" + shapes + "</svg>", file("width='300' height='150'", shapes), "<img src=inline.svg width=300 height=150>" },
        { "its text in the page's colour and font", "<p style='color: #00ff00; font-size: 20px; font-family: \"Liberation Serif\", serif'>A <svg width='100' height='50'><rect width='100' height='20' fill='currentColor'/><text y='45'>Ab</text></svg>",
            file("width='100' height='50' font-family='Liberation Serif' font-size='20'", "<rect width='100' height='20' fill='#00ff00'/><text y='45'>Ab</text>"),
            "<p style='color: #00ff00; font-size: 20px; font-family: \"Liberation Serif\", serif'>A <img src=inline.svg width=100 height=50>" },
        // SQLite's syntax diagrams: hundreds of shapes side by side, each ending in "/>".
        { "a diagram of 300 shapes", "<svg viewBox='0 0 100 50' width='200'>" + diagram + "</svg>", file("viewBox='0 0 100 50' width='200' height='100'", diagram),
            "<img src=inline.svg width=200 height=100>" },
    };
    for (auto& test : cases) {
        SCOPED_TRACE(test.name);
        write("inline.html", "<body style='margin: 4px'>" + test.page);
        auto image = open("inline.html", 2);
        write("inline.svg", test.picture);
        write("picture.html", "<body style='margin: 4px'>" + test.twin);
        auto twin = open("picture.html", 2);
        EXPECT_GT(count(*twin, CGRectMake(0, 128, 750, 400), [](UIPixel p) { return red(p) || green(p); }), 400) << "the picture is drawn";
        EXPECT_TRUE(image->hasEqualPixels(*twin));
    }
}

TEST_F(WebPageDrawingTest, ALongPageShowsItsFirstPartThenTheWhole)
{
    std::string page = "<body style='margin:0'>";
    for (int i = 0; i < 2000; ++i)
        page += "<p>Paragraph " + std::to_string(i) + " of a long page.</p>";
    write("long-article.html", page + "<div style='height:100px;background:#ff0000'></div></body>");
    // The heights the page is shown at as it loads.
    std::set<CGFloat> heights;
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath((folder / "long-article.html").string())));
    RunLoop::main().runUntil([&] {
        if (web->showsRenderedPage())
            heights.insert(web->renderedHeight());
        return !web->isLoading();
    });
    driver.drain();
    heights.insert(web->renderedHeight());
    EXPECT_GE(heights.size(), 2u) << "the first part, then the whole";
    driver.scrollAt({ 100, 300 }, 10000000);
    auto image = shoot("long-article-end");
    EXPECT_EQ(count(*image, CGRectMake(0, 567, 375, 100), red), 375 * 100) << "the whole page's end";
}

TEST_F(WebPageDrawingTest, ALongPagesFirstScreenEqualsAShortPagesWithTheSameBeginningOnPhoneAndPad)
{
    auto sections = [](int count) {
        std::string page = "<html><body>";
        for (int i = 1; i <= count; ++i) {
            page += "<h2>Section " + std::to_string(i) + "</h2><p>Paragraph " + std::to_string(i)
                + ": Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore et dolore magna "
                  "aliqua. Ut enim ad minim.</p><ul><li>item a</li><li>item b</li></ul>";
        }
        return page + "</body></html>";
    };
    write("sections-short.html", sections(100));
    write("sections-long.html", sections(200));
    for (auto screen : { CGSizeMake(375, 667), CGSizeMake(768, 1024) }) {
        SCOPED_TRACE(screen.width);
        UIApplication::sharedApplication().reset();
        UIScreen::mainScreen().setBounds(CGRectMake(0, 0, screen.width, screen.height));
        UIApplication::sharedApplication().launch(std::make_shared<UIApplicationDelegate>());
        web->setFrame(CGRectMake(0, 64, screen.width, screen.height - 64));
        auto expected = open("sections-short.html", 2);
        EXPECT_GT(count(*expected, CGRectMake(0, 128, screen.width * 2, 400), dark), 1000) << "the text is drawn";
        EXPECT_TRUE(open("sections-long.html", 2)->hasEqualPixels(*expected)) << "the whole page laid out after its first part was drawn";
    }
    UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 375, 667));
}

TEST_F(WebPageDrawingTest, AnAnchorIsAnElementsIdOrAnAnchorsName)
{
    auto page = WebPage::create("<body style='margin:0'><div style='height:100px'></div><p id=byid style='margin:0;height:50px'>x</p>"
                                "<div style='height:100px'></div><a name=named></a><div style='height:100px' id='caf\xc3\xa9'></div>"
                                "<p name=notanchor style='margin:0'>y</p><div style='height:2000px'></div></body>",
        NSURL::fileURLWithPath("/pages/anchors.html"), nullptr);
    ASSERT_TRUE(page);
    page->layout(375);
    struct Case {
        const char* fragment;
        std::optional<CGFloat> top;
    };
    for (auto [fragment, top] : { Case { "byid", 100 }, Case { "named", 250 }, Case { "caf%C3%A9", 250 }, Case { "top", 0 }, Case { "", 0 },
             Case { "missing", std::nullopt }, Case { "notanchor", std::nullopt } })
        EXPECT_EQ(page->anchorTop(fragment), top) << fragment;
}

TEST_F(WebPageDrawingTest, ThePageBackgroundTilesFillTheWholeView)
{
    UIGraphicsBeginImageContextWithOptions({ 10, 10 }, true, 1);
    UIColor::redColor()->setFill();
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 10, 10));
    UIColor::blueColor()->setFill();
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 5, 10));
    UIGraphicsGetImageFromCurrentImageContext()->writePNGToFile(folder / "tile.png");
    UIGraphicsEndImageContext();
    write("tiled.html", "<body style='background:url(tile.png)'><p>short</p></body>");
    auto image = open("tiled.html");
    EXPECT_EQ(count(*image, CGRectMake(0, 565, 375, 100), blue), 38 * 5 * 100) << "blue stripes below the page";
    EXPECT_EQ(count(*image, CGRectMake(0, 565, 375, 100), red), 37 * 5 * 100) << "red ones between them";
}

// Pages of 200 x 100 points, the left half of the first red, of the last blue, of the others
// green, the right half white with the page's number in a font the file embeds.
TEST_F(WebPageDrawingTest, APDFShowsItsFirstPageAndItsHundredthWhenScrolledThereAndADamagedOneFails)
{
    auto* pdf = cairo_pdf_surface_create((folder / "hundred.pdf").c_str(), 200, 100);
    auto* cr = cairo_create(pdf);
    for (int page = 1; page <= 100; ++page) {
        cairo_set_source_rgb(cr, page == 1, page != 1 && page != 100, page == 100);
        cairo_rectangle(cr, 0, 0, 100, 100);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_set_font_size(cr, 20);
        cairo_move_to(cr, 110, 60);
        cairo_show_text(cr, std::to_string(page).c_str());
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(pdf);
    auto grey = [](UIPixel p) { return p.red == 153 && p.green == 153 && p.blue == 153; };

    // Each page 359 points wide and 179.5 high, 8 apart and from the edges.
    auto image = open("hundred.pdf");
    EXPECT_EQ(loads->failed, 0);
    EXPECT_EQ(count(*image, CGRectMake(8, 72, 179, 179), red), 179 * 179) << "the first page";
    EXPECT_GT(count(*image, CGRectMake(188, 72, 179, 179), white), 179 * 179 * 9 / 10) << "its right half";
    EXPECT_GT(count(*image, CGRectMake(188, 72, 179, 179), dark), 30) << "with its number";
    EXPECT_EQ(count(*image, CGRectMake(8, 260, 179, 179), green), 179 * 179) << "the second page under it";
    EXPECT_TRUE(grey(image->pixelAt(100, 67)) && grey(image->pixelAt(3, 300)) && grey(image->pixelAt(371, 300))) << "on grey";

    // Pages drawn for the last part, shown again for the next one, lie where they belong.
    driver.scrollAt({ 100, 300 }, 400);
    image = shoot("hundred-scrolled");
    EXPECT_EQ(count(*image, CGRectMake(8, 236, 179, 178), green), 179 * 178) << "the fourth page";
    EXPECT_EQ(count(*image, CGRectMake(0, 415, 375, 6), grey), 375 * 6) << "the gap below it";
    EXPECT_EQ(count(*image, CGRectMake(8, 65, 179, 600), red), 0) << "the first page gone";

    driver.scrollAt({ 100, 300 }, 100000);
    image = shoot("hundred-end");
    // The last page ends 8 points above the view's bottom: 18758 points in all.
    EXPECT_EQ(count(*image, CGRectMake(8, 481, 179, 178), blue), 179 * 178) << "the hundredth page";
    EXPECT_EQ(count(*image, CGRectMake(0, 660, 375, 7), grey), 375 * 7) << "and the gap below it";
    EXPECT_EQ(count(*image, CGRectMake(0, 64, 375, 603), red), 0);

    // Text in a font the file only names, found by fontconfig within the renderer's sandbox.
    std::string text = "BT /F1 40 Tf 10 30 Td (Hello) Tj ET";
    write("named-font.pdf", vesk::test::pdfWithObjects({ "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>", "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>" }));
    image = open("named-font.pdf");
    EXPECT_GT(count(*image, CGRectMake(8, 72, 359, 179), dark), 500) << "its text";

    // Pages of freak sizes are drawn as they can be, their document whole.
    for (auto* box : { "0 0 0 0", "0 0 1e30 1", "0 0 1 1e30", "0 0 1 99999", "-5 -5 -10 -10" }) {
        auto name = std::string("box ") + box + ".pdf";
        write(name, vesk::test::pdfWithObjects({ "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 3 0 R] /Count 2 >>", std::string("<< /Type /Page /Parent 2 0 R /MediaBox [") + box + "] >>" }));
        auto failed = loads->failed;
        open(name);
        driver.scrollAt({ 100, 300 }, 100000);
        shoot(name + "-end");
        EXPECT_EQ(loads->failed, failed) << box;
        EXPECT_TRUE(web->renderedPixels()) << box;
    }

    std::string damaged = "%PDF-1.7\n";
    for (int i = 0; i < 4096; ++i)
        damaged += static_cast<char>((i * 7919) % 251);
    write("damaged.pdf", damaged);
    write("text.pdf", "not a PDF at all");
    for (auto* name : { "damaged.pdf", "text.pdf" }) {
        auto failed = loads->failed;
        open(name);
        EXPECT_EQ(loads->failed, failed + 1) << name;
    }
}

TEST_F(WebPageDrawingTest, AWidePageScrollsSidewaysByDragWheelAndArrowsAndANarrowOneDoesNot)
{
    // A link at 400 and a block at 900, both past the view's right edge; the link leads far down.
    write("wide.html", "<body style='margin:0'><a href='#far' style='display:block;margin-left:400px;width:100px;height:50px;background:#00ff00'></a>"
                       "<div style='margin-left:900px;width:100px;height:50px;background:#ff0000'></div><div style='height:3000px'></div>"
                       "<div id='far' style='height:50px;background:#0000ff'></div><div style='height:1000px'></div></body>");
    auto image = open("wide.html");
    EXPECT_EQ(web->renderedWidth(), 1000) << "the page reaches right past the view";
    EXPECT_EQ(count(*image, CGRectMake(0, 64, 375, 100), [](UIPixel p) { return green(p) || red(p); }), 0);
    // Under the bar's line.
    auto greenAt = [&](CGFloat x) { return count(*image, CGRectMake(x, 65, 100, 49), green); };

    driver.dragFrom({ 300, 400 }, { 100, 400 });
    image = shoot("wide-dragged");
    EXPECT_EQ(greenAt(200), 100 * 49) << "the content follows the pointer left, drawn where it now is";
    driver.pressKey(UIKey::Down);
    image = shoot("wide-down");
    EXPECT_EQ(greenAt(200), 100 * 9) << "a step down: 40 of its 50 rows above the view";
    driver.pressKey(UIKey::Up);
    driver.pressKey(UIKey::Right);
    driver.pressKey(UIKey::Right);
    driver.pressKey(UIKey::Left);
    image = shoot("wide-arrows");
    EXPECT_EQ(greenAt(160), 100 * 49) << "two steps right and one back";
    driver.scrollAt({ 200, 400 }, 1e6, 0);
    image = shoot("wide-end");
    EXPECT_EQ(count(*image, CGRectMake(275, 114, 100, 50), red), 100 * 50) << "the wheel tilted right stops at the page's right edge";
    EXPECT_EQ(count(*image, CGRectMake(0, 64, 375, 50), green), 0);
    driver.scrollAt({ 200, 400 }, -1e6, 0);
    image = shoot("wide-start");
    EXPECT_EQ(count(*image, CGRectMake(0, 64, 375, 100), [](UIPixel p) { return green(p) || red(p); }), 0) << "and left at its left edge";

    // A tap where the link now shows follows it: the point is the page's, moved sideways.
    driver.dragFrom({ 300, 400 }, { 100, 400 });
    driver.tapAt({ 250, 64 + 25 });
    driver.drain();
    image = shoot("wide-tapped");
    EXPECT_EQ(count(*image, CGRectMake(0, 65, 175, 49), blue), 175 * 49) << "scrolled down to the link's target, still moved sideways";

    // A long line of preformatted text is read to its end.
    write("pre.html", "<body style='margin:0'><pre style='margin:0'>" + std::string(200, 'x') + "<span style='color:#ff0000;background:#ff0000'>end</span></pre></body>");
    image = open("pre.html");
    EXPECT_GT(web->renderedWidth(), 1000);
    EXPECT_EQ(count(*image, CGRectMake(0, 64, 375, 40), red), 0);
    driver.scrollAt({ 200, 300 }, 1e6, 0);
    image = shoot("pre-end");
    EXPECT_GT(count(*image, CGRectMake(300, 64, 75, 40), red), 100) << "its end at the right edge";

    // A page as wide as the view stays put whatever moves sideways.
    write("narrow.html", "<body style='margin:0'><div style='height:50px;background:#00ff00'></div><p>Narrow</p></body>");
    auto before = open("narrow.html");
    EXPECT_EQ(web->renderedWidth(), 375);
    driver.dragFrom({ 300, 400 }, { 100, 400 });
    driver.scrollAt({ 200, 400 }, 500, 0);
    driver.pressKey(UIKey::Right);
    EXPECT_TRUE(shoot("narrow-moved")->hasEqualPixels(*before));
}
