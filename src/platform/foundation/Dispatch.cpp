#include "platform/foundation/Dispatch.h"

#include "platform/foundation/GuardedBlock.h"
#include "platform/foundation/NSThread.h"
#include "platform/foundation/NSTimer.h"
#include "platform/foundation/RunLoop.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <thread>

namespace vesk::platform {

namespace {

    constexpr std::size_t qosCount = 5;

    // Workers are made when a block finds none idle, so a block that waits for long never
    // holds up the others; the cap only guards against runaway growth.
    class WorkerPool {
    public:
        static WorkerPool& shared()
        {
            // Never destroyed: detached workers may still wait on it while the process exits.
            static WorkerPool* pool = new WorkerPool;
            return *pool;
        }

        void submit(QualityOfService qos, DispatchQueue::Block block)
        {
            m_pending.fetch_add(1);
            std::unique_lock lock(m_mutex);
            m_queues[static_cast<std::size_t>(qos)].push_back(std::move(block));
            ++m_queued;
            if (m_idle < m_queued && m_threads < maximumThreads) {
                ++m_threads;
                std::thread([this] { work(); }).detach();
            }
            m_available.notify_one();
        }

        std::size_t pending() const { return m_pending.load(); }

    private:
        static constexpr std::size_t maximumThreads = 64;

        void work()
        {
            std::unique_lock lock(m_mutex);
            for (;;) {
                ++m_idle;
                m_available.wait(lock, [this] { return m_queued > 0; });
                --m_idle;
                DispatchQueue::Block block;
                for (auto& queue : m_queues) {
                    if (!queue.empty()) {
                        block = std::move(queue.front());
                        queue.pop_front();
                        break;
                    }
                }
                --m_queued;
                lock.unlock();
                runGuarded(block, "a global-queue block");
                block = nullptr; // what the block held goes before the count drops
                m_pending.fetch_sub(1);
                RunLoop::main().wake();
                lock.lock();
            }
        }

        std::mutex m_mutex;
        std::condition_variable m_available;
        std::array<std::deque<DispatchQueue::Block>, qosCount> m_queues;
        std::size_t m_queued = 0;
        std::size_t m_idle = 0;
        std::size_t m_threads = 0;
        std::atomic<std::size_t> m_pending { 0 };
    };

}

DispatchQueue::DispatchQueue(bool main, QualityOfService qos)
    : m_main(main)
    , m_qos(qos)
{
}

DispatchQueue& DispatchQueue::main()
{
    static DispatchQueue queue(true, QualityOfService::UserInteractive);
    return queue;
}

DispatchQueue& DispatchQueue::global(QualityOfService qos)
{
    static std::array<DispatchQueue, qosCount> queues {
        DispatchQueue(false, QualityOfService::UserInteractive),
        DispatchQueue(false, QualityOfService::UserInitiated),
        DispatchQueue(false, QualityOfService::Default),
        DispatchQueue(false, QualityOfService::Utility),
        DispatchQueue(false, QualityOfService::Background),
    };
    return queues[static_cast<std::size_t>(qos)];
}

void DispatchQueue::async(Block block)
{
    if (!block)
        return;
    if (m_main)
        RunLoop::main().post(std::move(block));
    else
        WorkerPool::shared().submit(m_qos, std::move(block));
}

void DispatchQueue::after(double seconds, Block block)
{
    if (!block)
        return;
    DispatchQueue* target = this;
    NSTimer::scheduledTimerWithTimeInterval(seconds, false, [target, block = std::move(block)](NSTimer&) mutable {
        if (target->m_main)
            block();
        else
            target->async(std::move(block));
    });
}

void DispatchQueue::sync(const Block& block)
{
    if (!block)
        return;
    if (!m_main || NSThread::isMainThread()) {
        // Waiting for the main loop from the main thread would never end.
        block();
        return;
    }
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    RunLoop::main().post([&] {
        // The waiter is released even when the block throws.
        struct Release {
            std::mutex& mutex;
            std::condition_variable& done;
            bool& finished;
            ~Release()
            {
                std::lock_guard lock(mutex);
                finished = true;
                done.notify_all();
            }
        } release { mutex, done, finished };
        block();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
}

std::size_t DispatchQueue::pendingGlobalBlocks()
{
    return WorkerPool::shared().pending();
}

}
