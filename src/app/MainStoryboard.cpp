#include "app/MainStoryboard.h"

#include "app/BookmarksController.h"
#include "app/VeskFileListController.h"
#include "platform/uikit/UIStoryboard.h"
#include "screens/SettingsScreens.h"
#include "viewers/ViewerScreens.h"
#include "webservice/WebServiceScreens.h"

namespace vesk {

using platform::UINavigationController;
using platform::UIStoryboard;

void registerMainStoryboard()
{
    auto& storyboard = UIStoryboard::storyboardWithName("Main");
    storyboard.registerViewController("fileList", [] { return std::make_shared<VeskFileListController>(); });
    storyboard.registerViewController("bookmarks", [] { return std::make_shared<BookmarksController>(); });
    storyboard.setInitialViewController([] {
        auto list = UIStoryboard::storyboardWithName("Main").instantiateViewControllerWithIdentifier("fileList");
        return UINavigationController::initWithRootViewController(list);
    });
    registerViewerScreens();
    registerSettingsScreens();
    registerWebServiceScreens();
}

}
