#pragma once

#include "platform/foundation/Clock.h"
#include "platform/uikit/UIView.h"

#include <optional>

namespace vesk::platform {

struct UIEdgeInsets {
    CGFloat top = 0;
    CGFloat left = 0;
    CGFloat bottom = 0;
    CGFloat right = 0;
    bool operator==(const UIEdgeInsets&) const = default;
};

inline UIEdgeInsets UIEdgeInsetsMake(CGFloat top, CGFloat left, CGFloat bottom, CGFloat right)
{
    return { top, left, bottom, right };
}

class UIScrollView;

// Every call is optional; viewForZoomingInScrollView answers none when not implemented, and
// then the scroll view does not zoom.
class UIScrollViewDelegate {
public:
    virtual ~UIScrollViewDelegate() = default;
    virtual std::shared_ptr<UIView> viewForZoomingInScrollView(UIScrollView&) { return nullptr; }
    virtual void scrollViewDidScroll(UIScrollView&) { }
    virtual void scrollViewDidZoom(UIScrollView&) { }
};

// A view that shows a larger content through its frame: the content size and offset, insets,
// and zooming of the delegate's view between a minimum and a maximum scale.
class UIScrollView : public UIView {
public:
    using UIView::UIView;

    std::shared_ptr<UIScrollViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UIScrollViewDelegate>& delegate) { m_delegate = delegate; }

    CGSize contentSize() const { return m_contentSize; }
    void setContentSize(CGSize size) { m_contentSize = size; }
    CGPoint contentOffset() const { return m_contentOffset; }
    void setContentOffset(CGPoint offset, bool animated = false);
    UIEdgeInsets contentInset() const { return m_contentInset; }
    void setContentInset(UIEdgeInsets insets) { m_contentInset = insets; }
    UIEdgeInsets scrollIndicatorInsets() const { return m_scrollIndicatorInsets; }
    void setScrollIndicatorInsets(UIEdgeInsets insets) { m_scrollIndicatorInsets = insets; }

    bool alwaysBounceVertical() const { return m_alwaysBounceVertical; }
    void setAlwaysBounceVertical(bool bounces) { m_alwaysBounceVertical = bounces; }
    bool alwaysBounceHorizontal() const { return m_alwaysBounceHorizontal; }
    void setAlwaysBounceHorizontal(bool bounces) { m_alwaysBounceHorizontal = bounces; }
    bool showsVerticalScrollIndicator() const { return m_showsVertical; }
    void setShowsVerticalScrollIndicator(bool shows) { m_showsVertical = shows; }
    bool showsHorizontalScrollIndicator() const { return m_showsHorizontal; }
    void setShowsHorizontalScrollIndicator(bool shows) { m_showsHorizontal = shows; }
    // Shows the indicators for a moment; when that was last asked for, on the main run loop's clock.
    void flashScrollIndicators();
    std::optional<Clock::time_point> lastIndicatorFlash() const { return m_lastFlash; }

    CGFloat zoomScale() const { return m_zoomScale; }
    // Kept between the limits; the delegate's zooming view grows or shrinks with it, and the
    // content size follows. Nothing without a zooming view.
    void setZoomScale(CGFloat scale, bool animated = false);
    CGFloat minimumZoomScale() const { return m_minimumZoomScale; }
    void setMinimumZoomScale(CGFloat scale);
    CGFloat maximumZoomScale() const { return m_maximumZoomScale; }
    void setMaximumZoomScale(CGFloat scale);

    // What a person's pinch does: zooms by the factor, within the limits.
    void pinch(CGFloat factor);

private:
    std::weak_ptr<UIScrollViewDelegate> m_delegate;
    CGSize m_contentSize {};
    CGPoint m_contentOffset {};
    UIEdgeInsets m_contentInset {};
    UIEdgeInsets m_scrollIndicatorInsets {};
    bool m_alwaysBounceVertical = false;
    bool m_alwaysBounceHorizontal = false;
    bool m_showsVertical = true;
    bool m_showsHorizontal = true;
    std::optional<Clock::time_point> m_lastFlash;
    CGFloat m_zoomScale = 1;
    CGFloat m_minimumZoomScale = 1;
    CGFloat m_maximumZoomScale = 1;
};

}
