// A renderer taken over right after its sandbox closed: it hands the app its thread listener as the
// real one does, then asks for 3,000 threads as fast as it can, each of no memory to speak of.

#include "renderer/Sandbox.h"
#include "renderer/protocol/RendererProtocol.h"

#include <linux/futex.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

using namespace vesk::platform::renderer;

namespace {

__attribute__((no_sanitize("address", "undefined", "thread"))) int parked(void* word)
{
    for (;;)
        ::syscall(SYS_futex, word, FUTEX_WAIT, 0, nullptr, nullptr, 0);
}

}

int main()
{
    Channel channel(3);
    if (!channel.send(encode(RendererMessage(Ready {}))) || !channel.receive())
        return 1;
    constexpr std::size_t asked = 3000, stack = 16 * 1024;
    auto* stacks = static_cast<char*>(::mmap(nullptr, asked * stack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    auto sandbox = vesk::renderer::enterSandbox();
    if (sandbox.threads >= 0) {
        channel.send(encode(RendererMessage(Threads {})), sandbox.threads);
        ::close(sandbox.threads);
    }
    static std::atomic<int> word { 0 };
    std::size_t made = 0;
    for (std::size_t i = 0; stacks != MAP_FAILED && i < asked; ++i) {
        constexpr int flags = CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_SIGHAND | CLONE_THREAD | CLONE_SYSVSEM;
        made += ::clone(parked, stacks + (i + 1) * stack, flags, &word) > 0;
    }
    // Still here: says how many it got, and waits.
    PageInfo info;
    info.title = std::to_string(made);
    channel.send(encode(RendererMessage(info)));
    for (;;)
        ::syscall(SYS_futex, &word, FUTEX_WAIT, 0, nullptr, nullptr, 0);
}
