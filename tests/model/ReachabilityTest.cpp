#include "model/Reachability.h"

#include "ModelTestSupport.h"
#include "model/VeskLocalizer.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSThread.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/system/NetworkInterfaces.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>

namespace vesk {
namespace {

    using namespace platform;

    // The status texts pass through the localizer: this program's table translates them.
    class TranslatedStatusTexts : public ::testing::Environment {
        void SetUp() override
        {
            ::setenv("VESK_HOME", home.path().c_str(), 1);
            auto table = dataFromPropertyList(Value(Dictionary { { "No Connection", "Offline" }, { "Cellular", "Mobile" }, { "WiFi", "WLAN" } }), PropertyListFormat::Binary);
            ASSERT_TRUE(NSFileManager::defaultManager().createDirectoryAtPath(home / "Library", true));
            ASSERT_TRUE(NSFileManager::defaultManager().createFileAtPath(VeskLocalizer::localizationTableFilePath(), *table));
            localized("WiFi"); // the first lookup only loads the table
        }
        test::TemporaryFolder home;
    };
    [[maybe_unused]] const auto* translated = ::testing::AddGlobalTestEnvironment(new TranslatedStatusTexts);

    // A target whose flags the test sets; it delivers changes from a thread of its own.
    class FakeTarget : public ReachabilityTarget {
    public:
        std::optional<ReachabilityFlags> flags() override
        {
            std::lock_guard lock(m_mutex);
            return m_flags;
        }

        bool setCallback(Callback callback) override
        {
            std::lock_guard lock(m_mutex);
            if (refuseCallback)
                return false;
            registrations += callback ? 1 : 0;
            hasCallback = static_cast<bool>(callback);
            m_callback = std::move(callback);
            return true;
        }

        bool setWatching(bool on) override
        {
            if (on && refuseWatching)
                return false;
            watching = on;
            return true;
        }

        void setFlags(std::optional<ReachabilityFlags> flags)
        {
            std::lock_guard lock(m_mutex);
            m_flags = flags;
        }

        // Changes the flags and reports them, as the system does, from another thread.
        void change(ReachabilityFlags flags)
        {
            std::thread([this, flags] {
                setFlags(flags);
                Callback callback;
                {
                    std::lock_guard lock(m_mutex);
                    callback = watching ? m_callback : nullptr;
                }
                if (callback)
                    callback(flags);
            }).join();
        }

        std::atomic<bool> refuseCallback = false;
        std::atomic<bool> refuseWatching = false;
        std::atomic<bool> watching = false;
        std::atomic<bool> hasCallback = false;
        std::atomic<int> registrations = 0;

    private:
        std::mutex m_mutex;
        std::optional<ReachabilityFlags> m_flags = ReachabilityFlags { 0 };
        Callback m_callback;
    };

    constexpr ReachabilityFlags Reach = kReachabilityFlagsReachable;
    constexpr ReachabilityFlags WWAN = kReachabilityFlagsIsWWAN;
    constexpr ReachabilityFlags Req = kReachabilityFlagsConnectionRequired;
    constexpr ReachabilityFlags Trans = kReachabilityFlagsTransientConnection;
    constexpr ReachabilityFlags Interv = kReachabilityFlagsInterventionRequired;
    constexpr ReachabilityFlags Traffic = kReachabilityFlagsConnectionOnTraffic;
    constexpr ReachabilityFlags Demand = kReachabilityFlagsConnectionOnDemand;
    constexpr ReachabilityFlags Local = kReachabilityFlagsIsLocalAddress;
    constexpr ReachabilityFlags Direct = kReachabilityFlagsIsDirect;

    std::shared_ptr<Reachability> monitorWithFlags(std::optional<ReachabilityFlags> flags)
    {
        auto target = std::make_shared<FakeTarget>();
        target->setFlags(flags);
        return Reachability::initWithReachabilityRef(target);
    }

    struct FlagsCase {
        std::optional<ReachabilityFlags> flags; // none: they can't be read
        bool reachable;
        bool viaWWAN;
        bool viaWiFi;
        bool connectionRequired;
        bool onDemand;
        bool intervention;
        NetworkStatus status;
        const char* statusText;
        const char* flagsText;
    };

