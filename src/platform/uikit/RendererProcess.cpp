#include "platform/uikit/RendererProcess.h"

#include "platform/graphics/UIImage.h"

#include <cairo.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/kcmp.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace vesk::platform {

using namespace renderer;

namespace {

    // How often the memory is looked at.
    constexpr auto memoryLook = std::chrono::milliseconds(100);
    // What a load, with every style sheet and picture it asked for, may take at the most: far
    // beyond what a real page costs, far short of a renderer's asking without end.
    constexpr double answeredWorkSeconds = 6.0 * workSeconds;
    // Messages waiting for the load at most; a renderer that asks for more misbehaves.
    constexpr std::size_t maximumInbox = maximumListed;
    // And this many bytes: room for the page's whole facts and then some, never a flood that
    // piles up while the load waits for pixels.
    constexpr std::size_t maximumInboxBytes = 2 * maximumMessage;
    // After the whole page's facts a renderer only draws and answers clicks: frames and links,
    // each a few kilobytes at the most. A longer message would only be held for nobody.
    constexpr std::size_t maximumAfterFacts = maximumURL + 1024;
    // Resources wait to be written up to this much; a sender waits for room beyond it.
    constexpr std::size_t maximumQueued = 64u << 20;
    // A renderer that takes none of them for this long has stopped reading and is ended, so
    // that the waiting sender goes free.
    constexpr auto maximumStall = std::chrono::seconds(30);
    // Memory lent that may still come back with a frame drawn before the renderer heard of a new
    // size; it draws in one at a time, so a few are plenty.
    constexpr long maximumLentCanvases = 4;
    // Memory of one size kept for a renderer: one lent, one waiting for the main loop, one shown
    // and one on its way. A renderer may keep a descriptor of all it was lent, so what is made is
    // kept and lent again; with none free it waits until one is.
    constexpr long maximumCanvasesOfASize = 4;
    // No page needs as many threads as it is given; one that keeps asking past them only keeps
    // the app answering, and is ended.
    constexpr std::size_t maximumRefusedThreads = 100;

    std::atomic<int> busyRenderers { 0 };
    std::atomic<std::uint64_t> viewportRequests { 0 };
    std::atomic<std::uint64_t> frameMemories { 0 };

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

    // What a renderer needs of the app's environment: locale, where fonts and their caches are,
    // its own settings (VESK_ variables naming the renderer) and the sanitizers' options.
    bool passedToRenderer(std::string_view entry)
    {
        auto name = entry.substr(0, entry.find('='));
        for (std::string_view exact : { "HOME", "LANG", "LANGUAGE", "FC_LANG", "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS",
                 "XDG_CACHE_HOME", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS" }) {
            if (name == exact)
                return true;
        }
        if (name.starts_with("LC_") || name.starts_with("FONTCONFIG_"))
            return true;
        return name.starts_with("VESK_") && name.find("RENDERER") != std::string_view::npos;
    }

    // Renderers are started from one thread that lives as long as the app: a child's death
    // signal follows the thread that started it, and pool threads come and go. The same thread
    // passes on what renderers write to standard error, capped, so that a chatty or hostile one
    // can neither stall the app nor flood its log.
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
            std::uint64_t one = 1;
            (void)!::write(m_wake, &one, sizeof one);
            return result.get();
        }
        // On the launcher's thread: a renderer's standard error, read until it ends.
        void watchErrors(int fd) { m_errors.push_back({ fd, 0 }); }

    private:
        static constexpr std::size_t errorCap = 64 * 1024;
        struct Errors {
            int fd;
            std::size_t passed;
        };

        Launcher()
            : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
        {
            std::thread([this] { serve(); }).detach();
        }

