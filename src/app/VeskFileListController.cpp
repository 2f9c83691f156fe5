#include "app/VeskFileListController.h"

#include "app/VeskFileCell.h"
#include "assets/VeskAssets.h"
#include "model/PlatformUtilities.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIToolbar.h"
#include "screens/SettingsTableViewController.h"
#include "sdk/Analytics.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace vesk {

using namespace platform;

namespace {

    constexpr CGFloat rowHeight = 52;

    // Where a tapped toolbar item sits in the list's own view; the popover of its sheet points
    // there on a pad. The items are laid out in the navigation controller's toolbar.
    CGRect anchorOf(VeskFileListController& list, const UIBarButtonItem& item)
    {
        auto navigation = list.navigationController();
        if (!navigation)
            return item.frame();
        auto toolbar = navigation->toolbar();
        return toolbar->convertRectToView(item.frame(), list.view().get());
    }

    // The same entries in the same order, each of the same kind, permissions, size and date.
    bool sameListing(const VeskFileListController::Files& a, const VeskFileListController::Files& b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](auto& x, auto& y) { return *x == *y && x->listedState() == y->listedState(); });
    }

    // Letting go of a listing of many entries takes a while: a worker does it.
    template<class... Lists>
    void releaseInBackground(Lists&&... lists)
    {
        DispatchQueue::global(QualityOfService::Background).async([held = std::make_shared<std::tuple<std::decay_t<Lists>...>>(std::move(lists)...)] {});
    }
}

VeskFileListController::VeskFileListController()
    : m_utility(std::make_shared<Utility>())
    , m_fm(VeskFileManager::defaultManager())
{
}

VeskFileListController::~VeskFileListController()
{
    // A list that never came on screen still has its first check armed, which would keep the
    // watcher polling for good.
    if (m_dw)
        m_dw->cancel();
}

std::shared_ptr<VeskFileListController> VeskFileListController::self()
{
    return std::static_pointer_cast<VeskFileListController>(shared_from_this());
}

void VeskFileListController::viewDidLoad()
{
    UITableViewController::viewDidLoad();
    if (!m_file)
        m_file = VeskFile::initWithPath(m_fm.homeDir());
    m_dw = std::make_shared<DirectoryWatcher>();
    m_dw->setup(m_file);
    m_dw->setDelegate(self());
    if (auto navigation = navigationController())
        navigation->setToolbarHidden(false, false);
    setTitle(getTitle());
    m_utility->setDelegate(self());
    m_utility->setup();
    reload();
    auto table = tableView();
    table->setAllowsMultipleSelectionDuringEditing(true);
    table->setAllowsSelectionDuringEditing(true);
    m_normalToolBarItems = toolbarItems();

    auto list = self();
    auto space = std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::FlexibleSpace, nullptr);
    auto zip = std::make_shared<UIBarButtonItem>(localized("Zip"), UIBarButtonItemStyle::Plain, actionOf(list, &VeskFileListController::zipSelectedFiles));
    auto copyMove = std::make_shared<UIBarButtonItem>(localized("Copy/Move"), UIBarButtonItemStyle::Plain, actionOf(list, &VeskFileListController::copyCutFiles));
    auto trash = std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::Trash, actionOf(list, &VeskFileListController::deleteFiles));
    for (auto& item : { zip, copyMove, trash })
        item->setEnabled(false);
    if (m_file->isWritable())
        m_editingToolBarItems.insert(m_editingToolBarItems.end(), { zip, space });
    m_editingToolBarItems.insert(m_editingToolBarItems.end(), { copyMove, space, trash });

    if (auto edit = navigationItem().rightBarButtonItem())
        edit->setTitle(localized("Edit"));
    auto path = m_file->path();
    if (auto home = homeButton())
        home->setEnabled(path != m_fm.homeDir());
    if (auto bookmarks = bookmarkButton())
        bookmarks->setEnabled(!m_isBookmarks);
    if (auto documents = documentFolder())
        documents->setEnabled(!m_isBookmarks && !isInDocDir());
    if (auto add = addItemButton())
        add->setEnabled(m_file->isWritable());
    if (forceTouchCapability() == UIForceTouchCapability::Available)
        registerForPreviewingWithDelegate(self(), view());
}

