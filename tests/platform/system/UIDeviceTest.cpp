#include "platform/system/UIDevice.h"

#include <gtest/gtest.h>

using namespace vesk::platform;

namespace {

class UIDeviceTest : public ::testing::Test {
protected:
    void TearDown() override { device.reset(); }
    UIDevice& device = UIDevice::currentDevice();
};

TEST_F(UIDeviceTest, DefaultsDescribeAPhoneAndResetRestoresThem)
{
    device.setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
    EXPECT_EQ(device.model(), "iPad");
    device.setName("Test Pad");
    device.setSystemVersion("8.4");
    device.setSupportsHapticFeedback(true);
    device.reset();
    EXPECT_NE(device.name(), "Test Pad");
    EXPECT_EQ(device.systemVersion(), "14.0");
    EXPECT_EQ(device.systemName(), "iOS");
    EXPECT_EQ(device.userInterfaceIdiom(), UIUserInterfaceIdiom::Phone);
    EXPECT_EQ(device.model(), "iPhone");
    EXPECT_FALSE(device.name().empty());
    EXPECT_FALSE(device.supportsHapticFeedback());
}

}
