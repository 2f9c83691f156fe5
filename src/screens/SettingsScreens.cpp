#include "screens/SettingsScreens.h"

#include "platform/uikit/UIStoryboard.h"
#include "screens/AboutVeskTableViewController.h"
#include "screens/SettingsTableViewController.h"
#include "screens/VeskDownloadTableViewController.h"
#include "screens/VeskDownloadWebController.h"

namespace vesk {

using platform::UIStoryboard;

void registerSettingsScreens()
{
    auto& storyboard = UIStoryboard::storyboardWithName("Main");
    storyboard.registerViewController("settings", [] { return std::make_shared<SettingsTableViewController>(); });
    storyboard.registerViewController("aboutVesk", [] { return std::make_shared<AboutVeskTableViewController>(); });
    storyboard.registerViewController("downloadWebView", [] { return std::make_shared<VeskDownloadWebController>(); });
    storyboard.registerViewController("downloadView", [] { return std::make_shared<VeskDownloadTableViewController>(); });
}

}
