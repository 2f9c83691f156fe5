#include "http/Diagnostics.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

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
            if (m_direct) {
                std::string line;
                line.reserve(text.size() + 1);
                line.append(text).push_back('\n');
                writeAll(line);
                return;
            }
            if (m_pendingBytes >= maxPending) {
                // A reader that stops reading holds the printers back, as a full pipe would.
                std::unique_lock lock(m_lock);
                m_room.wait(lock, [this] { return m_pendingBytes < maxPending || m_direct; });
            }
            // Each thread gathers its own lines, so printers never wait for one another; the
            // numbers put the lines of all threads back in the order they were printed.
            Lines& lines = threadLines();
            {
                std::lock_guard lock(lines.lock);
                lines.marks.push_back({ m_sequence.fetch_add(1), lines.text.size() });
                lines.text.append(text).push_back('\n');
            }
            size_t added = text.size() + 1;
            size_t total = m_pendingBytes.fetch_add(added) + added;
            std::call_once(m_flusherStarted, [this] { std::thread([this] { flushEverySecond(); }).detach(); });
            if (total >= flushSize && total - added < flushSize)
                m_wake.notify_one();
            // Printed while the process was finishing: it goes out at once.
            if (m_direct)
                flush();
        }

        void flush()
        {
            // Held across taking and writing, so that two flushes keep the lines in order.
            std::lock_guard writing(m_writeLock);
            std::vector<std::shared_ptr<Lines>> all;
            {
                std::lock_guard lock(m_listLock);
                all = m_all;
            }
            std::vector<Lines::Taken> taken(all.size());
            std::vector<std::pair<uint64_t, std::pair<size_t, size_t>>> order;
            size_t bytes = 0;
            for (size_t index = 0; index < all.size(); ++index) {
                {
                    std::lock_guard lock(all[index]->lock);
                    taken[index].text.swap(all[index]->text);
                    taken[index].marks.swap(all[index]->marks);
                }
                bytes += taken[index].text.size();
                for (size_t line = 0; line < taken[index].marks.size(); ++line)
                    order.push_back({ taken[index].marks[line].first, { index, line } });
            }
            {
                std::lock_guard lock(m_listLock);
                std::erase_if(m_all, [](const std::shared_ptr<Lines>& lines) {
                    std::lock_guard lock(lines->lock);
                    return lines->ended && lines->text.empty();
                });
            }
            m_pendingBytes -= bytes;
            {
                std::lock_guard lock(m_lock);
            }
            m_room.notify_all();
            std::sort(order.begin(), order.end());
            std::string out;
            out.reserve(bytes);
            for (auto& [sequence, place] : order) {
                auto& from = taken[place.first];
                size_t begin = from.marks[place.second].second;
                size_t end = place.second + 1 < from.marks.size() ? from.marks[place.second + 1].second : from.text.size();
                out.append(from.text, begin, end - begin);
            }
            writeAll(out);
        }

    private:
        static constexpr size_t flushSize = 64 * 1024;
        static constexpr size_t maxPending = 4 * 1024 * 1024;

        struct Lines {
            std::mutex lock;
            std::string text;
            // Each line's number and where it starts in the text.
            std::vector<std::pair<uint64_t, size_t>> marks;
            // Its thread has ended: once written out, the buffer goes.
            bool ended { false };
            struct Taken {
                std::string text;
                std::vector<std::pair<uint64_t, size_t>> marks;
            };
        };

        DiagnosticBuffer()
            : m_direct(::isatty(STDOUT_FILENO) == 1)
        {
        }

        Lines& threadLines()
        {
            struct Holder {
                std::shared_ptr<Lines> lines;
                ~Holder()
                {
                    if (lines) {
                        std::lock_guard lock(lines->lock);
                        lines->ended = true;
                    }
                }
            };
            thread_local Holder holder;
            if (!holder.lines) {
                holder.lines = std::make_shared<Lines>();
                std::lock_guard lock(m_listLock);
                m_all.push_back(holder.lines);
            }
            return *holder.lines;
        }

        void flushEverySecond()
        {
            for (;;) {
                {
                    std::unique_lock lock(m_lock);
                    m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_pendingBytes >= flushSize; });
                }
                flush();
            }
        }

        // At exit: what is left goes out, and later lines go straight through.
        void finish()
        {
            m_direct = true;
            flush();
        }

        std::mutex m_writeLock;
        std::mutex m_lock;
        std::condition_variable m_wake;
        std::condition_variable m_room;
        std::mutex m_listLock;
        std::vector<std::shared_ptr<Lines>> m_all;
        std::atomic<uint64_t> m_sequence { 0 };
        std::atomic<size_t> m_pendingBytes { 0 };
        std::atomic<bool> m_direct;
        std::once_flag m_flusherStarted;
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
