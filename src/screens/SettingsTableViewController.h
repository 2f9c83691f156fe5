#pragma once

#include "platform/uikit/UITableView.h"

namespace vesk {

// The settings screen; nothing is set on it before it is presented.
class SettingsTableViewController : public platform::UITableViewController { };

}
