#include "platform/foundation/NSNotificationCenter.h"

#include <algorithm>

namespace vesk::platform {

NSNotificationCenter& NSNotificationCenter::defaultCenter()
{
    // Never destroyed: observers that end during exit (banners still queued) remove themselves.
    static auto* center = new NSNotificationCenter;
    return *center;
}

void NSNotificationCenter::addObserver(const void* owner, const std::string& name, Block block)
{
    auto observer = std::make_shared<Observer>(Observer { owner, name, std::move(block), std::make_shared<bool>(true) });
    std::lock_guard lock(m_mutex);
    m_observers.push_back(std::move(observer));
}

void NSNotificationCenter::removeObserver(const void* owner)
{
    std::vector<std::shared_ptr<Observer>> removed;
    {
        std::lock_guard lock(m_mutex);
        auto split = std::stable_partition(m_observers.begin(), m_observers.end(),
            [owner](const auto& observer) { return observer->owner != owner; });
        for (auto it = split; it != m_observers.end(); ++it)
            *(*it)->alive = false;
        removed.assign(split, m_observers.end());
        m_observers.erase(split, m_observers.end());
    }
    // The blocks (and what they hold) go outside the lock.
}

void NSNotificationCenter::removeObserver(const void* owner, const std::string& name)
{
    std::vector<std::shared_ptr<Observer>> removed;
    {
        std::lock_guard lock(m_mutex);
        auto split = std::stable_partition(m_observers.begin(), m_observers.end(),
            [&](const auto& observer) { return observer->owner != owner || observer->name != name; });
        for (auto it = split; it != m_observers.end(); ++it)
            *(*it)->alive = false;
        removed.assign(split, m_observers.end());
        m_observers.erase(split, m_observers.end());
    }
}

void NSNotificationCenter::postNotification(const NSNotification& notification)
{
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& observer : m_observers) {
            if (observer->name == notification.name)
                matching.push_back(observer);
        }
    }
    for (const auto& observer : matching) {
        {
            std::lock_guard lock(m_mutex);
            if (!*observer->alive)
                continue;
        }
        observer->block(notification);
    }
}

void NSNotificationCenter::postNotificationName(const std::string& name, std::any object, std::map<std::string, std::any> userInfo)
{
    postNotification(NSNotification { name, std::move(object), std::move(userInfo) });
}

std::size_t NSNotificationCenter::observerCount(const std::string& name) const
{
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(m_observers.begin(), m_observers.end(),
        [&](const auto& observer) { return observer->name == name; }));
}

}
