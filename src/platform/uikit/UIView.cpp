#include "platform/uikit/UIView.h"

#include "platform/foundation/NSTimer.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIViewController.h"

#include <algorithm>

namespace vesk::platform {

namespace {

    struct Animation {
        std::vector<std::weak_ptr<UIView>> views;
        std::vector<const UIView*> viewAddresses;
        std::function<void(bool)> completion;
        std::shared_ptr<NSTimer> timer;
        bool done = false;
    };

    // Animations live on the main thread only, like every view.
    std::vector<std::shared_ptr<Animation>>& liveAnimations()
    {
        // Never destroyed: views that other statics hold may end after this list would.
        static auto* animations = new std::vector<std::shared_ptr<Animation>>;
        return *animations;
    }

    thread_local Animation* currentAnimation = nullptr;

    void finishAnimation(const std::shared_ptr<Animation>& animation, bool finished)
    {
        if (animation->done)
            return;
        animation->done = true;
        if (animation->timer)
            animation->timer->invalidate();
        auto& live = liveAnimations();
        live.erase(std::remove(live.begin(), live.end(), animation), live.end());
        auto completion = std::move(animation->completion);
        if (completion)
            completion(finished);
    }

}

UIGestureRecognizer::UIGestureRecognizer(Action action)
    : m_action(std::move(action))
{
}

void UIGestureRecognizer::recognize()
{
    if (m_enabled && m_action)
        m_action(*this);
}

void CALayer::removeAllAnimations()
{
    auto live = liveAnimations();
    for (auto& animation : live) {
        if (std::find(animation->viewAddresses.begin(), animation->viewAddresses.end(), &m_view) != animation->viewAddresses.end())
            finishAnimation(animation, false);
    }
}

std::size_t CALayer::animationCount() const
{
    std::size_t count = 0;
    for (auto& animation : liveAnimations()) {
        if (std::find(animation->viewAddresses.begin(), animation->viewAddresses.end(), &m_view) != animation->viewAddresses.end())
            ++count;
    }
    return count;
}

UIView::UIView() = default;

UIView::UIView(CGRect frame)
    : m_frame(frame)
{
}

UIView::~UIView()
{
    // An animation that still names this view must not reach it through its address.
    for (auto& animation : liveAnimations()) {
        auto& addresses = animation->viewAddresses;
        addresses.erase(std::remove(addresses.begin(), addresses.end(), this), addresses.end());
    }
    for (auto& child : m_subviews)
        child->m_superview = nullptr;
}

void UIView::noteAnimatedChange()
{
    if (!currentAnimation)
        return;
    auto& addresses = currentAnimation->viewAddresses;
    if (std::find(addresses.begin(), addresses.end(), this) != addresses.end())
        return;
    addresses.push_back(this);
    currentAnimation->views.push_back(weak_from_this());
}

void UIView::setFrame(CGRect frame)
{
    noteAnimatedChange();
    m_frame = frame;
    layoutSubviews();
}

CGPoint UIView::center() const
{
    return { m_frame.origin.x + m_frame.size.width / 2, m_frame.origin.y + m_frame.size.height / 2 };
}

void UIView::setCenter(CGPoint center)
{
    noteAnimatedChange();
    m_frame.origin = { center.x - m_frame.size.width / 2, center.y - m_frame.size.height / 2 };
}

void UIView::setHidden(bool hidden)
{
    m_hidden = hidden;
}

void UIView::setAlpha(CGFloat alpha)
{
    noteAnimatedChange();
    m_alpha = alpha;
}

void UIView::setBackgroundColor(std::shared_ptr<UIColor> color)
{
    noteAnimatedChange();
    m_backgroundColor = std::move(color);
}

void UIView::addSubview(const std::shared_ptr<UIView>& view)
{
    insertSubviewAtIndex(view, m_subviews.size());
}

void UIView::insertSubviewAtIndex(const std::shared_ptr<UIView>& view, std::size_t index)
{
    if (!view || view.get() == this)
        return;
    auto keep = view;
    if (auto* old = view->m_superview) {
        auto& siblings = old->m_subviews;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), view), siblings.end());
    }
    index = std::min(index, m_subviews.size());
    m_subviews.insert(m_subviews.begin() + static_cast<std::ptrdiff_t>(index), keep);
    keep->m_superview = this;
}

void UIView::removeFromSuperview()
{
    auto* parent = m_superview;
    if (!parent)
        return;
    auto self = shared_from_this();
    m_superview = nullptr;
    auto& siblings = parent->m_subviews;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), self), siblings.end());
}

