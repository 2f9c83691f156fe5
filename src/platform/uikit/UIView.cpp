#include "platform/uikit/UIView.h"

#include "platform/foundation/NSTimer.h"
#include "platform/foundation/RunLoop.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIViewController.h"
#include "platform/uikit/UIViewRendering.h"

#include <algorithm>

namespace vesk::platform {

namespace {

    struct AnimatedValues {
        CGRect frame;
        CGFloat alpha;
        std::shared_ptr<UIColor> background;
    };

    struct Animation {
        std::vector<std::weak_ptr<UIView>> views;
        std::vector<const UIView*> viewAddresses;
        // Per view, in the order of viewAddresses: the values before and after.
        std::vector<AnimatedValues> from;
        std::vector<AnimatedValues> to;
        Clock::time_point start;
        double delay = 0;
        double duration = 0;
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

    // The platform's default curve: slow at both ends.
    CGFloat easeInOut(CGFloat t)
    {
        t = std::clamp(t, 0.0, 1.0);
        return t * t * (3 - 2 * t);
    }

    CGFloat mix(CGFloat a, CGFloat b, CGFloat t)
    {
        return a + (b - a) * t;
    }

    // The newest animation of the view that still shows its model value at the end, with
    // the progress of its curve; none when nothing moves the view.
    const Animation* runningAnimation(const UIView& view, std::size_t& index, CGFloat& progress)
    {
        auto& live = liveAnimations();
        for (auto it = live.rbegin(); it != live.rend(); ++it) {
            auto& addresses = (*it)->viewAddresses;
            auto found = std::find(addresses.begin(), addresses.end(), &view);
            if (found == addresses.end())
                continue;
            index = static_cast<std::size_t>(found - addresses.begin());
            auto elapsed = std::chrono::duration<double>(RunLoop::main().clock().now() - (*it)->start).count() - (*it)->delay;
            progress = (*it)->duration > 0 ? easeInOut(elapsed / (*it)->duration) : 1;
            return it->get();
        }
        return nullptr;
    }

    bool sameColor(const std::shared_ptr<UIColor>& a, const std::shared_ptr<UIColor>& b)
    {
        if (!a || !b)
            return a == b;
        return a->isEqual(*b);
    }

    std::shared_ptr<UIColor> mixColors(const std::shared_ptr<UIColor>& from, const std::shared_ptr<UIColor>& to, CGFloat t)
    {
        if ((from && from->isPattern()) || (to && to->isPattern()))
            return t < 1 ? from : to;
        // No colour fades as the other colour, transparent.
        auto a = from ? *from : (to ? UIColor(to->red(), to->green(), to->blue(), 0) : UIColor(0, 0, 0, 0));
        auto b = to ? *to : UIColor(a.red(), a.green(), a.blue(), 0);
        if (!from && !to)
            return nullptr;
        return UIColor::colorWithRed(mix(a.red(), b.red(), t), mix(a.green(), b.green(), t), mix(a.blue(), b.blue(), t), mix(a.alpha(), b.alpha(), t));
    }

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
        // The end values show once the animation is over.
        markNeedsDisplay();
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

void CALayer::setCornerRadius(CGFloat radius)
{
    m_cornerRadius = radius;
    m_view.setNeedsDisplay();
}

void CALayer::setBorderWidth(CGFloat width)
{
    m_borderWidth = width;
    m_view.setNeedsDisplay();
}

void CALayer::setBorderColor(std::shared_ptr<UIColor> color)
{
    m_borderColor = std::move(color);
    m_view.setNeedsDisplay();
}

void CALayer::setMasksToBounds(bool masks)
{
    m_masksToBounds = masks;
    m_view.setNeedsDisplay();
}

// A value set since the animation began (without animating) shows at once.
CGRect CALayer::presentationFrame() const
{
    std::size_t index = 0;
    CGFloat t = 0;
    auto* animation = runningAnimation(m_view, index, t);
    auto model = m_view.frame();
    if (!animation || animation->to[index].frame != model)
        return model;
    auto& a = animation->from[index].frame;
    return CGRectMake(mix(a.origin.x, model.origin.x, t), mix(a.origin.y, model.origin.y, t),
        mix(a.size.width, model.size.width, t), mix(a.size.height, model.size.height, t));
}

CGFloat CALayer::presentationOpacity() const
{
    std::size_t index = 0;
    CGFloat t = 0;
    auto* animation = runningAnimation(m_view, index, t);
    auto model = m_view.alpha();
    if (!animation || animation->to[index].alpha != model)
        return model;
    return mix(animation->from[index].alpha, model, t);
}

std::shared_ptr<UIColor> CALayer::presentationBackgroundColor() const
{
    std::size_t index = 0;
    CGFloat t = 0;
    auto* animation = runningAnimation(m_view, index, t);
    auto model = m_view.backgroundColor();
    if (!animation || !sameColor(animation->to[index].background, model) || t >= 1)
        return model;
    return mixColors(animation->from[index].background, model, t);
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
        for (std::size_t i = addresses.size(); i-- > 0;) {
            if (addresses[i] != this)
                continue;
            addresses.erase(addresses.begin() + static_cast<std::ptrdiff_t>(i));
            animation->views.erase(animation->views.begin() + static_cast<std::ptrdiff_t>(i));
            animation->from.erase(animation->from.begin() + static_cast<std::ptrdiff_t>(i));
            if (i < animation->to.size())
                animation->to.erase(animation->to.begin() + static_cast<std::ptrdiff_t>(i));
        }
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
    currentAnimation->from.push_back({ m_frame, m_alpha, m_backgroundColor });
}

bool UIView::areAnimationsRunning()
{
    return !liveAnimations().empty();
}

namespace {

