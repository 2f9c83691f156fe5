#pragma once

#include "platform/foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vesk::platform {

// Reads a regular file whole; absent when it cannot be read, is not a regular
// file or is larger than `maxBytes` (never blocks on a FIFO or device).
std::optional<Bytes> readFileContents(const std::string& path, std::size_t maxBytes = SIZE_MAX);

// Writes through a temporary file in the same folder, flushed to disk, then
// renamed over the target, so readers see the old or the new contents, never a mix.
bool writeFileAtomically(const std::string& path, const Bytes& contents);

// Creates the folder and its missing parents (mode 0755); true when it exists afterwards.
bool createDirectories(const std::string& path);

// Writes every byte, going on after interruptions; false on any other failure.
bool writeAll(int fd, const std::uint8_t* bytes, std::size_t length);

// The name inside the folder, without doubling a trailing "/"; the name alone when the folder
// is empty.
std::string joinPath(const std::string& folder, const std::string& name);
// The folder part of a path: "." for a bare name, "/" for an item in the root.
std::string parentFolder(const std::string& path);

} // namespace vesk::platform
