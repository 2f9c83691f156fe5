#include "platform/system/MobileGestalt.h"

#include "platform/system/InjectedSource.h"

#include <fstream>
#include <map>
#include <sys/utsname.h>

namespace vesk::platform {

namespace {

    std::string trimmed(std::string text)
    {
        auto begin = text.find_first_not_of(" \t\r\n");
        if (begin == std::string::npos)
            return {};
        auto end = text.find_last_not_of(" \t\r\n");
        return text.substr(begin, end - begin + 1);
    }

    std::optional<std::string> firstLineOf(const char* path)
    {
        std::ifstream in(path);
        std::string line;
        if (!in || !std::getline(in, line))
            return std::nullopt;
        line = trimmed(line);
        if (line.empty())
            return std::nullopt;
        return line;
    }

    std::optional<std::string> firstLineOfAny(std::initializer_list<const char*> paths)
    {
        for (const char* path : paths) {
            if (auto line = firstLineOf(path))
                return line;
        }
        return std::nullopt;
    }

    // The CPU's model name; ARM kernels name it under other keys.
    std::optional<std::string> cpuModel()
    {
        std::ifstream in("/proc/cpuinfo");
        std::string line;
        std::map<std::string, std::string> fields;
        while (std::getline(in, line)) {
            auto colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            auto key = trimmed(line.substr(0, colon));
            if (!fields.contains(key))
                fields[key] = trimmed(line.substr(colon + 1));
        }
        for (const char* key : { "model name", "Hardware", "cpu model", "CPU part", "uarch" }) {
            if (auto it = fields.find(key); it != fields.end() && !it->second.empty())
                return it->second;
        }
        return std::nullopt;
    }

    std::optional<std::string> machineArchitecture()
    {
        utsname name {};
        if (::uname(&name) != 0)
            return std::nullopt;
        return std::string(name.machine);
    }

    // Read once: none of these facts change while the machine runs.
    std::optional<std::string> machineAnswer(const std::string& question)
    {
        static const std::map<std::string, std::optional<std::string>> answers = [] {
            std::map<std::string, std::optional<std::string>> a;
            a["DieId"] = firstLineOfAny({ "/etc/machine-id", "/var/lib/dbus/machine-id", "/sys/class/dmi/id/product_uuid" });
            a["HWModelStr"] = firstLineOfAny({ "/sys/class/dmi/id/product_name", "/sys/firmware/devicetree/base/model" });
            a["BoardId"] = firstLineOfAny({ "/sys/class/dmi/id/board_name", "/sys/firmware/devicetree/base/compatible" });
            a["ChipID"] = cpuModel();
            a["HardwarePlatform"] = machineArchitecture();
            return a;
        }();
        auto it = answers.find(question);
        return it == answers.end() ? std::nullopt : it->second;
    }

    InjectedSource<DeviceAnswerSource> injectedSource;

}

std::optional<std::string> MGCopyAnswer(const std::string& question)
{
    auto source = injectedSource.get();
    if (source)
        return source(question);
    return machineAnswer(question);
}

void setDeviceAnswerSource(DeviceAnswerSource source)
{
    injectedSource.set(std::move(source));
}

}
