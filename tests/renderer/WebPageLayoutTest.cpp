// A page laid out after something was drawn on the same thread, as the renderer lays out a long
// page's whole after showing its first part.

#include "renderer/engine/HTMLNesting.h"
#include "renderer/engine/WebPage.h"

#include <cairo.h>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

using namespace vesk::platform;

namespace {

std::string sections(int count)
{
    std::string page = "<html><body>";
    for (int i = 1; i <= count; ++i) {
        page += "<h2>Section " + std::to_string(i) + "</h2><p>Paragraph " + std::to_string(i)
            + ": Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore et dolore magna aliqua. "
              "Ut enim ad minim.</p><ul><li>item a</li><li>item b</li></ul>";
    }
    return page + "</body></html>";
}

std::unique_ptr<WebPage> pageOf(const std::string& markup)
{
    return WebPage::create(boundedHTMLNesting(markup), NSURL::fileURLWithPath("/page.html"), [](const NSURL&) { return std::optional<std::string>(); });
}

struct Screen {
    std::vector<unsigned char> pixels;
    double height = 0;
};

// The first screen of the page at the width, drawn at twice its points as on a phone or a pad.
Screen firstScreen(WebPage& page, double width)
{
    constexpr double scale = 2, height = 600;
    page.layout(width);
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(width * scale), int(height * scale));
    auto* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    page.draw(cr, CGRectMake(0, 0, width, height));
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    auto* data = cairo_image_surface_get_data(surface);
    Screen screen { { data, data + cairo_image_surface_get_stride(surface) * cairo_image_surface_get_height(surface) }, page.height() };
    cairo_surface_destroy(surface);
    return screen;
}

// On a thread of its own: the thread's text measuring starts fresh.
template<typename Work>
Screen onNewThread(Work work)
{
    Screen screen;
    std::thread([&] { screen = work(); }).join();
    return screen;
}

}

TEST(WebPageLayoutTest, ALongPagesFirstScreenEqualsAShortPagesWithTheSameBeginningAfterItsFirstPartWasDrawn)
{
    auto shortPage = sections(100), longPage = sections(200);
    ASSERT_GT(longPage.size(), 32u * 1024);
    for (double width : { 375.0, 768.0 }) {
        SCOPED_TRACE(width);
        auto expected = onNewThread([&] { return firstScreen(*pageOf(shortPage), width); });
        // Its first part drawn, then the whole laid out and drawn, as the renderer does.
        auto shown = onNewThread([&] {
            auto cut = htmlFirstPartEnd(longPage, 8 * 1024);
            EXPECT_NE(cut, std::string::npos);
            firstScreen(*pageOf(longPage.substr(0, cut)), width);
            return firstScreen(*pageOf(longPage), width);
        });
        EXPECT_TRUE(shown.pixels == expected.pixels) << "the first screen is drawn alike";
        // And the page as long as twice the short one's sections make it.
        auto again = onNewThread([&] {
            firstScreen(*pageOf(shortPage), width);
            return firstScreen(*pageOf(shortPage), width);
        });
        EXPECT_EQ(again.height, expected.height) << "a page laid out after a draw is as long as before it";
        EXPECT_NEAR(shown.height, 2 * expected.height, expected.height * 0.02);
    }
}
