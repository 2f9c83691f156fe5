#pragma once

#include "platform/uikit/UITableView.h"

namespace vesk {

// "Webservices": documents the JSON web services of the built-in server, one section per
// service with its path, method, example, parameters, response and remark. Fixed texts only.
class HTTPServerWebservicesController : public platform::UITableViewController {
public:
    void loadView() override;
    void viewDidLoad() override;

    int numberOfSectionsInTableView(platform::UITableView& tableView) override;
    int numberOfRowsInSection(platform::UITableView& tableView, int section) override;
    std::optional<std::string> titleForHeaderInSection(platform::UITableView& tableView, int section) override;
    std::shared_ptr<platform::UITableViewCell> cellForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
};

}
