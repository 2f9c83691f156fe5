#include "model/VeskNotificationManager.h"

#include "platform/foundation/NSThread.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace vesk {

using namespace platform;

namespace {

    std::atomic<bool> echoBanners { false };

    // The manager's diagnostics go to standard output, one line each.
    void say(const char* line)
    {
        std::fputs(line, stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

}

VeskNotificationManager& VeskNotificationManager::shared()
{
    static VeskNotificationManager manager;
    return manager;
}

void VeskNotificationManager::showNotification(std::optional<std::string> message, NotificationType type, Closure completion,
    Closure clickHandler, double duration, double animationDuration)
{
    if (!NSThread::isMainThread()) {
        say("Only from Mainthread!");
        return;
    }
    auto queuedCompletion = [completion = std::move(completion)](VeskNotification& banner) {
        if (completion)
            completion();
        shared().notificationFinished(banner);
    };
    auto queuedClick = [clickHandler = std::move(clickHandler)](VeskNotification& banner) {
        if (clickHandler)
            clickHandler();
        banner.dismiss();
    };
    auto banner = std::make_shared<VeskNotification>(std::move(message), type, std::move(queuedCompletion), std::move(queuedClick),
        duration, animationDuration);
    shared().enqueue(banner);
}

void VeskNotificationManager::enqueue(const std::shared_ptr<VeskNotification>& banner)
{
    m_notificationQueue.push_back(banner);
    if (m_keepsHistory)
        m_notificationHistory.push_back(banner);
    if (m_notificationQueue.size() > 1)
        return;
    if (!m_staticNotification)
        say("There is no static notification!");
    else
        m_staticNotification->dismiss();
    banner->show();
}

void VeskNotificationManager::notificationFinished(VeskNotification& banner)
{
    auto it = std::find_if(m_notificationQueue.begin(), m_notificationQueue.end(),
        [&](const std::shared_ptr<VeskNotification>& queued) { return queued.get() == &banner; });
    if (it != m_notificationQueue.end())
        m_notificationQueue.erase(it);
    if (m_notificationQueue.empty()) {
        present();
        return;
    }
    m_notificationQueue.front()->show();
}

void VeskNotificationManager::showStaticNotification(std::optional<std::string> message, NotificationType type, Closure completion,
    Closure clickHandler, double animationDuration)
{
    if (!NSThread::isMainThread()) {
        say("Only from Mainthread!");
        return;
    }
    auto& manager = shared();
    if (manager.m_staticNotification) {
        say("There is already a static Notification!!!!");
        return;
    }
    auto wrappedCompletion = [completion = std::move(completion)](VeskNotification&) {
        if (completion)
            completion();
    };
    auto wrappedClick = [clickHandler = std::move(clickHandler)](VeskNotification&) {
        if (clickHandler)
            clickHandler();
    };
    manager.m_staticNotification = std::make_shared<VeskNotification>(std::move(message), type, std::move(wrappedCompletion),
        std::move(wrappedClick), -1.0, animationDuration);
    manager.present();
}

void VeskNotificationManager::presentStaticNotification()
{
    shared().present();
}

void VeskNotificationManager::present()
{
    if (!m_notificationQueue.empty())
        return;
    if (!m_staticNotification) {
        say("There is no static notification!");
        return;
    }
    m_staticNotification->show();
}

void VeskNotificationManager::dismissStaticNotification()
{
    shared().dismissStatic();
}

void VeskNotificationManager::dismissStatic()
{
    if (!m_staticNotification) {
        say("There is no static notification!");
        return;
    }
    auto banner = std::move(m_staticNotification);
    m_staticNotification.reset();
    banner->dismiss();
}

void VeskNotificationManager::clearQueue()
{
    auto& manager = shared();
    if (!manager.m_notificationQueue.empty())
        manager.m_notificationQueue.front()->dismiss();
    manager.m_notificationQueue.clear();
}

std::vector<std::shared_ptr<UIView>> VeskNotificationManager::historyViews()
{
    std::vector<std::shared_ptr<UIView>> views;
    for (auto& banner : shared().m_notificationHistory)
        views.push_back(banner->notificationView());
    return views;
}

void VeskNotificationManager::setKeepsHistory(bool keep)
{
    auto& manager = shared();
    manager.m_keepsHistory = keep;
    if (!keep)
        manager.m_notificationHistory.clear();
}

std::vector<std::shared_ptr<VeskNotification>> VeskNotificationManager::queue()
{
    return shared().m_notificationQueue;
}

std::shared_ptr<VeskNotification> VeskNotificationManager::staticNotification()
{
    return shared().m_staticNotification;
}

void VeskNotificationManager::setEchoToStandardError(bool echo)
{
    echoBanners.store(echo);
}

bool VeskNotificationManager::echoesToStandardError()
{
    return echoBanners.load();
}

void VeskNotificationManager::reset()
{
    auto& manager = shared();
    manager.m_notificationQueue.clear();
    manager.m_staticNotification.reset();
    manager.m_notificationHistory.clear();
    manager.m_keepsHistory = false;
}

}
