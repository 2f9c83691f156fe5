#pragma once

#include <functional>
#include <mutex>
#include <utility>

namespace vesk::platform {

enum class QualityOfService {
    UserInteractive,
    UserInitiated,
    Default,
    Utility,
    Background,
};

// The main queue runs its blocks on the main run loop; the global queues run theirs on a
// shared pool of worker threads, higher qualities of service first.
class DispatchQueue {
public:
    using Block = std::function<void()>;

    static DispatchQueue& main();
    static DispatchQueue& global(QualityOfService qos = QualityOfService::Default);

    void async(Block block);
    // After the given seconds on the main run loop's clock.
    void after(double seconds, Block block);
    // Waits until the block has run. Onto the main queue from the main thread, and onto a
    // global queue, the block runs at once on the calling thread.
    void sync(const Block& block);

    bool isMain() const { return m_main; }
    QualityOfService qos() const { return m_qos; }

    // Global-queue blocks queued or running; RunLoop::drain waits for zero.
    static std::size_t pendingGlobalBlocks();

private:
    DispatchQueue(bool main, QualityOfService qos);
    bool m_main;
    QualityOfService m_qos;
};

inline DispatchQueue& dispatch_get_main_queue()
{
    return DispatchQueue::main();
}
inline DispatchQueue& dispatch_get_global_queue(QualityOfService qos)
{
    return DispatchQueue::global(qos);
}
inline void dispatch_async(DispatchQueue& queue, DispatchQueue::Block block)
{
    queue.async(std::move(block));
}
inline void dispatch_after(double seconds, DispatchQueue& queue, DispatchQueue::Block block)
{
    queue.after(seconds, std::move(block));
}
inline void dispatch_sync(DispatchQueue& queue, const DispatchQueue::Block& block)
{
    queue.sync(block);
}

using dispatch_once_t = std::once_flag;
template<typename F>
void dispatch_once(dispatch_once_t& once, F&& f)
{
    std::call_once(once, std::forward<F>(f));
}

}
