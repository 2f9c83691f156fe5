#pragma once

#include "platform/uikit/UITableView.h"

namespace vesk {

// The About screen, pushed from the settings.
class AboutVeskTableViewController : public platform::UITableViewController { };

}
