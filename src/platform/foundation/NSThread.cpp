#include "platform/foundation/NSThread.h"

#include "platform/foundation/Clock.h"

#include <thread>
#include <unistd.h>

namespace vesk::platform {

bool NSThread::isMainThread()
{
    // On Linux the first thread's id is the process id.
    return ::gettid() == ::getpid();
}

void NSThread::sleepForTimeInterval(double seconds)
{
    std::this_thread::sleep_for(secondsToDuration(seconds));
}

}
