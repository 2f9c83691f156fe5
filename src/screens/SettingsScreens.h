#pragma once

namespace vesk {

// Registers the settings, About and download screens in the storyboard "Main": "settings",
// "aboutVesk", "downloadWebView" and "downloadView".
void registerSettingsScreens();

}
