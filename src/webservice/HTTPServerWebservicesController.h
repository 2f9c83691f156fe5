#pragma once

#include "platform/uikit/UITableView.h"

namespace vesk {

// The screen that documents the web services.
class HTTPServerWebservicesController : public platform::UITableViewController { };

}
