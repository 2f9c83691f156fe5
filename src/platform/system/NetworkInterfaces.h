#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

enum class AddressFamily {
    IPv4,
    IPv6,
};

// One address of one interface, as the interface list gives it.
struct InterfaceAddress {
    std::string interfaceName;
    AddressFamily family = AddressFamily::IPv4;
    std::string address; // numeric host text
    bool up = false;
    bool loopback = false;
    bool linkLocal = false; // IPv6 fe80::/10
};

// The interface list in its own order (IPv4 and IPv6 entries only); absent when it can't be read.
std::optional<std::vector<InterfaceAddress>> interfaceAddresses();

// The interface that stands for the Wi-Fi link: VESK_WIFI_INTERFACE when set (lo included),
// otherwise the first up, non-loopback interface with an address; absent when there is none.
std::optional<std::string> wifiInterfaceName(const std::vector<InterfaceAddress>& addresses);

// The Wi-Fi interface's address: its IPv4 address, else an IPv6 one that is not link-local,
// else its IPv6 link-local address; absent when the list can't be read or the interface has none.
std::optional<std::string> wifiAddress();

// Tests put their own interface list in place; an empty function restores the system's.
using InterfaceSource = std::function<std::optional<std::vector<InterfaceAddress>>()>;
void setInterfaceSource(InterfaceSource source);

}
