#pragma once

#include "platform/foundation/NSURLRequest.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sockaddr;

namespace vesk::platform {

// An IPv4 or IPv6 address. An IPv6 address that carries an IPv4 one in its last four bytes
// (mapped, ::ffff:a.b.c.d, or the old compatible ::a.b.c.d) is taken as that IPv4 address,
// which is where a connection to it goes.
struct IPAddress {
    static std::optional<IPAddress> fromSocketAddress(const sockaddr& address);
    // Numeric text; an IPv6 zone ("%eth0") is left out.
    static std::optional<IPAddress> fromText(std::string_view text);
    bool operator==(const IPAddress&) const = default;

    bool isIPv4 = false;
    // An IPv4 address in the first four.
    std::array<std::uint8_t, 16> bytes {};
};

// Whether the address lies inside the machine or the networks around it: unspecified,
// loopback, link-local, a private network (10/8, 172.16/12, 192.168/16, fc00::/7), or one of
// the machine's own addresses.
bool isInternalAddress(const IPAddress& address, const std::vector<IPAddress>& machine);

// The addresses of the machine's interfaces, as they are now.
std::vector<IPAddress> machineAddresses();

// Where the app may connect when it fetches for a web view, as browsers keep pages from the
// Internet away from the machine and its private networks. Judged on the address each
// connection goes to, never on the name: a name can point anywhere. Any thread.
class WebFetchPolicy {
public:
    // What a person opens: anything at the host they named; what its redirects lead to
    // elsewhere, outside addresses only.
    static WebFetchPolicy forNavigation(const NSURL& url);
    // What a page may make the app fetch or open: outside addresses; a page that itself came
    // from an inside address also its own origin (scheme, host and port) at that address. A
    // file page reaches no inside address at all.
    static WebFetchPolicy forPage(const NSURLResponse& page);

    bool allows(const NSURL& url, const sockaddr& address) const;
    // The request with its every connection judged here.
    NSURLRequest checked(NSURLRequest request) const;

private:
    // Where inside addresses may be reached: at this host (and, for a page, this scheme, port
    // and address); nowhere without a host.
    std::string m_host;
    std::optional<std::string> m_schemeAndPort;
    std::optional<IPAddress> m_address;
};

}
