#include "platform/system/MemoryInfo.h"

#include "platform/foundation/NSError.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <sstream>

namespace vesk::platform {

namespace {

    // "VmRSS:\t   1234 kB" -> 1234 * 1024
    std::optional<std::uint64_t> fieldBytes(std::string_view text, std::string_view key)
    {
        std::size_t position = 0;
        while (position < text.size()) {
            auto end = text.find('\n', position);
            if (end == std::string_view::npos)
                end = text.size();
            auto line = text.substr(position, end - position);
            position = end + 1;
            if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':')
                continue;
            auto rest = line.substr(key.size() + 1);
            auto digits = rest.find_first_not_of(" \t");
            if (digits == std::string_view::npos)
                return std::nullopt;
            rest = rest.substr(digits);
            std::uint64_t value = 0;
            auto [after, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
            if (error != std::errc() || after == rest.data())
                return std::nullopt;
            std::string_view unit(after, static_cast<std::size_t>(rest.data() + rest.size() - after));
            auto unitStart = unit.find_first_not_of(" \t");
            unit = unitStart == std::string_view::npos ? std::string_view() : unit.substr(unitStart);
            if (unit.empty())
                return value;
            if (unit != "kB")
                return std::nullopt;
            if (value > UINT64_MAX / 1024)
                return std::nullopt;
            return value * 1024;
        }
        return std::nullopt;
    }

}

std::optional<MemoryFigures> parseProcStatus(std::string_view text)
{
    auto resident = fieldBytes(text, "VmRSS");
    if (!resident)
        return std::nullopt;
    MemoryFigures figures;
    figures.residentSize = *resident;
    figures.residentSizePeak = fieldBytes(text, "VmHWM").value_or(*resident);
    figures.virtualSize = fieldBytes(text, "VmSize").value_or(0);
    return figures;
}

std::optional<MemoryFigures> taskMemoryInfo(std::string* errorText)
{
    std::ifstream in("/proc/self/status");
    if (!in) {
        if (errorText)
            *errorText = NSError::systemErrorText(errno ? errno : ENOENT);
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    auto figures = parseProcStatus(text.str());
    if (!figures && errorText)
        *errorText = "Error: no resident size in /proc/self/status";
    return figures;
}

}
