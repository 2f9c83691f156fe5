#pragma once

#include <optional>
#include <string>

namespace vesk::renderer {

struct SandboxResult {
    // Landlock: nothing written anywhere, read only where fonts and the system's files live, no
    // TCP, no signal or abstract socket outside.
    bool files = false;
    // seccomp: only the calls a renderer makes; no new processes, sockets, programs, tracing,
    // writable files or terminal ioctls. Applies to every thread of the process.
    bool calls = false;
    // A session of its own (no controlling terminal) and no capabilities left.
    bool privileges = false;
};

// Closes the calling process off from the file system, the network, other processes and its
// terminal, for good; call it once the libraries have read what they need at their start. The
// folder, when given, stays readable.
SandboxResult enterSandbox(const std::optional<std::string>& readable = std::nullopt);

}
