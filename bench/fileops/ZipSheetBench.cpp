// Opens the zip sheet of a folder of 5,000 files (in folders of their own, two files of one
// name among them) from the folder's "More" sheet, in a desktop window that SDL's dummy driver
// stands in for, on the phone and on the pad. Prints how long the sheet took from the "Zip"
// choice to its first drawing, and the process's processor time over 10 s with it open, beside
// the same figure for the "Copy/Move" alert and for the file list alone.
// Targets: the sheet drawn within 1 s; open, it adds at most 0.1 s of processor time over the
// 10 s (1 % of a core) to what the list alone costs.

#include "app/MainStoryboard.h"
#include "app/Utility.h"
#include "app/VeskFileListController.h"
#include "common/BenchFolders.h"
#include "model/VeskFile.h"
#include "model/VeskNotificationManager.h"
#include "platform/display/DesktopWindow.h"
#include "platform/display/ScreenSetting.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/uikit/UIDriver.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIViewRendering.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

using namespace vesk;
using namespace vesk::platform;
using Steady = std::chrono::steady_clock;

namespace {

constexpr int fileCount = 5000;
constexpr auto openFor = std::chrono::seconds(10);

double processorSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Processor time of the whole process while the main loop turns, the window drawing what changed.
double idleCost()
{
    auto before = processorSeconds();
    RunLoop::main().runUntil([] { return false; }, openFor);
    return processorSeconds() - before;
}

// The app on the file list of the root folder given, as a person would see it there.
std::shared_ptr<VeskFileListController> launchOn(const std::string& root)
{
    registerMainStoryboard();
    auto list = UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList");
    list->setFile(VeskFile::initWithPath(root));
    UIStoryboard::storyboardWithName("Main").setInitialViewController([list] { return UINavigationController::initWithRootViewController(list); });
    UIApplication::sharedApplication().launch(std::make_shared<UIApplicationDelegate>());
    return list;
}

bool closeAlert(UIDriver& driver)
{
    bool closed = driver.chooseAlertAction("Cancel");
    driver.drain();
    return closed && !driver.alert();
}

}

int main()
{
    std::string root = bench::makeScratchRoot("zip-sheet-bench");
    std::string folder = root + "/many";
    ::mkdir(folder.c_str(), 0755);
    for (int part = 0; part < 10; ++part)
        bench::makeFolder(folder + "/part" + std::to_string(part), fileCount / 10 - (part < 2 ? 1 : 0));
    for (auto part : { "/part0", "/part1" }) {
        int fd = ::open((folder + part + "/long.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::close(fd);
    }

    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    bool met = true;
    for (auto screen : { "375x667@2", "768x1024@2" }) {
        ScreenSetting::parse(screen)->apply();
        auto home = launchOn(root);
        UIDriver driver;
        RunLoop::main().useSystemClock();
        std::string failure;
        auto window = DesktopWindow::open(failure);
        if (!window) {
            std::fprintf(stderr, "no window: %s\n", failure.c_str());
            return 1;
        }
        window->start();
        RunLoop::main().runUntil([] { return false; }, std::chrono::seconds(2));
        Utility utility;
        auto many = VeskFile::initWithPath(folder);

        double listCost = idleCost();
        utility.copyCutContent({ many }, home);
        driver.drain();
        double alertCost = idleCost();
        closeAlert(driver);

        utility.shareFile(home, CGRectMake(0, 100, 375, 52), { many });
        driver.drain();
        auto chosen = Steady::now();
        driver.chooseAlertAction("Zip");
        // Drawn: the sheet is up and the window has nothing left to draw.
        bool shown = RunLoop::main().runUntil([&] {
            auto sheet = driver.alert();
            return sheet && sheet->title().value_or("").starts_with("Zip ") && !UIRenderer::needsDisplay();
        },
            std::chrono::seconds(60));
        double appeared = std::chrono::duration<double>(Steady::now() - chosen).count();
        double sheetCost = idleCost();
        auto sheet = driver.alert();
        std::printf("%s: zip sheet \"%s\" drawn after %.2f s (target 1 s)%s\n", screen, sheet ? sheet->title().value_or("").c_str() : "none", appeared,
            shown ? "" : ", never settled");
        std::printf("%s: processor time over %lld s: zip sheet open %.2f s, Copy/Move alert open %.2f s, the list alone %.2f s\n", screen,
            static_cast<long long>(openFor.count()), sheetCost, alertCost, listCost);
        std::fflush(stdout);
        met = met && shown && appeared <= 1 && sheetCost <= listCost + 0.1;
        closeAlert(driver);
        window.reset();
        UIApplication::sharedApplication().reset();
    }
    NSFileManager::defaultManager().removeItemAtPath(root);
    VeskNotificationManager::reset();
    return met ? 0 : 1;
}
