#include "sdk/CrashReporter.h"

namespace vesk {

std::shared_ptr<CrashReporter> CrashReporter::sharedInstance()
{
    static auto shared = std::make_shared<CrashReporter>();
    return shared;
}

std::shared_ptr<CrashReporter> CrashReporter::init()
{
    return sharedInstance();
}

void CrashReporter::start()
{
    std::lock_guard lock(m_mutex);
    m_started = true;
}

bool CrashReporter::isStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_started;
}

void CrashReporter::setUserIdentifier(std::string identifier)
{
    std::lock_guard lock(m_mutex);
    m_userIdentifier = std::move(identifier);
}

std::optional<std::string> CrashReporter::userIdentifier() const
{
    std::lock_guard lock(m_mutex);
    return m_userIdentifier;
}

void CrashReporter::setObjectValue(const platform::Value& value, const std::string& key)
{
    auto description = value.description();
    std::lock_guard lock(m_mutex);
    m_customKeys[key] = std::move(description);
}

std::map<std::string, std::string> CrashReporter::customKeys() const
{
    std::lock_guard lock(m_mutex);
    return m_customKeys;
}

void CrashReporter::reset()
{
    std::lock_guard lock(m_mutex);
    m_started = false;
    m_userIdentifier.reset();
    m_customKeys.clear();
}

}
