#include "webservice/WebServiceScreens.h"

#include "platform/uikit/UIStoryboard.h"
#include "webservice/BlockedIPsTableViewController.h"
#include "webservice/HTTPServerWebservicesController.h"

namespace vesk {

using platform::UIStoryboard;

void registerWebServiceScreens()
{
    auto& storyboard = UIStoryboard::storyboardWithName("Main");
    storyboard.registerViewController("webservices", [] { return std::make_shared<HTTPServerWebservicesController>(); });
    storyboard.registerViewController("blockedIPs", [] { return std::make_shared<BlockedIPsTableViewController>(); });
}

}
