#include "screens/EditIconTableViewController.h"

#include "app/PreviewTableViewCell.h"

namespace vesk {

using namespace platform;

EditIconTableViewController::EditIconTableViewController()
    : m_defaults(NSUserDefaults::standardUserDefaults())
{
}

void EditIconTableViewController::viewDidLoad()
{
    UITableViewController::viewDidLoad();
    setTitle("Edit icon");
}

void EditIconTableViewController::didReceiveMemoryWarning()
{
    UITableViewController::didReceiveMemoryWarning();
}

int EditIconTableViewController::numberOfSectionsInTableView(UITableView&)
{
    return 2;
}

int EditIconTableViewController::numberOfRowsInSection(UITableView&, int)
{
    return 1;
}

std::shared_ptr<UITableViewCell> EditIconTableViewController::cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    if (indexPath.section != 0)
        return tableView.dequeueReusableCellWithIdentifier("colorCell");
    auto cell = tableView.dequeueReusableCellWithIdentifier("previewCell");
    if (auto preview = std::dynamic_pointer_cast<PreviewTableViewCell>(cell)) {
        preview->setPath(m_path);
        preview->setup();
    }
    return cell;
}

void EditIconTableViewController::didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    tableView.deselectRowAtIndexPath(indexPath, true);
}

std::optional<CGFloat> EditIconTableViewController::heightForRowAtIndexPath(UITableView&, const NSIndexPath& indexPath)
{
    return indexPath.section == 0 ? 200 : 44;
}

void EditIconTableViewController::colorDidChange(const std::shared_ptr<UIColor>&)
{
}

}
