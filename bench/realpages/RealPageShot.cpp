// The first screen of each page as the app's web viewer shows it, drawn to PNG: the app is
// launched on the screen given, each page opened as a person opens it from the file list (its
// own renderer process, the viewer's bars around it), and the web view's part of the window is
// kept. realpages.py runs it beside headless Chromium; run by hand:
//
//     VESK_HOME=/tmp/home realpage_shot 375x667@2 out-folder page.html...
//
// A line per page on standard output: the PNG, the web view's width and height in points, the
// scale and "drawn" or "failed", tab-separated. Pages outside $VESK_HOME/Documents read files
// from their own folder only, as in the app.

#include "app/MainStoryboard.h"
#include "common/BenchApp.h"
#include "app/Utility.h"
#include "model/VeskFile.h"
#include "platform/foundation/AppHome.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/RendererProcess.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIDriver.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIWebView.h"
#include "viewers/WebViewController.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

using namespace vesk;
using namespace vesk::platform;

namespace {

struct Screen {
    double width = 0, height = 0, scale = 0;
};

bool parseScreen(const std::string& text, Screen& screen)
{
    return std::sscanf(text.c_str(), "%lfx%lf@%lf", &screen.width, &screen.height, &screen.scale) == 3 && screen.width >= 100 && screen.height >= 100
        && screen.scale >= 1 && screen.scale <= 4;
}

// The page shown in the viewer until it has settled (its pictures in, its pixels drawn), then
// its part of the window; the viewer closed again.
void shoot(const std::string& page, const std::string& png, const Screen& screen, const std::shared_ptr<UIViewController>& home)
{
    Utility utility;
    utility.openWeb(VeskFile::initWithPath(page), home);
    RunLoop::main().drain();
    auto viewer = bench::presentedViewer<WebViewController>(home);
    auto web = viewer ? viewer->webView() : nullptr;
    if (!web) {
        std::printf("%s\t0\t0\t%g\tfailed\n", png.c_str(), screen.scale);
        return;
    }
    UIDriver driver;
    RunLoop::main().runUntil(
        [&] {
            driver.render(screen.scale);
            return !web->isLoading() && !RendererProcess::anyBusy() && web->renderedPixels();
        },
        std::chrono::minutes(2));
    // Pictures that came late are laid out again: the screen is drawn until it stays the same
    // for three turns a while apart.
    auto image = driver.render(screen.scale);
    for (int round = 0, same = 0; round < 40 && same < 3; ++round) {
        RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(50));
        driver.drain();
        auto again = driver.render(screen.scale);
        same = again->hasEqualPixels(*image) ? same + 1 : 0;
        image = again;
    }
    auto frame = web->convertRectToView(web->bounds(), nullptr);
    UIGraphicsBeginImageContextWithOptions(frame.size, true, screen.scale);
    image->drawAtPoint(CGPointMake(-frame.origin.x, -frame.origin.y));
    auto part = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    bool drawn = web->renderedPixels() && part && part->writePNGToFile(png);
    std::printf("%s\t%g\t%g\t%g\t%s\n", png.c_str(), frame.size.width, frame.size.height, screen.scale, drawn ? "drawn" : "failed");
    std::fflush(stdout);
    web.reset();
    viewer->dismissViewControllerAnimated(false);
    viewer.reset();
    driver.drain();
}

}

int main(int argc, char** argv)
{
    Screen screen;
    if (argc < 4 || !parseScreen(argv[1], screen)) {
        std::fprintf(stderr, "usage: %s WxH@S out-folder page.html...\n", argv[0]);
        return 2;
    }
    std::filesystem::path out = argv[2];
    std::filesystem::create_directories(out);

    registerMainStoryboard();
    auto home = std::make_shared<UIViewController>();
    UIStoryboard::storyboardWithName("Main").setInitialViewController([home] { return home; });
    UIScreen::mainScreen().setBounds(CGRectMake(0, 0, screen.width, screen.height));
    UIScreen::mainScreen().setScale(screen.scale);
    UIDevice::currentDevice().setUserInterfaceIdiom(std::min(screen.width, screen.height) >= 600 ? UIUserInterfaceIdiom::Pad : UIUserInterfaceIdiom::Phone);
    UIApplication::sharedApplication().launch(std::make_shared<UIApplicationDelegate>());
    RunLoop::main().drain();

    auto documents = std::filesystem::weakly_canonical(documentsDirectory());
    for (int i = 3; i < argc; ++i) {
        auto page = std::filesystem::absolute(argv[i]).lexically_normal();
        // Named after its path in Documents ("cmake-manual-cmake.1.png"), which tells apart the
        // index.html of each manual; else after its folder and name.
        auto relative = page.lexically_relative(documents);
        if (relative.empty() || *relative.begin() == "..")
            relative = page.parent_path().filename() / page.filename();
        auto name = relative.replace_extension(".png").string();
        std::replace(name.begin(), name.end(), '/', '-');
        shoot(page.string(), (out / name).string(), screen, home);
    }
    return 0;
}
