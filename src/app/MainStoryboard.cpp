#include "app/MainStoryboard.h"

#include "app/BookmarksController.h"
#include "app/PreviewTableViewCell.h"
#include "app/VeskButtonCell.h"
#include "app/VeskFileCell.h"
#include "app/VeskFileListController.h"
#include "assets/VeskAssets.h"
#include "platform/uikit/UIStoryboard.h"
#include "screens/DownloadAboutScreens.h"
#include "screens/SettingsScreens.h"
#include "viewers/ViewerScreens.h"
#include "webservice/WebServiceScreens.h"

namespace vesk {

using namespace platform;

namespace {

    std::shared_ptr<UIBarButtonItem> space()
    {
        return std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::FlexibleSpace, nullptr);
    }

    // The file list scene: the Edit button, and the normal toolbar of Documents, home,
    // bookmarks, add and settings.
    std::shared_ptr<UIViewController> makeFileList()
    {
        using List = VeskFileListController;
        auto list = std::make_shared<List>();
        auto edit = std::make_shared<UIBarButtonItem>("Edit", UIBarButtonItemStyle::Plain, actionOf(list, &List::editButtonAction));
        list->navigationItem().setRightBarButtonItem(edit);
        list->setEditButton(edit);
        auto image = [&](std::shared_ptr<UIImage> icon, void (List::*member)(UIBarButtonItem&)) {
            return std::make_shared<UIBarButtonItem>(std::move(icon), UIBarButtonItemStyle::Plain, actionOf(list, member));
        };
        auto documents = image(VeskAssets::imageOfDocumentIcon(), &List::openDocuments);
        auto home = image(VeskAssets::imageOfHomeIcon(), &List::goHome);
        auto bookmarks = image(VeskAssets::imageOfBookmarkIcon(), &List::openBookmarks);
        auto add = image(VeskAssets::imageOfPlusCircleIcon(), &List::addItem);
        auto settings = image(VeskAssets::imageOfGearIcon(), &List::openSettings);
        list->setDocumentFolder(documents);
        list->setHomeButton(home);
        list->setBookmarkButton(bookmarks);
        list->setAddItemButton(add);
        list->setSettingsButton(settings);
        list->setToolbarItems({ documents, space(), home, space(), bookmarks, space(), add, space(), settings });
        return list;
    }

    // The bookmarks scene: a close button, and the toolbar's trash that removes them all.
    std::shared_ptr<UIViewController> makeBookmarks()
    {
        using Screen = BookmarksController;
        auto screen = std::make_shared<Screen>();
        screen->navigationItem().setLeftBarButtonItem(
            std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::Done, actionOf(screen, &Screen::dismiss)));
        auto trash = std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::Trash, actionOf(screen, &Screen::deleteAll));
        screen->setDeleteButton(trash);
        screen->setToolbarItems({ space(), trash });
        return screen;
    }

}

void registerMainStoryboard()
{
    auto& storyboard = UIStoryboard::storyboardWithName("Main");
    storyboard.registerViewController("fileList", makeFileList);
    storyboard.registerViewController("bookmarks", makeBookmarks);
    storyboard.setInitialViewController([] {
        auto list = UIStoryboard::storyboardWithName("Main").instantiateViewControllerWithIdentifier("fileList");
        return UINavigationController::initWithRootViewController(list);
    });
    UITableView::registerPrototypeCell("fileCell", [](const std::string& identifier) { return std::make_shared<VeskFileCell>(identifier); });
    UITableView::registerPrototypeCell("buttonCell", [](const std::string& identifier) { return std::make_shared<VeskButtonCell>(identifier); });
    UITableView::registerPrototypeCell("previewCell", [](const std::string& identifier) { return std::make_shared<PreviewTableViewCell>(identifier); });
    registerViewerScreens();
    registerSettingsScreens();
    registerDownloadAboutScreens();
    registerWebServiceScreens();
}

}
