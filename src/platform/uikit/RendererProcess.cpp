#include "platform/uikit/RendererProcess.h"

#include "platform/graphics/UIImage.h"

#include <cairo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

extern char** environ;

namespace vesk::platform {

using namespace renderer;

namespace {

    // How often the memory is looked at.
    constexpr auto memoryLook = std::chrono::milliseconds(100);
    // Messages waiting for the load at most; a renderer that asks for more misbehaves.
    constexpr std::size_t maximumInbox = maximumListed;
    // And this many bytes: room for the page's whole facts and then some, never a flood that
    // piles up while the load waits for pixels.
    constexpr std::size_t maximumInboxBytes = 2 * maximumMessage;
    // Resources wait to be written up to this much; a sender waits for room beyond it.
    constexpr std::size_t maximumQueued = 64u << 20;

    std::atomic<int> busyRenderers { 0 };
    std::atomic<std::uint64_t> viewportRequests { 0 };

    std::filesystem::path rendererProgram()
    {
        if (auto* named = std::getenv("VESK_RENDERER"); named && *named)
            return named;
        std::error_code error;
        auto self = std::filesystem::read_symlink("/proc/self/exe", error);
        std::vector<std::filesystem::path> candidates;
        if (!error) {
            candidates.push_back(self.parent_path() / "vesk-renderer");
            candidates.push_back(self.parent_path().parent_path() / VESK_RENDERER_LIBEXEC / "vesk-renderer");
        }
        candidates.push_back(VESK_RENDERER_BUILD_PATH);
        for (auto& candidate : candidates) {
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        return {};
    }

    // Renderers are started from one thread that lives as long as the app: a child's death
    // signal follows the thread that started it, and pool threads come and go.
    class Launcher {
    public:
        static Launcher& shared()
        {
            // Never destroyed: the thread waits on it until the process ends.
            static auto* launcher = new Launcher;
            return *launcher;
        }
        pid_t run(std::function<pid_t()> work)
        {
            std::packaged_task<pid_t()> task(std::move(work));
            auto result = task.get_future();
            {
                std::lock_guard lock(m_mutex);
                m_tasks.push_back(std::move(task));
            }
            m_changed.notify_one();
            return result.get();
        }

    private:
        Launcher()
        {
            std::thread([this] {
                for (;;) {
                    std::unique_lock lock(m_mutex);
                    m_changed.wait(lock, [this] { return !m_tasks.empty(); });
                    auto task = std::move(m_tasks.front());
                    m_tasks.pop_front();
                    lock.unlock();
                    task();
                }
            }).detach();
        }
        std::mutex m_mutex;
        std::condition_variable m_changed;
        std::deque<std::packaged_task<pid_t()>> m_tasks;
    };

    // The frame's pixels, mapped read-only; null when the memory isn't what the frame says.
    std::shared_ptr<UIImage> mapFrame(const Frame& frame, int memory)
    {
        auto bytes = frameBytes(frame);
        struct stat facts { };
        if (!bytes || ::fstat(memory, &facts) != 0 || facts.st_size < 0 || static_cast<std::size_t>(facts.st_size) < *bytes)
            return nullptr;
        // Only sealed memory can't shrink under the reader (a fault) or change while shown.
        int seals = ::fcntl(memory, F_GET_SEALS);
        constexpr int needed = F_SEAL_SHRINK | F_SEAL_WRITE;
        if (seals < 0 || (seals & needed) != needed)
            return nullptr;
        auto* pixels = ::mmap(nullptr, *bytes, PROT_READ, MAP_SHARED, memory, 0);
        if (pixels == MAP_FAILED)
            return nullptr;
        auto* surface = cairo_image_surface_create_for_data(static_cast<unsigned char*>(pixels), CAIRO_FORMAT_ARGB32, static_cast<int>(frame.pixelWidth),
            static_cast<int>(frame.pixelHeight), static_cast<int>(frame.stride));
        struct Mapping {
            void* address;
            std::size_t size;
        };
        static const cairo_user_data_key_t key {};
        auto* mapping = new Mapping { pixels, *bytes };
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS
            || cairo_surface_set_user_data(surface, &key, mapping, [](void* data) {
                   auto* mapped = static_cast<Mapping*>(data);
                   ::munmap(mapped->address, mapped->size);
                   delete mapped;
               })
                != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            ::munmap(pixels, *bytes);
            delete mapping;
            return nullptr;
        }
        auto image = std::make_shared<UIImage>(surface, frame.pixelWidth / frame.viewport.width);
        cairo_surface_destroy(surface);
        return image;
    }

}

std::unique_ptr<RendererProcess> RendererProcess::start(Handlers handlers)
{
    auto program = rendererProgram();
    if (program.empty())
        return nullptr;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return nullptr;
    // The child's end becomes its descriptor 3; one already there would keep its close-on-exec.
    if (ends[1] == 3) {
        int moved = ::fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
        ::close(ends[1]);
        ends[1] = moved;
    }
    auto started = std::chrono::steady_clock::now();
    auto pid = Launcher::shared().run([&] {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 3);
        auto parent = std::to_string(::getpid());
        std::string path = program.string();
        char* arguments[] = { path.data(), parent.data(), nullptr };
        pid_t child = -1;
        if (::posix_spawn(&child, path.c_str(), &actions, nullptr, arguments, environ) != 0)
            child = -1;
        posix_spawn_file_actions_destroy(&actions);
        return child;
    });
    ::close(ends[1]);
    if (pid <= 0) {
        ::close(ends[0]);
        return nullptr;
    }
    std::unique_ptr<RendererProcess> process(new RendererProcess(pid, ends[0], std::move(handlers)));
    process->m_started = started;
    process->m_thread = std::thread([raw = process.get()] { raw->serve(); });
    return process;
}

