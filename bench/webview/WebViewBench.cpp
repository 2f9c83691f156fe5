// Time from loading a page to its first drawn frame in the web view, and how much the resident
// memory grew, for a 1 MB article with 50 pictures and a style sheet and for hostile pages;
// beside headless Chromium's time to a screenshot of the same file on this machine.

#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/UIWebView.h"

#include <cairo.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace vesk::platform;
using Steady = std::chrono::steady_clock;

namespace {

double residentMB()
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * double(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

std::string repeat(std::string_view part, std::size_t bytes)
{
    std::string text;
    while (text.size() < bytes)
        text += part;
    return text;
}

// The article: headings, paragraphs, lists, a table and 50 pictures, with a linked style sheet.
void writeArticle(const std::filesystem::path& folder)
{
    std::ofstream(folder / "article.css") << "body { font-family: serif; max-width: 40em; margin: auto; color: #222 }\n"
                                             "h2 { color: #036; border-bottom: 1px solid #ccc }\n"
                                             "img { width: 100%; height: auto } td { border: 1px solid #999; padding: 2px }\n";
    for (int i = 0; i < 50; ++i) {
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 640, 360);
        auto* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, i / 50.0, 0.5, 1 - i / 50.0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_write_to_png(surface, (folder / ("picture" + std::to_string(i) + ".png")).c_str());
        cairo_surface_destroy(surface);
    }
    std::string page = "<html><head><title>Article</title><link rel=stylesheet href=article.css></head><body>";
    std::string paragraph = "<p>" + repeat("Lorem ipsum dolor sit amet, <a href=other.html>consectetur</a> adipiscing elit, <b>sed</b> do eiusmod tempor. ", 900) + "</p>";
    for (int section = 0; page.size() < (1 << 20); ++section) {
        page += "<h2>Section " + std::to_string(section) + "</h2>" + paragraph;
        if (section < 50)
            page += "<img src=picture" + std::to_string(section) + ".png>";
        page += "<ul><li>one</li><li>two</li></ul><table><tr><td>a</td><td>b</td></tr></table>";
    }
    std::ofstream(folder / "article.html") << page << "</body></html>";
}

double chromiumSeconds(const std::filesystem::path& page)
{
    auto start = Steady::now();
    auto command = "chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=375,667 --screenshot=/dev/null file://" + page.string() + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return -1;
    return std::chrono::duration<double>(Steady::now() - start).count();
}

}

int main()
{
    auto folder = std::filesystem::temp_directory_path() / ("vesk-webview-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    writeArticle(folder);
    struct Case {
        const char* name;
        std::string page;
    };
    std::vector<Case> hostile {
        { "q-300000", repeat("<q>", 900000) },
        { "span-300000", repeat("<span>", 1800000) },
        { "table-tr-td-70000", repeat("<table><tr><td>", 1050000) },
        { "div-100000-deep", repeat("<div>", 550000) + repeat("</div>", 550000) },
        { "links-100000", repeat("<a href=x.html>link</a> ", 2600000) },
        { "one-huge-table", "<table>" + repeat("<tr><td>cell</td><td>cell</td></tr>", 1 << 20) + "</table>" },
        { "one-line-1MB", repeat("word ", 1 << 20) },
    };
    for (auto& test : hostile)
        std::ofstream(folder / (std::string(test.name) + ".html")) << test.page;
    std::vector<const char*> names { "article" };
    for (auto& test : hostile)
        names.push_back(test.name);

    std::printf("%-20s %12s %10s %12s %8s\n", "page", "first frame", "memory", "chromium", "ratio");
    for (auto* name : names) {
        auto path = folder / (std::string(name) + ".html");
        auto before = residentMB();
        auto start = Steady::now();
        auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
        web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(path.string())));
        RunLoop::main().runUntil([&] { return web->showsRenderedPage() || !web->isLoading(); }, std::chrono::minutes(5));
        UIGraphicsBeginImageContextWithOptions(web->bounds().size, true, 1);
        web->drawRect(web->bounds());
        UIGraphicsEndImageContext();
        double seconds = std::chrono::duration<double>(Steady::now() - start).count();
        double grown = residentMB() - before;
        RunLoop::main().runUntil([&] { return !web->isLoading(); }, std::chrono::minutes(5));
        web.reset();
        double chromium = chromiumSeconds(path);
        std::printf("%-20s %10.2f s %7.0f MB %10.2f s %7.2fx\n", name, seconds, grown, chromium, chromium > 0 ? seconds / chromium : 0.0);
        std::fflush(stdout);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
