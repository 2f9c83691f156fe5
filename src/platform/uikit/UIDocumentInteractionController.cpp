#include "platform/uikit/UIDocumentInteractionController.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSString.h"
#include "platform/system/DesktopServices.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIView.h"
#include "platform/uikit/UIViewController.h"

namespace vesk::platform {

UIDocumentInteractionController::UIDocumentInteractionController(NSURL url)
    : m_url(std::move(url))
{
}

std::shared_ptr<UIDocumentInteractionController> UIDocumentInteractionController::interactionControllerWithURL(NSURL url)
{
    return std::make_shared<UIDocumentInteractionController>(std::move(url));
}

bool UIDocumentInteractionController::presentOpenInMenuFromRect(CGRect rect, const std::shared_ptr<UIView>& view, bool animated)
{
    auto window = view ? view->window() : nullptr;
    auto presenter = window ? window->rootViewController() : nullptr;
    auto path = m_url.path();
    if (!presenter || path.empty())
        return false;
    auto applications = DesktopServices::shared()->applicationsForFile(path);
    if (applications.empty())
        return false;
    while (presenter->presentedViewController())
        presenter = presenter->presentedViewController();

    auto menu = UIAlertController::alertControllerWithTitle(lastPathComponent(path), std::nullopt, UIAlertControllerStyle::ActionSheet);
    for (auto& application : applications) {
        menu->addAction(UIAlertAction::actionWithTitle(application.name, UIAlertActionStyle::Default, [id = application.id, path](UIAlertAction&) {
            // Starting a program may take a moment; the screen does not wait for it.
            DispatchQueue::global(QualityOfService::UserInitiated).async([id, path] { DesktopServices::shared()->openFileWithApplication(id, path); });
        }));
    }
    menu->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel, {}));
    if (UIDevice::currentDevice().userInterfaceIdiom() == UIUserInterfaceIdiom::Pad) {
        menu->popoverPresentationController().setSourceView(view);
        menu->popoverPresentationController().setSourceRect(rect);
    }
    presenter->presentViewController(menu, animated);
    return true;
}

}
