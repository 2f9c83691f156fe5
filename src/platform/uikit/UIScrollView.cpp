#include "platform/uikit/UIScrollView.h"

#include "platform/foundation/RunLoop.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform {

void UIScrollView::setContentOffset(CGPoint offset, bool)
{
    if (m_contentOffset != offset)
        setNeedsDisplay();
    m_contentOffset = offset;
    if (auto watcher = delegate())
        watcher->scrollViewDidScroll(*this);
}

void UIScrollView::flashScrollIndicators()
{
    m_lastFlash = RunLoop::main().clock().now();
    setNeedsDisplay();
}

void UIScrollView::setZoomScale(CGFloat scale, bool)
{
    auto watcher = delegate();
    auto zoomed = watcher ? watcher->viewForZoomingInScrollView(*this) : nullptr;
    if (!zoomed || !std::isfinite(scale))
        return;
    scale = std::clamp(scale, m_minimumZoomScale, m_maximumZoomScale);
    if (scale == m_zoomScale)
        return;
    auto frame = zoomed->frame();
    CGFloat factor = scale / m_zoomScale;
    frame.size = { frame.size.width * factor, frame.size.height * factor };
    zoomed->setFrame(frame);
    m_contentSize = frame.size;
    m_zoomScale = scale;
    watcher->scrollViewDidZoom(*this);
}

void UIScrollView::setMinimumZoomScale(CGFloat scale)
{
    if (!std::isfinite(scale) || scale <= 0)
        return;
    m_minimumZoomScale = scale;
    m_maximumZoomScale = std::max(m_maximumZoomScale, scale);
}

void UIScrollView::setMaximumZoomScale(CGFloat scale)
{
    if (!std::isfinite(scale) || scale <= 0)
        return;
    m_maximumZoomScale = scale;
    m_minimumZoomScale = std::min(m_minimumZoomScale, scale);
}

void UIScrollView::pinch(CGFloat factor)
{
    if (factor > 0)
        setZoomScale(m_zoomScale * factor);
}

}
