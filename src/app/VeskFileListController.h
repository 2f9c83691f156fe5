#pragma once

#include "app/Utility.h"
#include "model/DirectoryWatcher.h"
#include "platform/uikit/UITableView.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vesk::platform {
class NSUserDefaults;
}

namespace vesk {

class VeskFile;
class VeskFileManager;

// The file list: one folder as a table of its entries. Whoever pushes or previews it sets
// `file` first; a list given no folder shows the root folder "/". It lists in the background,
// reloads only when the listing (names, kinds, permissions, sizes, dates) differs from the rows on screen and follows its folder with a
// directory watcher while on screen. In edit mode rows are selected for the toolbar's "Zip",
// "Copy/Move" and trash; swiped rows offer "Delete", "More" and "Info".
class VeskFileListController : public platform::UITableViewController, public DirectoryWatcherDelegate, public UtilityDelegate, public platform::UIViewControllerPreviewingDelegate {
public:
    using Files = std::vector<std::shared_ptr<VeskFile>>;
    using BarItem = std::shared_ptr<platform::UIBarButtonItem>;

    VeskFileListController();
    ~VeskFileListController() override;

    // Outlets of the scene, held weakly: the toolbar holds the items.
    BarItem editButton() const { return m_editButton.lock(); }
    void setEditButton(const BarItem& item) { m_editButton = item; }
    BarItem documentFolder() const { return m_documentFolder.lock(); }
    void setDocumentFolder(const BarItem& item) { m_documentFolder = item; }
    BarItem homeButton() const { return m_homeButton.lock(); }
    void setHomeButton(const BarItem& item) { m_homeButton = item; }
    BarItem bookmarkButton() const { return m_bookmarkButton.lock(); }
    void setBookmarkButton(const BarItem& item) { m_bookmarkButton = item; }
    BarItem addItemButton() const { return m_addItemButton.lock(); }
    void setAddItemButton(const BarItem& item) { m_addItemButton = item; }
    BarItem settingsButton() const { return m_settingsButton.lock(); }
    void setSettingsButton(const BarItem& item) { m_settingsButton = item; }

    std::shared_ptr<VeskFile> file() const { return m_file; }
    void setFile(std::shared_ptr<VeskFile> file) { m_file = std::move(file); }
    // The rows the data source serves, and the rows the table was last reloaded with; both
    // change on the main thread only.
    const Files& files() const { return m_files; }
    const Files& currentFiles() const { return *m_currentFiles; }
    bool isBookmarks() const { return m_isBookmarks; }
    void setIsBookmarks(bool isBookmarks) { m_isBookmarks = isBookmarks; }
    bool isInEditMode() const { return m_isInEditMode; }
    const Files& selectedFiles() const { return m_selectedFiles; }
    const std::shared_ptr<Utility>& utility() const { return m_utility; }
    const std::vector<BarItem>& editingToolBarItems() const { return m_editingToolBarItems; }
    const std::vector<BarItem>& normalToolBarItems() const { return m_normalToolBarItems; }
    const std::shared_ptr<DirectoryWatcher>& dw() const { return m_dw; }

    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void unloadAllCells(const Files& files);
    // The memory report, for any caller: prints the memory in use and sends "Memory Warning".
    void gotMemoryWarning(const std::string& where);

    int numberOfRowsInSection(platform::UITableView& tableView, int section) override;
    std::shared_ptr<platform::UITableViewCell> cellForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    std::optional<platform::CGFloat> heightForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    void didDeselectRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    // Present so that the platform offers the row actions; changes nothing.
    bool commitEditingStyle(platform::UITableView& tableView, platform::UITableViewCellEditingStyle style, const platform::NSIndexPath& indexPath) override;
    // The edit menu's actions: offered outside edit mode only.
    bool canPerformAction(platform::UITableView& tableView, const std::string& action, const platform::NSIndexPath& indexPath);
    std::optional<bool> canEditRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    std::optional<std::vector<std::shared_ptr<platform::UITableViewRowAction>>> editActionsForRowAtIndexPath(
        platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;

    // Lists the folder in the background; the table reloads only when the listing differs.
    // The completion runs on the main queue afterwards, whether or not the table reloaded.
    void reload(std::function<void()> completion = {});
    void toggleEditMode();
    std::string getTitle() const;
    bool isDocDir() const;
    // The Documents path appears anywhere in the folder's path.
    bool isInDocDir() const;

    // The actions of the toolbars and the Edit button.
    void editButtonAction(platform::UIBarButtonItem& sender);
    void zipSelectedFiles(platform::UIBarButtonItem& sender);
    void copyCutFiles(platform::UIBarButtonItem& sender);
    void deleteFiles(platform::UIBarButtonItem& sender);
    void addItem(platform::UIBarButtonItem& sender);
    void openSettings(platform::UIBarButtonItem& sender);
    void openBookmarks(platform::UIBarButtonItem& sender);
    void openDocuments(platform::UIBarButtonItem& sender);
    void goHome(platform::UIBarButtonItem& sender);

    void shouldOpenFile(const std::shared_ptr<VeskFile>& file);
    bool directoryDidChange(const std::shared_ptr<VeskFile>& folder) override;

    std::shared_ptr<platform::UIViewController> previewingContextViewControllerForLocation(
        platform::UIViewControllerPreviewing& context, platform::CGPoint location) override;
    void previewingContextCommitViewController(platform::UIViewControllerPreviewing& context,
        const std::shared_ptr<platform::UIViewController>& controller) override;

protected:
    // The folder's entries, as the listing worker takes them; runs off the main thread.
    virtual Files listFolder(const std::string& path) const;

private:
    std::shared_ptr<VeskFileListController> self();
    void finishReload(Files listing, const std::shared_ptr<const Files>& comparedWith, bool same, std::uint64_t generation, const std::function<void()>& completion);
    void markSelection();
    void setSelectionTitle();
    void enableToolbarItems(bool enabled);
    std::function<void()> finishCallBack();

    std::weak_ptr<platform::UIBarButtonItem> m_editButton;
    std::weak_ptr<platform::UIBarButtonItem> m_documentFolder;
    std::weak_ptr<platform::UIBarButtonItem> m_homeButton;
    std::weak_ptr<platform::UIBarButtonItem> m_bookmarkButton;
    std::weak_ptr<platform::UIBarButtonItem> m_addItemButton;
    std::weak_ptr<platform::UIBarButtonItem> m_settingsButton;
    std::shared_ptr<VeskFile> m_file;
    Files m_files;
    // What the rows show; replaced whole, never changed in place, so a worker may compare with it.
    std::shared_ptr<const Files> m_currentFiles = std::make_shared<const Files>();
    bool m_isBookmarks = false;
    bool m_isInEditMode = false;
    Files m_selectedFiles;
    std::shared_ptr<Utility> m_utility;
    std::vector<BarItem> m_editingToolBarItems;
    std::vector<BarItem> m_normalToolBarItems;
    VeskFileManager& m_fm;
    std::shared_ptr<DirectoryWatcher> m_dw;
    // Each listing is numbered when it starts; one that ends after a newer one was shown is
    // dropped, so the rows never go back to an older state of the folder.
    std::uint64_t m_startedListings = 0;
    std::uint64_t m_shownListing = 0;
    // Counts the entries into edit mode, so an operation's finish knows whether it still ends its own.
    std::uint64_t m_editingSession = 0;
};

}