    TEST(ReachabilityTest, AnswersFromTheTargetsFlags)
    {
        const FlagsCase cases[] = {
            { 0, false, false, false, false, false, false, NotReachable, "Offline", "-- -------" },
            { std::nullopt, false, false, false, false, false, false, NotReachable, "Offline", "-- -------" },
            { Reach, true, false, true, false, false, false, ReachableViaWiFi, "WLAN", "-R -------" },
            { Reach | WWAN, true, true, false, false, false, false, ReachableViaWWAN, "Mobile", "WR -------" },
            // A connection that has to be set up first, for a moment only: not reachable.
            { Reach | Req | Trans, false, false, true, true, false, false, NotReachable, "Offline", "-R ct-----" },
            { Reach | Req | Traffic, true, false, true, true, true, false, ReachableViaWiFi, "WLAN", "-R c--C---" },
            { Reach | Req | Demand | Interv, true, false, true, true, true, true, ReachableViaWiFi, "WLAN", "-R c-i-D--" },
            { Traffic | Demand | Interv, false, false, false, false, false, false, NotReachable, "Offline", "-- --iCD--" },
            { Reach | Local | Direct, true, false, true, false, false, false, ReachableViaWiFi, "WLAN", "-R -----ld" },
            { Reach | WWAN | Req | Trans | Interv | Traffic | Demand | Local | Direct, false, true, false, true, true, true, NotReachable, "Offline", "WR ctiCDld" },
        };
        for (const auto& expected : cases) {
            SCOPED_TRACE(expected.flags ? expected.flagsText : "unreadable");
            auto monitor = monitorWithFlags(expected.flags);
            ASSERT_TRUE(monitor);
            EXPECT_EQ(monitor->isReachable(), expected.reachable);
            EXPECT_EQ(monitor->isReachableWithFlags(expected.flags.value_or(0)), expected.reachable);
            EXPECT_EQ(monitor->isReachableViaWWAN(), expected.viaWWAN);
            EXPECT_EQ(monitor->isReachableViaWiFi(), expected.viaWiFi);
            EXPECT_EQ(monitor->connectionRequired(), expected.connectionRequired);
            EXPECT_EQ(monitor->isConnectionRequired(), expected.connectionRequired);
            EXPECT_EQ(monitor->isConnectionOnDemand(), expected.onDemand);
            EXPECT_EQ(monitor->isInterventionRequired(), expected.intervention);
            EXPECT_EQ(monitor->currentReachabilityStatus(), expected.status);
            EXPECT_EQ(monitor->currentReachabilityString(), expected.statusText);
            EXPECT_EQ(monitor->reachabilityFlags(), expected.flags.value_or(0));
            EXPECT_EQ(monitor->currentReachabilityFlags(), expected.flagsText);
        }
    }

    TEST(ReachabilityTest, CellularPathsCountOnlyWhileAllowed)
    {
        auto monitor = monitorWithFlags(Reach | WWAN);
        EXPECT_TRUE(monitor->reachableOnWWAN());
        monitor->setReachableOnWWAN(false);
        EXPECT_FALSE(monitor->isReachable());
        EXPECT_EQ(monitor->currentReachabilityStatus(), NotReachable);
        EXPECT_EQ(monitor->currentReachabilityString(), "Offline");
        // The cellular test itself looks at the bits only.
        EXPECT_TRUE(monitor->isReachableViaWWAN());
    }

    TEST(ReachabilityTest, DescriptionNamesTheClassTheAddressAndTheFlags)
    {
        auto monitor = monitorWithFlags(Reach | Direct);
        char address[32];
        std::snprintf(address, sizeof address, "%p", static_cast<const void*>(monitor.get()));
        EXPECT_EQ(monitor->description(), "<Reachability: " + std::string(address) + " (-R ------d)>");
    }

