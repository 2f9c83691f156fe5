#include "webservice/VeskWebServices.h"

#include "webservice/VeskHTTPServer.h"
#include "webservice/WifiWatch.h"

namespace vesk {

std::vector<VeskHTTPServer::Route> VeskHTTPServer::routeTable()
{
    return {
        { "/getBookmarks", &VeskHTTPServer::getBookmarks },
        { "/getHomeDir", &VeskHTTPServer::getHomeDir },
        { "/getDocDir", &VeskHTTPServer::getDocDir },
        { "/getFileInfo", &VeskHTTPServer::getFileInfo },
        { "/getIcon", &VeskHTTPServer::getIcon },
        { "/setFile", &VeskHTTPServer::setFile },
        { "/getFile", &VeskHTTPServer::getFile },
        { "/debug", &VeskHTTPServer::debug },
        { "/", &VeskHTTPServer::generalRequest },
    };
}

void installWebServices(bool runWifiWatch)
{
    VeskHTTPServer::setRoutes(VeskHTTPServer::routeTable());
    if (runWifiWatch)
        VeskHTTPServer::setWifiWatchLauncher(VeskHTTPServer::wifiChecker);
    else
        VeskHTTPServer::setWifiWatchLauncher([](VeskHTTPServer& service) { WifiWatch::launch(service, false); });
}

}
