#pragma once

#include <optional>
#include <string>

namespace vesk::renderer {

struct SandboxResult {
    // Landlock: nothing written anywhere, read only where fonts and the system's files live, no
    // TCP, no signal or abstract socket outside.
    bool files = false;
    // seccomp: no new sockets, programs, tracing or signals to others.
    bool calls = false;
};

// Closes the calling process off from the file system and the network, for good; call it once
// the libraries have read what they need at their start. The folder, when given, stays readable.
SandboxResult enterSandbox(const std::optional<std::string>& readable = std::nullopt);

}
