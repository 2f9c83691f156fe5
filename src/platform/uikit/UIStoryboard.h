#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace vesk::platform {

class UIViewController;

// A storyboard: the screens of the app by identifier, registered by the code that defines them.
class UIStoryboard {
public:
    using Factory = std::function<std::shared_ptr<UIViewController>()>;

    static UIStoryboard& storyboardWithName(const std::string& name);

    void registerViewController(const std::string& identifier, Factory factory);
    void setInitialViewController(Factory factory);
    bool hasIdentifier(const std::string& identifier) const;

    // A new screen for the identifier; none, with a message on standard error, when the
    // storyboard holds no such identifier.
    std::shared_ptr<UIViewController> instantiateViewControllerWithIdentifier(const std::string& identifier) const;
    std::shared_ptr<UIViewController> instantiateInitialViewController() const;

    // Typed form: none when the identifier is missing or the screen is of another class.
    template<typename T>
    std::shared_ptr<T> instantiate(const std::string& identifier) const
    {
        return std::dynamic_pointer_cast<T>(instantiateViewControllerWithIdentifier(identifier));
    }

private:
    explicit UIStoryboard(std::string name)
        : m_name(std::move(name))
    {
    }
    std::string m_name;
    mutable std::mutex m_mutex;
    std::map<std::string, Factory> m_factories;
    Factory m_initial;
};

}
