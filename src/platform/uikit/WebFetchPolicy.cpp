#include "platform/uikit/WebFetchPolicy.h"

#include "platform/system/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace vesk::platform {

namespace {

    IPAddress fromIPv6(const std::uint8_t* bytes)
    {
        IPAddress address;
        // ::ffff:a.b.c.d and ::a.b.c.d reach a.b.c.d (::1 and :: become 0.0.0.1 and 0.0.0.0,
        // which are internal all the same).
        bool mapped = std::all_of(bytes, bytes + 10, [](auto byte) { return byte == 0; }) && ((bytes[10] == 0xff && bytes[11] == 0xff) || (bytes[10] == 0 && bytes[11] == 0));
        address.isIPv4 = mapped;
        if (mapped)
            std::copy(bytes + 12, bytes + 16, address.bytes.begin());
        else
            std::copy(bytes, bytes + 16, address.bytes.begin());
        return address;
    }

    struct Origin {
        std::string scheme;
        std::string host;
        std::string port;
    };

    std::string lowercase(std::string text)
    {
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    }

    // As the loader reads the URL, so that "127.1", "LOCALHOST" and the default port compare
    // as what they name.
    std::optional<Origin> originOf(const NSURL& url)
    {
        std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
        if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.absoluteString().c_str(), 0) != CURLUE_OK)
            return std::nullopt;
        auto part = [&](CURLUPart which, unsigned flags) -> std::optional<std::string> {
            char* text = nullptr;
            if (curl_url_get(parsed.get(), which, &text, flags) != CURLUE_OK || !text)
                return std::nullopt;
            std::string value = lowercase(text);
            curl_free(text);
            return value;
        };
        auto scheme = part(CURLUPART_SCHEME, 0);
        auto host = part(CURLUPART_HOST, 0);
        auto port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
        if (!scheme || !host || host->empty() || !port)
            return std::nullopt;
        return Origin { std::move(*scheme), std::move(*host), std::move(*port) };
    }

}

std::optional<IPAddress> IPAddress::fromSocketAddress(const sockaddr& address)
{
    if (address.sa_family == AF_INET) {
        IPAddress result;
        result.isIPv4 = true;
        std::memcpy(result.bytes.data(), &reinterpret_cast<const sockaddr_in&>(address).sin_addr, 4);
        return result;
    }
    if (address.sa_family == AF_INET6)
        return fromIPv6(reinterpret_cast<const sockaddr_in6&>(address).sin6_addr.s6_addr);
    return std::nullopt;
}

std::optional<IPAddress> IPAddress::fromText(std::string_view text)
{
    std::string numeric(text.substr(0, text.find('%')));
    IPAddress result;
    if (::inet_pton(AF_INET, numeric.c_str(), result.bytes.data()) == 1) {
        result.isIPv4 = true;
        return result;
    }
    in6_addr six {};
    if (::inet_pton(AF_INET6, numeric.c_str(), &six) == 1)
        return fromIPv6(six.s6_addr);
    return std::nullopt;
}

bool isInternalAddress(const IPAddress& address, const std::vector<IPAddress>& machine)
{
    auto& b = address.bytes;
    if (address.isIPv4) {
        if (b[0] == 0 || b[0] == 127 || b[0] == 10)
            return true;
        if ((b[0] == 172 && (b[1] & 0xf0) == 16) || (b[0] == 192 && b[1] == 168) || (b[0] == 169 && b[1] == 254))
            return true;
    } else {
        // fc00::/7 private, fe80::/10 link-local; the unspecified and loopback addresses were
        // taken as IPv4 ones.
        if ((b[0] & 0xfe) == 0xfc || (b[0] == 0xfe && (b[1] & 0xc0) == 0x80))
            return true;
    }
    return std::find(machine.begin(), machine.end(), address) != machine.end();
}

std::vector<IPAddress> machineAddresses()
{
    std::vector<IPAddress> addresses;
    for (auto& entry : interfaceAddresses().value_or(std::vector<InterfaceAddress> {})) {
        if (auto address = IPAddress::fromText(entry.address))
            addresses.push_back(*address);
    }
    return addresses;
}

WebFetchPolicy WebFetchPolicy::forNavigation(const NSURL& url)
{
    WebFetchPolicy policy;
    if (auto origin = originOf(url))
        policy.m_host = std::move(origin->host);
    return policy;
}

WebFetchPolicy WebFetchPolicy::forPage(const NSURLResponse& page)
{
    WebFetchPolicy policy;
    auto address = IPAddress::fromText(page.remoteAddress);
    auto origin = originOf(page.URL);
    if (page.URL.isFileURL() || !address || !origin || !isInternalAddress(*address, machineAddresses()))
        return policy;
    policy.m_host = std::move(origin->host);
    policy.m_schemeAndPort = origin->scheme + ":" + origin->port;
    policy.m_address = address;
    return policy;
}

bool WebFetchPolicy::allows(const NSURL& url, const sockaddr& socketAddress) const
{
    auto address = IPAddress::fromSocketAddress(socketAddress);
    if (!address)
        return false;
    if (!isInternalAddress(*address, machineAddresses()))
        return true;
    if (m_host.empty())
        return false;
    auto origin = originOf(url);
    return origin && origin->host == m_host && (!m_schemeAndPort || *m_schemeAndPort == origin->scheme + ":" + origin->port)
        && (!m_address || *m_address == *address);
}

NSURLRequest WebFetchPolicy::checked(NSURLRequest request) const
{
    request.mayConnect = [policy = *this](const NSURL& url, const sockaddr& address) { return policy.allows(url, address); };
    return request;
}

}
