// Opens a big page in the web viewer on the phone and closes it, ten times (or as many as the
// second argument says), and prints the app's resident and anonymous memory after each close and
// again ten seconds after the last, against the figure after the first close (which loads what
// every page needs). The page is the file named by the first argument, else SQLite's
// requirements.html (1.8 MB, from Debian's sqlite3-doc) when it is installed, else a 2 MB page of
// sections made here. Target: the app within 5 MB of that figure, since each closed page's renderer is gone
// and nothing of the page is kept.

#include "app/Utility.h"
#include "common/BenchApp.h"
#include "common/BenchFolders.h"
#include "model/VeskFile.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/uikit/RendererProcess.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIViewController.h"
#include "platform/uikit/UIViewRendering.h"
#include "viewers/WebViewController.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

using namespace vesk;
using namespace vesk::platform;

namespace {

// Resident and anonymous memory in MB, as the kernel counts them.
struct Memory {
    double resident = 0;
    double anonymous = 0;
};

Memory memory()
{
    Memory figures;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            figures.resident = std::stod(line.substr(6)) / 1024;
        else if (line.starts_with("RssAnon:"))
            figures.anonymous = std::stod(line.substr(8)) / 1024;
    }
    return figures;
}

std::string sectionsPage(std::size_t bytes)
{
    std::string page = "<html><head><title>Requirements</title></head><body><h1>Requirements</h1>";
    for (int section = 0; page.size() < bytes; ++section) {
        page += "<h2 id=s" + std::to_string(section) + ">Section " + std::to_string(section) + "</h2><p><a href=#s" + std::to_string(section) + ">R-" + std::to_string(section)
            + "</a> ";
        for (int sentence = 0; sentence < 12; ++sentence)
            page += "The database <b>shall</b> keep what was written, in the order it was written. ";
        page += "</p>\n";
    }
    return page + "</body></html>";
}

// Shows the page until it has loaded and the window drew it a few times, then closes the viewer;
// whether the page showed.
bool view(const std::string& path, const std::shared_ptr<UIViewController>& home)
{
    auto window = UIApplication::sharedApplication().keyWindow();
    Utility utility;
    utility.openWeb(VeskFile::initWithPath(path), home);
    RunLoop::main().drain();
    auto viewer = bench::presentedViewer<WebViewController>(home);
    auto web = viewer ? viewer->webView() : nullptr;
    if (!web)
        return false;
    RunLoop::main().runUntil([&] { return !web->isLoading(); }, std::chrono::minutes(2));
    bool shown = web->showsRenderedPage();
    for (int frame = 0; frame < 5; ++frame) {
        UIRenderer::imageOfWindow(*window, 2);
        RunLoop::main().runUntil([] { return !RendererProcess::anyBusy(); }, std::chrono::seconds(5));
    }
    int pid = web->rendererProcessID();
    web.reset();
    viewer->dismissViewControllerAnimated(false);
    viewer.reset();
    RunLoop::main().drain();
    UIRenderer::imageOfWindow(*window, 2);
    // Until its renderer is gone and reaped.
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid > 0 && std::filesystem::exists("/proc/" + std::to_string(pid)) && std::chrono::steady_clock::now() < limit)
        RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(20));
    RunLoop::main().drain();
    return shown;
}

}

int main(int argc, char** argv)
{
    std::string root = bench::makeScratchRoot("big-page-bench");
    std::string path = argc > 1 && *argv[1] ? argv[1] : "";
    for (auto* installed : { "/usr/share/doc/sqlite3/requirements.html", "/usr/share/doc/sqlite3-doc/requirements.html" }) {
        if (path.empty() && std::filesystem::exists(installed))
            path = installed;
    }
    if (path.empty()) {
        path = root + "/requirements.html";
        std::ofstream(path) << sectionsPage(2u << 20);
    }
    auto home = bench::launchOnEmptyScreen();
    // The running app has a couple of dozen idle workers from its first screens (icons, listings,
    // the server), and each load may fall to another of them, as it does there.
    {
        std::atomic<int> started { 0 };
        for (int worker = 0; worker < 24; ++worker) {
            DispatchQueue::global(QualityOfService::Utility).async([&started] {
                ++started;
                while (started < 24)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            });
        }
        while (started < 24 || DispatchQueue::pendingGlobalBlocks() > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    int opens = argc > 2 ? std::max(2, std::atoi(argv[2])) : 10;
    constexpr double target = 5;
    std::printf("%s, %.1f MB, opened and closed %d times\n", path.c_str(), double(std::filesystem::file_size(path)) / 1e6, opens);
    bool met = view(path, home);
    auto before = memory();
    std::printf("after the first close: resident %.1f MB, anonymous %.1f MB\n", before.resident, before.anonymous);
    for (int open = 2; open <= opens; ++open) {
        bool shown = view(path, home);
        auto after = memory();
        std::printf("after close %2d: resident %.1f MB (%+.1f), anonymous %.1f MB (%+.1f)%s\n", open, after.resident, after.resident - before.resident, after.anonymous,
            after.anonymous - before.anonymous, shown ? "" : " -- the page did not show!");
        std::fflush(stdout);
        met = met && shown;
    }
    RunLoop::main().runUntil([] { return false; }, std::chrono::seconds(10));
    auto last = memory();
    std::printf("10 s later: resident %.1f MB (%+.1f, target <= %.0f), anonymous %.1f MB (%+.1f)\n", last.resident, last.resident - before.resident, target, last.anonymous,
        last.anonymous - before.anonymous);
    met = met && last.resident - before.resident <= target;
    NSFileManager::defaultManager().removeItemAtPath(root);
    return met ? 0 : 1;
}
