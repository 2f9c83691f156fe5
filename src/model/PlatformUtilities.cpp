#include "model/PlatformUtilities.h"

#include "platform/foundation/Digest.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/system/Haptics.h"
#include "platform/system/MemoryInfo.h"
#include "platform/system/NetworkInterfaces.h"

#include <cstdio>

namespace vesk {

using namespace platform;

namespace {

    void postTap(std::int32_t kind)
    {
        NSNotificationCenter::defaultCenter().postNotificationName(std::string(tapNotificationName), {},
            { { std::string(tapNotificationIDKey), std::any(kind) } });
    }

    // Fixed, so that quick actions installed by one launch are recognised by the next.
    constexpr std::string_view shortcutTypePrefix = "org.vesk.Vesk";

}

void postTapNotification()
{
    postTap(2);
}
void postTapNotification1001()
{
    postTap(1001);
}

void vibrate()
{
    AudioServicesPlayAlertSound(kSystemSoundID_Vibrate);
}

bool isConnectedToNetwork()
{
    // Reachable without a connection to set up: some interface is up and holds an address
    // that leads off this machine (not loopback, not IPv6 link-local).
    auto addresses = interfaceAddresses();
    if (!addresses)
        return false;
    for (auto const& entry : *addresses) {
        if (entry.up && !entry.loopback && !entry.linkLocal && !entry.address.empty())
            return true;
    }
    return false;
}

std::optional<std::string> getWiFiAddress()
{
    return wifiAddress();
}

unsigned long reportMemory()
{
    std::string errorText;
    auto figures = taskMemoryInfo(&errorText);
    if (!figures) {
        std::printf("%s\n", errorText.empty() ? "Error: couldn't parse error string" : errorText.c_str());
        std::fflush(stdout);
        return 0;
    }
    unsigned long megabytes = static_cast<unsigned long>(figures->residentSize / 1'000'000);
    std::printf("Memory in use (in MB): %lu\n", megabytes);
    std::fflush(stdout);
    return megabytes;
}

std::string base64(const Bytes& data)
{
    return base64Encode(data);
}

const std::string& bookmarksShortcutType()
{
    static const std::string type = std::string(shortcutTypePrefix) + "-Bookmarks";
    return type;
}

const std::string& serverShortcutType()
{
    static const std::string type = std::string(shortcutTypePrefix) + "-Server";
    return type;
}

}
