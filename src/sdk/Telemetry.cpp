#include "sdk/Telemetry.h"

#include "sdk/Analytics.h"

#include <algorithm>
#include <mutex>

namespace vesk {

namespace {

    std::mutex& sharedLock()
    {
        static std::mutex lock;
        return lock;
    }

    std::shared_ptr<Telemetry>& sharedTelemetry()
    {
        static std::shared_ptr<Telemetry> telemetry;
        return telemetry;
    }

}

std::shared_ptr<Telemetry> Telemetry::with(const std::vector<std::shared_ptr<TLMKit>>& kits)
{
    std::lock_guard lock(sharedLock());
    auto& shared = sharedTelemetry();
    if (shared)
        return shared;
    auto telemetry = std::make_shared<Telemetry>();
    for (auto& kit : kits) {
        if (!kit || std::find(telemetry->m_kits.begin(), telemetry->m_kits.end(), kit) != telemetry->m_kits.end())
            continue;
        telemetry->m_kits.push_back(kit);
    }
    telemetry->m_kits.push_back(std::make_shared<Analytics>());
    for (auto& kit : telemetry->m_kits)
        kit->start();
    shared = telemetry;
    return shared;
}

std::shared_ptr<Telemetry> Telemetry::sharedInstance()
{
    std::lock_guard lock(sharedLock());
    return sharedTelemetry();
}

std::vector<std::string> Telemetry::kitIdentifiers() const
{
    std::vector<std::string> identifiers;
    for (auto& kit : m_kits)
        identifiers.push_back(kit->identifier());
    return identifiers;
}

}
