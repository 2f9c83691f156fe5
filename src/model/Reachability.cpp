#include "model/Reachability.h"

#include "model/VeskLocalizer.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSTimer.h"
#include "platform/system/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <deque>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vesk {

using namespace platform;

struct Reachability::Private {
};

// Runs the monitor's change deliveries one at a time, in order, on the worker pool.
class Reachability::SerialQueue : public std::enable_shared_from_this<SerialQueue> {
public:
    void async(std::function<void()> block)
    {
        std::lock_guard lock(m_mutex);
        m_blocks.push_back(std::move(block));
        if (m_running)
            return;
        m_running = true;
        dispatch_async(dispatch_get_global_queue(QualityOfService::Default), [self = shared_from_this()] { self->drain(); });
    }

private:
    void drain()
    {
        for (;;) {
            std::function<void()> block;
            {
                std::lock_guard lock(m_mutex);
                if (m_blocks.empty()) {
                    m_running = false;
                    return;
                }
                block = std::move(m_blocks.front());
                m_blocks.pop_front();
            }
            block();
        }
    }

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_blocks;
    bool m_running = false;
};

namespace {

    enum class TargetKind {
        Internet,
        LinkLocal,
        Local,
    };

    bool hasUsableInterface(bool ipv4Only)
    {
        auto addresses = interfaceAddresses();
        if (!addresses)
            return false;
        for (const auto& address : *addresses) {
            if (!address.up || address.loopback)
                continue;
            if (ipv4Only && address.family != AddressFamily::IPv4)
                continue;
            if (!ipv4Only && address.linkLocal)
                continue;
            return true;
        }
        return false;
    }

    bool isOwnAddress(const std::string& numeric)
    {
        auto addresses = interfaceAddresses();
        if (!addresses)
            return false;
        for (const auto& address : *addresses) {
            if (address.up && address.address == numeric)
                return true;
        }
        return false;
    }

    // Flags worked out from the interfaces: a route to the internet is taken to exist while any
    // up, non-loopback interface has a routable address.
    class InterfaceTarget final : public ReachabilityTarget, public std::enable_shared_from_this<InterfaceTarget> {
    public:
        explicit InterfaceTarget(TargetKind kind)
            : m_kind(kind)
        {
        }

        ~InterfaceTarget() override
        {
            if (m_timer)
                m_timer->invalidate();
        }

        std::optional<ReachabilityFlags> flags() override
        {
            switch (m_kind) {
            case TargetKind::Local:
                return ReachabilityFlags { kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress | kReachabilityFlagsIsDirect };
            case TargetKind::LinkLocal:
                return hasUsableInterface(true) ? ReachabilityFlags { kReachabilityFlagsReachable | kReachabilityFlagsIsDirect } : ReachabilityFlags { 0 };
            case TargetKind::Internet:
                return hasUsableInterface(false) ? ReachabilityFlags { kReachabilityFlagsReachable } : ReachabilityFlags { 0 };
            }
            return std::nullopt;
        }

        bool setCallback(Callback callback) override
        {
            std::lock_guard lock(m_mutex);
            m_callback = std::move(callback);
            return true;
        }

        bool setWatching(bool watching) override
        {
            std::shared_ptr<NSTimer> old;
            {
                std::lock_guard lock(m_mutex);
                old = std::move(m_timer);
                if (watching) {
                    m_lastFlags = flags().value_or(0);
                    m_timer = NSTimer::scheduledTimerWithTimeInterval(pollInterval, true,
                        [weak = weak_from_this()](NSTimer&) {
                            if (auto self = weak.lock())
                                self->poll();
                        });
                }
            }
            if (old)
                old->invalidate();
            return true;
        }

    private:
        static constexpr double pollInterval = 2.0;

        void poll()
        {
            auto now = flags().value_or(0);
            Callback callback;
            {
                std::lock_guard lock(m_mutex);
                if (now == m_lastFlags)
                    return;
                m_lastFlags = now;
                callback = m_callback;
            }
            if (callback)
                callback(now);
        }