void VeskFileListController::viewDidAppear(bool animated)
{
    UITableViewController::viewDidAppear(animated);
    m_dw->start();
}

void VeskFileListController::viewDidDisappear(bool animated)
{
    m_dw->stop();
    unloadAllCells(m_files);
    UITableViewController::viewDidDisappear(animated);
}

void VeskFileListController::unloadAllCells(const Files& files)
{
    unloadFileCells(*tableView(), files.size());
}

void VeskFileListController::gotMemoryWarning(const std::string& where)
{
    didReceiveMemoryWarning();
    auto ram = reportMemory();
    std::printf("==============================\n");
    std::fflush(stdout);
    debugLog("Got memory warning from file: " + where, __FILE__, __LINE__, __func__);
    Analytics::logCustomEventWithName("Memory Warning", { { "File", where }, { "RAM", static_cast<std::uint64_t>(ram) } });
}

int VeskFileListController::numberOfRowsInSection(UITableView&, int)
{
    return static_cast<int>(m_files.size());
}

std::shared_ptr<UITableViewCell> VeskFileListController::cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    return fileCellForRow(tableView, m_files, indexPath);
}

std::optional<CGFloat> VeskFileListController::heightForRowAtIndexPath(UITableView&, const NSIndexPath&)
{
    return rowHeight;
}

std::optional<bool> VeskFileListController::canEditRowAtIndexPath(UITableView&, const NSIndexPath& indexPath)
{
    if (indexPath.row < 0 || indexPath.row >= static_cast<int>(m_files.size()))
        return false;
    auto& item = m_files[static_cast<std::size_t>(indexPath.row)];
    // A link that leads nowhere still has its own actions.
    return item->isReadable() || VeskFileManager::defaultManager().isDanglingLinkAtPath(item->path());
}

bool VeskFileListController::commitEditingStyle(UITableView&, UITableViewCellEditingStyle, const NSIndexPath&)
{
    return true;
}

bool VeskFileListController::canPerformAction(UITableView&, const std::string&, const NSIndexPath&)
{
    return !m_isInEditMode;
}

void VeskFileListController::reload(std::function<void()> completion)
{
    // The folder and the mode are read here, on the main thread, where they change.
    auto generation = ++m_startedListings;
    DispatchQueue::global(QualityOfService::UserInitiated).async([list = self(), folder = m_file, editMode = m_isInEditMode, shown = m_currentFiles, generation, completion = std::move(completion)]() mutable {
        auto listing = list->listFolder(folder->path());
        if (editMode)
            std::erase_if(listing, [](auto& entry) { return !entry->isReadable(); });
        // Comparing many entries takes a while: done here, against the rows shown when asked.
        bool same = sameListing(listing, *shown);
        // The screen goes with the block, so that its last owner never lets it go off the main thread.
        DispatchQueue::main().async([list = std::move(list), listing = std::move(listing), shown = std::move(shown), same, generation, completion = std::move(completion)]() mutable {
            list->finishReload(std::move(listing), shown, same, generation, completion);
            releaseInBackground(std::move(shown));
        });
    });
}

VeskFileListController::Files VeskFileListController::listFolder(const std::string& path) const
{
    return m_fm.getFiles(path);
}

// Main thread. `same` compares the listing with `comparedWith`, the rows shown when it was asked for.
void VeskFileListController::finishReload(Files listing, const std::shared_ptr<const Files>& comparedWith, bool same, std::uint64_t generation, const std::function<void()>& completion)
{
    bool stale = generation < m_shownListing;
    if (!stale)
        m_shownListing = generation;
    if (!stale && comparedWith != m_currentFiles)
        same = sameListing(listing, *m_currentFiles);
    if (stale) {
        debugLog("Dropping an older listing", __FILE__, __LINE__, __func__);
    } else if (same) {
        debugLog("No need to reload the tableView!", __FILE__, __LINE__, __func__);
    } else {
        releaseInBackground(std::move(m_files), std::move(m_currentFiles));
        m_files = std::move(listing);
        auto table = tableView();
        if (!m_currentFiles || m_currentFiles->empty()) {
            table->reloadData();
            debugLog("Reloading tableView!", __FILE__, __LINE__, __func__);
        } else {
            table->reloadSections({ 0 }, UITableViewRowAnimation::Automatic);
            debugLog("Reloading sections in TableView with animation!", __FILE__, __LINE__, __func__);
        }
        m_currentFiles = std::make_shared<const Files>(m_files);
        markSelection();
    }
    releaseInBackground(std::move(listing));
    if (completion)
        completion();
}

