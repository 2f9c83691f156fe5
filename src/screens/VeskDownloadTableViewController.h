#pragma once

#include "platform/foundation/NSURL.h"
#include "platform/uikit/UITableView.h"

#include <optional>
#include <string>
#include <vector>

namespace vesk {

// One resource a page fetched, as the URL cache reported it.
struct DownloadableItem {
    std::string MIMEType;
    platform::NSURL URL;
};

// The list of the downloadable items the browser collected: one row per item, in report
// order, its file name above its MIME type. Shows the snapshot it was given.
class VeskDownloadTableViewController : public platform::UITableViewController {
public:
    // Unset, the list reads as empty.
    const std::optional<std::vector<DownloadableItem>>& downloadableFiles() const { return m_downloadableFiles; }
    void setDownloadableFiles(std::optional<std::vector<DownloadableItem>> files) { m_downloadableFiles = std::move(files); }
    const std::string& path() const { return m_path; }
    void setPath(std::string path) { m_path = std::move(path); }

    void dismiss(platform::UIBarButtonItem& sender);
    void viewDidLoad() override;
    void didReceiveMemoryWarning() override;
    int numberOfSectionsInTableView(platform::UITableView& tableView) override;
    int numberOfRowsInSection(platform::UITableView& tableView, int section) override;
    std::shared_ptr<platform::UITableViewCell> cellForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;

private:
    std::optional<std::vector<DownloadableItem>> m_downloadableFiles;
    std::string m_path;
};

}
