// A renderer taken over right after its sandbox closed: it hands the app its thread listener as the
// real one does, then misbehaves with its threads the way VESK_HOSTILE_RENDERER says:
//   (none)        asks for 3,000 threads as fast as it can, each of no memory to speak of;
//   odd-threads   asks for threads of other kinds than pthread_create's: without the process's
//                 descriptor table, with a pidfd, as a vfork, as a sibling; the page's title says
//                 how many it got;
//   leader-exits  leaves a thread behind and ends its first one, the one the app watches;
//   churn         keeps 8 threads making threads that live a millisecond, without end.
// With no-seccomp it is the real renderer instead, started where seccomp can't be loaded (with
// real, the real renderer as it is).

#include "renderer/Sandbox.h"
#include "renderer/protocol/RendererProtocol.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace vesk::platform::renderer;

namespace {

std::atomic<int> word { 0 };

void park()
{
    for (;;)
        ::syscall(SYS_futex, &word, FUTEX_WAIT, 0, nullptr, nullptr, 0);
}

__attribute__((no_sanitize("address", "undefined", "thread"))) int parked(void*)
{
    for (;;)
        ::syscall(SYS_futex, &word, FUTEX_WAIT, 0, nullptr, nullptr, 0);
}

__attribute__((no_sanitize("address", "undefined", "thread"))) int ended(void*)
{
    return 0;
}

// The real renderer, in the system as a kernel without seccomp shows it when asked.
[[noreturn]] void runRenderer(char** argv, bool seccomp)
{
    if (seccomp)
        ::execv(VESK_RENDERER_PROGRAM, argv);
    auto* context = seccomp_init(SCMP_ACT_ALLOW);
    if (!context || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || seccomp_rule_add(context, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(seccomp), 0) != 0
        || seccomp_rule_add(context, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP)) != 0 || seccomp_load(context) != 0)
        ::_exit(1);
    ::execv(VESK_RENDERER_PROGRAM, argv);
    ::_exit(1);
}

std::size_t askForThreads()
{
    constexpr std::size_t asked = 3000, stack = 16 * 1024;
    auto* stacks = static_cast<char*>(::mmap(nullptr, asked * stack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    std::size_t made = 0;
    for (std::size_t i = 0; stacks != MAP_FAILED && i < asked; ++i) {
        // pthread_create's kind, sharing the caller's thread pointer.
        constexpr int flags = CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_SIGHAND | CLONE_THREAD | CLONE_SYSVSEM | CLONE_SETTLS | CLONE_PARENT_SETTID
            | CLONE_CHILD_CLEARTID;
        static int tid;
        made += ::clone(parked, stacks + (i + 1) * stack, flags, nullptr, &tid, __builtin_thread_pointer(), &tid) > 0;
    }
    return made;
}

// Threads that are not pthread_create's; each that is made ends at once.
std::size_t askForOddThreads()
{
    constexpr std::size_t stack = 64 * 1024;
    constexpr int thread = CLONE_VM | CLONE_SIGHAND | CLONE_THREAD;
    constexpr int flags[] = {
        // A descriptor table of its own, with its own limit.
        thread,
        thread | CLONE_FS | CLONE_SYSVSEM,
        thread | CLONE_FILES | CLONE_PIDFD,
        thread | CLONE_FILES | CLONE_VFORK,
        thread | CLONE_FILES | CLONE_PARENT,
        thread | CLONE_FILES | CLONE_FS | CLONE_SYSVSEM | CLONE_UNTRACED,
    };
    static char stacks[std::size(flags)][stack];
    std::size_t made = 0;
    for (std::size_t i = 0; i < std::size(flags); ++i) {
        int pidfd = -1;
        made += ::clone(ended, stacks[i] + stack, flags[i], nullptr, &pidfd) > 0;
    }
    return made;
}

void* churning(void*)
{
    for (;;) {
        pthread_t made;
        if (::pthread_create(
                &made, nullptr,
                [](void*) -> void* {
                    ::usleep(1000);
                    return nullptr;
                },
                nullptr)
            == 0)
            ::pthread_join(made, nullptr);
    }
}

}

int main(int, char** argv)
{
    std::string_view mode = std::getenv("VESK_HOSTILE_RENDERER") ? std::getenv("VESK_HOSTILE_RENDERER") : "";
    if (mode == "no-seccomp" || mode == "real")
        runRenderer(argv, mode == "real");
    // Beside the threads, which may outlive the first.
    static Channel channel(3);
    if (!channel.send(encode(RendererMessage(Ready {}))) || !channel.receive())
        return 1;
    // The kernel clears the word and wakes its waiters when the first thread has ended.
    static std::atomic<int> first { static_cast<int>(::gettid()) };
    if (mode == "leader-exits")
        ::syscall(SYS_set_tid_address, &first);
    auto sandbox = vesk::renderer::enterSandbox();
    if (sandbox.threads >= 0) {
        channel.send(encode(RendererMessage(Threads {})), sandbox.threads);
        ::close(sandbox.threads);
    }
    PageInfo info;
    if (mode == "leader-exits") {
        pthread_t left;
        ::pthread_create(
            &left, nullptr,
            [](void*) -> void* {
                // Once the first has ended, says so, and holds on.
                for (int tid; (tid = first.load()) != 0;)
                    ::syscall(SYS_futex, &first, FUTEX_WAIT, tid, nullptr, nullptr, 0);
                PageInfo alone;
                alone.title = "alone";
                channel.send(encode(RendererMessage(alone)));
                park();
                return nullptr;
            },
            nullptr);
        // This thread alone, not the process.
        ::syscall(SYS_exit, 0);
    } else if (mode == "churn") {
        for (int i = 0; i < 8; ++i) {
            pthread_t churner;
            ::pthread_create(&churner, nullptr, churning, nullptr);
        }
        park();
    } else if (mode == "odd-threads") {
        info.title = std::to_string(askForOddThreads());
    } else {
        info.title = std::to_string(askForThreads());
    }
    // Still here: says how many it got, and waits.
    channel.send(encode(RendererMessage(info)));
    park();
}