// A reload clears the table's marks: the selection follows its items to their new rows and
// loses those that have gone, and the title and toolbar say what is left.
void VeskFileListController::markSelection()
{
    auto table = tableView();
    if (m_selectedFiles.empty() || !m_isInEditMode || !table->isEditing())
        return;
    Files kept;
    for (auto& selected : m_selectedFiles) {
        auto found = std::find_if(m_files.begin(), m_files.end(), [&](auto& entry) { return *entry == *selected; });
        if (found == m_files.end())
            continue;
        kept.push_back(*found);
        table->selectRowAtIndexPath(NSIndexPath { 0, static_cast<int>(found - m_files.begin()) }, false, UITableViewScrollPosition::None);
    }
    m_selectedFiles = std::move(kept);
    setSelectionTitle();
    enableToolbarItems(!m_selectedFiles.empty());
}

void VeskFileListController::toggleEditMode()
{
    m_isInEditMode = !m_isInEditMode;
    if (m_isInEditMode)
        ++m_editingSession;
    std::weak_ptr<VeskFileListController> weak = self();
    reload([weak] {
        auto list = weak.lock();
        if (!list)
            return;
        bool editing = list->m_isInEditMode;
        list->m_selectedFiles.clear();
        list->tableView()->setEditing(editing, true);
        list->navigationItem().setHidesBackButton(editing);
        auto navigation = list->navigationController();
        auto edit = list->navigationItem().rightBarButtonItem();
        if (navigation)
            navigation->setToolbarHidden(true, true);
        list->setToolbarItems(editing ? list->m_editingToolBarItems : list->m_normalToolBarItems, true);
        if (navigation)
            navigation->setToolbarHidden(false, true);
        if (edit)
            edit->setTitle(localized(editing ? "Done" : "Edit"));
        if (editing) {
            list->navigationItem().setPrompt(list->getTitle());
            list->setTitle(localized("None selected"));
            list->enableToolbarItems(false);
        } else {
            list->setTitle(list->getTitle());
            list->navigationItem().setPrompt(std::nullopt);
        }
    });
}

std::string VeskFileListController::getTitle() const
{
    if (isDocDir())
        return localized("Documents");
    // A folder below Documents is named from there, as if Documents stood at the root: where
    // the app's home lies on this machine is no part of the name.
    auto path = m_file->path();
    if (isInDocDir())
        return "/" + localized("Documents") + path.substr(m_fm.getDocumentDirectory().size());
    return path;
}

bool VeskFileListController::isDocDir() const
{
    return m_file->path() == m_fm.getDocumentDirectory();
}

// The Documents folder or a folder below it; a folder whose path merely holds its path (a
// "Documents2" beside it, a copy of the home elsewhere) is neither.
bool VeskFileListController::isInDocDir() const
{
    auto path = m_file->path();
    auto documents = m_fm.getDocumentDirectory();
    return path.starts_with(documents) && (path.size() == documents.size() || path[documents.size()] == '/');
}

void VeskFileListController::enableToolbarItems(bool enabled)
{
    for (auto& item : toolbarItems())
        item->setEnabled(enabled);
}

std::function<void()> VeskFileListController::finishCallBack()
{
    // An operation that ends after the person left edit mode (or left and came back) must not
    // switch the screen: it only ends the edit mode it was started from.
    std::weak_ptr<VeskFileListController> weak = self();
    return [weak, editing = m_editingSession] {
        if (auto list = weak.lock(); list && list->m_isInEditMode && list->m_editingSession == editing)
            list->toggleEditMode();
    };
}

void VeskFileListController::editButtonAction(UIBarButtonItem&)
{
    toggleEditMode();
}

