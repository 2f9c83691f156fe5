#pragma once

#include "platform/uikit/UITableView.h"

namespace vesk {

// The list of the downloadable items the browser collected.
class VeskDownloadTableViewController : public platform::UITableViewController { };

}
