#pragma once

#include <optional>
#include <string>

namespace vesk::renderer {

// The sanitizers' runtimes make calls of their own, and stand where the renderer's limits would.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool sanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool sanitizedBuild = true;
#else
inline constexpr bool sanitizedBuild = false;
#endif
#else
inline constexpr bool sanitizedBuild = false;
#endif

struct SandboxResult {
    // Landlock: nothing written anywhere, read only where fonts and the system's files live, no
    // TCP, no signal or abstract socket outside.
    bool files = false;
    // seccomp: only the calls a renderer makes; no new processes, sockets, programs, tracing,
    // writable files, shared memory of its own or terminal ioctls. Applies to every thread of
    // the process.
    bool calls = false;
    // The filter is in place, if not as meant: a rule that could not be added only refuses more.
    // Without it a renderer must draw nothing.
    bool filtered = false;
    // A session of its own (no controlling terminal) and no capabilities left.
    bool privileges = false;
    // No more descriptors held at once than the protocol's maximum.
    bool descriptors = false;
    // The seccomp listener through which every new thread is asked for: the caller hands it to
    // whoever counts them (ThreadWarden) and keeps no copy. Until someone answers, a thread asked
    // for waits. -1 when threads are refused outright.
    int threads = -1;
};

// Closes the calling process off from the file system, the network, other processes and its
// terminal, for good; call it once the libraries have read what they need at their start. The
// folder, when given, stays readable.
SandboxResult enterSandbox(const std::optional<std::string>& readable = std::nullopt);

}
