// A child process enters the renderer's sandbox and tries what a taken-over renderer would.

#include "renderer/Sandbox.h"
#include "renderer/protocol/RendererProtocol.h"

#include <gtest/gtest.h>

#include <cairo-pdf.h>
#include <cairo.h>
#include <fcntl.h>
#include <glib.h>
#include <linux/capability.h>
#include <linux/futex.h>
#include <linux/sched.h>
#include <poll.h>
#include <poppler.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// A one-page PDF filled red, made with cairo before the sandbox closes.
std::string redPDF()
{
    std::string bytes;
    auto* surface = cairo_pdf_surface_create_for_stream(
        [](void* closure, const unsigned char* data, unsigned int length) {
            static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
            return CAIRO_STATUS_SUCCESS;
        },
        &bytes, 100, 100);
    auto* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    return bytes;
}

// Whether poppler draws the page's middle red, in the sandbox.
bool drawsRedPage(const std::string& pdf)
{
    auto* bytes = g_bytes_new(pdf.data(), pdf.size());
    auto* document = poppler_document_new_from_bytes(bytes, nullptr, nullptr);
    g_bytes_unref(bytes);
    if (!document)
        return false;
    bool red = false;
    if (auto* page = poppler_document_get_page(document, 0)) {
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 100, 100);
        auto* cr = cairo_create(surface);
        poppler_page_render(page, cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        auto* pixel = cairo_image_surface_get_data(surface) + 50 * cairo_image_surface_get_stride(surface) + 50 * 4;
        red = pixel[2] > 200 && pixel[1] < 50 && pixel[0] < 50;
        cairo_surface_destroy(surface);
        g_object_unref(page);
    }
    g_object_unref(document);
    return red;
}

// In a probe: its end of the socket on which it hands over the listener for its threads.
int handOver = -1;

// Enters the sandbox as the renderer does: the listener through which its threads are asked for
// goes to the test's process, which answers as the app does.
vesk::renderer::SandboxResult enterSandbox(const std::optional<std::string>& readable = std::nullopt)
{
    using namespace vesk::platform::renderer;
    auto sandbox = vesk::renderer::enterSandbox(readable);
    if (sandbox.threads >= 0) {
        Channel channel(::fcntl(handOver, F_DUPFD_CLOEXEC, 0));
        channel.send(encode(RendererMessage(Threads {})), sandbox.threads);
        ::close(sandbox.threads);
    }
    return sandbox;
}

// Answers the probe's requests for threads until it is done, noting the most it ran at once.
void answerThreads(pid_t child, int socket, const std::atomic<bool>& done, std::size_t& most)
{
    using namespace vesk::platform::renderer;
    Channel channel(socket);
    std::unique_ptr<ThreadWarden> warden;
    bool open = true;
    auto status = "/proc/" + std::to_string(child) + "/status";
    while (!done) {
        pollfd watched[2] = { { open ? channel.fd() : -1, POLLIN, 0 }, { warden ? warden->fd() : -1, POLLIN, 0 } };
        ::poll(watched, 2, 1);
        if (watched[0].revents) {
            open = channel.readAvailable();
            while (channel.takeMessage()) {
                if (int listener = channel.takeDescriptor(); listener >= 0 && !warden)
                    warden = std::make_unique<ThreadWarden>(child, listener);
            }
        }
        if (watched[1].revents & POLLIN)
            warden->answer();
        else if (watched[1].revents)
            warden.reset();
        std::ifstream file(status);
        for (std::string line; std::getline(file, line);) {
            if (line.starts_with("Threads:"))
                most = std::max<std::size_t>(most, std::stoul(line.substr(8)));
        }
    }
}