        void serve()
        {
            for (;;) {
                std::vector<pollfd> watched { { m_wake, POLLIN, 0 } };
                for (auto& errors : m_errors)
                    watched.push_back({ errors.fd, POLLIN, 0 });
                // Without an eventfd, tasks are looked for now and then.
                ::poll(watched.data(), watched.size(), m_wake >= 0 ? -1 : 10);
                for (std::size_t i = m_errors.size(); i-- > 0;) {
                    if (watched[i + 1].revents && !passOn(m_errors[i])) {
                        ::close(m_errors[i].fd);
                        m_errors.erase(m_errors.begin() + static_cast<std::ptrdiff_t>(i));
                    }
                }
                std::uint64_t count;
                (void)!::read(m_wake, &count, sizeof count);
                for (;;) {
                    std::unique_lock lock(m_mutex);
                    if (m_tasks.empty())
                        break;
                    auto task = std::move(m_tasks.front());
                    m_tasks.pop_front();
                    lock.unlock();
                    task();
                }
            }
        }

        // Whether the pipe is still open. Control characters are masked, so that no escape
        // sequence reaches the user's terminal; the app's standard error is written only when
        // that can't wait.
        static bool passOn(Errors& errors)
        {
            char buffer[PIPE_BUF];
            auto got = ::read(errors.fd, buffer, sizeof buffer);
            if (got < 0)
                return errno == EAGAIN || errno == EINTR;
            if (got == 0)
                return false;
            auto size = std::min(static_cast<std::size_t>(got), errorCap - std::min(errorCap, errors.passed));
            errors.passed += static_cast<std::size_t>(got);
            for (std::size_t i = 0; i < size; ++i) {
                auto byte = static_cast<unsigned char>(buffer[i]);
                if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7f)
                    buffer[i] = '?';
            }
            pollfd out { STDERR_FILENO, POLLOUT, 0 };
            if (size > 0 && ::poll(&out, 1, 0) > 0 && (out.revents & POLLOUT))
                (void)!::write(STDERR_FILENO, buffer, size);
            return true;
        }

        const int m_wake;
        std::mutex m_mutex;
        std::deque<std::packaged_task<pid_t()>> m_tasks;
        // Only on the launcher's thread.
        std::vector<Errors> m_errors;
    };

    // The frame's pixels, mapped read-only from the memory they were drawn in, which the image
    // keeps from being lent again while it lives; null when they can't be mapped.
    std::shared_ptr<UIImage> mapFrame(const Frame& frame, std::shared_ptr<void> canvas, int memory)
    {
        auto bytes = frameBytes(frame);
        if (!bytes)
            return nullptr;
        auto* pixels = ::mmap(nullptr, *bytes, PROT_READ, MAP_SHARED, memory, 0);
        if (pixels == MAP_FAILED)
            return nullptr;
        auto* surface = cairo_image_surface_create_for_data(static_cast<unsigned char*>(pixels), CAIRO_FORMAT_ARGB32, static_cast<int>(frame.pixelWidth),
            static_cast<int>(frame.pixelHeight), static_cast<int>(frame.stride));
        struct Mapping {
            void* address;
            std::size_t size;
            std::shared_ptr<void> canvas;
        };
        static const cairo_user_data_key_t key {};
        auto* mapping = new Mapping { pixels, *bytes, std::move(canvas) };
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

namespace {

    // On the launcher's thread. The renderer gets no terminal: /dev/null for input and output, its
    // errors through a pipe to the launcher, a session of its own, and of the environment only what
    // it reads.
    pid_t spawnRenderer(const std::filesystem::path& program, int socket)
    {
        int errors[2];
        if (::pipe2(errors, O_CLOEXEC) != 0)
            return -1;
        ::fcntl(errors[0], F_SETFL, O_NONBLOCK);
        // Clear of the descriptors the child's are put on, so that none is overwritten first.
        if (errors[1] <= 3) {
            int moved = ::fcntl(errors[1], F_DUPFD_CLOEXEC, 10);
            ::close(errors[1]);
            errors[1] = moved;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, socket, 3);
        posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        std::vector<char*> environment;
        for (char** entry = environ; *entry; ++entry) {
            if (passedToRenderer(*entry))
                environment.push_back(*entry);
        }
        environment.push_back(nullptr);
        auto parent = std::to_string(::getpid());
        std::string path = program.string();
        char* arguments[] = { path.data(), parent.data(), nullptr };
        pid_t child = -1;
        if (errors[1] < 0 || ::posix_spawn(&child, path.c_str(), &actions, &attributes, arguments, environment.data()) != 0)
            child = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        if (errors[1] >= 0)
            ::close(errors[1]);
        if (child > 0)
            Launcher::shared().watchErrors(errors[0]);
        else
            ::close(errors[0]);
        return child;
    }

}

std::unique_ptr<RendererProcess> RendererProcess::start(Handlers handlers)
{
    auto program = rendererProgram();
    if (program.empty())
        return nullptr;
    // A page's document, the copy of it sent along and what its renderer tells of it are made and
    // freed on whichever worker loads it. Once a big block was mapped and freed, the allocator
    // takes blocks up to its size from the worker's own heap and keeps that heap's top: each
    // worker would keep a big page's worth after its load is gone. Blocks of a megabyte or more
    // get mappings of their own, which go back to the system when freed, and a heap gives back
    // its free top past 128 KB.
    static std::once_flag largeBlocksMapped;
    std::call_once(largeBlocksMapped, [] {
        ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
        ::mallopt(M_TRIM_THRESHOLD, 128 << 10);
    });
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
    auto pid = Launcher::shared().run([&] { return spawnRenderer(program, ends[1]); });
    ::close(ends[1]);
    if (pid <= 0) {
        ::close(ends[0]);
        return nullptr;
    }
    std::unique_ptr<RendererProcess> process(new RendererProcess(pid, ends[0], std::move(handlers)));
    process->m_started = started;
    // A handful of descriptors before it reads a byte of its document; one that can't be held to
    // it is ended.
    rlimit descriptors { maximumDescriptors, maximumDescriptors };
    if (::prlimit(pid, RLIMIT_NOFILE, &descriptors, nullptr) != 0)
        process->terminate();
    // Detached, so that an ended renderer's thread is gone at once, not kept until its view goes;
    // the process waits for it as it is destroyed.
    process->m_serving = true;
    try {
        std::thread([raw = process.get()] { raw->serve(); }).detach();
    } catch (...) {
        process->m_serving = false;
        throw;
    }
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
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_serving; });
    }
    if (m_wake >= 0)
        ::close(m_wake);
    if (m_pidfd >= 0)
        ::close(m_pidfd);
    for (auto& waiting : m_outgoing) {
        if (waiting.descriptor >= 0)
            ::close(waiting.descriptor);
    }
}

