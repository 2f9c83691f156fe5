#include "screens/SettingsScreens.h"

#include "platform/uikit/UIStoryboard.h"
#include "screens/SettingsTableViewController.h"

namespace vesk {

using platform::UIStoryboard;

void registerSettingsScreens()
{
    UIStoryboard::storyboardWithName("Main").registerViewController("settings", [] { return std::make_shared<SettingsTableViewController>(); });
}

}