// Runs the probe in a child that enters the sandbox; what it found wrong, one line each. The
// most threads it ran at once, if asked.
std::string probeInSandbox(const std::function<void(std::string& wrong)>& probe, std::size_t* mostThreads = nullptr)
{
    int report[2];
    if (::pipe(report) != 0)
        return "no pipe";
    int threads[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, threads) != 0)
        return "no socket";
    pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        ::close(threads[0]);
        handOver = threads[1];
        std::string wrong;
        probe(wrong);
        // Marks a probe that ran to its end, not one replaced by another program.
        wrong += "end\n";
        (void)!::write(report[1], wrong.data(), wrong.size());
        // No exit handlers: the sanitizers' leak check needs calls the sandbox refuses.
        ::_exit(0);
    }
    ::close(report[1]);
    ::close(threads[1]);
    std::atomic<bool> done = false;
    std::size_t most = 0;
    std::thread answering([&] { answerThreads(child, threads[0], done, most); });
    std::string wrong;
    char buffer[512];
    for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;)
        wrong.append(buffer, static_cast<std::size_t>(got));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    done = true;
    answering.join();
    if (mostThreads)
        *mostThreads = most;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        wrong += "the probe ended with status " + std::to_string(status) + "\n";
    if (wrong.ends_with("end\n"))
        wrong.resize(wrong.size() - 4);
    else
        wrong += "the probe did not run to its end\n";
    return wrong;
}

// The system's shared memory in bytes, read again through a descriptor opened before the sandbox.
std::optional<long long> sharedMemory(int meminfo)
{
    char text[16384];
    if (::lseek(meminfo, 0, SEEK_SET) != 0)
        return std::nullopt;
    auto got = ::read(meminfo, text, sizeof text - 1);
    if (got <= 0)
        return std::nullopt;
    text[got] = 0;
    auto* line = std::strstr(text, "\nShmem:");
    if (!line)
        return std::nullopt;
    return std::atoll(line + 8) * 1024;
}

// A thread of another kind than pthread_create's, should it be made.
__attribute__((no_sanitize("address", "undefined", "thread"))) int endsAtOnce(void*)
{
    return 0;
}

// A call that must fail with EPERM or ENOSYS; anything else is noted.
void refused(std::string& wrong, const char* what, long result)
{
    if (result >= 0)
        wrong += std::string(what) + " was allowed\n";
    else if (errno != EPERM && errno != ENOSYS)
        wrong += std::string(what) + " failed with " + std::strerror(errno) + ", not by the filter\n";
}

}

