#pragma once

#include "platform/foundation/NSURL.h"
#include "platform/graphics/CGGeometry.h"

#include <memory>

namespace vesk::platform {

class UIView;

// Hands a file to another app through the open-in menu.
class UIDocumentInteractionController {
public:
    explicit UIDocumentInteractionController(NSURL url);
    static std::shared_ptr<UIDocumentInteractionController> interactionControllerWithURL(NSURL url);

    const NSURL& URL() const { return m_url; }
    // Answers whether a menu of apps that open the file came up. On Linux there is no other
    // app to hand a file to, so none offers itself and the answer is false.
    bool presentOpenInMenuFromRect(CGRect rect, const std::shared_ptr<UIView>& view, bool animated);

private:
    NSURL m_url;
};

}