        TargetKind m_kind;
        std::mutex m_mutex;
        Callback m_callback;
        std::shared_ptr<NSTimer> m_timer;
        ReachabilityFlags m_lastFlags = 0;
    };

    // The blocks and the cellular switch are set on one thread and read on the serial queue.
    template<class T>
    T readLocked(std::mutex& mutex, const T& field)
    {
        std::lock_guard lock(mutex);
        return field;
    }

    template<class T>
    void writeLocked(std::mutex& mutex, T& field, T value)
    {
        std::lock_guard lock(mutex);
        field = std::move(value);
    }

    TargetKind kindOfIPv4(const in_addr& address)
    {
        std::uint32_t host = ntohl(address.s_addr);
        if (host == 0)
            return TargetKind::Internet;
        if ((host >> 24) == 127)
            return TargetKind::Local;
        if ((host >> 16) == 0xA9FE) // 169.254.0.0/16
            return TargetKind::LinkLocal;
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address, text, sizeof text) && isOwnAddress(text))
            return TargetKind::Local;
        return TargetKind::Internet;
    }

    TargetKind kindOfIPv6(const in6_addr& address)
    {
        if (IN6_IS_ADDR_UNSPECIFIED(&address))
            return TargetKind::Internet;
        if (IN6_IS_ADDR_LOOPBACK(&address))
            return TargetKind::Local;
        if (IN6_IS_ADDR_LINKLOCAL(&address))
            return TargetKind::LinkLocal;
        char text[INET6_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET6, &address, text, sizeof text) && isOwnAddress(text))
            return TargetKind::Local;
        return TargetKind::Internet;
    }

}

std::shared_ptr<ReachabilityTarget> reachabilityTargetWithName(const std::string& hostname)
{
    if (hostname.empty() || hostname.find('\0') != std::string::npos)
        return nullptr;
    // Names are never resolved here: a lookup would go out to the network.
    in_addr v4 {};
    if (inet_pton(AF_INET, hostname.c_str(), &v4) == 1)
        return std::make_shared<InterfaceTarget>(kindOfIPv4(v4));
    in6_addr v6 {};
    if (inet_pton(AF_INET6, hostname.c_str(), &v6) == 1)
        return std::make_shared<InterfaceTarget>(kindOfIPv6(v6));
    if (hostname == "localhost" || hostname.ends_with(".localhost"))
        return std::make_shared<InterfaceTarget>(TargetKind::Local);
    return std::make_shared<InterfaceTarget>(TargetKind::Internet);
}

std::shared_ptr<ReachabilityTarget> reachabilityTargetWithAddress(const struct sockaddr* address)
{
    if (!address)
        return nullptr;
    if (address->sa_family == AF_INET) {
        sockaddr_in v4 {};
        std::memcpy(&v4, address, sizeof v4);
        return std::make_shared<InterfaceTarget>(kindOfIPv4(v4.sin_addr));
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 v6 {};
        std::memcpy(&v6, address, sizeof v6);
        return std::make_shared<InterfaceTarget>(kindOfIPv6(v6.sin6_addr));
    }
    return nullptr;
}

std::string reachabilityFlagsText(ReachabilityFlags flags)
{
    auto bit = [flags](ReachabilityFlags mask, char letter) { return (flags & mask) ? letter : '-'; };
    std::string text;
    text += bit(kReachabilityFlagsIsWWAN, 'W');
    text += bit(kReachabilityFlagsReachable, 'R');
    text += ' ';
    text += bit(kReachabilityFlagsConnectionRequired, 'c');
    text += bit(kReachabilityFlagsTransientConnection, 't');
    text += bit(kReachabilityFlagsInterventionRequired, 'i');
    text += bit(kReachabilityFlagsConnectionOnTraffic, 'C');
    text += bit(kReachabilityFlagsConnectionOnDemand, 'D');
    text += bit(kReachabilityFlagsIsLocalAddress, 'l');
    text += bit(kReachabilityFlagsIsDirect, 'd');
    return text;
}

