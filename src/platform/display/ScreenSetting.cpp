#include "platform/display/ScreenSetting.h"

#include "platform/graphics/UIScreen.h"
#include "platform/system/UIDevice.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace vesk::platform {

namespace {

    // A decimal number without sign or exponent, all of the text.
    std::optional<double> number(std::string_view text)
    {
        if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos)
            return std::nullopt;
        double value = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size())
            return std::nullopt;
        return value;
    }

}

std::optional<ScreenSetting> ScreenSetting::parse(std::string_view text)
{
    auto times = text.find('x');
    auto at = text.find('@');
    if (times == std::string_view::npos || at == std::string_view::npos || at < times)
        return std::nullopt;
    auto width = number(text.substr(0, times));
    auto height = number(text.substr(times + 1, at - times - 1));
    auto scale = number(text.substr(at + 1));
    // Up to a large desktop's size, and scales a screen has.
    if (!width || !height || !scale || *width < 100 || *height < 100 || *width > 4096 || *height > 4096 || *scale < 1 || *scale > 4)
        return std::nullopt;
    return ScreenSetting { *width, *height, *scale };
}

bool ScreenSetting::isPad() const
{
    return std::min(width, height) >= 600;
}

void ScreenSetting::apply() const
{
    UIScreen::mainScreen().setBounds(CGRectMake(0, 0, width, height));
    UIScreen::mainScreen().setScale(scale);
    UIDevice::currentDevice().setUserInterfaceIdiom(isPad() ? UIUserInterfaceIdiom::Pad : UIUserInterfaceIdiom::Phone);
}

std::optional<std::string> applyScreenFromEnvironment()
{
    const char* value = std::getenv("VESK_SCREEN");
    if (!value || !*value)
        return std::nullopt;
    auto setting = ScreenSetting::parse(value);
    if (!setting)
        return std::string("VESK_SCREEN=") + value + " is no screen size like 375x667@2 (100 to 4096 points a side, scale 1 to 4); using 375x667@2";
    setting->apply();
    return std::nullopt;
}

}
