#pragma once

#include "platform/foundation/Value.h"
#include "platform/uikit/UITableView.h"
#include "viewers/VeskFileViewController.h"

#include <optional>
#include <string>
#include <vector>

namespace vesk {

// A property list as a table, one container level per screen. A level knows only its path of
// keys from the root (dictionary keys, or array indexes as decimal text) and reads the file
// again to walk it; a container row opens the next level. The file is never written.
class PlistViewController : public VeskFileViewController, public platform::UITableViewDelegate, public platform::UITableViewDataSource {
public:
    static constexpr std::size_t maximumListBytes = 64u << 20;

    std::shared_ptr<platform::UITableView> tableView() const { return m_tableView.lock(); }
    void setTableView(const std::shared_ptr<platform::UITableView>& table) { m_tableView = table; }
    std::shared_ptr<platform::UIBarButtonItem> backButton() const { return m_backButton.lock(); }
    void setBackButton(const std::shared_ptr<platform::UIBarButtonItem>& item) { m_backButton = item; }
    const std::vector<std::string>& keys() const { return m_keys; }
    void setKeys(std::vector<std::string> keys) { m_keys = std::move(keys); }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    virtual void goBack();
    // The child of the container under the key; none for a missing key, an index that is no
    // decimal number inside the array, or a value that is no container. A level whose path
    // leads nowhere closes with the error banner, its table empty meanwhile.
    std::optional<platform::Value> getObjectFromObject(const std::string& key, const platform::Value& object) const;
    void didReceiveMemoryWarning() override;

    int numberOfRowsInSection(platform::UITableView& tableView, int section) override;
    std::shared_ptr<platform::UITableViewCell> cellForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    virtual std::shared_ptr<platform::UITableViewCell> objectToTableViewCell(const platform::Value& value, const platform::Value& key);

private:
    std::weak_ptr<platform::UITableView> m_tableView;
    std::weak_ptr<platform::UIBarButtonItem> m_backButton;
    platform::Value m_object;
    std::vector<std::string> m_keys;
};

}
