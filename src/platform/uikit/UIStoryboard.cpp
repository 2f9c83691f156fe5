#include "platform/uikit/UIStoryboard.h"

#include "platform/uikit/UIViewController.h"

#include <cstdio>

namespace vesk::platform {

UIStoryboard& UIStoryboard::storyboardWithName(const std::string& name)
{
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<UIStoryboard>> storyboards;
    std::lock_guard lock(mutex);
    auto& entry = storyboards[name];
    if (!entry)
        entry.reset(new UIStoryboard(name));
    return *entry;
}

void UIStoryboard::registerViewController(const std::string& identifier, Factory factory)
{
    std::lock_guard lock(m_mutex);
    m_factories[identifier] = std::move(factory);
}

void UIStoryboard::setInitialViewController(Factory factory)
{
    std::lock_guard lock(m_mutex);
    m_initial = std::move(factory);
}

bool UIStoryboard::hasIdentifier(const std::string& identifier) const
{
    std::lock_guard lock(m_mutex);
    return m_factories.count(identifier) != 0;
}

std::shared_ptr<UIViewController> UIStoryboard::instantiateViewControllerWithIdentifier(const std::string& identifier) const
{
    Factory factory;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_factories.find(identifier);
        if (it != m_factories.end())
            factory = it->second;
    }
    if (!factory) {
        std::fprintf(stderr, "Storyboard (%s) doesn't contain a view controller with identifier '%s'\n", m_name.c_str(), identifier.c_str());
        return nullptr;
    }
    auto controller = factory();
    if (controller)
        controller->setStoryboardIdentifier(identifier);
    return controller;
}

std::shared_ptr<UIViewController> UIStoryboard::instantiateInitialViewController() const
{
    Factory factory;
    {
        std::lock_guard lock(m_mutex);
        factory = m_initial;
    }
    return factory ? factory() : nullptr;
}

}
