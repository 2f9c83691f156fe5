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
    // Presents the menu of the desktop's applications for the file's type over the screen
    // that shows the view (a popover at the rectangle on a pad); choosing one starts it with the
    // file. Answers false, presenting nothing, when no application offers itself.
    bool presentOpenInMenuFromRect(CGRect rect, const std::shared_ptr<UIView>& view, bool animated);

private:
    NSURL m_url;
};

}
