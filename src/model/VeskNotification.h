#pragma once

#include "platform/foundation/NSTimer.h"
#include "platform/uikit/UIView.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vesk {

enum class NotificationType : std::uint8_t {
    Error = 0,
    Warning = 1,
    Success = 2,
    Info = 3,
    Debug = 4,
    Server = 5,
};

const char* notificationTypeName(NotificationType type);

// One banner: a strip the size of the status bar with one line of centred text, that slides
// in over the status bar, rests for its duration and slides out. Main thread only.
class VeskNotification : public std::enable_shared_from_this<VeskNotification> {
public:
    using Handler = std::function<void(VeskNotification&)>;

    VeskNotification(std::optional<std::string> message, NotificationType type, Handler completion, Handler clickHandler,
        double duration, double animationDuration);
    ~VeskNotification();

    // The message compose makes around the name, the name shortened in its middle with a "…"
    // as far as it takes for the whole message to fit a banner's one line on this screen, so
    // that a long name never hides what is said after it.
    static std::string messageFittingName(const std::function<std::string(const std::string&)>& compose, const std::string& name);

    // Observes status-bar changes, takes taps, sizes the strip, then slides it in.
    void show();
    // Stops observing, then slides the strip out; once per showing.
    void dismiss();
    void adjustSize();
    void clickedOnNotification();

    std::shared_ptr<platform::UIView> notificationView() const { return m_notificationView; }
    std::shared_ptr<platform::UILabel> label() const { return m_label; }
    const std::string& notificationUUID() const { return m_notificationUUID; }
    NotificationType type() const { return m_type; }
    const std::optional<std::string>& message() const { return m_message; }
    double duration() const { return m_duration; }
    double animationDuration() const { return m_animationDuration; }
    platform::CGRect statusBarFrame() const { return m_statusBarFrame; }
    bool isShowing() const { return m_showing; }
    bool hasTimer() const { return m_timer != nullptr; }

private:
    void lookUpStatusBar();
    void animateIn();
    void scheduleDismiss();
    void animateOut();

    std::shared_ptr<platform::UIView> m_notificationView;
    std::string m_notificationUUID;
    Handler m_completion;
    Handler m_clickHandler;
    std::shared_ptr<platform::UIView> m_statusBar;
    platform::CGRect m_statusBarFrame {};
    double m_duration;
    std::shared_ptr<platform::UILabel> m_label;
    double m_animationDuration;
    std::shared_ptr<platform::NSTimer> m_timer;

    std::optional<std::string> m_message;
    NotificationType m_type;
    // Between show and dismiss: a second dismissal of one showing does nothing.
    bool m_showing = false;
    bool m_announced = false;
    std::shared_ptr<platform::UITapGestureRecognizer> m_tap;
};

}
