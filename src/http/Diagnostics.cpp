#include "http/Diagnostics.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

namespace vesk {

namespace {

    void writeAll(std::string_view bytes)
    {
        size_t written = 0;
        while (written < bytes.size()) {
            ssize_t result = ::write(STDOUT_FILENO, bytes.data() + written, bytes.size() - written);
            if (result == -1 && errno == EINTR)
                continue;
            if (result <= 0)
                return;
            written += static_cast<size_t>(result);
        }
    }

    class DiagnosticBuffer {
    public:
        // Never destroyed: connection threads may still print while the process exits.
        static DiagnosticBuffer& shared()
        {
            static DiagnosticBuffer* buffer = [] {
                auto* made = new DiagnosticBuffer;
                std::atexit([] { shared().finish(); });
                return made;
            }();
            return *buffer;
        }

        void print(std::string_view text)
        {
            std::unique_lock lock(m_lock);
            if (m_direct) {
                lock.unlock();
                std::string line;
                line.reserve(text.size() + 1);
                line.append(text).push_back('\n');
                writeAll(line);
                return;
            }
            // A reader that stops reading holds the printers back, as a full pipe would.
            m_room.wait(lock, [this] { return m_pending.size() < maxPending || m_direct; });
            m_pending.append(text).push_back('\n');
            if (!m_flusherStarted) {
                m_flusherStarted = true;
                std::thread([this] { flushEverySecond(); }).detach();
            }
            if (m_pending.size() >= flushSize)
                m_wake.notify_one();
        }

        void flush()
        {
            // Held across taking and writing, so that two flushes keep the lines in order.
            std::lock_guard writing(m_writeLock);
            std::string taken;
            {
                std::lock_guard lock(m_lock);
                taken.swap(m_pending);
            }
            m_room.notify_all();
            writeAll(taken);
        }

    private:
        static constexpr size_t flushSize = 64 * 1024;
        static constexpr size_t maxPending = 4 * 1024 * 1024;

        DiagnosticBuffer()
            : m_direct(::isatty(STDOUT_FILENO) == 1)
        {
        }

        void flushEverySecond()
        {
            for (;;) {
                {
                    std::unique_lock lock(m_lock);
                    m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_pending.size() >= flushSize; });
                }
                flush();
            }
        }

        // At exit: what is left goes out, and later lines go straight through.
        void finish()
        {
            {
                std::lock_guard lock(m_lock);
                m_direct = true;
            }
            flush();
        }

        std::mutex m_writeLock;
        std::mutex m_lock;
        std::condition_variable m_wake;
        std::condition_variable m_room;
        std::string m_pending;
        bool m_direct;
        bool m_flusherStarted { false };
    };

} // namespace

void printDiagnosticLine(std::string_view text)
{
    DiagnosticBuffer::shared().print(text);
}

void flushDiagnostics()
{
    DiagnosticBuffer::shared().flush();
}

} // namespace vesk
