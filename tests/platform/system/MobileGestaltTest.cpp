#include "platform/system/MobileGestalt.h"
#include "platform/system/UIDevice.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/utsname.h>

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
}

}
