#pragma once

namespace vesk {

// Registers the settings screen in the storyboard "Main" as "settings".
void registerSettingsScreens();

}
