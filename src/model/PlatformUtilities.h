#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesk {

// The notification that asks for haptic feedback: name "tap", user info "ID" holding the
// feedback kind as a std::int32_t. Delivered synchronously on the poster's thread.
inline constexpr std::string_view tapNotificationName = "tap";
inline constexpr std::string_view tapNotificationIDKey = "ID";

void postTapNotification(); // "ID" 2
void postTapNotification1001(); // "ID" 1001

// The alert-sound vibration.
void vibrate();

// True when an outside address is reachable without first setting up a connection.
bool isConnectedToNetwork();

// The numeric address of the Wi-Fi interface; absent when it has none.
std::optional<std::string> getWiFiAddress();

// Prints "Memory in use (in MB): " and the resident size in whole megabytes of 1,000,000
// bytes on standard output and returns that number; on failure prints why and returns 0.
unsigned long reportMemory();

// The logging function of every logging site. Writes nothing and keeps nothing.
template<class T>
inline void debugLog(const T&, std::string_view /*file*/, int /*line*/, std::string_view /*function*/)
{
}

// Standard Base64 without line breaks.
std::string base64(const platform::Bytes& data);

// The types of the two home-screen quick actions.
const std::string& bookmarksShortcutType();
const std::string& serverShortcutType();

}
