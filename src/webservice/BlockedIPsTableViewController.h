#pragma once

#include "platform/foundation/Value.h"
#include "platform/uikit/UITableView.h"

#include <string>
#include <vector>

namespace vesk {

// "Blocked IPs": the client addresses the web file service refuses, each with its name. The
// list is the service's; the screen shows a copy, sorted by address, and reads it again from
// the service after every change it makes.
class BlockedIPsTableViewController : public platform::UITableViewController {
public:
    BlockedIPsTableViewController();

    // Address -> name.
    const platform::Dictionary& blockedIPs() const { return m_blockedIPs; }
    void setBlockedIPs(platform::Dictionary blockedIPs) { m_blockedIPs = std::move(blockedIPs); }

    void loadView() override;
    void viewDidLoad() override;

    int numberOfSectionsInTableView(platform::UITableView& tableView) override;
    int numberOfRowsInSection(platform::UITableView& tableView, int section) override;
    std::shared_ptr<platform::UITableViewCell> cellForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    std::optional<bool> canEditRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    std::optional<std::vector<std::shared_ptr<platform::UITableViewRowAction>>> editActionsForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    bool commitEditingStyle(platform::UITableView& tableView, platform::UITableViewCellEditingStyle style, const platform::NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;

    // The add button: asks for an address and a name in the "Block IP" alert.
    void addIP();

private:
    void block(const std::string& ip, const std::string& name);
    void unblock(const std::string& address);
    // The addresses in row order.
    std::vector<std::string> addresses() const;

    platform::Dictionary m_blockedIPs;
};

}
