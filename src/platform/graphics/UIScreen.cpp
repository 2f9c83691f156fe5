#include "platform/graphics/UIScreen.h"

#include <atomic>
#include <cmath>

namespace vesk::platform {

namespace {
    std::atomic<CGFloat> s_scale { 2 };
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
