#include "platform/uikit/UIProgressView.h"

#include <algorithm>

namespace vesk::platform {

UIProgressView::UIProgressView(UIProgressViewStyle style)
    : UIView(CGRectMake(0, 0, 150, style == UIProgressViewStyle::Bar ? 2.5 : 2))
    , m_style(style)
{
}

std::shared_ptr<UIProgressView> UIProgressView::initWithProgressViewStyle(UIProgressViewStyle style)
{
    return std::make_shared<UIProgressView>(style);
}

void UIProgressView::setProgress(float progress, bool)
{
    m_progress = progress >= 0 ? std::min(progress, 1.0f) : 0.0f;
    setNeedsDisplay();
}

}
