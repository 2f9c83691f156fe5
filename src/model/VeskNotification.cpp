#include "model/VeskNotification.h"

#include "assets/VeskAssets.h"
#include "model/ObjCHelper.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/graphics/UIScreen.h"
#include "platform/uikit/TextDrawing.h"
#include "platform/uikit/UIApplication.h"

#include <cstdio>
#include <vector>

namespace vesk {

using namespace platform;

namespace {

    std::string newUUIDString()
    {
        auto bytes = randomBytes(16);
        bytes.resize(16);
        bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
        bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
        std::string text;
        static const char* digits = "0123456789ABCDEF";
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i == 4 || i == 6 || i == 8 || i == 10)
                text += '-';
            text += digits[bytes[i] >> 4];
            text += digits[bytes[i] & 0x0F];
        }
        return text;
    }

    std::shared_ptr<UIFont> bannerFont()
    {
        return UIFont::systemFontOfSize(13);
    }

    // Where the strip goes: over the status bar, or the main screen's top 20 points without one.
    CGRect statusBarFrameOf(const std::shared_ptr<UIView>& statusBar)
    {
        return statusBar ? statusBar->frame() : CGRectMake(0, 0, UIScreen::mainScreen().bounds().size.width, 20);
    }

    // The label keeps 2 points from either end of the strip.
    CGRect labelFrame(const CGRect& statusBar)
    {
        return CGRectMake(2, 0, statusBar.size.width - 4, statusBar.size.height);
    }

    std::shared_ptr<UIWindow> appWindow()
    {
        auto delegate = UIApplication::sharedApplication().delegate();
        return delegate ? delegate->window() : nullptr;
    }

}

const char* notificationTypeName(NotificationType type)
{
    switch (type) {
    case NotificationType::Error:
        return "Error";
    case NotificationType::Warning:
        return "Warning";
    case NotificationType::Success:
        return "Success";
    case NotificationType::Info:
        return "Info";
    case NotificationType::Debug:
        return "Debug";
    case NotificationType::Server:
        return "Server";
    }
    return "Unknown";
}

VeskNotification::VeskNotification(std::optional<std::string> message, NotificationType type, Handler completion, Handler clickHandler,
    double duration, double animationDuration)
    : m_notificationUUID(newUUIDString())
    , m_completion(std::move(completion))
    , m_clickHandler(std::move(clickHandler))
    , m_duration(duration)
    , m_animationDuration(animationDuration)
    , m_message(std::move(message))
    , m_type(type)
{
    lookUpStatusBar();
    auto& bar = m_statusBarFrame;
    m_notificationView = std::make_shared<UIView>(CGRectMake(bar.origin.x, -bar.size.height, bar.size.width, bar.size.height));
    m_label = std::make_shared<UILabel>(labelFrame(bar));
    m_notificationView->addSubview(m_label);
    m_notificationView->bringSubviewToFront(m_label);
    m_label->setFont(bannerFont());
    m_label->setTextAlignment(NSTextAlignment::Center);

    auto white = UIColor::whiteColor();
    std::shared_ptr<UIColor> background;
    std::shared_ptr<UIColor> text = white;
    switch (type) {
    case NotificationType::Error:
        background = VeskAssets::flatRed();
        break;
    case NotificationType::Warning:
        background = VeskAssets::flatOrange();
        break;
    case NotificationType::Success:
        background = VeskAssets::flatGreen();
        break;
    case NotificationType::Info:
        background = UIColor::lightGrayColor();
        break;
    case NotificationType::Debug:
        background = UIColor::blackColor();
        text = UIColor::greenColor();
        break;
    case NotificationType::Server:
        background = VeskAssets::flatBlue();
        break;
    }
    m_notificationView->setBackgroundColor(background);
    m_label->setTextColor(text);
    if (m_message)
        m_label->setText(type == NotificationType::Debug ? "\xF0\x9F\x94\xA8 " + *m_message : *m_message);
}

std::string VeskNotification::messageFittingName(const std::function<std::string(const std::string&)>& compose, const std::string& name)
{
    auto width = labelFrame(statusBarFrameOf(ObjCHelper().getStatusBar())).size.width;
    auto font = bannerFont();
    auto fits = [&](const std::string& message) { return text::measure(message, font).width <= width; };
    auto whole = compose(name);
    if (fits(whole) || name.empty())
        return whole;
    // Cuts fall between characters, never inside one's UTF-8 bytes.
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < name.size(); ++at) {
        if ((static_cast<unsigned char>(name[at]) & 0xC0) != 0x80)
            starts.push_back(at);
    }
    auto count = starts.size();
    // The name with only `kept` of its characters, the head one more than the tail when odd.
    auto shortened = [&](std::size_t kept) {
        auto tail = kept / 2;
        auto headEnd = kept - tail < count ? starts[kept - tail] : name.size();
        auto tailStart = tail > 0 ? starts[count - tail] : name.size();
        return compose(name.substr(0, headEnd) + "\xE2\x80\xA6" + name.substr(tailStart));
    };
    // The most characters that still fit; a screen too narrow for any keeps only the "…".
    std::size_t low = 0, high = count > 0 ? count - 1 : 0;
    while (low < high) {
        auto middle = (low + high + 1) / 2;
        if (fits(shortened(middle)))
            low = middle;
        else
            high = middle - 1;
    }
    return shortened(low);
}

