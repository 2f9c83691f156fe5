#pragma once

#include "model/VeskNotification.h"

#include <functional>
#include <memory>
#include <vector>

namespace vesk {

// Decides which banner is on screen: a queue of ordinary banners shown one at a time in the
// order raised, and at most one static banner, on screen whenever the queue is empty.
// Belongs to the main thread; the two show operations refuse other threads.
class VeskNotificationManager {
public:
    using Closure = std::function<void()>;

    static void showNotification(std::optional<std::string> message, NotificationType type, Closure completion,
        Closure clickHandler, double duration, double animationDuration = 0.25);
    static void showStaticNotification(std::optional<std::string> message, NotificationType type, Closure completion,
        Closure clickHandler, double animationDuration = 0.25);
    // Empty unless a test has turned the history on.
    static std::vector<std::shared_ptr<platform::UIView>> historyViews();
    static void clearQueue();
    static void dismissStaticNotification();
    static void presentStaticNotification();

    // For tests and the program: the banners as they stand.
    static std::vector<std::shared_ptr<VeskNotification>> queue();
    static std::shared_ptr<VeskNotification> staticNotification();
    // When on, each banner is also written to standard error, once, as "Banner (Type): text";
    // the program turns this on so that a person without a screen sees what the app says.
    static void setEchoToStandardError(bool echo);
    static bool echoesToStandardError();
    // For tests: when on, every banner queued from now on is kept for historyViews. Off by
    // default, since the history would hold every banner of a long run.
    static void setKeepsHistory(bool keep);
    // Back to the first state (history off), for tests.
    static void reset();

private:
    VeskNotificationManager() = default;
    static VeskNotificationManager& shared();
    void enqueue(const std::shared_ptr<VeskNotification>& banner);
    void notificationFinished(VeskNotification& banner);
    void present();
    void dismissStatic();

    std::vector<std::shared_ptr<VeskNotification>> m_notificationQueue;
    std::shared_ptr<VeskNotification> m_staticNotification;
    std::vector<std::shared_ptr<VeskNotification>> m_notificationHistory;
    bool m_keepsHistory = false;
};

}
