#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace vesk::platform {

// Tells when the system runs short of memory: a pressure trigger on the kernel's memory
// pressure file (tasks stalled on memory for 150 ms within two seconds), and rises of the
// counters "high", "max", "oom" and "oom_kill" in the control group's memory.events; whichever
// of the two is there. The handler runs on the main run loop, at most once in two seconds.
class MemoryPressureWatch {
public:
    struct Sources {
        std::string pressure; // /proc/pressure/memory; empty for none
        std::string events; // the process's control group's memory.events; empty for none
    };
    static Sources systemSources();

    MemoryPressureWatch(Sources sources, std::function<void()> handler);
    ~MemoryPressureWatch();
    MemoryPressureWatch(const MemoryPressureWatch&) = delete;
    MemoryPressureWatch& operator=(const MemoryPressureWatch&) = delete;

    // Whether any source could be watched.
    bool isWatching() const { return m_pressure >= 0 || m_inotify >= 0; }

private:
    void watch();
    bool countersRose();

    Sources m_sources;
    std::function<void()> m_handler;
    int m_pressure = -1;
    int m_inotify = -1;
    int m_wake[2] = { -1, -1 };
    std::uint64_t m_counters = 0;
    std::thread m_thread;
};

}
