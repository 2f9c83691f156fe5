#include "platform/uikit/RendererRegistry.h"

#include "platform/uikit/RendererProcess.h"

#include <algorithm>

namespace vesk::platform {

RendererRegistry& RendererRegistry::shared()
{
    // Never destroyed: loader threads may still ask it while the program ends.
    static auto* registry = new RendererRegistry;
    return *registry;
}

std::shared_ptr<RendererProcess> RendererRegistry::start(const void* owner, const std::function<std::unique_ptr<RendererProcess>()>& start)
{
    {
        std::lock_guard lock(m_mutex);
        prune();
        makeRoom(1);
        // Counted while it starts, so that loads starting together don't all take the last place.
        ++m_starting;
    }
    std::shared_ptr<RendererProcess> process = start();
    std::lock_guard lock(m_mutex);
    --m_starting;
    if (process)
        m_entries.push_back({ owner, process.get(), process, false, false });
    return process;
}

void RendererRegistry::setShown(const void* owner, bool shown)
{
    std::lock_guard lock(m_mutex);
    auto& state = m_owners[owner];
    if (state.shown == shown)
        return;
    state.shown = shown;
    if (!shown) {
        state.coveredSince = ++m_coverings;
        prune();
        makeRoom(0);
    }
}

void RendererRegistry::setBusy(const void* owner, bool busy)
{
    std::lock_guard lock(m_mutex);
    auto& state = m_owners[owner];
    if (state.busy == busy)
        return;
    state.busy = busy;
    if (!busy) {
        prune();
        makeRoom(0);
    }
}

void RendererRegistry::forget(const void* owner)
{
    std::lock_guard lock(m_mutex);
    m_owners.erase(owner);
}

void RendererRegistry::released(const RendererProcess& process)
{
    std::lock_guard lock(m_mutex);
    for (auto& entry : m_entries) {
        if (entry.process == &process)
            entry.released = true;
    }
}

bool RendererRegistry::endedForRoom(const RendererProcess& process) const
{
    std::lock_guard lock(m_mutex);
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& entry) { return entry.process == &process && entry.endedForRoom; });
}

void RendererRegistry::prune()
{
    std::erase_if(m_entries, [](const Entry& entry) { return entry.handle.expired(); });
}

std::size_t RendererRegistry::alive() const
{
    return static_cast<std::size_t>(std::count_if(m_entries.begin(), m_entries.end(), [](const Entry& entry) {
        auto process = entry.handle.lock();
        return process && !entry.endedForRoom && !entry.released && !process->hasEnded();
    }));
}

void RendererRegistry::makeRoom(std::size_t wanted)
{
    while (alive() + m_starting + wanted > maximumAlive) {
        // The owner covered longest that is not loading; one on screen is never chosen.
        const void* chosen = nullptr;
        std::uint64_t since = 0;
        for (auto& entry : m_entries) {
            auto found = m_owners.find(entry.owner);
            auto process = entry.handle.lock();
            if (found == m_owners.end() || found->second.shown || found->second.busy || entry.endedForRoom || entry.released || !process || process->hasEnded())
                continue;
            if (!chosen || found->second.coveredSince < since) {
                chosen = entry.owner;
                since = found->second.coveredSince;
            }
        }
        if (!chosen)
            return;
        for (auto& entry : m_entries) {
            auto process = entry.handle.lock();
            if (entry.owner != chosen || entry.endedForRoom || entry.released || !process || process->hasEnded())
                continue;
            entry.endedForRoom = true;
            process->terminate();
        }
    }
}

}
