#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct sockaddr;

namespace vesk {

using ReachabilityFlags = std::uint32_t;

enum : ReachabilityFlags {
    kReachabilityFlagsTransientConnection = 1u << 0,
    kReachabilityFlagsReachable = 1u << 1,
    kReachabilityFlagsConnectionRequired = 1u << 2,
    kReachabilityFlagsConnectionOnTraffic = 1u << 3,
    kReachabilityFlagsInterventionRequired = 1u << 4,
    kReachabilityFlagsConnectionOnDemand = 1u << 5,
    kReachabilityFlagsIsLocalAddress = 1u << 16,
    kReachabilityFlagsIsDirect = 1u << 17,
    kReachabilityFlagsIsWWAN = 1u << 18,
};

enum NetworkStatus {
    NotReachable = 0,
    ReachableViaWWAN = 1,
    ReachableViaWiFi = 2,
};

inline constexpr const char* kReachabilityChangedNotification = "kReachabilityChangedNotification";

// Where a monitor's flags come from: the host's network interfaces, or a test's own flags.
class ReachabilityTarget {
public:
    using Callback = std::function<void(ReachabilityFlags)>;
    virtual ~ReachabilityTarget() = default;

    // Absent when the flags can't be read.
    virtual std::optional<ReachabilityFlags> flags() = 0;
    // Registers the change callback (an empty one removes it); false when the target refuses.
    virtual bool setCallback(Callback callback) = 0;
    // Starts or stops delivering changes to the callback, from any thread; false when it can't.
    virtual bool setWatching(bool watching) = 0;
};

// The stand-in targets: flags worked out from the up interfaces and their addresses.
std::shared_ptr<ReachabilityTarget> reachabilityTargetWithName(const std::string& hostname);
std::shared_ptr<ReachabilityTarget> reachabilityTargetWithAddress(const struct sockaddr* address);

class Reachability : public std::enable_shared_from_this<Reachability> {
public:
    using NetworkReachable = std::function<void(Reachability&)>;
    using NetworkUnreachable = std::function<void(Reachability&)>;
    using NetworkReachability = std::function<void(Reachability&, ReachabilityFlags)>;

    // Each answers a new monitor, or none when there is no target.
    static std::shared_ptr<Reachability> reachabilityWithHostname(const std::string& hostname);
    static std::shared_ptr<Reachability> reachabilityWithHostName(const std::string& hostname);
    static std::shared_ptr<Reachability> reachabilityWithAddress(const struct sockaddr* hostAddress);
    static std::shared_ptr<Reachability> reachabilityForInternetConnection();
    static std::shared_ptr<Reachability> reachabilityForLocalWiFi();
    static std::shared_ptr<Reachability> initWithReachabilityRef(std::shared_ptr<ReachabilityTarget> ref);

    ~Reachability();

    bool startNotifier();
    void stopNotifier();

    bool isReachable() const;
    bool isReachableViaWWAN() const;
    bool isReachableViaWiFi() const;
    bool isConnectionRequired() const;
    bool connectionRequired() const;
    bool isConnectionOnDemand() const;
    bool isInterventionRequired() const;
    NetworkStatus currentReachabilityStatus() const;
    ReachabilityFlags reachabilityFlags() const;
    // "No Connection", "Cellular" or "WiFi", through the localizer.
    std::string currentReachabilityString() const;
    std::string currentReachabilityFlags() const;
    std::string description() const;

    bool isReachableWithFlags(ReachabilityFlags flags) const;
    // Delivered on the monitor's serial queue.
    void reachabilityChanged(ReachabilityFlags flags);

    NetworkReachable reachableBlock() const;
    void setReachableBlock(NetworkReachable block);
    NetworkUnreachable unreachableBlock() const;
    void setUnreachableBlock(NetworkUnreachable block);
    NetworkReachability reachabilityBlock() const;
    void setReachabilityBlock(NetworkReachability block);
    bool reachableOnWWAN() const;
    void setReachableOnWWAN(bool reachableOnWWAN);
    const std::shared_ptr<ReachabilityTarget>& reachabilityRef() const { return m_reachabilityRef; }
    // The monitor itself while its notifier runs, else none.
    std::shared_ptr<Reachability> reachabilityObject() const;

    struct Private;
    Reachability(const Private&, std::shared_ptr<ReachabilityTarget> ref);

private:
    class SerialQueue;
    std::optional<ReachabilityFlags> currentFlags() const;

    // The blocks are set on one thread and called on the serial queue.
    mutable std::mutex m_mutex;
    bool m_reachableOnWWAN = true;
    NetworkReachable m_reachableBlock;
    NetworkUnreachable m_unreachableBlock;
    NetworkReachability m_reachabilityBlock;
    std::shared_ptr<ReachabilityTarget> m_reachabilityRef;
    std::shared_ptr<SerialQueue> m_reachabilitySerialQueue;
    std::shared_ptr<Reachability> m_reachabilityObject;
};

// The flags as text: cellular and reachable, a blank, then the seven connection flags.
std::string reachabilityFlagsText(ReachabilityFlags flags);

}
