// The vesk program: the app on the main run loop until SIGINT or SIGTERM (or until its window
// is closed), then through the background entry to a clean exit. Its options stand in for what
// the platform delivers.

#include "app/AppDelegate.h"
#include "app/MainStoryboard.h"
#include "http/Diagnostics.h"
#include "model/PlatformUtilities.h"
#include "model/VeskNotificationManager.h"
#include "platform/display/DesktopWindow.h"
#include "platform/display/ScreenSetting.h"
#include "platform/foundation/AppHome.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/RunLoop.h"
#include "platform/system/SingleInstance.h"
#include "platform/uikit/UIApplication.h"
#include "webservice/VeskWebServices.h"
#include "webservice/WifiWatch.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

using namespace vesk;
using namespace vesk::platform;

namespace {

// From SIGINT or SIGTERM to the end of the program, whatever is still running.
constexpr auto stopBudget = std::chrono::milliseconds(1500);

const char* usage = "Usage: vesk [options] [PATH]\n"
                    "\n"
                    "Runs the file manager and its web file server until interrupted (SIGINT, SIGTERM).\n"
                    "While it runs, starting it again with the same VESK_HOME hands the file or quick action\n"
                    "to the running one and ends; when the running one takes nothing within 20 s, it says so\n"
                    "and exits with status 1.\n"
                    "With a display (X11 or Wayland) its screens show in a window; closing it ends the program.\n"
                    "\n"
                    "Options:\n"
                    "  --headless                 no window, even with a display\n"
                    "  --quick-action fileserver  the quick action \"Start fileserver\": turns the server switch on\n"
                    "                             (kept in the user defaults); the server starts as the app becomes active\n"
                    "  --quick-action bookmarks   the quick action \"Bookmarks\": opens the bookmarks screen\n"
                    "  --open PATH, PATH          a file handed over by another app: opens it in its viewer\n"
                    "  --help                     shows this text\n"
                    "\n"
                    "Environment: VESK_HOME (the app's folder), VESK_PORT (instead of 8080),\n"
                    "VESK_WIFI_INTERFACE (the interface that stands for Wi-Fi; lo included),\n"
                    "VESK_SCREEN (the screen as WxH@S in points and scale, 375x667@2 unless set;\n"
                    "768x1024@2 and other sizes 600 points or more a side are a pad's).\n";

std::string absolutePath(const std::string& path)
{
    if (!path.empty() && path.front() == '/')
        return path;
    char folder[PATH_MAX];
    if (!::getcwd(folder, sizeof(folder)))
        return path;
    return std::string(folder) + "/" + path;
}

// Answers the exit status for a command line that is not to run the app.
std::optional<int> parseOptions(int argc, char** argv, UIApplicationLaunchOptions& options, bool& headless)
{
    for (int index = 1; index < argc; ++index) {
        std::string option = argv[index];
        if (option == "--")
            continue;
        // A path alone, as the desktop's launcher passes a file, is handed over as --open does.
        if (!option.empty() && option.front() != '-') {
            options[UIApplicationLaunchOptionsURLKey] = Value(NSURL::fileURLWithPath(absolutePath(option)).absoluteString());
            continue;
        }
        if (option == "--headless") {
            headless = true;
            continue;
        }
        if (option == "--help" || option == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if ((option == "--quick-action" || option == "--open") && index + 1 >= argc) {
            std::fprintf(stderr, "vesk: %s needs a value\n\n%s", option.c_str(), usage);
            return 2;
        }
        if (option == "--quick-action") {
            std::string action = argv[++index];
            if (action == "fileserver")
                options[UIApplicationLaunchOptionsShortcutItemKey] = Value(serverShortcutType());
            else if (action == "bookmarks")
                options[UIApplicationLaunchOptionsShortcutItemKey] = Value(bookmarksShortcutType());
            else {
                std::fprintf(stderr, "vesk: unknown quick action \"%s\" (fileserver or bookmarks)\n", action.c_str());
                return 2;
            }
            continue;
        }
        if (option == "--open") {
            options[UIApplicationLaunchOptionsURLKey] = Value(NSURL::fileURLWithPath(absolutePath(argv[++index])).absoluteString());
            continue;
        }
        std::fprintf(stderr, "vesk: unknown option \"%s\"\n\n%s", option.c_str(), usage);
        return 2;
    }
    return std::nullopt;
}

}

int main(int argc, char** argv)
{
    UIApplicationLaunchOptions options;
    bool headless = false;
    if (auto status = parseOptions(argc, argv, options, headless))
        return *status;
    if (auto problem = applyScreenFromEnvironment())
        std::fprintf(stderr, "vesk: %s\n", problem->c_str());

    SingleInstance::Request request;
    if (auto url = options.find(UIApplicationLaunchOptionsURLKey); url != options.end() && url->second.string())
        request.url = *url->second.string();
    if (auto action = options.find(UIApplicationLaunchOptionsShortcutItemKey); action != options.end() && action->second.string())
        request.shortcutType = *action->second.string();
    auto claimed = SingleInstance::Claim::Running;
    std::string failure;
    auto home = NSHomeDirectory();
    auto instance = SingleInstance::claim(home, request, claimed, failure);
    if (claimed == SingleInstance::Claim::HandedOver)
        return 0;
    // Never a second app beside the running one: its port and files are taken.
    if (claimed == SingleInstance::Claim::NotTaken) {
        std::fprintf(stderr, "vesk: Vesk is running with this home but did not take the request within %lld s; not starting another\n",
            static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(SingleInstance::handOverPatience).count()));
        return 1;
    }
    // Nor beside one that may run unseen.
    if (claimed == SingleInstance::Claim::Failed) {
        std::fprintf(stderr, "vesk: %s; cannot tell whether Vesk already runs with the home %s, so not starting\n", failure.c_str(), home.c_str());
        return 1;
    }
    if (!failure.empty())
        std::fprintf(stderr, "vesk: %s\n", failure.c_str());