void RendererProcess::terminate()
{
    {
        std::lock_guard lock(m_signalMutex);
        // Through the process's descriptor, so that a reaped one's number, taken again, is safe.
        if (m_pidfd >= 0)
            ::syscall(SYS_pidfd_send_signal, m_pidfd, SIGKILL, nullptr, 0);
        else if (!m_ended)
            ::kill(m_pid, SIGKILL);
    }
    wake();
}

void RendererProcess::wake()
{
    std::lock_guard lock(m_signalMutex);
    std::uint64_t one = 1;
    if (m_wake >= 0)
        (void)!::write(m_wake, &one, sizeof one);
}

void RendererProcess::send(const AppMessage& message, bool redraws, int descriptor)
{
    auto bytes = encode(message);
    {
        std::unique_lock lock(m_mutex);
        if (auto* load = std::get_if<Load>(&message))
            m_lastViewport = load->viewport;
        // An ended renderer owes no answer to clicks on what it left shown.
        if (auto* click = std::get_if<Click>(&message); click && !m_ended)
            m_clicks.push_back(click->serial);
        bool room = true;
        if (std::holds_alternative<Resource>(message)) {
            // Pictures wait on the loader's thread, never on the main one.
            room = m_changed.wait_for(lock, maximumStall, [&] {
                std::size_t queued = 0;
                for (auto& waiting : m_outgoing)
                    queued += waiting.bytes.size();
                return m_ended || queued < maximumQueued;
            });
            if (!room)
                terminate();
        }
        if (m_ended || !room) {
            if (descriptor >= 0)
                ::close(descriptor);
            return;
        }
        if (redraws)
            m_drawnViewport.reset();
        m_outgoing.push_back({ std::move(bytes), descriptor });
        if (auto* load = std::get_if<Load>(&message)) {
            m_sentViewport = load->viewport;
            if (!lendFrameMemory(load->viewport))
                terminate();
        }
        if (std::holds_alternative<Resource>(message))
            m_answerGiven = true;
        else
            m_workGiven = true;
        updateBusy();
    }
    wake();
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
    wake();
}

