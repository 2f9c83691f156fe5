#pragma once

// What the file-list benchmarks share: a scratch root that is the app's home, a folder
// of many small files, the process's resident memory and the main run loop's longest pause.

#include "platform/foundation/NSTimer.h"
#include "platform/foundation/RunLoop.h"
#include "platform/system/MemoryInfo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk::bench {

// A fresh folder under /tmp named after the benchmark, its "home" the app's home; ends the
// program when it can't be made.
inline std::string makeScratchRoot(const std::string& name)
{
    std::string pattern = "/tmp/vesk-" + name + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    ::setenv("VESK_HOME", (pattern + "/home").c_str(), 1);
    return pattern;
}

inline double residentMegabytes()
{
    auto figures = platform::taskMemoryInfo();
    return figures ? static_cast<double>(figures->residentSize) / 1e6 : 0;
}

// Files "file000000.txt" upwards, each holding its own name; ends the program when it can't.
inline void makeFolder(const std::string& folder, int count)
{
    ::mkdir(folder.c_str(), 0755);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/file%06d.txt", i);
        int fd = ::open((folder + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, name, 12) != 12) {
            std::perror("making the folder");
            std::exit(1);
        }
        ::close(fd);
    }
}

// Runs the action on the main run loop, then turns the loop until `done` answers true or the
// time is up, with a 2 ms timer; answers the longest the loop went without turning, in
// milliseconds, the action's own time included.
inline double longestMainLoopPause(const std::function<void()>& action, const std::function<bool()>& done, std::chrono::milliseconds within)
{
    using Steady = std::chrono::steady_clock;
    auto last = Steady::now();
    Steady::duration longest {};
    action();
    auto timer = platform::NSTimer::scheduledTimerWithTimeInterval(0.002, true, [&](platform::NSTimer&) {
        auto now = Steady::now();
        longest = std::max(longest, now - last);
        last = now;
    });
    auto until = Steady::now() + within;
    platform::RunLoop::main().runUntil([&] { return done() || Steady::now() >= until; }, within + std::chrono::seconds(1));
    timer->invalidate();
    longest = std::max(longest, Steady::now() - last);
    return std::chrono::duration<double, std::milli>(longest).count();
}

}
