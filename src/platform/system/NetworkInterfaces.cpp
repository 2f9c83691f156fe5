#include "platform/system/NetworkInterfaces.h"

#include "platform/system/InjectedSource.h"

#include <cstdlib>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vesk::platform {

namespace {

    InjectedSource<InterfaceSource> injectedSource;

    std::optional<std::vector<InterfaceAddress>> systemInterfaceAddresses()
    {
        ifaddrs* list = nullptr;
        if (::getifaddrs(&list) != 0)
            return std::nullopt;
        std::vector<InterfaceAddress> result;
        for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
            if (!entry->ifa_name || !entry->ifa_addr)
                continue;
            int family = entry->ifa_addr->sa_family;
            if (family != AF_INET && family != AF_INET6)
                continue;
            socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
            char host[NI_MAXHOST] = {};
            if (::getnameinfo(entry->ifa_addr, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
                continue;
            InterfaceAddress address;
            address.interfaceName = entry->ifa_name;
            address.family = family == AF_INET ? AddressFamily::IPv4 : AddressFamily::IPv6;
            address.address = host;
            address.up = entry->ifa_flags & IFF_UP;
            address.loopback = entry->ifa_flags & IFF_LOOPBACK;
            if (family == AF_INET6) {
                auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
                address.linkLocal = IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr);
            }
            result.push_back(std::move(address));
        }
        ::freeifaddrs(list);
        return result;
    }

}

std::optional<std::vector<InterfaceAddress>> interfaceAddresses()
{
    auto source = injectedSource.get();
    if (source)
        return source();
    return systemInterfaceAddresses();
}

std::optional<std::string> wifiInterfaceName(const std::vector<InterfaceAddress>& addresses)
{
    if (const char* named = std::getenv("VESK_WIFI_INTERFACE"); named && *named)
        return std::string(named);
    for (const auto& address : addresses) {
        if (address.up && !address.loopback)
            return address.interfaceName;
    }
    return std::nullopt;
}

std::optional<std::string> wifiAddress()
{
    auto addresses = interfaceAddresses();
    if (!addresses)
        return std::nullopt;
    auto name = wifiInterfaceName(*addresses);
    if (!name)
        return std::nullopt;
    // An interface that is down carries no link, whatever addresses it keeps.
    const InterfaceAddress* ipv6 = nullptr;
    const InterfaceAddress* linkLocal = nullptr;
    for (const auto& address : *addresses) {
        if (address.interfaceName != *name || !address.up)
            continue;
        if (address.family == AddressFamily::IPv4)
            return address.address;
        if (!address.linkLocal && !ipv6)
            ipv6 = &address;
        if (address.linkLocal && !linkLocal)
            linkLocal = &address;
    }
    if (ipv6)
        return ipv6->address;
    if (linkLocal)
        return linkLocal->address;
    return std::nullopt;
}

void setInterfaceSource(InterfaceSource source)
{
    injectedSource.set(std::move(source));
}

}
