#include "platform/uikit/UIDocumentInteractionController.h"

namespace vesk::platform {

UIDocumentInteractionController::UIDocumentInteractionController(NSURL url)
    : m_url(std::move(url))
{
}

std::shared_ptr<UIDocumentInteractionController> UIDocumentInteractionController::interactionControllerWithURL(NSURL url)
{
    return std::make_shared<UIDocumentInteractionController>(std::move(url));
}

bool UIDocumentInteractionController::presentOpenInMenuFromRect(CGRect, const std::shared_ptr<UIView>&, bool)
{
    return false;
}

}
