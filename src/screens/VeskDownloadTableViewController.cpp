#include "screens/VeskDownloadTableViewController.h"

#include "model/VeskLocalizer.h"
#include "platform/foundation/NSString.h"

namespace vesk {

using namespace platform;

void VeskDownloadTableViewController::dismiss(UIBarButtonItem&)
{
    dismissViewControllerAnimated(true);
}

void VeskDownloadTableViewController::viewDidLoad()
{
    UITableViewController::viewDidLoad();
    setTitle(localized("Downloadable content"));
}

void VeskDownloadTableViewController::didReceiveMemoryWarning()
{
    UITableViewController::didReceiveMemoryWarning();
}

int VeskDownloadTableViewController::numberOfSectionsInTableView(UITableView&)
{
    return 1;
}

int VeskDownloadTableViewController::numberOfRowsInSection(UITableView&, int)
{
    return m_downloadableFiles ? static_cast<int>(m_downloadableFiles->size()) : 0;
}

std::shared_ptr<UITableViewCell> VeskDownloadTableViewController::cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    auto cell = tableView.dequeueReusableCellWithIdentifier("dlCell", indexPath);
    if (!cell || !m_downloadableFiles || indexPath.row < 0 || indexPath.row >= static_cast<int>(m_downloadableFiles->size()))
        return cell;
    auto& item = (*m_downloadableFiles)[static_cast<std::size_t>(indexPath.row)];
    // The name from the whole address, so that a query stays part of it.
    if (auto label = cell->textLabel())
        label->setText(lastPathComponent(item.URL.absoluteString()));
    if (auto label = cell->detailTextLabel())
        label->setText(item.MIMEType);
    return cell;
}

void VeskDownloadTableViewController::didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    tableView.deselectRowAtIndexPath(indexPath, true);
}

}
