#pragma once

#include <cstdint>
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

// Absent when the figures can't be read; *errorText then tells why.
std::optional<MemoryFigures> taskMemoryInfo(std::string* errorText = nullptr);

// Reads the figures from the text of a status file; absent when VmRSS is missing or malformed.
std::optional<MemoryFigures> parseProcStatus(std::string_view text);

}