Reachability::Reachability(const Private&, std::shared_ptr<ReachabilityTarget> ref)
    : m_reachabilityRef(std::move(ref))
    , m_reachabilitySerialQueue(std::make_shared<SerialQueue>())
{
}

Reachability::~Reachability()
{
    m_reachabilityRef->setCallback({});
    m_reachabilityRef->setWatching(false);
}

std::shared_ptr<Reachability> Reachability::initWithReachabilityRef(std::shared_ptr<ReachabilityTarget> ref)
{
    if (!ref)
        return nullptr;
    return std::make_shared<Reachability>(Private {}, std::move(ref));
}

std::shared_ptr<Reachability> Reachability::reachabilityWithHostname(const std::string& hostname)
{
    return initWithReachabilityRef(reachabilityTargetWithName(hostname));
}

std::shared_ptr<Reachability> Reachability::reachabilityWithHostName(const std::string& hostname)
{
    return reachabilityWithHostname(hostname);
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const struct sockaddr* hostAddress)
{
    return initWithReachabilityRef(reachabilityTargetWithAddress(hostAddress));
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection()
{
    sockaddr_in zeroAddress {};
    zeroAddress.sin_family = AF_INET;
    return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&zeroAddress));
}

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi()
{
    sockaddr_in localWifiAddress {};
    localWifiAddress.sin_family = AF_INET;
    localWifiAddress.sin_addr.s_addr = htonl(0xA9FE0000); // 169.254.0.0
    return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&localWifiAddress));
}

bool Reachability::startNotifier()
{
    std::lock_guard lock(m_mutex);
    if (m_reachabilityObject.get() == this)
        return true;
    // The callback holds the monitor weakly: a change that arrives as it goes is dropped.
    std::weak_ptr<Reachability> weak = weak_from_this();
    auto queue = m_reachabilitySerialQueue;
    auto callback = [weak, queue](ReachabilityFlags flags) {
        queue->async([weak, flags] {
            if (auto self = weak.lock())
                self->reachabilityChanged(flags);
        });
    };
    if (m_reachabilityRef->setCallback(callback)) {
        if (m_reachabilityRef->setWatching(true)) {
            m_reachabilityObject = shared_from_this();
            return true;
        }
        m_reachabilityRef->setCallback({});
    }
    m_reachabilityObject = nullptr;
    return false;
}

void Reachability::stopNotifier()
{
    // Letting go of the self-reference may free the monitor: that happens after the lock is released.
    std::shared_ptr<Reachability> keptAlive;
    std::lock_guard lock(m_mutex);
    m_reachabilityRef->setCallback({});
    m_reachabilityRef->setWatching(false);
    keptAlive = std::move(m_reachabilityObject);
}

std::optional<ReachabilityFlags> Reachability::currentFlags() const
{
    return m_reachabilityRef->flags();
}

bool Reachability::isReachableWithFlags(ReachabilityFlags flags) const
{
    if (!(flags & kReachabilityFlagsReachable))
        return false;
    constexpr ReachabilityFlags transient = kReachabilityFlagsConnectionRequired | kReachabilityFlagsTransientConnection;
    if ((flags & transient) == transient)
        return false;
    if ((flags & kReachabilityFlagsIsWWAN) && !reachableOnWWAN())
        return false;
    return true;
}

bool Reachability::isReachable() const
{
    auto flags = currentFlags();
    return flags && isReachableWithFlags(*flags);
}

bool Reachability::isReachableViaWWAN() const
{
    auto flags = currentFlags().value_or(0);
    return (flags & kReachabilityFlagsReachable) && (flags & kReachabilityFlagsIsWWAN);
}

bool Reachability::isReachableViaWiFi() const
{
    auto flags = currentFlags().value_or(0);
    return (flags & kReachabilityFlagsReachable) && !(flags & kReachabilityFlagsIsWWAN);
}