TEST(SandboxTest, ATakenOverRendererCanReachNothingOutsideYetDrawsWithThreads)
{
    auto pdf = redPDF();
    auto outside = std::filesystem::temp_directory_path() / ("vesk-sandbox-" + std::to_string(::getpid()));
    std::filesystem::create_directories(outside);
    // Taken here: the sandbox refuses getppid, and -1 would mean every process.
    pid_t parent = ::getpid();
    auto wrong = probeInSandbox([&](std::string& wrong) {
        // A terminal opened before, as an inherited one would be.
        int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0)
            wrong += "no pseudo-terminal to try\n";
        auto sandbox = enterSandbox(outside.string());
        if (!sandbox.files || !sandbox.calls || !sandbox.privileges)
            wrong += "the sandbox was not entered whole\n";

        // No new process, by any of the calls that make one.
        refused(wrong, "fork", ::fork());
        refused(wrong, "clone without CLONE_THREAD", ::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
        // No thread of another kind than pthread_create's: with a descriptor table of its own, a
        // pidfd, as a vfork or as the process's sibling.
        constexpr int sharing = CLONE_VM | CLONE_SIGHAND | CLONE_THREAD;
        const std::pair<const char*, int> kinds[] = {
            { "a thread of its own descriptors", sharing },
            { "a thread of its own descriptors and folder", sharing | CLONE_FS | CLONE_SYSVSEM },
            { "a thread with a pidfd", sharing | CLONE_FILES | CLONE_PIDFD },
            { "a thread as a vfork", sharing | CLONE_FILES | CLONE_VFORK },
            { "a thread as the process's sibling", sharing | CLONE_FILES | CLONE_PARENT },
        };
        static char stacks[std::size(kinds)][64 * 1024];
        for (std::size_t i = 0; i < std::size(kinds); ++i) {
            int pidfd = -1;
            refused(wrong, kinds[i].first, ::clone(endsAtOnce, stacks[i] + sizeof stacks[i], kinds[i].second, nullptr, &pidfd));
        }
        clone_args arguments {};
        arguments.exit_signal = SIGCHLD;
        refused(wrong, "clone3", ::syscall(SYS_clone3, &arguments, sizeof arguments));
        refused(wrong, "pidfd_open", ::syscall(SYS_pidfd_open, parent, 0));
        refused(wrong, "execve", ::execl("/bin/true", "true", nullptr));

        // No network, no writing, nothing of the system.
        refused(wrong, "an internet socket", ::socket(AF_INET, SOCK_STREAM, 0));
        refused(wrong, "a local socket", ::socket(AF_UNIX, SOCK_STREAM, 0));
        refused(wrong, "a file opened for writing", ::open((outside / "written").c_str(), O_WRONLY | O_CREAT, 0600));
        refused(wrong, "a readable file opened to change it", ::open("/usr/share/fonts", O_RDWR));
        refused(wrong, "ptrace", ::ptrace(PTRACE_ATTACH, parent, nullptr, nullptr));
        refused(wrong, "a signal to the parent", ::kill(parent, 0));
        refused(wrong, "keyctl", ::syscall(SYS_keyctl, 0, 0, 0, 0, 0));
        refused(wrong, "chroot", ::chroot("/"));
        refused(wrong, "reboot", ::syscall(SYS_reboot, 0, 0, 0, nullptr));
        refused(wrong, "fsopen", ::syscall(SYS_fsopen, "tmpfs", 0));
        refused(wrong, "open_tree", ::syscall(SYS_open_tree, AT_FDCWD, "/", 0));

        // The terminal: nothing typed into it, none controlling, no capabilities.
        char typed = 'x';
        refused(wrong, "TIOCSTI", ::ioctl(terminal, TIOCSTI, &typed));
        char console = 0;
        refused(wrong, "TIOCLINUX", ::ioctl(terminal, TIOCLINUX, &console));
        if (::open("/dev/tty", O_RDWR) >= 0)
            wrong += "a controlling terminal\n";
        if (::getsid(0) != ::getpid())
            wrong += "not a session of its own\n";
        __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
        __user_cap_data_struct capabilities[_LINUX_CAPABILITY_U32S_3] {};
        if (::syscall(SYS_capget, &header, capabilities) != 0)
            wrong += "capabilities can't be read\n";
        for (auto& set : capabilities) {
            if (set.effective || set.permitted || set.inheritable)
                wrong += "capabilities left\n";
        }

        // What a renderer does still works: threads (its own and glib's), a PDF page drawn.
        std::atomic<int> ran { 0 };
        std::thread([&] { ++ran; }).join();
        auto* thread = g_thread_try_new(
            "probe", [](gpointer ran) -> gpointer { return GINT_TO_POINTER(++*static_cast<std::atomic<int>*>(ran)); }, &ran, nullptr);
        if (thread)
            g_thread_join(thread);
        if (ran != 2)
            wrong += "threads can't be made\n";
        if (!drawsRedPage(pdf))
            wrong += "poppler did not draw the page\n";
        if (terminal >= 0)
            ::close(terminal);
    });
    EXPECT_EQ(wrong, "");
    EXPECT_FALSE(std::filesystem::exists(outside / "written"));
    std::filesystem::remove_all(outside);
}

