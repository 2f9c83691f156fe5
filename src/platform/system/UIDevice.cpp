#include "platform/system/UIDevice.h"

#include <climits>
#include <fstream>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace vesk::platform {

namespace {

    // The phone system the platform layer stands in for: what the app's version checks read.
    constexpr const char* phoneVersion = "9.0";

    // The value under the key in an os-release file, its quotes and escapes undone.
    std::string osReleaseValue(const std::vector<std::string>& paths, const std::string& key)
    {
        for (auto& path : paths) {
            std::ifstream file(path);
            if (!file)
                continue;
            std::string line;
            while (std::getline(file, line)) {
                if (!line.starts_with(key + "="))
                    continue;
                std::string value = line.substr(key.size() + 1), text;
                char quote = !value.empty() && (value.front() == '"' || value.front() == '\'') ? value.front() : 0;
                for (std::size_t index = quote ? 1 : 0; index < value.size(); ++index) {
                    char c = value[index];
                    if (c == quote)
                        break;
                    if (c == '\\' && quote != '\'' && index + 1 < value.size())
                        c = value[++index];
                    text += c;
                }
                return text;
            }
            return {};
        }
        return {};
    }

}

UIDevice::SystemFacts UIDevice::readSystemFacts(const std::string& osRelease)
{
    std::vector<std::string> paths { "/etc/os-release", "/usr/lib/os-release" };
    if (!osRelease.empty())
        paths = { osRelease };
    SystemFacts found { osReleaseValue(paths, "NAME"), {} };
    utsname system {};
    bool named = ::uname(&system) == 0;
    if (found.name.empty())
        found.name = named ? system.sysname : "Linux";
    // Rolling systems number no release: the kernel's is the nearest.
    if (auto version = osReleaseValue(paths, "VERSION_ID"); !version.empty())
        found.nameAndVersion = found.name + " " + version;
    else
        found.nameAndVersion = named ? found.name + ", kernel " + system.release : found.name;
    return found;
}

const UIDevice::SystemFacts& UIDevice::runningSystem() const
{
    if (!m_facts)
        m_facts = readSystemFacts(m_osRelease);
    return *m_facts;
}

UIDevice& UIDevice::currentDevice()
{
    static UIDevice device;
    return device;
}

std::string UIDevice::systemVersion() const
{
    std::lock_guard lock(m_mutex);
    if (!m_systemVersion.empty())
        return m_systemVersion;
    // Read as a number it is the phone's; what follows names the real system for bug reports.
    return std::string(phoneVersion) + " (" + runningSystem().nameAndVersion + ")";
}

std::string UIDevice::systemName() const
{
    std::lock_guard lock(m_mutex);
    return runningSystem().name;
}

UIUserInterfaceIdiom UIDevice::userInterfaceIdiom() const
{
    std::lock_guard lock(m_mutex);
    return m_idiom;
}

std::string UIDevice::model() const
{
    std::lock_guard lock(m_mutex);
    return m_idiom == UIUserInterfaceIdiom::Pad ? "iPad" : "iPhone";
}

std::string UIDevice::name() const
{
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
        return "Vesk";
    return host;
}

bool UIDevice::supportsHapticFeedback() const
{
    std::lock_guard lock(m_mutex);
    return m_supportsHaptics;
}

void UIDevice::setSystemVersion(std::string version)
{
    std::lock_guard lock(m_mutex);
    m_systemVersion = std::move(version);
}

void UIDevice::setOsRelease(std::string path)
{
    std::lock_guard lock(m_mutex);
    m_osRelease = std::move(path);
    m_facts.reset();
}

void UIDevice::setUserInterfaceIdiom(UIUserInterfaceIdiom idiom)
{
    std::lock_guard lock(m_mutex);
    m_idiom = idiom;
}

void UIDevice::setSupportsHapticFeedback(bool supported)
{
    std::lock_guard lock(m_mutex);
    m_supportsHaptics = supported;
}

void UIDevice::reset()
{
    std::lock_guard lock(m_mutex);
    m_systemVersion.clear();
    m_osRelease.clear();
    m_facts.reset();
    m_idiom = UIUserInterfaceIdiom::Phone;
    m_supportsHaptics = false;
}

}