bool Reachability::isConnectionRequired() const
{
    return connectionRequired();
}

bool Reachability::connectionRequired() const
{
    return currentFlags().value_or(0) & kReachabilityFlagsConnectionRequired;
}

bool Reachability::isConnectionOnDemand() const
{
    auto flags = currentFlags().value_or(0);
    return (flags & kReachabilityFlagsConnectionRequired)
        && (flags & (kReachabilityFlagsConnectionOnTraffic | kReachabilityFlagsConnectionOnDemand));
}

bool Reachability::isInterventionRequired() const
{
    auto flags = currentFlags().value_or(0);
    return (flags & kReachabilityFlagsConnectionRequired) && (flags & kReachabilityFlagsInterventionRequired);
}

NetworkStatus Reachability::currentReachabilityStatus() const
{
    // One reading of the flags, so that the answer describes one moment.
    auto flags = currentFlags();
    if (!flags || !isReachableWithFlags(*flags))
        return NotReachable;
    if (!(*flags & kReachabilityFlagsIsWWAN))
        return ReachableViaWiFi;
    return ReachableViaWWAN;
}

ReachabilityFlags Reachability::reachabilityFlags() const
{
    return currentFlags().value_or(0);
}

std::string Reachability::currentReachabilityString() const
{
    switch (currentReachabilityStatus()) {
    case ReachableViaWWAN:
        return localized("Cellular");
    case ReachableViaWiFi:
        return localized("WiFi");
    case NotReachable:
        break;
    }
    return localized("No Connection");
}

std::string Reachability::currentReachabilityFlags() const
{
    return reachabilityFlagsText(reachabilityFlags());
}

std::string Reachability::description() const
{
    char address[32];
    std::snprintf(address, sizeof address, "%#lx", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this)));
    return "<Reachability: " + std::string(address) + " (" + currentReachabilityFlags() + ")>";
}

void Reachability::reachabilityChanged(ReachabilityFlags flags)
{
    NetworkReachable reachable;
    NetworkUnreachable unreachable;
    NetworkReachability changed;
    {
        std::lock_guard lock(m_mutex);
        reachable = m_reachableBlock;
        unreachable = m_unreachableBlock;
        changed = m_reachabilityBlock;
    }
    if (isReachableWithFlags(flags)) {
        if (reachable)
            reachable(*this);
    } else if (unreachable) {
        unreachable(*this);
    }
    if (changed)
        changed(*this, flags);
    dispatch_async(dispatch_get_main_queue(), [self = shared_from_this()] {
        NSNotificationCenter::defaultCenter().postNotificationName(kReachabilityChangedNotification, self);
    });
}

Reachability::NetworkReachable Reachability::reachableBlock() const
{
    return readLocked(m_mutex, m_reachableBlock);
}

void Reachability::setReachableBlock(NetworkReachable block)
{
    writeLocked(m_mutex, m_reachableBlock, std::move(block));
}

Reachability::NetworkUnreachable Reachability::unreachableBlock() const
{
    return readLocked(m_mutex, m_unreachableBlock);
}

void Reachability::setUnreachableBlock(NetworkUnreachable block)
{
    writeLocked(m_mutex, m_unreachableBlock, std::move(block));
}

Reachability::NetworkReachability Reachability::reachabilityBlock() const
{
    return readLocked(m_mutex, m_reachabilityBlock);
}

void Reachability::setReachabilityBlock(NetworkReachability block)
{
    writeLocked(m_mutex, m_reachabilityBlock, std::move(block));
}

bool Reachability::reachableOnWWAN() const
{
    return readLocked(m_mutex, m_reachableOnWWAN);
}

void Reachability::setReachableOnWWAN(bool reachableOnWWAN)
{
    writeLocked(m_mutex, m_reachableOnWWAN, std::move(reachableOnWWAN));
}

std::shared_ptr<Reachability> Reachability::reachabilityObject() const
{
    return readLocked(m_mutex, m_reachabilityObject);
}

}
