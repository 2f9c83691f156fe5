#include "platform/graphics/UIScreen.h"

#include <atomic>
#include <cmath>
#include <mutex>

namespace vesk::platform {

namespace {
    std::atomic<CGFloat> s_scale { 2 };
    std::mutex s_boundsMutex;
    CGRect s_bounds = CGRectMake(0, 0, 375, 667);
}

UIScreen& UIScreen::mainScreen()
{
    static UIScreen screen;
    return screen;
}

CGFloat UIScreen::scale() const
{
    return s_scale.load();
}

void UIScreen::setScale(CGFloat scale)
{
    if (std::isfinite(scale) && scale > 0)
        s_scale.store(scale);
}

}

namespace vesk::platform {

CGRect UIScreen::bounds() const
{
    std::lock_guard lock(s_boundsMutex);
    return s_bounds;
}

void UIScreen::setBounds(const CGRect& bounds)
{
    std::lock_guard lock(s_boundsMutex);
    s_bounds = bounds;
}

}
