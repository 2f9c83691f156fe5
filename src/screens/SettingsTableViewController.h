#pragma once

#include "platform/uikit/UITableView.h"
#include "screens/VeskSegmentedCell.h"
#include "screens/VeskSwitchCell.h"

#include <memory>

namespace vesk::platform {
class NSUserDefaults;
}

namespace vesk {

class Utility;

// The settings: hidden files and the web server switched on and off, the web-services and
// blocked-IP screens, clearing the clipboard, About. Every row reads the user defaults when it
// is built and every switch writes them at once; the screen keeps no copy.
class SettingsTableViewController : public platform::UITableViewController, public VeskSwitchCellDelegate, public VeskSegmentedCellDelegate {
public:
    SettingsTableViewController();
    ~SettingsTableViewController() override;

    void loadView() override;
    void viewDidLoad() override;
    void viewDidDisappear(bool animated) override;

    int numberOfSectionsInTableView(platform::UITableView& tableView) override;
    std::optional<std::string> titleForHeaderInSection(platform::UITableView& tableView, int section) override;
    int numberOfRowsInSection(platform::UITableView& tableView, int section) override;
    std::shared_ptr<platform::UITableViewCell> cellForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;

    // The "Done" button: closes the settings.
    void done();
    void changedSwitch(bool isOn, VeskSwitchCell& cell) override;

private:
    const std::unique_ptr<Utility> m_utility;
    const std::shared_ptr<platform::NSUserDefaults> m_userDefaults;
};

}