void VeskFileListController::zipSelectedFiles(UIBarButtonItem& sender)
{
    // Folders go whole, with their tree: the zip expands them itself.
    std::vector<std::string> paths;
    for (auto& selected : m_selectedFiles)
        paths.push_back(selected->path());
    auto target = stringByAppendingPathComponent(m_file->path(), "Archive.zip");
    m_utility->zipContent(target, paths, self(), anchorOf(*this, sender), finishCallBack());
}

void VeskFileListController::copyCutFiles(UIBarButtonItem&)
{
    m_utility->copyCutContent(m_selectedFiles, self(), finishCallBack());
}

void VeskFileListController::deleteFiles(UIBarButtonItem& sender)
{
    m_utility->deleteFile(self(), m_selectedFiles, anchorOf(*this, sender), finishCallBack());
}

void VeskFileListController::addItem(UIBarButtonItem& sender)
{
    m_utility->addFileOrDir(m_file->path(), self(), anchorOf(*this, sender));
}

void VeskFileListController::openSettings(UIBarButtonItem&)
{
    auto settings = UIStoryboard::storyboardWithName("Main").instantiate<SettingsTableViewController>("settings");
    if (!settings)
        return;
    auto navigation = UINavigationController::initWithRootViewController(settings);
    navigation->setModalPresentationStyle(m_utility->isIpad() ? UIModalPresentationStyle::FormSheet : UIModalPresentationStyle::FullScreen);
    presentViewController(navigation, true);
}

void VeskFileListController::openBookmarks(UIBarButtonItem&)
{
    m_utility->openBookmarks();
}

void VeskFileListController::openDocuments(UIBarButtonItem&)
{
    auto documents = UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList");
    auto navigation = navigationController();
    if (!documents || !navigation)
        return;
    documents->setFile(VeskFile::initWithPath(m_fm.getDocumentDirectory()));
    navigation->pushViewController(documents, true);
}

void VeskFileListController::goHome(UIBarButtonItem&)
{
    if (auto navigation = navigationController())
        navigation->popToRootViewControllerAnimated(true);
}

void VeskFileListController::setSelectionTitle()
{
    if (m_selectedFiles.empty())
        setTitle(localized("None selected"));
    else
        setTitle(localizedFormat("%i selected", { static_cast<std::int64_t>(m_selectedFiles.size()) }));
}

void VeskFileListController::didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    auto cell = fileCellAt(tableView, indexPath);
    if (!cell)
        return;
    reportMemory();
    auto item = cell->file();
    if (m_isInEditMode) {
        if (cell->isMultiSelectable()) {
            debugLog("Adding: \"" + cell->fileTitle()->text().value_or("") + "\"", __FILE__, __LINE__, __func__);
            // An item is selected once, however its row was marked.
            if (std::none_of(m_selectedFiles.begin(), m_selectedFiles.end(), [&](auto& selected) { return *selected == *item; }))
                m_selectedFiles.push_back(item);
            setSelectionTitle();
            enableToolbarItems(true);
        } else {
            tableView.deselectRowAtIndexPath(indexPath, true);
            debugLog("\"" + cell->fileTitle()->text().value_or("") + "\" can't be added", __FILE__, __LINE__, __func__);
        }
        return;
    }
    tableView.deselectRowAtIndexPath(indexPath, true);
    if (item->isDir() && item->isReadable()) {
        auto list = UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList");
        auto navigation = navigationController();
        if (!list || !navigation)
            return;
        list->setFile(item);
        if (m_isBookmarks)
            list->setIsBookmarks(true);
        navigation->pushViewController(list, true);
    } else if (!item->isReadable()) {
        VeskNotificationManager::showNotification(localized("You don't have permissions to view this directory or file"),
            NotificationType::Error, nullptr, nullptr, 3.0);
    } else {
        shouldOpenFile(item);
    }
}

