#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vesk::platform {

struct NSNotification {
    std::string name;
    std::any object;
    std::map<std::string, std::any> userInfo;
};

// Observers by name; a post reaches every observer of its name synchronously, on the
// poster's thread, in the order they were added.
class NSNotificationCenter {
public:
    using Block = std::function<void(const NSNotification&)>;

    static NSNotificationCenter& defaultCenter();
    NSNotificationCenter() = default;

    // owner is the observing object's address; it names the observer for removal.
    void addObserver(const void* owner, const std::string& name, Block block);
    // Removes every observation of the owner, or only those of one name. An observer removed
    // while a post is under way is not called after the removal returns on this thread.
    void removeObserver(const void* owner);
    void removeObserver(const void* owner, const std::string& name);

    void postNotification(const NSNotification& notification);
    void postNotificationName(const std::string& name, std::any object = {}, std::map<std::string, std::any> userInfo = {});

    std::size_t observerCount(const std::string& name) const;

private:
    struct Observer {
        const void* owner;
        std::string name;
        Block block;
        std::shared_ptr<bool> alive; // guarded by m_mutex
    };
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<Observer>> m_observers;
};

}
