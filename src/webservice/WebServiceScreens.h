#pragma once

namespace vesk {

// Registers the web service's screens in the storyboard "Main": "webservices" and "blockedIPs".
void registerWebServiceScreens();

}
