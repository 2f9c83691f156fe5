#include "platform/system/MemoryPressure.h"

#include "platform/foundation/Dispatch.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <unistd.h>

namespace vesk::platform {

namespace {

    constexpr auto quietPeriod = std::chrono::seconds(2);
    // Some task stalled on memory for 150 ms of a two-second window: the smallest window the
    // kernel lets an unprivileged process ask for.
    constexpr char pressureTrigger[] = "some 150000 2000000";

}

MemoryPressureWatch::Sources MemoryPressureWatch::systemSources()
{
    Sources sources;
    if (::access("/proc/pressure/memory", R_OK) == 0)
        sources.pressure = "/proc/pressure/memory";
    // The unified hierarchy's line reads "0::/path".
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    while (std::getline(groups, line)) {
        if (!line.starts_with("0::"))
            continue;
        auto group = line.substr(3);
        for (const char* root : { "/sys/fs/cgroup", "/sys/fs/cgroup/unified" }) {
            auto path = std::string(root) + (group == "/" ? "" : group) + "/memory.events";
            if (::access(path.c_str(), R_OK) == 0) {
                sources.events = path;
                break;
            }
        }
    }
    return sources;
}

MemoryPressureWatch::MemoryPressureWatch(Sources sources, std::function<void()> handler)
    : m_sources(std::move(sources))
    , m_handler(std::move(handler))
{
    if (!m_sources.pressure.empty()) {
        m_pressure = ::open(m_sources.pressure.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (m_pressure >= 0 && ::write(m_pressure, pressureTrigger, sizeof pressureTrigger) < 0) {
            ::close(m_pressure);
            m_pressure = -1;
        }
    }
    if (!m_sources.events.empty()) {
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify >= 0 && ::inotify_add_watch(m_inotify, m_sources.events.c_str(), IN_MODIFY) < 0) {
            ::close(m_inotify);
            m_inotify = -1;
        }
        countersRose();
    }
    if (isWatching() && ::pipe2(m_wake, O_CLOEXEC) == 0)
        m_thread = std::thread([this] { watch(); });
}

MemoryPressureWatch::~MemoryPressureWatch()
{
    if (m_thread.joinable()) {
        char byte = 0;
        [[maybe_unused]] auto written = ::write(m_wake[1], &byte, 1);
        m_thread.join();
    }
    for (int fd : { m_pressure, m_inotify, m_wake[0], m_wake[1] }) {
        if (fd >= 0)
            ::close(fd);
    }
}

// Sums the counters that mean the group ran out of room, and answers whether the sum rose.
bool MemoryPressureWatch::countersRose()
{
    std::ifstream file(m_sources.events);
    std::string name;
    std::uint64_t value = 0, total = 0;
    while (file >> name >> value) {
        if (name == "high" || name == "max" || name == "oom" || name == "oom_kill")
            total += value;
    }
    bool rose = total > m_counters;
    m_counters = total;
    return rose;
}

void MemoryPressureWatch::watch()
{
    auto lastWarning = std::chrono::steady_clock::now() - quietPeriod;
    for (;;) {
        pollfd waiting[3] = { { m_wake[0], POLLIN, 0 }, { m_pressure, POLLPRI, 0 }, { m_inotify, POLLIN, 0 } };
        if (::poll(waiting, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (waiting[0].revents)
            return;
        if (waiting[1].revents & (POLLERR | POLLNVAL)) {
            // The trigger is gone (the file was replaced); keep only the other source.
            ::close(m_pressure);
            m_pressure = -1;
        }
        bool pressed = waiting[1].revents & POLLPRI;
        if (waiting[2].revents & POLLIN) {
            alignas(inotify_event) char events[4096];
            while (::read(m_inotify, events, sizeof events) > 0) { }
            pressed = countersRose() || pressed;
        }
        auto now = std::chrono::steady_clock::now();
        if (pressed && now - lastWarning >= quietPeriod) {
            lastWarning = now;
            DispatchQueue::main().async(m_handler);
        }
    }
}

}
