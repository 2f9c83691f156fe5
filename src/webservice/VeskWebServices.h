#pragma once

namespace vesk {

// Hands the web file service its routes and its Wi-Fi watch; call once at start, before the
// service is first used. Without runWifiWatch (tests) the watch is made on the first start
// but never polls by itself: WifiWatch::launched()->poll() steps it.
void installWebServices(bool runWifiWatch = true);

}
