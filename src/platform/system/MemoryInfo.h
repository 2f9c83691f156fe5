#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {

// The process's memory figures in bytes, from /proc/self/status.
struct MemoryFigures {
    std::uint64_t residentSize = 0; // VmRSS
    std::uint64_t residentSizePeak = 0; // VmHWM
    std::uint64_t virtualSize = 0; // VmSize
};

// Absent when the figures can't be read; *errorText then holds the system's text for the
// error, or stays empty when there is none (a status file without a resident size).
std::optional<MemoryFigures> taskMemoryInfo(std::string* errorText = nullptr);

// Tests put their own figures or failures in place; an empty function restores the system's.
using MemoryInfoSource = std::function<std::optional<MemoryFigures>(std::string* errorText)>;
void setMemoryInfoSource(MemoryInfoSource source);

// Reads the figures from the text of a status file; absent when VmRSS is missing or malformed.
std::optional<MemoryFigures> parseProcStatus(std::string_view text);

}
