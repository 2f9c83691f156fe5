#include "ModelTestSupport.h"

#include "model/ObjCHelper.h"
#include "model/PlatformUtilities.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/system/Haptics.h"
#include "platform/system/MemoryInfo.h"
#include "platform/system/NetworkInterfaces.h"

#include <gmock/gmock.h>

#include <sys/stat.h>
#include <thread>

namespace vesk {
namespace {

    using platform::AddressFamily;
    using platform::InterfaceAddress;

    TEST(PlatformUtilitiesTest, TapNotificationsCarryTheirKindOnThePostersThreadAndVibrationIsASound)
    {
        auto& center = platform::NSNotificationCenter::defaultCenter();
        int owner = 0;
        std::vector<std::pair<std::int32_t, std::thread::id>> seen;
        center.addObserver(&owner, std::string(tapNotificationName), [&](const platform::NSNotification& note) {
            EXPECT_FALSE(note.object.has_value());
            ASSERT_EQ(note.userInfo.size(), 1u);
            seen.emplace_back(std::any_cast<std::int32_t>(note.userInfo.at(std::string(tapNotificationIDKey))), std::this_thread::get_id());
        });
        postTapNotification();
        postTapNotification1001();
        std::thread::id poster;
        std::thread([&] {
            poster = std::this_thread::get_id();
            postTapNotification();
        }).join();
        center.removeObserver(&owner);

        ASSERT_EQ(seen.size(), 3u);
        EXPECT_EQ(seen[0], std::make_pair(std::int32_t { 2 }, std::this_thread::get_id()));
        EXPECT_EQ(seen[1], std::make_pair(std::int32_t { 1001 }, std::this_thread::get_id()));
        EXPECT_EQ(seen[2], std::make_pair(std::int32_t { 2 }, poster));

        // Vibration asks for the vibration sound.
        auto& recorder = platform::HapticsRecorder::shared();
        recorder.clear();
        vibrate();
        ASSERT_EQ(recorder.events().size(), 1u);
        EXPECT_EQ(recorder.events()[0].value, 4095);
    }

    std::pair<unsigned long, std::string> reportMemoryCapturingOutput()
    {
        ::testing::internal::CaptureStdout();
        unsigned long megabytes = reportMemory();
        return { megabytes, ::testing::internal::GetCapturedStdout() };
    }

    TEST(PlatformUtilitiesTest, MemoryReportPrintsOneLineOfWholeMegabytesOrWhyItFailed)
    {
        auto [megabytes, printed] = reportMemoryCapturingOutput();
        EXPECT_EQ(printed, "Memory in use (in MB): " + std::to_string(megabytes) + "\n");
        EXPECT_GT(megabytes, 0u);

        struct Case {
            std::uint64_t residentBytes;
            unsigned long megabytes;
        };
        // Megabytes of 1,000,000 bytes, the remainder dropped.
        for (auto const& c : { Case { 0, 0 }, Case { 999'999, 0 }, Case { 1'048'576, 1 }, Case { 2'999'999, 2 }, Case { 104'857'600, 104 } }) {
            platform::setMemoryInfoSource([&](std::string*) { return std::optional(platform::MemoryFigures { c.residentBytes, c.residentBytes, c.residentBytes }); });
            auto [reported, line] = reportMemoryCapturingOutput();
            EXPECT_EQ(reported, c.megabytes) << c.residentBytes;
            EXPECT_EQ(line, "Memory in use (in MB): " + std::to_string(c.megabytes) + "\n");
        }

        // A failure prints the system's text and returns 0.
        platform::setMemoryInfoSource([](std::string* errorText) -> std::optional<platform::MemoryFigures> {
            *errorText = "Permission denied";
            return std::nullopt;
        });
        EXPECT_EQ(reportMemoryCapturingOutput(), std::make_pair(0ul, std::string("Permission denied\n")));
        platform::setMemoryInfoSource([](std::string*) { return std::optional<platform::MemoryFigures>(); });
        EXPECT_EQ(reportMemoryCapturingOutput(), std::make_pair(0ul, std::string("Error: couldn't parse error string\n")));
        platform::setMemoryInfoSource({});
    }

    class InterfaceFixture : public ::testing::Test {
    protected:
        void use(std::vector<InterfaceAddress> list)
        {
            platform::setInterfaceSource([list] { return std::optional(list); });
        }
        void TearDown() override { platform::setInterfaceSource({}); }
    };

    InterfaceAddress entry(std::string name, AddressFamily family, std::string address, bool up = true, bool loopback = false, bool linkLocal = false)
    {
        return InterfaceAddress { std::move(name), family, std::move(address), up, loopback, linkLocal };
    }

    TEST_F(InterfaceFixture, ConnectedOnlyWithAnAddressThatLeadsOut)
    {
        struct Case {
            std::vector<InterfaceAddress> list;
            bool connected;
        };
        const Case cases[] = {
            { {}, false },
            { { entry("lo", AddressFamily::IPv4, "127.0.0.1", true, true) }, false },
            { { entry("wlan0", AddressFamily::IPv6, "fe80::1", true, false, true) }, false },
            { { entry("wlan0", AddressFamily::IPv4, "10.0.0.2", false) }, false },
            { { entry("wlan0", AddressFamily::IPv4, "10.0.0.2") }, true },
            { { entry("lo", AddressFamily::IPv6, "::1", true, true), entry("eth0", AddressFamily::IPv6, "2001:db8::5") }, true },
        };
        for (auto const& c : cases) {
            use(c.list);
            EXPECT_EQ(isConnectedToNetwork(), c.connected) << c.list.size();
        }
        platform::setInterfaceSource([] { return std::optional<std::vector<InterfaceAddress>>(); });
        EXPECT_FALSE(isConnectedToNetwork());
    }

    class MimeTypeTest : public test::TemporaryHome { };

    TEST_F(MimeTypeTest, MimeTypeOfAPath)
    {
        ObjCHelper helper;
        EXPECT_EQ(helper.getMimeTypeOfFile(makeFolder("pictures.png")), "text/directory");
        EXPECT_EQ(helper.getMimeTypeOfFile(makeFile("README")), "unknown");
        EXPECT_EQ(helper.getMimeTypeOfFile(makeFile("page.html")), "text/html");
        EXPECT_EQ(helper.getMimeTypeOfFile(at("missing.png")), "image/png");
        EXPECT_EQ(helper.getMimeTypeOfFile(at("odd.nosuchextension")), "unknown");
        // A link to a folder is a folder.
        EXPECT_EQ(helper.getMimeTypeOfFile(makeLink("link", scratch())), "text/directory");
    }

}
}
