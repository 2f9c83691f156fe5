#pragma once

namespace vesk {

// Registers the settings and download screens in the storyboard "Main": "settings",
// "downloadWebView" and "downloadView".
void registerSettingsScreens();

}
