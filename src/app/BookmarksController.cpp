#include "app/BookmarksController.h"

#include "app/Utility.h"
#include "app/VeskFileListController.h"
#include "assets/VeskAssets.h"
#include "model/VeskFile.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIStoryboard.h"

#include <algorithm>

namespace vesk {

using namespace platform;

BookmarksController::BookmarksController()
    : m_bookmarks(std::make_shared<Bookmarks>())
    , m_utility(std::make_shared<Utility>())
{
}

std::shared_ptr<BookmarksController> BookmarksController::self()
{
    return std::static_pointer_cast<BookmarksController>(shared_from_this());
}

void BookmarksController::viewDidLoad()
{
    UITableViewController::viewDidLoad();
    setTitle("Bookmarks");
    m_bookmarks->setDelegate(self());
    m_bookmarks->setup();
    m_utility->setup();
    reload();
    if (auto navigation = navigationController())
        navigation->setToolbarHidden(false, false);
    if (forceTouchCapability() == UIForceTouchCapability::Available)
        registerForPreviewingWithDelegate(self(), view());
}

void BookmarksController::viewDidAppear(bool animated)
{
    UITableViewController::viewDidAppear(animated);
    reload();
    if (auto button = deleteButton())
        button->setEnabled(!m_files.empty());
}

void BookmarksController::viewDidDisappear(bool animated)
{
    UITableViewController::viewDidDisappear(animated);
    unloadFileCells(*tableView(), m_files.size());
}

void BookmarksController::reload()
{
    m_files = m_bookmarks->reloadBookmarks();
    bool same = std::equal(m_files.begin(), m_files.end(), m_currentFiles.begin(), m_currentFiles.end(),
        [](auto& a, auto& b) { return *a == *b; });
    if (!same) {
        if (m_currentFiles.empty())
            tableView()->reloadData();
        else
            tableView()->reloadSections({ 0 }, UITableViewRowAnimation::Automatic);
    }
    m_currentFiles = m_files;
}

void BookmarksController::dismiss(UIBarButtonItem&)
{
    dismissViewControllerAnimated(true);
}

void BookmarksController::deleteAll(UIBarButtonItem& sender)
{
    auto sheet = UIAlertController::alertControllerWithTitle(localized("Remove all..."), localized("This can't be reversed!"), UIAlertControllerStyle::ActionSheet);
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, nullptr));
    std::weak_ptr<BookmarksController> weak = self();
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Remove all"), UIAlertActionStyle::Destructive, [weak](UIAlertAction&) {
        auto screen = weak.lock();
        if (!screen)
            return;
        screen->m_bookmarks->clear();
        VeskNotificationManager::showNotification(localized("All bookmarks have been deleted"), NotificationType::Success, nullptr, nullptr, 3.0);
    }));
    sheet->popoverPresentationController().setBarButtonItem(sender.shared_from_this());
    presentViewController(sheet, true);
}

int BookmarksController::numberOfRowsInSection(UITableView&, int)
{
    return static_cast<int>(m_files.size());
}

std::shared_ptr<UITableViewCell> BookmarksController::cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    return fileCellForRow(tableView, m_files, indexPath, self());
}

std::optional<CGFloat> BookmarksController::heightForRowAtIndexPath(UITableView&, const NSIndexPath&)
{
    return 52.0;
}

void BookmarksController::didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    auto cell = fileCellAt(tableView, indexPath);
    if (!cell)
        return;
    auto item = cell->file();
    tableView.deselectRowAtIndexPath(indexPath, true);
    if (!item->isReadable()) {
        auto alert = UIAlertController::alertControllerWithTitle(localized("Readingerror"), localized("This file or directory is not readable!"), UIAlertControllerStyle::Alert);
        alert->addAction(UIAlertAction::actionWithTitle(localized("OK"), UIAlertActionStyle::Cancel, nullptr));
        presentViewController(alert, true);
    } else if (item->isDir()) {
        auto list = UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList");
        auto navigation = navigationController();
        if (!list || !navigation)
            return;
        list->setFile(item);
        list->setIsBookmarks(true);
        navigation->pushViewController(list, true);
    } else {
        m_utility->openItem(self(), item, tableView.rectForRowAtIndexPath(indexPath));
    }
}

std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> BookmarksController::editActionsForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    std::vector<std::shared_ptr<UITableViewRowAction>> actions;
    auto cell = fileCellAt(tableView, indexPath);
    if (!cell)
        return actions;
    auto item = cell->file();
    auto rect = tableView.rectForRowAtIndexPath(indexPath);
    std::weak_ptr<BookmarksController> weak = self();
    actions.push_back(UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Default, localized("Remove"),
        [weak, item](UITableViewRowAction&, const NSIndexPath&) {
            auto screen = weak.lock();
            if (!screen)
                return;
            screen->tableView()->setEditing(false, true);
            if (screen->m_bookmarks->remove(item)) {
                VeskNotificationManager::showNotification(localized("\"" + item->name() + "\" has been removed from bookmarks"),
                    NotificationType::Info, nullptr, nullptr, 3.0);
            }
            screen->reload();
        }));
    if (!item->isDir()) {
        auto openAs = UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Default, localized("Open as..."),
            [weak, item, rect](UITableViewRowAction&, const NSIndexPath&) {
                if (auto screen = weak.lock())
                    screen->m_utility->openAs(screen, rect, item);
            });
        openAs->setBackgroundColor(VeskAssets::flatGreen());
        actions.push_back(openAs);
    }
    return actions;
}

bool BookmarksController::commitEditingStyle(UITableView&, UITableViewCellEditingStyle, const NSIndexPath&)
{
    return true;
}

void BookmarksController::didChangeBookmarks(const std::shared_ptr<VeskFile>&, bool)
{
    reload();
}

bool BookmarksController::didDeleteFile(const std::shared_ptr<VeskFile>&)
{
    reload();
    return true;
}

std::shared_ptr<UIViewController> BookmarksController::previewingContextViewControllerForLocation(UIViewControllerPreviewing& context, CGPoint location)
{
    auto table = tableView();
    std::shared_ptr<VeskFileCell> cell;
    if (auto row = table->indexPathForRowAtPoint(location))
        cell = fileCellAt(*table, *row);
    return filePreview(*m_utility, cell, context);
}

void BookmarksController::previewingContextCommitViewController(UIViewControllerPreviewing&, const std::shared_ptr<UIViewController>& controller)
{
    showViewController(controller);
}

}
