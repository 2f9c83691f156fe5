// Opens a folder of 100,000 files in the file list and prints, in one run: the time from
// viewDidLoad to the first complete table (the rows on screen made, each with its icon and
// permission line) beside `ls -la` of the same folder, the cells made, and the growth of the
// resident memory. Targets: at most 2x the time of `ls -la`, fewer than 100 cells, less than
// 100 MB. Times are medians of several runs; the cells and the memory are those of the first.
// Then, with that list on screen, the longest pause of the main run loop while its folder
// watcher starts, checks for five seconds and stops (target 16 ms); and, with 1,000 bookmarks
// stored, the time to open a folder of 15 files (target 50 ms).

#include "app/MainStoryboard.h"
#include "app/VeskFileCell.h"
#include "app/VeskFileListController.h"
#include "common/BenchFolders.h"
#include "model/Bookmarks.h"
#include "model/VeskFile.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/system/MemoryInfo.h"
#include "platform/uikit/UIStoryboard.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace vesk;
using namespace vesk::platform;
using WallClock = std::chrono::steady_clock;

namespace {

constexpr int fileCount = 100'000;
constexpr int runs = 5;

double millisecondsSince(WallClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(WallClock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double lsLa(const std::string& folder)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::string target = folder;
    char* argv[] = { const_cast<char*>("ls"), const_cast<char*>("-la"), target.data(), nullptr };
    auto start = WallClock::now();
    pid_t child = 0;
    int status = 0;
    bool ran = posix_spawnp(&child, "ls", &actions, nullptr, argv, environ) == 0 && ::waitpid(child, &status, 0) == child;
    double elapsed = millisecondsSince(start);
    posix_spawn_file_actions_destroy(&actions);
    if (!ran || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "ls -la failed\n");
        std::exit(1);
    }
    return elapsed;
}

// The list from viewDidLoad until the rows on screen are complete; answers the milliseconds.
double openList(const std::string& folder, std::shared_ptr<VeskFileListController>& list, std::size_t entries = fileCount)
{
    list = UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList");
    list->setFile(VeskFile::initWithPath(folder));
    auto start = WallClock::now();
    list->view();
    auto table = list->tableView();
    bool complete = RunLoop::main().runUntil([&] {
        if (list->currentFiles().size() != entries)
            return false;
        auto cells = table->visibleCells();
        return !cells.empty() && std::all_of(cells.begin(), cells.end(), [](auto& cell) {
            auto fileCell = std::static_pointer_cast<VeskFileCell>(cell);
            return fileCell->fileIcon()->image() && fileCell->detailsLabel()->text();
        });
    },
        std::chrono::seconds(60));
    double elapsed = millisecondsSince(start);
    if (!complete) {
        std::fprintf(stderr, "the table was not complete within a minute\n");
        std::exit(1);
    }
    return elapsed;
}

}

int main()
{
    std::string root = bench::makeScratchRoot("filelist-bench");
    std::string folder = root + "/files";
    ::setenv("LC_ALL", "C", 1); // ls at its fastest: plain byte order, no locale collation
    bench::makeFolder(folder, fileCount);
    registerMainStoryboard();
    int cellsMade = 0;
    UITableView::registerPrototypeCell("fileCell", [&](const std::string& identifier) {
        ++cellsMade;
        return std::make_shared<VeskFileCell>(identifier);
    });
    lsLa(folder); // both start from a warm directory cache

    std::vector<double> ours;
    std::vector<double> theirs;
    double growth = 0;
    int firstCells = 0;
    for (int run = 0; run < runs; ++run) {
        std::shared_ptr<VeskFileListController> list;
        double before = bench::residentMegabytes();
        cellsMade = 0;
        ours.push_back(openList(folder, list));
        if (run == 0) {
            growth = bench::residentMegabytes() - before;
            firstCells = cellsMade;
        }
        list.reset();
        RunLoop::main().drain();
        theirs.push_back(lsLa(folder));
    }
    double ratio = median(ours) / median(theirs);
    std::printf("viewDidLoad to first complete table: %.1f ms | ls -la: %.1f ms | ratio %.2f (target <= 2)\n", median(ours), median(theirs), ratio);
    std::printf("cells made: %d (target < 100)\n", firstCells);
    std::printf("resident memory growth: %.1f MB (target < 100)\n", growth);

    // The watcher of the big folder: listing in the background, the main loop only compares.
    std::shared_ptr<VeskFileListController> watched;
    openList(folder, watched);
    auto never = [] { return false; };
    double watching = bench::longestMainLoopPause([&] { watched->viewDidAppear(false); }, never, std::chrono::seconds(5));
    double stopping = bench::longestMainLoopPause([&] { watched->viewDidDisappear(false); }, never, std::chrono::seconds(1));
    watched.reset();
    RunLoop::main().drain();
    std::printf("longest main-loop pause, watching 100,000 entries: %.1f ms, stopping: %.1f ms (target 16)\n", watching, stopping);

    // A small folder while 1,000 bookmarks are stored: every cell and watcher asks about its item.
    std::string marked = root + "/marked";
    bench::makeFolder(marked, 1000);
    bench::makeFolder(root + "/small", 15);
    Bookmarks store;
    store.setup();
    for (int i = 0; i < 1000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/file%06d.txt", i);
        store.save(VeskFile::initWithPath(marked + name));
    }
    std::vector<double> small;
    for (int run = 0; run < runs; ++run) {
        std::shared_ptr<VeskFileListController> list;
        small.push_back(openList(root + "/small", list, 15));
        list->viewDidAppear(false);
        list->viewDidDisappear(false);
        list.reset();
        RunLoop::main().drain();
    }
    std::printf("opening 15 files with 1,000 bookmarks: %.1f ms (target < 50)\n", median(small));
    NSFileManager::defaultManager().removeItemAtPath(root);
    return ratio <= 2 && firstCells < 100 && growth < 100 && watching <= 16 && stopping <= 16 && median(small) < 50 ? 0 : 1;
}
