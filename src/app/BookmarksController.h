#pragma once

#include "app/VeskFileCell.h"
#include "model/Bookmarks.h"
#include "platform/uikit/UITableView.h"

#include <memory>
#include <vector>

namespace vesk {

class Utility;
class VeskFile;

// The bookmarked files and folders, in the order they were added. A tap opens the item, a
// swipe offers "Remove" and, for files, "Open as...", the toolbar's trash removes them all.
// The screen follows the store: it reloads whenever its store saves or removes, a listed item
// vanishes, and each time it comes on screen.
class BookmarksController : public platform::UITableViewController, public VeskFileCellDelegate, public BookmarksDelegate, public platform::UIViewControllerPreviewingDelegate {
public:
    using Files = std::vector<std::shared_ptr<VeskFile>>;

    BookmarksController();

    // Outlet of the scene, held weakly: the toolbar holds the item.
    std::shared_ptr<platform::UIBarButtonItem> deleteButton() const { return m_deleteButton.lock(); }
    void setDeleteButton(const std::shared_ptr<platform::UIBarButtonItem>& item) { m_deleteButton = item; }
    const Files& files() const { return m_files; }

    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    // The "Remove all..." confirmation.
    void deleteAll(platform::UIBarButtonItem& sender);
    // Reads the store again; the table reloads only when the list changed.
    void reload();
    void dismiss(platform::UIBarButtonItem& sender);

    int numberOfRowsInSection(platform::UITableView& tableView, int section) override;
    std::shared_ptr<platform::UITableViewCell> cellForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    std::optional<platform::CGFloat> heightForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    std::optional<std::vector<std::shared_ptr<platform::UITableViewRowAction>>> editActionsForRowAtIndexPath(
        platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    // Present so that the platform offers the row actions; changes nothing.
    bool commitEditingStyle(platform::UITableView& tableView, platform::UITableViewCellEditingStyle style, const platform::NSIndexPath& indexPath) override;

    void didChangeBookmarks(const std::shared_ptr<VeskFile>& file, bool remove) override;
    bool didDeleteFile(const std::shared_ptr<VeskFile>& file) override;

    std::shared_ptr<platform::UIViewController> previewingContextViewControllerForLocation(
        platform::UIViewControllerPreviewing& context, platform::CGPoint location) override;
    void previewingContextCommitViewController(platform::UIViewControllerPreviewing& context,
        const std::shared_ptr<platform::UIViewController>& controller) override;

private:
    std::shared_ptr<BookmarksController> self();

    std::shared_ptr<Bookmarks> m_bookmarks;
    Files m_currentFiles;
    Files m_files;
    std::shared_ptr<Utility> m_utility;
    std::weak_ptr<platform::UIBarButtonItem> m_deleteButton;
};

}
