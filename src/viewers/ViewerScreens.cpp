#include "viewers/ViewerScreens.h"

#include "platform/uikit/UIStoryboard.h"
#include "viewers/InfoTableViewController.h"
#include "viewers/TextEditorViewController.h"
#include "viewers/VeskFileViewController.h"

namespace vesk {

using platform::UIStoryboard;

void registerViewerScreens()
{
    auto& storyboard = UIStoryboard::storyboardWithName("Main");
    storyboard.registerViewController("image", [] { return std::make_shared<ImageViewController>(); });
    storyboard.registerViewController("text", [] { return std::make_shared<TextViewController>(); });
    storyboard.registerViewController("plist", [] { return std::make_shared<PlistViewController>(); });
    storyboard.registerViewController("web", [] { return std::make_shared<WebViewController>(); });
    storyboard.registerViewController("unknown", [] { return std::make_shared<UnknownViewController>(); });
    storyboard.registerViewController("info", [] { return std::make_shared<InfoTableViewController>(); });
    storyboard.registerViewController("textEditor", [] { return std::make_shared<TextEditorViewController>(); });
}

}
