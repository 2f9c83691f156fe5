#include "app/UtilityOperations.h"

#include "app/Utility.h"
#include "model/VeskFileManager.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIStoryboard.h"
#include "screens/VeskDownloadWebController.h"

namespace vesk {

using namespace platform;

namespace operations {

    void showBanner(std::string message, NotificationType type)
    {
        VeskNotificationManager::showNotification(std::move(message), type, {}, {}, 3.0);
    }

    void queueBanner(std::string message, NotificationType type)
    {
        DispatchQueue::main().async([message = std::move(message), type]() mutable { showBanner(std::move(message), type); });
    }

}

std::shared_ptr<Utility> Utility::handlerCopy() const
{
    auto copy = std::make_shared<Utility>();
    copy->m_delegate = m_delegate;
    return copy;
}

void Utility::presentSheet(const std::shared_ptr<UIAlertController>& sheet, const std::shared_ptr<UIViewController>& viewController, CGRect rect) const
{
    if (!viewController)
        return;
    // Only action sheets become popovers; alerts stay centred.
    if (isIpad() && sheet->preferredStyle() == UIAlertControllerStyle::ActionSheet) {
        sheet->popoverPresentationController().setSourceView(viewController->view());
        sheet->popoverPresentationController().setSourceRect(rect);
    }
    viewController->presentViewController(sheet, true);
}

void Utility::addFileOrDir(const std::string& path, const std::shared_ptr<UIViewController>& viewController, CGRect rect)
{
    auto sheet = UIAlertController::alertControllerWithTitle(localized("Add file of Directory"), std::nullopt, UIAlertControllerStyle::ActionSheet);
    if (auto paste = pasteEntry(path, viewController))
        sheet->addAction(paste);
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, {}));
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Add Dirctory"), UIAlertActionStyle::Default,
        [utility = handlerCopy(), path](UIAlertAction&) { utility->newDirectory(path); }));
    // Offered here, last, so that the in-app browser can be reached at all.
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Add from Web"), UIAlertActionStyle::Default,
        [utility = handlerCopy(), path, presenter = std::weak_ptr(viewController)](UIAlertAction&) { utility->openDownloadWebView(path, presenter.lock()); }));
    presentSheet(sheet, viewController, rect);
}

void Utility::openDownloadWebView(const std::string& path, const std::shared_ptr<UIViewController>& viewController)
{
    if (!viewController)
        return;
    auto browser = mainStoryboard().instantiate<VeskDownloadWebController>("downloadWebView");
    if (!browser)
        return;
    browser->setPath(path);
    viewController->presentViewController(UINavigationController::initWithRootViewController(browser), true);
}

void Utility::newDirectory(const std::string& folder)
{
    // A folder of that name already there counts as made: the name is fixed, never numbered.
    // A link of that name is no folder here, wherever it leads.
    auto path = stringByAppendingPathComponent(folder, localized("New Directory"));
    auto made = VeskFileManager::defaultManager().createDirectoryAtPath(path);
    auto attributes = NSFileManager::defaultManager().attributesOfItemAtPath(path);
    if (made && attributes && attributes->type == FileType::Directory)
        operations::showBanner(localized("New directory has been created"), NotificationType::Success);
    else
        operations::showBanner(localized("New directory could not be created"), NotificationType::Error);
}

}