RendererProcess::RendererProcess(pid_t pid, int fd, Handlers handlers)
    : m_pid(pid)
    , m_channel(fd)
    , m_handlers(std::move(handlers))
{
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

RendererProcess::~RendererProcess()
{
    m_stop = true;
    terminate();
    if (m_thread.joinable())
        m_thread.join();
    if (m_wake >= 0)
        ::close(m_wake);
    if (m_pidfd >= 0)
        ::close(m_pidfd);
}

void RendererProcess::terminate()
{
    // Through the process's descriptor, so that a reaped one's number, taken again, is safe.
    if (m_pidfd >= 0)
        ::syscall(SYS_pidfd_send_signal, m_pidfd, SIGKILL, nullptr, 0);
    else if (!m_ended)
        ::kill(m_pid, SIGKILL);
    std::uint64_t one = 1;
    if (m_wake >= 0)
        (void)!::write(m_wake, &one, sizeof one);
}

void RendererProcess::send(const AppMessage& message, bool redraws)
{
    auto bytes = encode(message);
    {
        std::unique_lock lock(m_mutex);
        if (auto* load = std::get_if<Load>(&message))
            m_lastViewport = load->viewport;
        if (std::holds_alternative<Click>(message))
            ++m_clicks;
        if (std::holds_alternative<Resource>(message)) {
            // Pictures wait on the loader's thread, never on the main one.
            m_changed.wait(lock, [&] {
                std::size_t queued = 0;
                for (auto& waiting : m_outgoing)
                    queued += waiting.size();
                return m_ended || queued < maximumQueued;
            });
        }
        if (m_ended)
            return;
        if (redraws)
            m_drawnViewport.reset();
        m_outgoing.push_back(std::move(bytes));
        updateBusy();
    }
    std::uint64_t one = 1;
    (void)!::write(m_wake, &one, sizeof one);
}

void RendererProcess::setViewport(const Viewport& viewport)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_lastViewport == viewport)
            return;
        m_viewport = viewport;
        m_lastViewport = viewport;
        ++viewportRequests;
        updateBusy();
    }
    std::uint64_t one = 1;
    (void)!::write(m_wake, &one, sizeof one);
}

std::optional<RendererMessage> RendererProcess::nextMessage(std::chrono::milliseconds bound)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, bound, [&] { return !m_inbox.empty() || m_ended; });
    if (m_inbox.empty())
        return std::nullopt;
    auto message = std::move(m_inbox.front().message);
    m_inboxBytes -= m_inbox.front().size;
    m_inbox.pop_front();
    return message;
}

bool RendererProcess::waitUntilDrawn(std::chrono::milliseconds bound)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, bound, [&] { return m_drawnAny || m_ended; }) && m_drawnAny;
}

std::optional<std::chrono::microseconds> RendererProcess::startCost() const
{
    std::lock_guard lock(m_mutex);
    return m_startCost;
}

bool RendererProcess::anyBusy()
{
    return busyRenderers.load() > 0;
}

std::uint64_t RendererProcess::viewportsAsked()
{
    return viewportRequests.load();
}

// Under the mutex: owes pixels for the last viewport (unless it gave up on its page) or a
// click's answer.
void RendererProcess::updateBusy()
{
    bool busy = !m_ended && ((m_lastViewport && m_lastViewport != m_drawnViewport && !m_failed) || m_clicks > 0);
    if (busy != m_busy) {
        m_busy = busy;
        busyRenderers += busy ? 1 : -1;
    }
}

