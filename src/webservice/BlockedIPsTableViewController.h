#pragma once

#include "platform/uikit/UITableView.h"

namespace vesk {

// The screen that lists and edits the blocked client addresses.
class BlockedIPsTableViewController : public platform::UITableViewController { };

}
