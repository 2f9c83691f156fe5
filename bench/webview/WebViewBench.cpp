// Time from loading a page to its first drawn frame in the web view and to its first right one
// (the frame the page settles at), how much the resident memory of the app and its renderer grew
// and the renderer's peak per MB of page, for a 1 MB article with 50 pictures and a style sheet,
// a 40 KB page of 200 sections (shown first in part) and hostile pages; beside headless
// Chromium's time to a screenshot of the same file on this machine. Then the first frame of a 100-page PDF beside pdftoppm drawing its first page, the
// renderer process's start cost, and the main run loop's longest pause while a 25,000-element
// page loads and its view is resized.

#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/RendererProcess.h"
#include "platform/uikit/UIWebView.h"

#include <algorithm>
#include <cairo-pdf.h>
#include <cairo.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace vesk::platform;
using Steady = std::chrono::steady_clock;

namespace {

double residentMB(const std::string& process = "self")
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/" + process + "/statm") >> pages >> resident;
    return resident * double(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// Drawn at the screen's scale, as the window draws it: the scale the first frame is drawn at.
std::shared_ptr<UIImage> draw(UIWebView& web)
{
    UIGraphicsBeginImageContextWithOptions(web.bounds().size, true, 0);
    web.drawRect(web.bounds());
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

// Median of ten starts, from the start to the renderer's first word.
double rendererStartMilliseconds()
{
    std::vector<double> costs;
    for (int run = 0; run < 10; ++run) {
        auto process = RendererProcess::start({});
        if (!process)
            return -1;
        auto limit = Steady::now() + std::chrono::seconds(10);
        while (!process->startCost() && Steady::now() < limit)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (auto cost = process->startCost())
            costs.push_back(cost->count() / 1000.0);
    }
    if (costs.empty())
        return -1;
    std::sort(costs.begin(), costs.end());
    return costs[costs.size() / 2];
}

// The main run loop turned by hand, as the app's loop turns, drawing the view after each turn,
// while the page loads and the view changes width every 300 ms; the longest turn is the longest
// pause a user would see.
void longestPause(const std::filesystem::path& page)
{
    auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    auto start = Steady::now();
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(page.string())));
    double longest = 0, firstPixels = -1;
    int resizes = 0;
    auto resized = Steady::now();
    auto limit = start + std::chrono::minutes(3);
    for (;;) {
        auto turn = Steady::now();
        RunLoop::main().runOnce();
        draw(*web);
        auto now = Steady::now();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(now - turn).count());
        if (firstPixels < 0 && web->renderedPixels())
            firstPixels = std::chrono::duration<double>(now - start).count();
        bool settled = !web->isLoading() && !RendererProcess::anyBusy();
        if (firstPixels >= 0 && now - resized > std::chrono::milliseconds(300) && resizes < 6) {
            web->setFrame(CGRectMake(0, 0, resizes % 2 ? 375 : 768, 603));
            resized = now;
            ++resizes;
        } else if ((resizes == 6 && settled) || now > limit) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    double total = std::chrono::duration<double>(Steady::now() - start).count();
    std::printf("%-20s first pixels %.2f s, %d resizes settled after %.2f s, longest main loop pause %.1f ms (target under 16 ms)\n", "elements-25000",
        firstPixels, resizes, total, longest);
}

// The part again and again, to the given size in bytes.
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

// 100 A4 pages of text, a heading and a box on each, its fonts embedded.
void writePDF(const std::filesystem::path& path)
{
    auto* pdf = cairo_pdf_surface_create(path.c_str(), 595, 842);
    auto* cr = cairo_create(pdf);
    for (int page = 1; page <= 100; ++page) {
        cairo_set_source_rgb(cr, 0.2, 0.3, 0.6);
        cairo_rectangle(cr, 60, 60, 475, 40);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_select_font_face(cr, "serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cr, 18);
        cairo_move_to(cr, 60, 130);
        cairo_show_text(cr, ("Chapter " + std::to_string(page)).c_str());
        cairo_select_font_face(cr, "serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, 11);
        for (int line = 0; line < 50; ++line) {
            cairo_move_to(cr, 60, 160 + line * 13);
            cairo_show_text(cr, "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore.");
        }
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(pdf);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

// The median of five loads from the load to the first drawn frame, beside pdftoppm's first page
// at 96 dots per inch (a point drawn as a pixel and a third, as the view draws it at scale 1).
void pdfFirstFrame(const std::filesystem::path& folder)
{
    auto path = folder / "hundred-pages.pdf";
    writePDF(path);
    std::vector<double> ours, theirs;
    for (int run = 0; run < 5; ++run) {
        auto start = Steady::now();
        auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
        web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(path.string())));
        RunLoop::main().runUntil([&] { return web->renderedPixels() || !web->isLoading(); }, std::chrono::minutes(1));
        draw(*web);
        if (web->renderedPixels())
            ours.push_back(std::chrono::duration<double>(Steady::now() - start).count());
        RunLoop::main().runUntil([&] { return !web->isLoading(); }, std::chrono::minutes(1));
        start = Steady::now();
        auto command = "pdftoppm -r 96 -f 1 -l 1 " + path.string() + " " + (folder / "pdftoppm").string() + " >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0)
            theirs.push_back(std::chrono::duration<double>(Steady::now() - start).count());
    }
    auto first = median(ours), poppler = median(theirs);
    std::printf("%-20s %10.3f s %12s %8.3f s %7.2fx %8s (pdftoppm -r 96 -f 1 -l 1; target within 1.5x)\n", "pdf-100-pages", first, "", poppler,
        poppler > 0 && first > 0 ? first / poppler : 0.0, first > 0 ? "drawn" : "failed");
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
    std::string fonts;
    for (int i = 0; i < 200000; ++i)
        fonts += "font" + std::to_string(i) + ",";
    std::ofstream(folder / "a.css") << "@import url(b.css); p { color: red }";
    std::ofstream(folder / "b.css") << "@import url(a.css); p { color: blue }";
    std::vector<Case> hostile {
        { "q-300000", repeat("<q>", 900000) },
        { "span-300000", repeat("<span>", 1800000) },
        { "table-tr-td-70000", repeat("<table><tr><td>", 1050000) },
        { "div-100000-deep", repeat("<div>", 550000) + repeat("</div>", 550000) },
        { "links-100000", repeat("<a href=x.html>link</a> ", 2600000) },
        { "one-huge-table", "<table>" + repeat("<tr><td>cell</td><td>cell</td></tr>", 1 << 20) + "</table>" },
        { "one-line-1MB", repeat("word ", 1 << 20) },
        { "imports-loop", "<link rel=stylesheet href=a.css><p>x</p>" },
        { "selector-div31", "<style>" + repeat("div ", 31 * 4) + "b { color: red }</style>" + repeat("<div>", 30 * 5) + "<b>x</b>" },
        { "span-2147483647", "<table><tr><td colspan=2147483647 rowspan=2147483647>x</td></tr></table>" },
        { "fonts-200000", "<p style=\"font-family: " + fonts + "serif\">x</p>" },
        { "media-100000", "<style>" + repeat("@media screen {", 1600000) + "p { color: red }" + repeat("}", 100000) + "</style><p>x</p>" },
        { "floats-25000", repeat("<div style='float:left;width:3px'>x</div>", 25000 * 41) },
        { "nth-child-2000", [] {
             std::string rules = "<style>";
             for (int i = 0; i < 2000; ++i)
                 rules += "p:nth-child(" + std::to_string(i) + "n+1) { color: #" + std::to_string(100 + i % 900) + " }";
             return rules + "</style>" + repeat("<p>x</p>", 40000);
         }() },
        { "blur-8000.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='8000' height='8000'><filter id='f'><feGaussianBlur stdDeviation='300'/></filter>"
                           "<rect width='8000' height='8000' fill='red' filter='url(#f)'/></svg>" },
    };
    auto fileOf = [](const std::string& name) { return name.ends_with(".svg") ? name : name + ".html"; };
    for (auto& test : hostile)
        std::ofstream(folder / fileOf(test.name)) << test.page;
    std::string sections = "<html><body>";
    for (int i = 1; i <= 200; ++i)
        sections += "<h2>Section " + std::to_string(i) + "</h2><p>Paragraph " + std::to_string(i)
            + ": Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore et dolore magna aliqua. "
              "Ut enim ad minim.</p><ul><li>item a</li><li>item b</li></ul>";
    std::ofstream(folder / "sections-200.html") << sections << "</body></html>";
    std::vector<const char*> names { "article", "sections-200" };
    for (auto& test : hostile)
        names.push_back(test.name);

    // The first frame, and the first that is right: that equals the frame once the page has
    // settled (a page's pictures come after its first frame). Memory: the app's growth and its
    // renderer's peak together, and the renderer's peak per MB of page.
    std::printf("%-20s %12s %12s %10s %10s %12s %8s %8s\n", "page", "first frame", "right frame", "memory", "per MB", "chromium", "ratio", "shown");
    // What a renderer holds for a page of nothing, taken off the peak of the others.
    std::ofstream(folder / "empty.html") << "<p>x</p>";
    double baseline = -1;
    names.insert(names.begin(), "empty");
    for (auto* name : names) {
        auto path = folder / fileOf(name);
        auto before = residentMB();
        auto start = Steady::now();
        auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
        web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(path.string())));
        // The renderer's memory at its highest, looked at as the app's watch does; every frame
        // shown, with when it showed.
        double renderer = 0;
        std::vector<std::pair<double, std::shared_ptr<UIImage>>> frames;
        std::uint64_t revision = 0;
        auto watch = [&] {
            if (auto pid = web->rendererProcessID())
                renderer = std::max(renderer, residentMB(std::to_string(pid)));
            if (web->renderedPixels() && web->pageRevision() != revision && frames.size() < 64) {
                revision = web->pageRevision();
                auto image = draw(*web);
                frames.emplace_back(std::chrono::duration<double>(Steady::now() - start).count(), std::move(image));
            }
        };
        RunLoop::main().runUntil(
            [&] {
                watch();
                return !web->isLoading() && !RendererProcess::anyBusy();
            },
            std::chrono::minutes(5));
        const char* outcome = web->renderedPixels() ? "drawn" : "failed";
        auto settled = web->renderedPixels() ? draw(*web) : nullptr;
        double first = frames.empty() ? -1 : frames.front().first, right = -1;
        for (auto& [when, image] : frames) {
            if (settled && image && image->hasEqualPixels(*settled)) {
                right = when;
                break;
            }
        }
        double grown = residentMB() - before + renderer;
        web.reset();
        if (baseline < 0) {
            baseline = renderer;
            std::printf("%-20s renderer at %.0f MB\n", name, renderer);
            continue;
        }
        // Per MB of page only where the page is big enough for its cost to show.
        double megabytes = double(std::filesystem::file_size(path)) / (1 << 20);
        char perMB[32] = "-";
        if (megabytes >= 0.25)
            std::snprintf(perMB, sizeof perMB, "%.0f MB", std::max(0.0, renderer - baseline) / megabytes);
        double chromium = chromiumSeconds(path);
        std::printf("%-20s %10.2f s %10.2f s %7.0f MB %10s %10.2f s %7.2fx %8s\n", name, first, right, grown, perMB, chromium,
            chromium > 0 && right > 0 ? right / chromium : 0.0, outcome);
        std::fflush(stdout);
    }
    pdfFirstFrame(folder);
    std::printf("renderer start cost %.1f ms (median of 10; target under 50 ms)\n", rendererStartMilliseconds());
    std::string elements = "<html><body>";
    for (int i = 0; i < 8333; ++i)
        elements += "<div><p>Item " + std::to_string(i) + " <b>bold</b> text</p></div>";
    std::ofstream(folder / "elements.html") << elements << "</body></html>";
    longestPause(folder / "elements.html");
    std::filesystem::remove_all(folder);
    return 0;
}