    TEST(ReachabilityTest, NoTargetMakesNoMonitor)
    {
        EXPECT_EQ(Reachability::initWithReachabilityRef(nullptr), nullptr);
        EXPECT_EQ(Reachability::reachabilityWithAddress(nullptr), nullptr);
        EXPECT_EQ(Reachability::reachabilityWithHostname(""), nullptr);
        sockaddr_un local {};
        local.sun_family = AF_UNIX;
        EXPECT_EQ(Reachability::reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&local)), nullptr);
    }

    class ReachabilityNotifierTest : public ::testing::Test {
    protected:
        void SetUp() override
        {
            target = std::make_shared<FakeTarget>();
            monitor = Reachability::initWithReachabilityRef(target);
            NSNotificationCenter::defaultCenter().addObserver(this, kReachabilityChangedNotification, [this](const NSNotification& note) {
                EXPECT_TRUE(NSThread::isMainThread());
                auto object = std::any_cast<std::shared_ptr<Reachability>>(note.object);
                EXPECT_EQ(object.get(), monitor.get());
                ++notifications;
            });
        }
        void TearDown() override
        {
            NSNotificationCenter::defaultCenter().removeObserver(this);
            if (monitor)
                monitor->stopNotifier();
            RunLoop::main().drain();
        }

        std::shared_ptr<FakeTarget> target;
        std::shared_ptr<Reachability> monitor;
        int notifications = 0;
    };

    TEST_F(ReachabilityNotifierTest, StartingTwiceRegistersOnce)
    {
        EXPECT_TRUE(monitor->startNotifier());
        EXPECT_TRUE(monitor->startNotifier());
        EXPECT_EQ(target->registrations.load(), 1);
        EXPECT_TRUE(target->watching);
        EXPECT_EQ(monitor->reachabilityObject(), monitor);

        monitor->stopNotifier();
        EXPECT_FALSE(target->watching);
        EXPECT_FALSE(target->hasCallback);
        EXPECT_EQ(monitor->reachabilityObject(), nullptr);
    }

    TEST_F(ReachabilityNotifierTest, RefusedRegistrationOrWatchFails)
    {
        target->refuseCallback = true;
        EXPECT_FALSE(monitor->startNotifier());
        EXPECT_EQ(monitor->reachabilityObject(), nullptr);

        target->refuseCallback = false;
        target->refuseWatching = true;
        EXPECT_FALSE(monitor->startNotifier());
        EXPECT_FALSE(target->hasCallback) << "the callback is removed again";
        EXPECT_EQ(monitor->reachabilityObject(), nullptr);
    }

    TEST_F(ReachabilityNotifierTest, ChangesReachTheBlocksInOrderAndTheAppOnTheMainQueue)
    {
        std::mutex mutex;
        std::vector<std::string> events;
        std::atomic<bool> onMainThread = false;
        auto record = [&](std::string event) {
            if (NSThread::isMainThread())
                onMainThread = true;
            std::lock_guard lock(mutex);
            events.push_back(std::move(event));
        };
        monitor->setReachableBlock([&](Reachability&) { record("reachable"); });
        monitor->setUnreachableBlock([&](Reachability&) { record("unreachable"); });
        monitor->setReachabilityBlock([&](Reachability&, ReachabilityFlags flags) { record("flags " + std::to_string(flags)); });
        ASSERT_TRUE(monitor->startNotifier());

        target->change(Reach);
        target->change(0);
        target->change(Reach | Req | Trans);
        ASSERT_TRUE(RunLoop::main().runUntil([&] { return notifications == 3; }));

        std::lock_guard lock(mutex);
        EXPECT_EQ(events, (std::vector<std::string> { "reachable", "flags 2", "unreachable", "flags 0", "unreachable", "flags 7" }));
        EXPECT_FALSE(onMainThread) << "the blocks run on the monitor's own queue";
    }

    TEST_F(ReachabilityNotifierTest, WatchingMonitorKeepsItselfAliveUntilStopped)
    {
        ASSERT_TRUE(monitor->startNotifier());
        std::weak_ptr<Reachability> weak = monitor;
        auto kept = std::move(monitor);
        kept.reset();
        ASSERT_FALSE(weak.expired());

        weak.lock()->stopNotifier();
        EXPECT_TRUE(weak.expired());
        EXPECT_FALSE(target->watching);
    }

    // The stand-in targets work from the interface list.
    class InterfaceTargetTest : public ::testing::Test {
    protected:
        void TearDown() override
        {
            setInterfaceSource({});
            RunLoop::main().useSystemClock();
        }

        static void useInterfaces(std::vector<InterfaceAddress> addresses)
        {
            setInterfaceSource([addresses] { return std::optional(addresses); });
        }
        static InterfaceAddress address(std::string name, AddressFamily family, std::string text, bool loopback = false, bool linkLocal = false)
        {
            return InterfaceAddress { std::move(name), family, std::move(text), true, loopback, linkLocal };
        }
        static InterfaceAddress loopback() { return address("lo", AddressFamily::IPv4, "127.0.0.1", true); }
    };

    TEST_F(InterfaceTargetTest, InternetNeedsAnUpInterfaceBesidesLoopback)
    {
        useInterfaces({ loopback() });
        auto internet = Reachability::reachabilityForInternetConnection();
        ASSERT_TRUE(internet);
        EXPECT_FALSE(internet->isReachable());
        EXPECT_EQ(internet->currentReachabilityString(), "Offline");

        useInterfaces({ loopback(), address("wlan0", AddressFamily::IPv4, "192.168.1.20") });
        EXPECT_TRUE(internet->isReachable());
        EXPECT_EQ(internet->currentReachabilityString(), "WLAN");

        auto down = address("wlan0", AddressFamily::IPv4, "192.168.1.20");
        down.up = false;
        useInterfaces({ loopback(), down, address("eth0", AddressFamily::IPv6, "fe80::1", false, true) });
        EXPECT_FALSE(internet->isReachable()) << "a link-local address alone leads nowhere";
    }

    TEST_F(InterfaceTargetTest, LocalWiFiAndLoopbackTargets)
    {
        useInterfaces({ loopback(), address("wlan0", AddressFamily::IPv4, "10.0.0.7") });
        auto wifi = Reachability::reachabilityForLocalWiFi();
        ASSERT_TRUE(wifi);
        EXPECT_EQ(wifi->currentReachabilityFlags(), "-R ------d");

        for (const char* name : { "localhost", "127.0.0.1", "::1", "10.0.0.7" }) {
            auto local = Reachability::reachabilityWithHostName(name);
            ASSERT_TRUE(local) << name;
            EXPECT_EQ(local->currentReachabilityFlags(), "-R -----ld") << name;
        }

        useInterfaces({ loopback() });
        EXPECT_EQ(wifi->currentReachabilityFlags(), "-- -------");
        EXPECT_EQ(Reachability::reachabilityWithHostname("example.org")->currentReachabilityStatus(), NotReachable);
    }

    TEST_F(InterfaceTargetTest, InterfaceChangesAreNoticedOnTheRunLoop)
    {
        auto clock = RunLoop::main().useFakeClock();
        useInterfaces({ loopback() });
        auto internet = Reachability::reachabilityForInternetConnection();
        std::atomic<int> changes = 0;
        std::atomic<ReachabilityFlags> last = 0;
        internet->setReachabilityBlock([&](Reachability&, ReachabilityFlags flags) {
            last = flags;
            ++changes;
        });
        ASSERT_TRUE(internet->startNotifier());

        RunLoop::main().advanceSeconds(5);
        RunLoop::main().drain();
        EXPECT_EQ(changes, 0) << "nothing changed";

        useInterfaces({ loopback(), address("wlan0", AddressFamily::IPv4, "192.168.1.20") });
        RunLoop::main().advanceSeconds(5);
        ASSERT_TRUE(RunLoop::main().runUntil([&] { return changes == 1; }));
        EXPECT_EQ(last, Reach);

        internet->stopNotifier();
        useInterfaces({ loopback() });
        RunLoop::main().advanceSeconds(5);
        RunLoop::main().drain();
        EXPECT_EQ(changes, 1);
    }

}
}