std::uint64_t RendererProcess::residentBytes() const
{
    std::ifstream statm("/proc/" + std::to_string(m_pid) + "/statm");
    std::uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

bool RendererProcess::flush()
{
    std::unique_lock lock(m_mutex);
    if (m_viewport) {
        m_outgoing.push_back(encode(AppMessage(*m_viewport)));
        m_viewport.reset();
    }
    while (!m_outgoing.empty()) {
        auto& front = m_outgoing.front();
        auto written = m_channel.sendSome(front.data() + m_written, front.size() - m_written);
        if (!written)
            return false;
        m_written += *written;
        if (m_written < front.size())
            break;
        m_outgoing.pop_front();
        m_written = 0;
        m_changed.notify_all();
    }
    return true;
}

void RendererProcess::serve()
{
    auto lookedAt = std::chrono::steady_clock::now();
    while (!m_stop) {
        bool writing;
        {
            std::lock_guard lock(m_mutex);
            writing = !m_outgoing.empty() || m_viewport;
        }
        pollfd watched[3] = {
            { m_channel.fd(), static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0 },
            { m_wake, POLLIN, 0 },
            { m_pidfd, POLLIN, 0 },
        };
        if (::poll(watched, m_pidfd >= 0 ? 3 : 2, static_cast<int>(memoryLook.count())) < 0 && errno != EINTR)
            break;
        if (watched[1].revents & POLLIN) {
            std::uint64_t count;
            (void)!::read(m_wake, &count, sizeof count);
        }
        if (watched[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!m_channel.readAvailable())
                break;
            bool sound = true;
            while (sound) {
                auto message = m_channel.takeMessage();
                if (!message)
                    break;
                sound = receive(*message);
            }
            if (!sound || m_channel.isBroken())
                break;
        }
        if (!flush())
            break;
        // A renderer that ended leaves its last words in the socket; they were read above.
        if (watched[2].revents & POLLIN && !(watched[0].revents & POLLIN))
            break;
        auto now = std::chrono::steady_clock::now();
        if (now - lookedAt >= memoryLook) {
            lookedAt = now;
            if (residentBytes() > memoryLimit)
                break;
        }
    }
    terminate();
    // Reaped here, so that no renderer stays behind as a zombie.
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        updateBusy();
    }
    m_changed.notify_all();
    if (m_handlers.ended)
        m_handlers.ended();
}

bool RendererProcess::receive(Channel::Received& received)
{
    auto message = decodeRendererMessage(received.type, received.payload.data(), received.payload.size());
    if (!message)
        return false;
    if (auto* frame = std::get_if<Frame>(&*message)) {
        int memory = m_channel.takeDescriptor();
        if (memory < 0)
            return false;
        auto image = mapFrame(*frame, memory);
        ::close(memory);
        if (!image)
            return false;
        auto drawn = std::make_shared<Drawn>(Drawn { frame->viewport, frame->contentHeight, std::move(image) });
        m_drawnAny = true;
        if (m_handlers.drawn)
            m_handlers.drawn(std::move(drawn));
        std::lock_guard lock(m_mutex);
        m_drawnViewport = frame->viewport;
        updateBusy();
        m_changed.notify_all();
        return true;
    }
    if (auto* link = std::get_if<LinkAt>(&*message)) {
        if (m_handlers.link)
            m_handlers.link(std::move(*link));
        std::lock_guard lock(m_mutex);
        if (m_clicks > 0)
            --m_clicks;
        updateBusy();
        return true;
    }
    std::lock_guard lock(m_mutex);
    if (std::holds_alternative<Ready>(*message)) {
        m_startCost = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_started);
        return true;
    }
    if (std::holds_alternative<Failed>(*message)) {
        m_failed = true;
        updateBusy();
    }
    // The whole page after its first part is drawn again.
    if (auto* info = std::get_if<PageInfo>(&*message); info && info->complete && m_drawnAny) {
        m_drawnViewport.reset();
        updateBusy();
    }
    return keep(std::move(*message), received.payload.size());
}

// Under the mutex: a renderer that says more than the load takes in misbehaves.
bool RendererProcess::keep(RendererMessage message, std::size_t size)
{
    if (m_inbox.size() >= maximumInbox || size > maximumInboxBytes - m_inboxBytes)
        return false;
    m_inboxBytes += size;
    m_inbox.push_back({ std::move(message), size });
    m_changed.notify_all();
    return true;
}

}
