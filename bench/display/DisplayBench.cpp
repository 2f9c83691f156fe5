// Draws the file list of a folder of 100,000 files at the default screen size (375 x 667
// points at scale 2) and prints, in one run: the median and 99th-percentile time of a full
// redraw and of a one-row scroll step (the scroll, the new cells and the drawing), the cells
// drawn per frame, and the growth of the resident memory from before the list opened.
// Targets: a full redraw's 99th percentile under 8 ms, only the rows in view drawn, less than
// 150 MB of growth.

#include "app/MainStoryboard.h"
#include "app/VeskFileCell.h"
#include "app/VeskFileListController.h"
#include "common/BenchFolders.h"
#include "model/VeskFile.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/MemoryInfo.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIViewRendering.h"

#include <algorithm>
#include <cairo.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace vesk;
using namespace vesk::platform;
using WallClock = std::chrono::steady_clock;

namespace {

constexpr int fileCount = 100'000;
constexpr int frames = 300;

int cellsDrawn = 0;

// The storyboard's file cell, counting how often the renderer draws one.
class CountedCell : public VeskFileCell {
public:
    using VeskFileCell::VeskFileCell;
    void drawRect(CGRect rect) override
    {
        ++cellsDrawn;
        VeskFileCell::drawRect(rect);
    }
};

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()))];
}

// Times one drawing of the window into the surface, in milliseconds.
double draw(UIWindow& window, cairo_surface_t* surface, CGFloat scale)
{
    auto start = WallClock::now();
    auto* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    UIRenderer::renderWindow(window, cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    return std::chrono::duration<double, std::milli>(WallClock::now() - start).count();
}

}

int main()
{
    std::string root = bench::makeScratchRoot("display-bench");
    std::string folder = root + "/files";
    bench::makeFolder(folder, fileCount);
    // The clock stands still: the folder watcher's re-listing each second is the list's own
    // cost (bench/filelist), not the drawing's.
    RunLoop::main().useFakeClock();
    registerMainStoryboard();
    UITableView::registerPrototypeCell("fileCell", [](const std::string& identifier) { return std::make_shared<CountedCell>(identifier); });

    auto bounds = UIScreen::mainScreen().bounds();
    auto scale = UIScreen::mainScreen().scale();
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(bounds.size.width * scale), int(bounds.size.height * scale));
    double before = bench::residentMegabytes();

    auto list = UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList");
    list->setFile(VeskFile::initWithPath(folder));
    auto window = std::make_shared<UIWindow>(bounds);
    window->setRootViewController(UINavigationController::initWithRootViewController(list));
    window->makeKeyAndVisible();
    auto table = list->tableView();
    // The list is read, and the rows in view have their icons and permission lines.
    bool ready = RunLoop::main().runUntil([&] {
        if (list->currentFiles().size() != fileCount)
            return false;
        draw(*window, surface, scale);
        auto cells = table->visibleCells();
        return !cells.empty() && std::all_of(cells.begin(), cells.end(), [](auto& cell) {
            return std::static_pointer_cast<VeskFileCell>(cell)->fileIcon()->image() != nullptr;
        });
    },
        std::chrono::seconds(60));
    if (!ready) {
        std::fprintf(stderr, "the list was not complete within a minute\n");
        return 1;
    }

    std::vector<double> full, step;
    int mostCells = 0;
    for (int frame = 0; frame < frames; ++frame) {
        cellsDrawn = 0;
        full.push_back(draw(*window, surface, scale));
        mostCells = std::max(mostCells, cellsDrawn);
    }
    for (int frame = 0; frame < frames; ++frame) {
        auto start = WallClock::now();
        auto offset = table->contentOffset();
        table->setContentOffset({ offset.x, offset.y + 52 });
        cellsDrawn = 0;
        draw(*window, surface, scale);
        step.push_back(std::chrono::duration<double, std::milli>(WallClock::now() - start).count());
        mostCells = std::max(mostCells, cellsDrawn);
        // The icons of the new rows arrive between frames, as in the window.
        RunLoop::main().drain();
    }
    double growth = bench::residentMegabytes() - before;
    auto rowsInView = int((bounds.size.height - 64 - 44) / 52) + 2;
    std::printf("full redraw: median %.2f ms, p99 %.2f ms (target p99 < 8 ms)\n", percentile(full, 0.5), percentile(full, 0.99));
    std::printf("one-row scroll step: median %.2f ms, p99 %.2f ms\n", percentile(step, 0.5), percentile(step, 0.99));
    std::printf("cells drawn per frame: at most %d (rows in view: up to %d)\n", mostCells, rowsInView);
    std::printf("resident memory growth: %.1f MB (target < 150)\n", growth);
    cairo_surface_destroy(surface);
    window.reset();
    list.reset();
    RunLoop::main().drain();
    NSFileManager::defaultManager().removeItemAtPath(root);
    return percentile(full, 0.99) < 8 && mostCells <= rowsInView && growth < 150 ? 0 : 1;
}
