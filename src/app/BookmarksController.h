#pragma once

#include "platform/uikit/UITableView.h"

namespace vesk {

// The bookmarks screen.
class BookmarksController : public platform::UITableViewController { };

}
