// Pages laid out and drawn by the engine alone, for tests that compare them pixel by pixel or
// read their boxes back from their pixels. Each drawing is kept as a PNG to look at.

#pragma once

#include "platform/graphics/UIImage.h"
#include "renderer/engine/HTMLNesting.h"
#include "renderer/engine/WebPage.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace vesk::platform::drawnpages {

struct DrawnPage {
    std::unique_ptr<WebPage> page;
    std::shared_ptr<UIImage> image;
    // Laid out this wide; drawn `width` wide (more for a page that scrolls sideways) and
    // `height` high.
    int layoutWidth = 0;
    int width = 0;
    int height = 0;

    UIPixel at(int x, int y) const { return image->pixelAt(x, y); }
    int count(int x, int y, int w, int h, const std::function<bool(UIPixel)>& test) const
    {
        int found = 0;
        for (int row = y; row < y + h; ++row) {
            for (int column = x; column < x + w; ++column)
                found += test(image->pixelAt(column, row));
        }
        return found;
    }
    int count(const std::function<bool(UIPixel)>& test) const { return count(0, 0, width, height, test); }

    // Laid out again and drawn, as after a click; the PNG is `file`.png.
    void redraw(const std::string& file)
    {
        page->layout(layoutWidth);
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
        auto* cr = cairo_create(surface);
        page->draw(cr, CGRectMake(0, 0, width, height));
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        image = std::make_shared<UIImage>(surface, 1);
        cairo_surface_destroy(surface);
        image->writePNGToFile((std::filesystem::path(VESK_BINARY_DIR) / (file + ".png")).string());
    }
};

struct PageSize {
    int layoutWidth = 0;
    int width = 0;
    int height = 0;
};

// The markup as a page of its own (bounded as the renderer bounds it), laid out and drawn;
// `prepare` hands it what it loads before its layout. No image where it could not be made.
inline DrawnPage drawPage(const std::string& file, const std::string& markup, PageSize size, const std::function<void(WebPage&)>& prepare = {})
{
    DrawnPage drawn { nullptr, nullptr, size.layoutWidth, size.width, size.height };
    drawn.page = WebPage::create(boundedHTMLNesting(markup), NSURL::fileURLWithPath("/pages/" + file + ".html"), nullptr);
    EXPECT_TRUE(drawn.page) << file;
    if (!drawn.page)
        return drawn;
    if (prepare)
        prepare(*drawn.page);
    drawn.redraw(file);
    return drawn;
}

// How many pixels differ where both were drawn.
inline int differences(const DrawnPage& a, const DrawnPage& b)
{
    int found = 0;
    for (int row = 0; row < std::min(a.height, b.height); ++row) {
        for (int column = 0; column < std::min(a.width, b.width); ++column) {
            auto p = a.at(column, row), q = b.at(column, row);
            found += p.red != q.red || p.green != q.green || p.blue != q.blue;
        }
    }
    return found;
}

// A page and the twin a browser draws alike.
struct AlikePair {
    const char* name;
    std::string page;
    std::string twin;
};

// Each pair drawn pixel for pixel alike, the twin drawing something (more than 50 pixels that
// `inked` takes for ink) so that two empty drawings don't pass.
inline void expectAlike(const std::vector<AlikePair>& pairs, const std::function<DrawnPage(const std::string&, const std::string&)>& draw,
    const std::function<bool(const DrawnPage&, UIPixel)>& inked)
{
    for (auto& pair : pairs) {
        auto page = draw(std::string(pair.name) + "-page", pair.page);
        auto twin = draw(std::string(pair.name) + "-twin", pair.twin);
        ASSERT_TRUE(page.image && twin.image) << pair.name;
        EXPECT_GT(twin.count([&](UIPixel p) { return inked(twin, p); }), 50) << pair.name << ": the twin draws something";
        EXPECT_EQ(differences(page, twin), 0) << pair.name;
    }
}

}