void VeskFileListController::didDeselectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    auto cell = std::dynamic_pointer_cast<VeskFileCell>(tableView.cellForRowAtIndexPath(indexPath));
    if (!cell || !m_isInEditMode || !cell->isMultiSelectable())
        return;
    auto item = cell->file();
    auto found = std::find_if(m_selectedFiles.begin(), m_selectedFiles.end(), [&](auto& selected) { return *selected == *item; });
    if (found == m_selectedFiles.end())
        return;
    debugLog("Removing: \"" + cell->fileTitle()->text().value_or("") + "\"", __FILE__, __LINE__, __func__);
    m_selectedFiles.erase(found);
    tableView.deselectRowAtIndexPath(indexPath, true);
    setSelectionTitle();
    if (m_selectedFiles.empty())
        enableToolbarItems(false);
}

void VeskFileListController::shouldOpenFile(const std::shared_ptr<VeskFile>& file)
{
    debugLog("Wanna open file at path: " + file->name(), __FILE__, __LINE__, __func__);
    auto found = std::find_if(m_files.begin(), m_files.end(), [&](auto& entry) { return *entry == *file; });
    CGRect rect {};
    if (found != m_files.end())
        rect = tableView()->rectForRowAtIndexPath({ 0, static_cast<int>(found - m_files.begin()) });
    m_utility->openItem(self(), file, rect);
}

std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> VeskFileListController::editActionsForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    using Actions = std::vector<std::shared_ptr<UITableViewRowAction>>;
    auto cell = fileCellAt(tableView, indexPath);
    if (!cell)
        return Actions {};
    auto item = cell->file();
    auto path = item->path();
    auto rect = tableView.rectForRowAtIndexPath(indexPath);
    if (m_fm.isVeskDownloadFileAtPath(path)) {
        auto cancel = UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Default, localized("Cancel"),
            [item](UITableViewRowAction&, const NSIndexPath&) {
                // The download itself is not stopped here; only its placeholder goes.
                VeskFileManager::defaultManager().getTaskIDFromVeskDownloadFile(item->path());
                item->deleteFile();
            });
        return Actions { cancel };
    }
    std::weak_ptr<VeskFileListController> weak = self();
    auto handler = [weak, item, rect](auto operation) {
        return [weak, item, rect, operation](UITableViewRowAction&, const NSIndexPath&) {
            auto list = weak.lock();
            if (!list)
                return;
            list->tableView()->setEditing(false, true);
            operation(*list, item, rect);
        };
    };
    Actions actions;
    auto& files = NSFileManager::defaultManager();
    if (files.isDeletableFileAtPath(path)) {
        actions.push_back(UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Default, localized("Delete"),
            handler([](VeskFileListController& list, const std::shared_ptr<VeskFile>& file, CGRect at) {
                list.m_utility->deleteFile(list.self(), { file }, at);
            })));
    }
    auto more = UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Default, localized("More"),
        handler([](VeskFileListController& list, const std::shared_ptr<VeskFile>& file, CGRect at) {
            list.m_utility->shareFile(list.self(), at, { file });
        }));
    more->setBackgroundColor(UIColor::lightGrayColor());
    actions.push_back(more);
    if (files.isReadableFileAtPath(path)) {
        auto info = UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Default, localized("Info"),
            handler([](VeskFileListController& list, const std::shared_ptr<VeskFile>& file, CGRect) {
                list.m_utility->showInfo(list.self(), file);
            }));
        info->setBackgroundColor(VeskAssets::flatBlue());
        actions.push_back(info);
    }
    return actions;
}

bool VeskFileListController::directoryDidChange(const std::shared_ptr<VeskFile>&)
{
    debugLog("Directory did change", __FILE__, __LINE__, __func__);
    reload();
    return true;
}

std::shared_ptr<UIViewController> VeskFileListController::previewingContextViewControllerForLocation(UIViewControllerPreviewing& context, CGPoint location)
{
    auto table = tableView();
    std::shared_ptr<VeskFileCell> cell;
    if (!m_isInEditMode) {
        if (auto row = table->indexPathForRowAtPoint(location))
            cell = fileCellAt(*table, *row);
    }
    return filePreview(*m_utility, cell, context);
}

void VeskFileListController::previewingContextCommitViewController(UIViewControllerPreviewing&, const std::shared_ptr<UIViewController>& controller)
{
    showViewController(controller);
}

}