VeskNotification::~VeskNotification()
{
    NSNotificationCenter::defaultCenter().removeObserver(this);
    if (m_timer)
        m_timer->invalidate();
}

void VeskNotification::lookUpStatusBar()
{
    m_statusBar = ObjCHelper().getStatusBar();
    m_statusBarFrame = statusBarFrameOf(m_statusBar);
}

void VeskNotification::show()
{
    if (m_showing)
        return;
    m_showing = true;
    std::weak_ptr<VeskNotification> weak = weak_from_this();
    NSNotificationCenter::defaultCenter().addObserver(this, UIApplicationDidChangeStatusBarFrameNotification, [weak](const NSNotification&) {
        if (auto self = weak.lock())
            self->adjustSize();
    });
    // One recognizer serves every showing of the strip.
    if (!m_tap) {
        m_tap = std::make_shared<UITapGestureRecognizer>([weak](UIGestureRecognizer&) {
            if (auto self = weak.lock())
                self->clickedOnNotification();
        });
        m_notificationView->addGestureRecognizer(m_tap);
    }
    adjustSize();
    if (!m_announced && VeskNotificationManager::echoesToStandardError()) {
        m_announced = true;
        std::fprintf(stderr, "Banner (%s): %s\n", notificationTypeName(m_type), m_label->text().value_or("").c_str());
        std::fflush(stderr);
    }
    DispatchQueue::main().async([self = shared_from_this()] { self->animateIn(); });
}

void VeskNotification::animateIn()
{
    if (auto window = appWindow()) {
        window->addSubview(m_notificationView);
        window->bringSubviewToFront(m_notificationView);
    }
    std::weak_ptr<VeskNotification> weak = weak_from_this();
    UIView::animateWithDuration(
        m_animationDuration, [this] {
            auto frame = m_notificationView->frame();
            frame.origin.y = 0;
            m_notificationView->setFrame(frame); },
        [weak](bool) {
            if (auto self = weak.lock())
                self->scheduleDismiss();
        });
    if (m_statusBar) {
        UIView::animateWithDuration(m_animationDuration, [this] {
            auto frame = m_statusBar->frame();
            frame.origin.y = -m_statusBarFrame.size.height;
            m_statusBar->setFrame(frame);
        });
    }
}

void VeskNotification::scheduleDismiss()
{
    // Taken away while it slid in: no timer for a showing that is over.
    if (m_duration <= 0 || !m_showing)
        return;
    if (m_timer)
        m_timer->invalidate();
    std::weak_ptr<VeskNotification> weak = weak_from_this();
    m_timer = NSTimer::scheduledTimerWithTimeInterval(m_duration, false, [weak](NSTimer&) {
        if (auto self = weak.lock())
            self->dismiss();
    });
}

void VeskNotification::dismiss()
{
    if (!m_showing)
        return;
    m_showing = false;
    if (m_timer) {
        m_timer->invalidate();
        m_timer.reset();
    }
    NSNotificationCenter::defaultCenter().removeObserver(this);
    DispatchQueue::main().async([self = shared_from_this()] { self->animateOut(); });
}

void VeskNotification::animateOut()
{
    UIView::animateWithDuration(
        m_animationDuration, [this] {
            auto frame = m_notificationView->frame();
            frame.origin.y = -m_statusBarFrame.size.height;
            m_notificationView->setFrame(frame); },
        // Held strongly: a banner the manager has let go still has to leave the window.
        [self = shared_from_this()](bool) {
            if (self->m_completion)
                self->m_completion(*self);
            // Shown again meanwhile (the static banner): its view stays.
            if (!self->m_showing)
                self->m_notificationView->removeFromSuperview();
        });
    if (m_statusBar) {
        UIView::animateWithDuration(m_animationDuration, [this] {
            auto frame = m_statusBar->frame();
            frame.origin.y = 0;
            m_statusBar->setFrame(frame);
        });
    }
}

void VeskNotification::adjustSize()
{
    lookUpStatusBar();
    auto frame = m_notificationView->frame();
    frame.size = m_statusBarFrame.size;
    m_notificationView->setFrame(frame);
    m_label->setFrame(labelFrame(m_statusBarFrame));
}

void VeskNotification::clickedOnNotification()
{
    if (m_timer) {
        m_timer->invalidate();
        m_timer.reset();
    }
    if (m_clickHandler)
        m_clickHandler(*this);
}

}
