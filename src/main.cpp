// The vesk program: the app on the main run loop until SIGINT or SIGTERM, then through the
// background entry to a clean exit. Its options stand in for what the platform delivers.

#include "app/AppDelegate.h"
#include "app/MainStoryboard.h"
#include "model/PlatformUtilities.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/RunLoop.h"
#include "platform/uikit/UIApplication.h"
#include "webservice/VeskWebServices.h"
#include "webservice/WifiWatch.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

using namespace vesk;
using namespace vesk::platform;

namespace {

const char* usage = "Usage: vesk [options]\n"
                    "\n"
                    "Runs the file manager and its web file server until interrupted (SIGINT, SIGTERM).\n"
                    "\n"
                    "Options:\n"
                    "  --quick-action fileserver  the quick action \"Start fileserver\": turns the server switch on\n"
                    "                             (kept in the user defaults); the server starts as the app becomes active\n"
                    "  --quick-action bookmarks   the quick action \"Bookmarks\": opens the bookmarks screen\n"
                    "  --open PATH                a file handed over by another app: opens it in its viewer\n"
                    "  --help                     shows this text\n"
                    "\n"
                    "Environment: VESK_HOME (the app's folder), VESK_PORT (instead of 8080),\n"
                    "VESK_WIFI_INTERFACE (the interface that stands for Wi-Fi; lo included).\n";

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
std::optional<int> parseOptions(int argc, char** argv, UIApplicationLaunchOptions& options)
{
    for (int index = 1; index < argc; ++index) {
        std::string option = argv[index];
        if (option == "--")
            continue;
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
    if (auto status = parseOptions(argc, argv, options))
        return *status;

    // Every thread started from here on inherits the blocked signals; only the waiter below
    // takes them, so no work ever runs in a signal handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::atomic<bool> stopped { false };
    std::thread waiter([stopSignals, &stopped] {
        int received = 0;
        sigwait(&stopSignals, &received);
        stopped = true;
        RunLoop::main().stop();
    });

    VeskNotificationManager::setEchoToStandardError(true);
    registerMainStoryboard();
    installWebServices();
    int status = UIApplicationMain(argc, argv, std::make_shared<AppDelegate>(), options);
    WifiWatch::shutDown();
    // Screens and banners go while everything they use at teardown still exists.
    UIApplication::sharedApplication().reset();
    VeskNotificationManager::reset();

    if (!stopped)
        ::kill(::getpid(), SIGTERM); // wakes the waiter, which takes the blocked signal
    waiter.join();
    return status;
}
