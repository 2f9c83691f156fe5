#pragma once

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace vesk::platform {

// While one lives, what the thread allocates is not counted by the leak checker: for calls into
// libraries that keep memory for the life of the process (GLib, the window system, D-Bus).
struct LeakCheckPause {
    // Declared by hand: a guard of no state is otherwise an unused variable.
    LeakCheckPause()
    {
#if defined(__SANITIZE_ADDRESS__)
        __lsan_disable();
#endif
    }
    ~LeakCheckPause()
    {
#if defined(__SANITIZE_ADDRESS__)
        __lsan_enable();
#endif
    }
    LeakCheckPause(const LeakCheckPause&) = delete;
    LeakCheckPause& operator=(const LeakCheckPause&) = delete;
};

}
