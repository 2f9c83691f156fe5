#include "platform/system/UIDevice.h"

#include <gtest/gtest.h>

using namespace vesk::platform;

TEST(UIDeviceTest, ThePadIdiomNamesThePadAndResetRestoresThePhone)
{
    auto& device = UIDevice::currentDevice();
    device.setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
    EXPECT_EQ(device.model(), "iPad");
    device.setSystemVersion("8.4");
    device.reset();
    EXPECT_EQ(device.systemVersion(), "14.0");
    EXPECT_EQ(device.userInterfaceIdiom(), UIUserInterfaceIdiom::Phone);
    EXPECT_EQ(device.model(), "iPhone");
    EXPECT_FALSE(device.name().empty());
}
