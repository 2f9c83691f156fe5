#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace vesk::platform {

class RendererProcess;

// Keeps the number of renderers alive at once within a bound. When one more is needed, the
// renderer of the web view covered longest (and not loading) is ended; its view keeps what it
// drew and gets a new renderer when shown again. Views on screen never lose theirs: with more
// than the bound on screen, the bound is exceeded. Thread-safe: renderers start on loader threads,
// views tell their state from the main thread.
class RendererRegistry {
public:
    static constexpr std::size_t maximumAlive = 4;

    static RendererRegistry& shared();

    // Starts a renderer for the owner (a view) with start, after making room for it; null when
    // start gave none.
    std::shared_ptr<RendererProcess> start(const void* owner, const std::function<std::unique_ptr<RendererProcess>()>& start);
    // Whether the owner is on screen; an owner never told is.
    void setShown(const void* owner, bool shown);
    // Whether the owner is loading; a loading owner keeps its renderer.
    void setBusy(const void* owner, bool busy);
    void forget(const void* owner);
    // The owner ended this renderer itself: it no longer counts, even before it is reaped.
    void released(const RendererProcess& process);
    // Whether the registry ended this renderer to make room.
    bool endedForRoom(const RendererProcess& process) const;

private:
    struct Owner {
        bool shown = true;
        bool busy = false;
        std::uint64_t coveredSince = 0;
    };
    struct Entry {
        const void* owner = nullptr;
        const RendererProcess* process = nullptr;
        std::weak_ptr<RendererProcess> handle;
        bool endedForRoom = false;
        bool released = false;
    };

    // Under the mutex.
    void prune();
    std::size_t alive() const;
    void makeRoom(std::size_t wanted);

    mutable std::mutex m_mutex;
    std::map<const void*, Owner> m_owners;
    std::vector<Entry> m_entries;
    std::size_t m_starting = 0;
    std::uint64_t m_coverings = 0;
};

}
