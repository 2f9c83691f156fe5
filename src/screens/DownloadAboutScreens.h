#pragma once

namespace vesk {

// Registers in the storyboard "Main" the in-app browser ("downloadWebView"), its list
// ("downloadView"), the About screen ("aboutVesk") and the cells they and the icon editor
// use: "dlCell", "iconCell", "infoCell" and "colorCell".
void registerDownloadAboutScreens();

}
