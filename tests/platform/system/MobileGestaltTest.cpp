#include "platform/system/MobileGestalt.h"
#include "platform/system/UIDevice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/utsname.h>
#include <tuple>
#include <unistd.h>

using namespace vesk::platform;

namespace {

TEST(MobileGestaltTest, AnswersComeFromTheMachineStableAndNeverEmpty)
{
    for (const char* question : { "DieId", "HWModelStr", "BoardId", "ChipID", "HardwarePlatform" }) {
        auto first = MGCopyAnswer(question);
        EXPECT_EQ(first, MGCopyAnswer(question)) << question;
        if (first) {
            EXPECT_FALSE(first->empty()) << question;
            EXPECT_EQ(first->find('\n'), std::string::npos) << question;
        }
    }
    EXPECT_FALSE(MGCopyAnswer("SerialNumber"));

    std::ifstream machineId("/etc/machine-id");
    std::string id;
    if (machineId >> id) {
        EXPECT_EQ(MGCopyAnswer("DieId"), id);
    }
    utsname name {};
    ASSERT_EQ(::uname(&name), 0);
    EXPECT_EQ(MGCopyAnswer("HardwarePlatform"), std::string(name.machine));
}

TEST(MobileGestaltTest, TheDeviceNamesTheRunningSystemAndItsVersion)
{
    auto& device = UIDevice::currentDevice();
    EXPECT_FALSE(device.systemName().empty());
    EXPECT_NE(device.systemName(), "iOS");
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(device.systemVersion().front()))) << device.systemVersion();
    device.setSystemVersion("9.3");
    EXPECT_EQ(device.systemVersion(), "9.3");
    device.reset();

    // The phone's version first, for the app's checks; the real system after it.
    utsname kernel {};
    ASSERT_EQ(::uname(&kernel), 0);
    char folder[] = "/tmp/vesk-os-release-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::tuple<const char*, const char*, std::string> cases[] = {
        { "NAME=\"Alpine Linux\"\nID=alpine\nVERSION_ID=3.19.1\n", "Alpine Linux", "9.0 (Alpine Linux 3.19.1)" },
        { "NAME='Arch Linux'\nBUILD_ID=rolling\n", "Arch Linux", std::string("9.0 (Arch Linux, kernel ") + kernel.release + ")" },
        { "ID=none\n", kernel.sysname, std::string("9.0 (") + kernel.sysname + ", kernel " + kernel.release + ")" },
    };
    for (auto& [release, name, version] : cases) {
        auto path = std::string(folder) + "/os-release";
        std::ofstream(path) << release;
        device.setOsRelease(path);
        EXPECT_EQ(device.systemName(), name);
        EXPECT_EQ(device.systemVersion(), version);
        EXPECT_EQ(std::strtof(device.systemVersion().c_str(), nullptr), 9.0f);
        std::remove(path.c_str());
    }
    ::rmdir(folder);
    device.reset();
}

}