    // Every thread started from here on inherits the blocked signals; only the waiter below
    // takes them, so no work ever runs in a signal handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::atomic<bool> stopped { false };
    std::mutex exitMutex;
    std::condition_variable exitCondition;
    bool finished = false;
    std::thread waiter([stopSignals, &stopped, &exitMutex, &exitCondition, &finished] {
        int received = 0;
        sigwait(&stopSignals, &received);
        auto deadline = std::chrono::steady_clock::now() + stopBudget;
        stopped = true;
        RunLoop::main().stop();
        // The main run loop may be busy with one long piece of work, and the background entry
        // and the work in flight may take longer still: a stop asked for ends within its budget.
        std::unique_lock lock(exitMutex);
        if (exitCondition.wait_until(lock, deadline, [&finished] { return finished; }))
            return;
        std::fputs("vesk: stopped without waiting for the work in progress\n", stderr);
        flushDiagnostics();
        std::fflush(nullptr);
        std::_Exit(0);
    });

    // Opened after the signals are blocked, so the window system's threads never take them.
    std::unique_ptr<DesktopWindow> window;
    if (!headless) {
        std::string failure;
        window = DesktopWindow::open(failure);
        if (!window)
            std::fprintf(stderr, "vesk: no window (%s); running without one\n", failure.empty() ? "the window system failed" : failure.c_str());
    }
    if (window) {
        // Closing the window ends the program as SIGTERM does.
        window->setCloseHandler([] { RunLoop::main().stop(); });
        window->start();
    }

    // Taken only while the app runs: what arrives as it ends goes to a start of its own.
    instance->listen([&window](const SingleInstance::Request& handed) {
        if (!RunLoop::main().isRunning())
            return false;
        if (window)
            window->raise();
        UIApplicationLaunchOptions handedOptions;
        if (!handed.url.empty())
            handedOptions[UIApplicationLaunchOptionsURLKey] = Value(handed.url);
        if (!handed.shortcutType.empty())
            handedOptions[UIApplicationLaunchOptionsShortcutItemKey] = Value(handed.shortcutType);
        UIApplication::sharedApplication().handOver(handedOptions);
        return true;
    });

    VeskNotificationManager::setEchoToStandardError(true);
    registerMainStoryboard();
    installWebServices();
    int status = UIApplicationMain(argc, argv, std::make_shared<AppDelegate>(), options);
    instance.reset();
    window.reset();
    WifiWatch::shutDown();
    // Screens and banners go while everything they use at teardown still exists.
    UIApplication::sharedApplication().reset();
    VeskNotificationManager::reset();

    // Background work (a listing, icons, a file operation) may still be running: give it a
    // moment, and when it does not end, leave without tearing down what it still uses.
    auto deadline = std::chrono::steady_clock::now() + stopBudget;
    while (DispatchQueue::pendingGlobalBlocks() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    {
        std::lock_guard lock(exitMutex);
        finished = true;
    }
    exitCondition.notify_all();
    if (!stopped)
        ::kill(::getpid(), SIGTERM); // wakes the waiter, which takes the blocked signal
    waiter.join();

    if (DispatchQueue::pendingGlobalBlocks() > 0) {
        flushDiagnostics();
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
