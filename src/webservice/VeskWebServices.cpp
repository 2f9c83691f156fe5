#include "webservice/VeskWebServices.h"

#include "webservice/VeskHTTPServer.h"
#include "webservice/VeskHTTPServerRoutes.h"
#include "webservice/WifiWatch.h"

namespace vesk {

std::vector<VeskHTTPServer::Route> VeskHTTPServerRoutes::routes()
{
    return {
        { "/getBookmarks", getBookmarks },
        { "/getHomeDir", getHomeDir },
        { "/getDocDir", getDocDir },
        { "/getFileInfo", getFileInfo },
        { "/getIcon", getIcon },
        { "/setFile", setFile },
        { "/getFile", getFile },
        { "/debug", debug },
        { "/", generalRequest },
    };
}

void installWebServices(bool runWifiWatch)
{
    VeskHTTPServer::setRoutes(VeskHTTPServerRoutes::routes());
    VeskHTTPServer::setWifiWatchLauncher([runWifiWatch](VeskHTTPServer& service) {
        WifiWatch::launch(service, runWifiWatch);
    });
}

}
