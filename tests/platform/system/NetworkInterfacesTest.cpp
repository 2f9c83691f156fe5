#include "platform/system/NetworkInterfaces.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace vesk::platform;

namespace {

InterfaceAddress v4(std::string name, std::string address, bool up = true, bool loopback = false)
{
    return { std::move(name), AddressFamily::IPv4, std::move(address), up, loopback, false };
}

InterfaceAddress v6(std::string name, std::string address, bool linkLocal, bool up = true, bool loopback = false)
{
    return { std::move(name), AddressFamily::IPv6, std::move(address), up, loopback, linkLocal };
}

class NetworkInterfacesTest : public ::testing::Test {
protected:
    void SetUp() override { ::unsetenv("VESK_WIFI_INTERFACE"); }
    void TearDown() override
    {
        ::unsetenv("VESK_WIFI_INTERFACE");
        setInterfaceSource(nullptr);
    }

    static void use(std::optional<std::vector<InterfaceAddress>> list)
    {
        setInterfaceSource([list] { return list; });
    }
};

TEST_F(NetworkInterfacesTest, PicksTheFirstUpNonLoopbackInterfaceAndPrefersIPv4)
{
    struct Case {
        const char* what;
        std::vector<InterfaceAddress> list;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases {
        { "IPv4 after link-local IPv6 still wins",
            { v4("lo", "127.0.0.1", true, true), v6("wlan0", "fe80::1%wlan0", true), v4("wlan0", "192.168.1.20") }, "192.168.1.20" },
        { "down interfaces are passed over", { v4("eth0", "10.0.0.2", false), v4("wlan0", "192.168.1.20"), v4("wlan0", "192.168.1.21") }, "192.168.1.20" },
        { "global IPv6 before link-local", { v6("eth0", "fe80::2%eth0", true), v6("eth0", "2001:db8::2", false) }, "2001:db8::2" },
        { "link-local IPv6 when nothing else", { v6("eth0", "fe80::2%eth0", true) }, "fe80::2%eth0" },
        { "only loopback", { v4("lo", "127.0.0.1", true, true), v6("lo", "::1", false, true, true) }, std::nullopt },
    };
    for (const auto& c : cases) {
        use(c.list);
        EXPECT_EQ(wifiAddress(), c.expected) << c.what;
    }
    use(std::nullopt);
    EXPECT_EQ(wifiAddress(), std::nullopt) << "unreadable list";
}

TEST_F(NetworkInterfacesTest, EnvironmentNamesTheInterface)
{
    std::vector<InterfaceAddress> list { v4("eth0", "10.0.0.2"), v4("lo", "127.0.0.1", true, true), v4("wlan1", "172.16.0.9", false) };
    use(list);
    ::setenv("VESK_WIFI_INTERFACE", "lo", 1);
    EXPECT_EQ(wifiInterfaceName(list), "lo");
    EXPECT_EQ(wifiAddress(), "127.0.0.1");
    ::setenv("VESK_WIFI_INTERFACE", "wlan1", 1);
    EXPECT_EQ(wifiAddress(), std::nullopt) << "a downed interface has no link";
    ::setenv("VESK_WIFI_INTERFACE", "", 1);
    EXPECT_EQ(wifiAddress(), "10.0.0.2");
}

TEST_F(NetworkInterfacesTest, LoopbackOfThisMachine)
{
    auto list = interfaceAddresses();
    ASSERT_TRUE(list);
    bool hasLoopbackV4 = false;
    for (const auto& address : *list) {
        if (address.interfaceName == "lo" && address.family == AddressFamily::IPv4 && address.up) {
            EXPECT_TRUE(address.loopback);
            hasLoopbackV4 = true;
        }
    }
    if (!hasLoopbackV4)
        GTEST_SKIP() << "lo has no IPv4 address here";
    ::setenv("VESK_WIFI_INTERFACE", "lo", 1);
    EXPECT_EQ(wifiAddress(), "127.0.0.1");
}

}