void UIView::bringSubviewToFront(const std::shared_ptr<UIView>& view)
{
    auto it = std::find(m_subviews.begin(), m_subviews.end(), view);
    if (it == m_subviews.end())
        return;
    auto keep = *it;
    m_subviews.erase(it);
    m_subviews.push_back(keep);
}

void UIView::sendSubviewToBack(const std::shared_ptr<UIView>& view)
{
    auto it = std::find(m_subviews.begin(), m_subviews.end(), view);
    if (it == m_subviews.end())
        return;
    auto keep = *it;
    m_subviews.erase(it);
    m_subviews.insert(m_subviews.begin(), keep);
}

bool UIView::isDescendantOfView(const UIView& view) const
{
    for (auto current = this; current;) {
        if (current == &view)
            return true;
        current = current->m_superview;
    }
    return false;
}

std::shared_ptr<UIWindow> UIView::window() const
{
    std::shared_ptr<UIView> current = std::const_pointer_cast<UIView>(shared_from_this());
    while (current) {
        if (auto window = std::dynamic_pointer_cast<UIWindow>(current))
            return window;
        current = current->superview();
    }
    return nullptr;
}

std::shared_ptr<UIView> UIView::viewWithTag(int tag)
{
    if (m_tag == tag)
        return shared_from_this();
    for (auto& child : m_subviews) {
        if (auto found = child->viewWithTag(tag))
            return found;
    }
    return nullptr;
}

CGRect UIView::convertRectToView(CGRect rect, const UIView* view) const
{
    auto originInRoot = [](const UIView* start) {
        CGPoint origin {};
        std::shared_ptr<const UIView> keep;
        for (auto* current = start; current; current = keep.get()) {
            keep = current->superview();
            if (keep) {
                origin.x += current->m_frame.origin.x;
                origin.y += current->m_frame.origin.y;
            }
        }
        return origin;
    };
    auto from = originInRoot(this);
    auto to = view ? originInRoot(view) : CGPoint {};
    rect.origin.x += from.x - to.x;
    rect.origin.y += from.y - to.y;
    return rect;
}

void UIView::addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer)
{
    if (!recognizer)
        return;
    recognizer->m_view = weak_from_this();
    m_gestureRecognizers.push_back(recognizer);
}

void UIView::removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer)
{
    auto& list = m_gestureRecognizers;
    list.erase(std::remove(list.begin(), list.end(), recognizer), list.end());
}

void UIView::animateWithDuration(double duration, const std::function<void()>& animations, std::function<void(bool)> completion)
{
    animateWithDuration(duration, 0, animations, std::move(completion));
}

void UIView::animateWithDuration(double duration, double delay, const std::function<void()>& animations, std::function<void(bool)> completion)
{
    auto animation = std::make_shared<Animation>();
    auto* outer = currentAnimation;
    currentAnimation = animation.get();
    if (animations)
        animations();
    currentAnimation = outer;
    animation->completion = std::move(completion);
    liveAnimations().push_back(animation);
    double total = std::max(0.0, duration) + std::max(0.0, delay);
    animation->timer = NSTimer::scheduledTimerWithTimeInterval(total, false, [animation](NSTimer&) {
        finishAnimation(animation, true);
    });
}

std::shared_ptr<UIFont> UILabel::font() const
{
    return m_font ? m_font : UIFont::systemFontOfSize(17);
}

std::shared_ptr<UIColor> UILabel::textColor() const
{
    return m_textColor ? m_textColor : UIColor::blackColor();
}

UIImageView::UIImageView(std::shared_ptr<UIImage> image)
    : m_image(std::move(image))
{
    if (m_image)
        setFrame({ {}, m_image->size() });
}

void UIWindow::setRootViewController(std::shared_ptr<UIViewController> controller)
{
    if (m_rootViewController && m_rootViewController->isViewLoaded())
        m_rootViewController->view()->removeFromSuperview();
    m_rootViewController = std::move(controller);
    if (m_rootViewController) {
        auto view = m_rootViewController->view();
        view->setFrame(bounds());
        addSubview(view);
    }
}

void UIWindow::makeKeyAndVisible()
{
    setHidden(false);
    UIApplication::sharedApplication().setKeyWindow(std::static_pointer_cast<UIWindow>(shared_from_this()));
}

bool UIWindow::isKeyWindow() const
{
    return UIApplication::sharedApplication().keyWindow().get() == this;
}

}
