#pragma once

#include "platform/foundation/NSUserDefaults.h"
#include "platform/graphics/UIColor.h"
#include "platform/uikit/UITableView.h"

#include <memory>
#include <string>

namespace vesk {

class ColorTableViewCellDelegate {
public:
    virtual ~ColorTableViewCellDelegate() = default;
    virtual void colorDidChange(const std::shared_ptr<platform::UIColor>& color) = 0;
};

// The colour row of the icon editor; it offers no colour yet.
class ColorTableViewCell : public platform::UITableViewCell {
public:
    using UITableViewCell::UITableViewCell;
    void setup() { }
};

// "Edit icon": the frame of an editor for the icon colour of one file or folder, a large
// preview of its icon above a colour row. Whoever shows it sets `path` first.
class EditIconTableViewController : public platform::UITableViewController, public ColorTableViewCellDelegate {
public:
    EditIconTableViewController();

    const std::string& path() const { return m_path; }
    void setPath(std::string path) { m_path = std::move(path); }
    const std::shared_ptr<platform::NSUserDefaults>& defaults() const { return m_defaults; }

    void viewDidLoad() override;
    void didReceiveMemoryWarning() override;
    int numberOfSectionsInTableView(platform::UITableView& tableView) override;
    int numberOfRowsInSection(platform::UITableView& tableView, int section) override;
    std::shared_ptr<platform::UITableViewCell> cellForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    std::optional<platform::CGFloat> heightForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    void colorDidChange(const std::shared_ptr<platform::UIColor>& color) override;

private:
    std::string m_path;
    std::shared_ptr<platform::NSUserDefaults> m_defaults;
};

}
