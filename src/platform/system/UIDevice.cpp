#include "platform/system/UIDevice.h"

#include <climits>
#include <unistd.h>

namespace vesk::platform {

UIDevice& UIDevice::currentDevice()
{
    static UIDevice device;
    return device;
}

std::string UIDevice::systemVersion() const
{
    std::lock_guard lock(m_mutex);
    return m_systemVersion.empty() ? "14.0" : m_systemVersion;
}

std::string UIDevice::systemName() const
{
    return "iOS";
}

UIUserInterfaceIdiom UIDevice::userInterfaceIdiom() const
{
    std::lock_guard lock(m_mutex);
    return m_idiom;
}

std::string UIDevice::model() const
{
    std::lock_guard lock(m_mutex);
    if (!m_model.empty())
        return m_model;
    return m_idiom == UIUserInterfaceIdiom::Pad ? "iPad" : "iPhone";
}

std::string UIDevice::name() const
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_name.empty())
            return m_name;
    }
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

void UIDevice::setUserInterfaceIdiom(UIUserInterfaceIdiom idiom)
{
    std::lock_guard lock(m_mutex);
    m_idiom = idiom;
}

void UIDevice::setModel(std::string model)
{
    std::lock_guard lock(m_mutex);
    m_model = std::move(model);
}

void UIDevice::setName(std::string name)
{
    std::lock_guard lock(m_mutex);
    m_name = std::move(name);
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
    m_idiom = UIUserInterfaceIdiom::Phone;
    m_model.clear();
    m_name.clear();
    m_supportsHaptics = false;
}

}
