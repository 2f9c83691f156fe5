#pragma once

namespace vesk::platform {

class NSThread {
public:
    // The process's first thread, the one that runs the main run loop.
    static bool isMainThread();
    static void sleepForTimeInterval(double seconds);
};

}