// A renderer taken over tries to hold 3 GiB where neither its address-space limit nor its
// resident size counts it: memory of its own, or the memory lent for its frames grown or written
// past its end. Each is refused, and the system's shared memory does not grow by it.
TEST(SandboxTest, ATakenOverRendererCanHoldNoSharedMemoryThatNoLimitCounts)
{
    constexpr std::size_t tried = 3ull << 30, step = 1u << 20;
    auto wrong = probeInSandbox([&](std::string& wrong) {
        std::size_t frameSize = 375 * 4 * 603;
        int lent = vesk::platform::renderer::makeFrameMemory(frameSize);
        int meminfo = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
        if (lent < 0 || meminfo < 0)
            wrong += "nothing to try with\n";
        auto before = sharedMemory(meminfo);
        auto sandbox = enterSandbox();
        if (!sandbox.calls)
            wrong += "the filter was not loaded\n";

        int own = static_cast<int>(::syscall(SYS_memfd_create, "hoard", 0));
        refused(wrong, "memfd_create", own);
        refused(wrong, "growing the lent memory", ::ftruncate(lent, static_cast<off_t>(tried)));
        std::vector<char> chunk(step, 'x');
        refused(wrong, "writing past the lent memory's end", ::pwrite(lent, chunk.data(), step, static_cast<off_t>(frameSize)));
        // Whatever was let through is filled as a hostile renderer would.
        for (std::size_t written = 0; own >= 0 && written < tried; written += step) {
            if (::write(own, chunk.data(), step) != static_cast<ssize_t>(step))
                break;
        }
        auto after = sharedMemory(meminfo);
        if (!before || !after)
            wrong += "the shared memory can't be read\n";
        else if (*after - *before >= (12ll << 30) / 10)
            wrong += "the shared memory grew by " + std::to_string((*after - *before) >> 20) + " MiB\n";

        // A descriptor of the lent memory kept for each frame: a handful at most, for good.
        std::vector<int> kept;
        for (int copy = 0; copy < 100; ++copy) {
            int fd = ::fcntl(lent, F_DUPFD_CLOEXEC, 0);
            if (fd >= 0)
                kept.push_back(fd);
        }
        rlimit raised { 4096, 4096 };
        refused(wrong, "raising the descriptor limit", ::setrlimit(RLIMIT_NOFILE, &raised));
        if (kept.size() + 3 >= vesk::platform::renderer::maximumDescriptors)
            wrong += "it kept " + std::to_string(kept.size()) + " descriptors of the lent memory\n";
        for (int fd : kept)
            ::close(fd);

        // Drawing into the lent memory still works.
        auto* pixels = static_cast<char*>(::mmap(nullptr, frameSize, PROT_READ | PROT_WRITE, MAP_SHARED, lent, 0));
        if (pixels == MAP_FAILED)
            wrong += "the lent memory can't be drawn in\n";
        else {
            std::memset(pixels, 0xff, frameSize);
            ::munmap(pixels, frameSize);
        }
    });
    EXPECT_EQ(wrong, "");
}

namespace {

// A thread that holds its place and does nothing, on a stack of its own.
__attribute__((no_sanitize("address", "undefined"))) int parked(void* word)
{
    for (;;)
        ::syscall(SYS_futex, word, FUTEX_WAIT, 0, nullptr, nullptr, 0);
}

}

// A renderer taken over asks for 3,000 threads, each of no memory to speak of, as fast as it can:
// it never runs more than the limit at once, the one past it is refused at once, and the threads
// it was given run.
TEST(SandboxTest, ATakenOverRendererRunsNoMoreThreadsThanTheLimitHoweverFastItAsks)
{
    constexpr std::size_t asked = 3000, stack = 16 * 1024;
    std::size_t most = 0;
    auto wrong = probeInSandbox(
        [&](std::string& wrong) {
            auto* stacks = static_cast<char*>(::mmap(nullptr, asked * stack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
            static std::atomic<int> word { 0 };
            if (stacks == MAP_FAILED)
                wrong += "no stacks\n";
            if (enterSandbox().threads < 0)
                wrong += "threads are not counted\n";
            std::size_t made = 0, refused = 0;
            for (std::size_t i = 0; stacks != MAP_FAILED && i < asked; ++i) {
                // pthread_create's kind, sharing the caller's thread pointer.
                constexpr int flags = CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_SIGHAND | CLONE_THREAD | CLONE_SYSVSEM | CLONE_SETTLS | CLONE_PARENT_SETTID
                    | CLONE_CHILD_CLEARTID;
                static int tid;
                if (::clone(parked, stacks + (i + 1) * stack, flags, &word, &tid, __builtin_thread_pointer(), &tid) > 0)
                    ++made;
                else if (errno == EAGAIN)
                    ++refused;
            }
            if (made == 0 || made >= vesk::platform::renderer::maximumThreads)
                wrong += "it was given " + std::to_string(made) + " threads\n";
            if (made + refused != asked)
                wrong += "the threads past the limit were not refused as too many\n";
        },
        &most);
    EXPECT_EQ(wrong, "");
    EXPECT_LE(most, vesk::platform::renderer::maximumThreads) << "threads at once";
    EXPECT_GE(most, vesk::platform::renderer::maximumThreads - 1) << "up to the limit";
}
