#pragma once

#include "platform/graphics/CGGeometry.h"

#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {

// The screen the app runs on: width and height in points and pixels per point, as
// VESK_SCREEN gives them ("WxH@S", say "768x1024@2").
struct ScreenSetting {
    CGFloat width = 375;
    CGFloat height = 667;
    CGFloat scale = 2;

    // None for text that is no such size: missing parts, not numbers, or out of range.
    static std::optional<ScreenSetting> parse(std::string_view text);
    // A screen this wide on its shorter side is a pad's.
    bool isPad() const;
    // Makes it the main screen's and picks the device idiom.
    void apply() const;
};

// Applies VESK_SCREEN when set; a bad value keeps the phone screen and answers the line to tell.
std::optional<std::string> applyScreenFromEnvironment();

}