    // One side of a subview as its superview's length changes: the flexible parts among the
    // leading margin, the length and the trailing margin take the change in proportion.
    void resizeAxis(CGFloat& origin, CGFloat& length, CGFloat oldOuter, CGFloat newOuter, bool flexLead, bool flexLength, bool flexTrail)
    {
        CGFloat parts[3] = { origin, length, oldOuter - origin - length };
        bool flexible[3] = { flexLead, flexLength, flexTrail };
        CGFloat total = 0;
        int count = 0;
        for (int i = 0; i < 3; ++i) {
            if (flexible[i]) {
                total += std::max(0.0, parts[i]);
                ++count;
            }
        }
        if (count == 0 || newOuter == oldOuter)
            return;
        CGFloat change = newOuter - oldOuter;
        for (int i = 0; i < 3; ++i) {
            if (flexible[i])
                parts[i] += total > 0 ? change * std::max(0.0, parts[i]) / total : change / count;
        }
        origin = parts[0];
        length = std::max(0.0, parts[1]);
    }

}

void UIView::setFrame(CGRect frame)
{
    noteAnimatedChange();
    if (m_frame != frame)
        setNeedsDisplay();
    auto oldSize = m_frame.size;
    m_frame = frame;
    if (oldSize != frame.size) {
        using enum UIViewAutoresizing;
        auto subviews = m_subviews;
        for (auto& subview : subviews) {
            auto mask = subview->m_autoresizingMask;
            if (mask == None)
                continue;
            auto rect = subview->m_frame;
            resizeAxis(rect.origin.x, rect.size.width, oldSize.width, frame.size.width, mask & FlexibleLeftMargin, mask & FlexibleWidth, mask & FlexibleRightMargin);
            resizeAxis(rect.origin.y, rect.size.height, oldSize.height, frame.size.height, mask & FlexibleTopMargin, mask & FlexibleHeight, mask & FlexibleBottomMargin);
            if (rect != subview->m_frame)
                subview->setFrame(rect);
        }
    }
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
    setNeedsDisplay();
}

void UIView::setHidden(bool hidden)
{
    if (m_hidden != hidden)
        setNeedsDisplay();
    m_hidden = hidden;
}

void UIView::setAlpha(CGFloat alpha)
{
    noteAnimatedChange();
    if (m_alpha != alpha)
        setNeedsDisplay();
    m_alpha = alpha;
}

void UIView::setBackgroundColor(std::shared_ptr<UIColor> color)
{
    noteAnimatedChange();
    if (!sameColor(m_backgroundColor, color))
        setNeedsDisplay();
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
    setNeedsDisplay();
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
    setNeedsDisplay();
}

void UIView::bringSubviewToFront(const std::shared_ptr<UIView>& view)
{
    auto it = std::find(m_subviews.begin(), m_subviews.end(), view);
    if (it == m_subviews.end())
        return;
    auto keep = *it;
    m_subviews.erase(it);
    m_subviews.push_back(keep);
    setNeedsDisplay();
}

void UIView::sendSubviewToBack(const std::shared_ptr<UIView>& view)
{
    auto it = std::find(m_subviews.begin(), m_subviews.end(), view);
    if (it == m_subviews.end())
        return;
    auto keep = *it;
    m_subviews.erase(it);
    m_subviews.insert(m_subviews.begin(), keep);
    setNeedsDisplay();
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
    animation->start = RunLoop::main().clock().now();
    animation->delay = std::max(0.0, delay);
    animation->duration = std::max(0.0, duration);
    for (auto& weak : animation->views) {
        auto view = weak.lock();
        animation->to.push_back(view ? AnimatedValues { view->m_frame, view->m_alpha, view->m_backgroundColor } : AnimatedValues {});
    }
    animation->completion = std::move(completion);
    liveAnimations().push_back(animation);
    double total = std::max(0.0, duration) + std::max(0.0, delay);
    animation->timer = NSTimer::scheduledTimerWithTimeInterval(total, false, [animation](NSTimer&) {
        finishAnimation(animation, true);
    });
}

std::shared_ptr<UIFont> UILabel::font() const
{
    if (m_font)
        return m_font;
    return m_styleFont ? m_styleFont : UIFont::systemFontOfSize(17);
}

std::shared_ptr<UIColor> UILabel::textColor() const
{
    if (m_textColor)
        return m_textColor;
    return m_styleColor ? m_styleColor : UIColor::blackColor();
}

void UILabel::setText(std::optional<std::string> text)
{
    if (m_text != text)
        setNeedsDisplay();
    m_text = std::move(text);
}

void UILabel::setFont(std::shared_ptr<UIFont> font)
{
    m_font = std::move(font);
    setNeedsDisplay();
}

void UILabel::setTextColor(std::shared_ptr<UIColor> color)
{
    m_textColor = std::move(color);
    setNeedsDisplay();
}

void UILabel::setTextAlignment(NSTextAlignment alignment)
{
    m_textAlignment = alignment;
    setNeedsDisplay();
}

void UILabel::setNumberOfLines(int lines)
{
    m_numberOfLines = lines;
    setNeedsDisplay();
}

void UILabel::setLineBreakMode(NSLineBreakMode mode)
{
    m_lineBreakMode = mode;
    setNeedsDisplay();
}

void UILabel::setAdjustsFontSizeToFitWidth(bool adjusts)
{
    m_adjustsFontSize = adjusts;
    setNeedsDisplay();
}

void UILabel::setStyleDefaults(std::shared_ptr<UIFont> font, std::shared_ptr<UIColor> color)
{
    m_styleFont = std::move(font);
    m_styleColor = std::move(color);
}

UIImageView::UIImageView(std::shared_ptr<UIImage> image)
    : m_image(std::move(image))
{
    if (m_image)
        setFrame({ {}, m_image->size() });
}

void UIImageView::setImage(std::shared_ptr<UIImage> image)
{
    if (m_image != image)
        setNeedsDisplay();
    if (image && !image->images().empty() && image != m_image)
        m_animationStart = drawing::now();
    m_image = std::move(image);
}

void UIImageView::setContentMode(UIViewContentMode mode)
{
    m_contentMode = mode;
    setNeedsDisplay();
}

void UIImageView::startAnimating()
{
    m_animating = !m_animationImages.empty();
    m_animationStart = std::chrono::duration<double>(RunLoop::main().clock().now().time_since_epoch()).count();
    setNeedsDisplay();
}

void UIImageView::stopAnimating()
{
    m_animating = false;
    setNeedsDisplay();
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
