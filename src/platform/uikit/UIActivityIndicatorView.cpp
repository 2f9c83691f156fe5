#include "platform/uikit/UIActivityIndicatorView.h"

namespace vesk::platform {

namespace {

    CGFloat sideOf(UIActivityIndicatorViewStyle style)
    {
        return style == UIActivityIndicatorViewStyle::WhiteLarge ? 37 : 20;
    }

}

UIActivityIndicatorView::UIActivityIndicatorView(UIActivityIndicatorViewStyle style)
    : UIView(CGRectMake(0, 0, sideOf(style), sideOf(style)))
    , m_style(style)
{
}

std::shared_ptr<UIActivityIndicatorView> UIActivityIndicatorView::initWithActivityIndicatorStyle(UIActivityIndicatorViewStyle style)
{
    return std::make_shared<UIActivityIndicatorView>(style);
}

}
