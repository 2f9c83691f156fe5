#include "platform/system/MemoryInfo.h"

#include "platform/system/InjectedSource.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
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

namespace {

    InjectedSource<MemoryInfoSource> injectedSource;

    std::optional<MemoryFigures> systemMemoryInfo(std::string* errorText)
    {
        errno = 0;
        std::ifstream in("/proc/self/status");
        if (!in) {
            if (errorText) {
                char buffer[256];
                // The GNU strerror_r may answer with a static text instead of filling the buffer.
                *errorText = strerror_r(errno ? errno : ENOENT, buffer, sizeof buffer);
            }
            return std::nullopt;
        }
        std::ostringstream text;
        text << in.rdbuf();
        return parseProcStatus(text.str());
    }

}

std::optional<MemoryFigures> taskMemoryInfo(std::string* errorText)
{
    if (errorText)
        errorText->clear();
    auto source = injectedSource.get();
    if (source)
        return source(errorText);
    return systemMemoryInfo(errorText);
}

void setMemoryInfoSource(MemoryInfoSource source)
{
    injectedSource.set(std::move(source));
}

}