void RendererProcess::doneReading()
{
    std::lock_guard lock(m_mutex);
    m_inboxClosed = true;
    std::deque<Waiting>().swap(m_inbox);
    m_inboxBytes = 0;
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
    return m_changed.wait_for(lock, bound, [&] { return m_drawnSinceFacts || m_ended; }) && m_drawnSinceFacts;
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

std::uint64_t RendererProcess::frameMemoriesMade()
{
    return frameMemories.load();
}

// Under the mutex: owes pixels for the last viewport (unless it gave up on its page) or a
// click's answer.
void RendererProcess::updateBusy()
{
    bool busy = !m_ended && ((m_lastViewport && m_lastViewport != m_drawnViewport && !m_failed) || !m_clicks.empty());
    if (busy != m_busy) {
        m_busy = busy;
        busyRenderers += busy ? 1 : -1;
    }
}

struct RendererProcess::Canvas {
    int fd = -1;
    std::size_t size = 0;
    std::pair<dev_t, ino_t> identity {};
    bool lent = false;
    ~Canvas()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Under the mutex: memory for the viewport's frame goes to the renderer, unless what it holds
// (the newest lent: it lets go of older memory as it takes new) is that size. Memory of that size
// nothing shows is lent again, and none is made while some is free; memory of other sizes nothing
// shows is dropped. With all of that size in use, nothing is lent until some is free (flush).
bool RendererProcess::lendFrameMemory(const Viewport& viewport)
{
    auto size = frameBytes(frameFor(viewport));
    if (!size)
        return false;
    if (m_heldCanvas && m_heldCanvas->size == *size)
        return true;
    auto shown = [](const std::shared_ptr<Canvas>& canvas) { return canvas.use_count() > 1; };
    std::shared_ptr<Canvas> chosen;
    long ofTheSize = 0;
    for (auto& canvas : m_canvases) {
        if (canvas->size != *size)
            continue;
        ++ofTheSize;
        if (!chosen && !canvas->lent && !shown(canvas))
            chosen = canvas;
    }
    // Memory lent before may still come back with a frame drawn before the renderer took newer.
    auto older = std::count_if(m_canvases.begin(), m_canvases.end(), [&](auto& canvas) { return canvas->lent && canvas->size != *size; });
    std::erase_if(m_canvases, [&](const std::shared_ptr<Canvas>& canvas) {
        if (canvas->size == *size || shown(canvas))
            return false;
        if (canvas->lent && older > maximumLentCanvases)
            return older--, true;
        return !canvas->lent;
    });
    if (!chosen && ofTheSize >= maximumCanvasesOfASize)
        return true;
    if (!chosen) {
        ++frameMemories;
        chosen = std::make_shared<Canvas>();
        chosen->fd = makeFrameMemory(*size);
        struct stat facts { };
        if (chosen->fd < 0 || ::fstat(chosen->fd, &facts) != 0)
            return false;
        chosen->size = *size;
        chosen->identity = { facts.st_dev, facts.st_ino };
        m_canvases.push_back(chosen);
    }
    int lent = ::fcntl(chosen->fd, F_DUPFD_CLOEXEC, 0);
    if (lent < 0)
        return false;
    m_outgoing.push_back({ encode(AppMessage(FrameMemory {})), lent });
    chosen->lent = true;
    m_heldCanvas = std::move(chosen);
    return true;
}

// The frame's pixels, shown from the memory the app lent for them, of exactly their size; null
// for any other memory. Memory for the next frame is lent at once.
std::shared_ptr<UIImage> RendererProcess::takeFrame(const Frame& frame, int memory)
{
    auto size = frameBytes(frame);
    struct stat facts { };
    if (!size || ::fstat(memory, &facts) != 0)
        return nullptr;
    std::pair identity { facts.st_dev, facts.st_ino };
    std::shared_ptr<Canvas> canvas;
    {
        std::lock_guard lock(m_mutex);
        auto found = std::find_if(m_canvases.begin(), m_canvases.end(), [&](auto& lent) { return lent->lent && lent->identity == identity; });
        // What was lent can't have changed size: a frame said to be another size does not fit it.
        if (found == m_canvases.end() || (*found)->size != *size)
            return nullptr;
        canvas = *found;
        canvas->lent = false;
        if (canvas == m_heldCanvas)
            m_heldCanvas.reset();
        if (m_sentViewport && !lendFrameMemory(*m_sentViewport))
            return nullptr;
    }
    return mapFrame(frame, std::move(canvas), memory);
}

namespace {

    // A file the kernel makes of a process: read with the system's calls, since a stream
    // throws when the process is gone between opening and reading.
    std::string processFile(pid_t pid, const char* name)
    {
        std::string text;
        int fd = ::open(("/proc/" + std::to_string(pid) + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return text;
        char buffer[1024];
        ssize_t got;
        while (text.size() < 64 * 1024 && ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))) {
            if (got > 0)
                text.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(fd);
        return text;
    }

}

std::uint64_t RendererProcess::residentBytes() const
{
    std::istringstream statm(processFile(m_pid, "statm"));
    std::uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

namespace {

    // The bytes of files with no name in a descriptor table's folder, those counted left out.
    std::uint64_t unnamedFileBytes(const std::string& path, std::set<std::pair<dev_t, ino_t>>& counted)
    {
        int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0)
            return 0;
        auto* listing = ::fdopendir(folder);
        if (!listing) {
            ::close(folder);
            return 0;
        }
        std::uint64_t bytes = 0;
        while (auto* entry = ::readdir(listing)) {
            struct stat facts { };
            if (entry->d_name[0] == '.' || ::fstatat(folder, entry->d_name, &facts, 0) != 0)
                continue;
            if (S_ISREG(facts.st_mode) && facts.st_nlink == 0 && counted.insert({ facts.st_dev, facts.st_ino }).second)
                bytes += static_cast<std::uint64_t>(facts.st_size);
        }
        ::closedir(listing);
        return bytes;
    }

}

// Memory the renderer keeps a descriptor of that the app no longer keeps for it: files with no
// name, such as memory lent for frames and since dropped, each counted once, in every descriptor
// table its threads hold (they share one, which kcmp tells without reading it again). What it
// maps it counts in its address space.
std::uint64_t RendererProcess::heldMemoryBytes() const
{
    std::set<std::pair<dev_t, ino_t>> counted;
    {
        std::lock_guard lock(m_mutex);
        for (auto& canvas : m_canvases)
            counted.insert(canvas->identity);
    }
    auto folder = "/proc/" + std::to_string(m_pid) + "/task/";
    auto* tasks = ::opendir(folder.c_str());
    if (!tasks)
        return 0;
    // A thread of each table read.
    std::vector<pid_t> read;
    std::uint64_t bytes = 0;
    std::size_t looked = 0;
    while (auto* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        // No more than the threads it may run, its first one, ended, beside them.
        if (++looked > maximumThreads + 1)
            break;
        auto task = static_cast<pid_t>(std::atoi(entry->d_name));
        if (std::any_of(read.begin(), read.end(), [&](pid_t other) { return ::syscall(SYS_kcmp, other, task, KCMP_FILES, 0, 0) == 0; }))
            continue;
        read.push_back(task);
        bytes += unnamedFileBytes(folder + entry->d_name + "/fd", counted);
    }
    ::closedir(tasks);
    return bytes;
}

// Whether its first thread has ended while others run on: the kernel then shows the process
// through it as a zombie, of no memory and no descriptors, until the last one ends.
bool RendererProcess::firstThreadEnded() const
{
    auto stat = processFile(m_pid, "stat");
    auto name = stat.rfind(')');
    if (name == std::string::npos || name + 2 >= stat.size() || (stat[name + 2] != 'Z' && stat[name + 2] != 'X'))
        return false;
    // Not the whole process, whose end its pidfd tells, its last words still to read.
    pollfd ended { m_pidfd, POLLIN, 0 };
    return m_pidfd < 0 || ::poll(&ended, 1, 0) == 0;
}

std::optional<double> RendererProcess::processorSeconds(pid_t pid)
{
    auto stat = processFile(pid, "stat");
    // The program's name, in parentheses, may hold anything; user and system time are the 12th
    // and 13th fields after it, in clock ticks.
    auto name = stat.rfind(')');
    if (name == std::string::npos)
        return std::nullopt;
    std::istringstream fields(stat.substr(name + 1));
    std::string skipped;
    for (int field = 0; field < 11; ++field)
        fields >> skipped;
    std::uint64_t user = 0, system = 0;
    if (!(fields >> user >> system))
        return std::nullopt;
    return double(user + system) / double(::sysconf(_SC_CLK_TCK));
}

bool RendererProcess::flush()
{
    std::unique_lock lock(m_mutex);
    if (m_viewport) {
        if (!lendFrameMemory(*m_viewport))
            return false;
        m_outgoing.push_back({ encode(AppMessage(*m_viewport)) });
        m_sentViewport = std::exchange(m_viewport, std::nullopt);
        m_workGiven = true;
    } else if (m_sentViewport && !lendFrameMemory(*m_sentViewport)) {
        // Memory that was all in use when the renderer needed it, lent once some is free.
        return false;
    }
    while (!m_outgoing.empty()) {
        auto& front = m_outgoing.front();
        auto written = m_channel.sendSome(front.bytes.data() + m_written, front.bytes.size() - m_written, front.descriptor);
        if (!written)
            return false;
        if (*written > 0 && front.descriptor >= 0) {
            ::close(front.descriptor);
            front.descriptor = -1;
        }
        m_written += *written;
        if (m_written < front.bytes.size())
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
    // Processor time counts from the start, and again from each piece of work the app gives:
    // a renderer past the limit since, busy or idle, is ended, whatever it did to its own timer.
    // Answers to what it asked for extend it only so far.
    RendererWorkClock clock(workSeconds, answeredWorkSeconds);
    while (!m_stop) {
        bool writing, workGiven, answerGiven;
        {
            std::lock_guard lock(m_mutex);
            writing = !m_outgoing.empty() || m_viewport;
            workGiven = std::exchange(m_workGiven, false);
            answerGiven = std::exchange(m_answerGiven, false);
        }
        if (workGiven || answerGiven) {
            if (auto seconds = processorSeconds(m_pid))
                workGiven ? clock.workGiven(*seconds) : clock.answerGiven(*seconds);
        }
        pollfd watched[4] = {
            { m_channel.fd(), static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0 },
            { m_wake, POLLIN, 0 },
            { m_pidfd, POLLIN, 0 },
            { m_warden ? m_warden->fd() : -1, POLLIN, 0 },
        };
        if (::poll(watched, 4, static_cast<int>(memoryLook.count())) < 0 && errno != EINTR)
            break;
        // A thread it asks for waits for the answer.
        if (watched[3].revents & POLLIN) {
            if (!m_warden->answer() || m_warden->refused() > maximumRefusedThreads)
                break;
        } else if (watched[3].revents) {
            m_warden.reset();
        }
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
            // What it holds is read through its first thread: without it, it would read as nothing.
            if (firstThreadEnded())
                break;
            if (residentBytes() + heldMemoryBytes() > memoryLimit)
                break;
            if (auto seconds = processorSeconds(m_pid); seconds && clock.isExceeded(*seconds))
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
    release();
    m_changed.notify_all();
    if (m_handlers.ended)
        m_handlers.ended();
    m_handlers = {};
    // The last it does with the process.
    std::lock_guard lock(m_mutex);
    m_serving = false;
    m_changed.notify_all();
}

// Once it has ended and is reaped: what the app held for it goes at once. Only the memory of the
// frame its view still shows stays, mapped, without a descriptor; what waits for the load to read
// goes once the load is done (doneReading).
void RendererProcess::release()
{
    m_warden.reset();
    m_channel.close();
    {
        std::lock_guard lock(m_signalMutex);
        for (int* fd : { &m_wake, &m_pidfd }) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
    std::lock_guard lock(m_mutex);
    for (auto& waiting : m_outgoing) {
        if (waiting.descriptor >= 0)
            ::close(waiting.descriptor);
    }
    std::deque<Outgoing>().swap(m_outgoing);
    m_written = 0;
    m_viewport.reset();
    m_heldCanvas.reset();
    for (auto& canvas : m_canvases) {
        if (canvas->fd >= 0)
            ::close(canvas->fd);
        canvas->fd = -1;
    }
    std::vector<std::shared_ptr<Canvas>>().swap(m_canvases);
    // The page's load made and freed large blocks on several threads; what the allocator kept
    // of them goes back to the system.
    ::malloc_trim(0);
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
        auto image = takeFrame(*frame, memory);
        ::close(memory);
        if (!image)
            return false;
        auto drawn = std::make_shared<Drawn>(Drawn { frame->viewport, frame->contentHeight, std::move(image), frame->contentWidth });
        m_drawnAny = true;
        if (m_handlers.drawn)
            m_handlers.drawn(std::move(drawn));
        std::lock_guard lock(m_mutex);
        m_drawnSinceFacts = true;
        m_drawnViewport = frame->viewport;
        updateBusy();
        m_changed.notify_all();
        return true;
    }
    if (auto* link = std::get_if<LinkAt>(&*message)) {
        {
            // Only the answer to a click the app sent leads anywhere; one nobody asked for, or
            // given twice, is a renderer choosing the next page itself.
            std::lock_guard lock(m_mutex);
            auto asked = std::find(m_clicks.begin(), m_clicks.end(), link->serial);
            if (asked == m_clicks.end())
                return false;
            // Answers come in the order of their clicks: older ones can no longer come.
            m_clicks.erase(m_clicks.begin(), asked + 1);
        }
        // Passed on before it stops being owed, so that whoever waits for the renderer to settle
        // finds the link already on its way.
        if (m_handlers.link)
            m_handlers.link(std::move(*link));
        std::lock_guard lock(m_mutex);
        updateBusy();
        return true;
    }
    if (std::holds_alternative<Threads>(*message)) {
        // Once, with the listener beside it.
        int listener = m_channel.takeDescriptor();
        if (listener < 0 || m_warden) {
            if (listener >= 0)
                ::close(listener);
            return false;
        }
        m_warden = std::make_unique<ThreadWarden>(m_pid, listener);
        return true;
    }
    std::lock_guard lock(m_mutex);
    // A load gets only its share of the app's work: a renderer that asks for more, or says it is
    // ready or tells of its page more often than once (in part, then whole), is ended.
    if (std::holds_alternative<Request>(*message) && ++m_requests > maximumRequests)
        return false;
    if (auto* info = std::get_if<PageInfo>(&*message)) {
        if (m_wholeTold || (!info->complete && m_partTold))
            return false;
        (info->complete ? m_wholeTold : m_partTold) = true;
        if (info->complete)
            m_channel.setMaximumMessage(maximumAfterFacts);
    }
    if (std::holds_alternative<Ready>(*message)) {
        if (m_startCost)
            return false;
        m_startCost = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_started);
        return true;
    }
    if (std::holds_alternative<Failed>(*message)) {
        m_failed = true;
        updateBusy();
    }
    if (std::holds_alternative<PageInfo>(*message))
        m_drawnSinceFacts = false;
    // The whole page after its first part is drawn again.
    if (auto* info = std::get_if<PageInfo>(&*message); info && info->complete && m_drawnAny) {
        m_drawnViewport.reset();
        updateBusy();
    }
    return keep(std::move(*message), received.payload.size());
}

// Under the mutex: a renderer that says more than the load takes in misbehaves, and so does one
// that says anything of the kind once nobody reads it: after the whole page's facts, or once the
// load is done.
bool RendererProcess::keep(RendererMessage message, std::size_t size)
{
    if (m_inboxClosed || m_inbox.size() >= maximumInbox || size > maximumInboxBytes - m_inboxBytes)
        return false;
    if (auto* info = std::get_if<PageInfo>(&message); info && info->complete)
        m_inboxClosed = true;
    m_inboxBytes += size;
    m_inbox.push_back({ std::move(message), size });
    m_changed.notify_all();
    return true;
}

}
