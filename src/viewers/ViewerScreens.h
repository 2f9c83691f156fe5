#pragma once

namespace vesk {

// Registers the viewers in the storyboard "Main": "image", "text", "plist", "web", "unknown",
// "info" and "textEditor".
void registerViewerScreens();

}
