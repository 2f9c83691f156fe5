#pragma once

// A fresh app for each test: its own home and user defaults, a loopback stand-in for the Wi-Fi
// link, a free port for the web file service, the banners, the application object and the
// device facts back at their start, and the storyboard "Main" filled.

#include "app/LoopbackPorts.h"
#include "app/MainStoryboard.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/DesktopServices.h"
#include "platform/system/Haptics.h"
#include "platform/system/NetworkInterfaces.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIDriver.h"
#include "sdk/CrashReporter.h"
#include "webservice/VeskHTTPServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>

namespace vesk::test {

// The Wi-Fi link as the tests see it: present (loopback) or gone.
inline std::atomic<bool>& wifiPresent()
{
    static std::atomic<bool> present { true };
    return present;
}

class AppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vesk-app-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        ::setenv("VESK_HOME", (m_root + "/home").c_str(), 1);
        port = freeLoopbackPort();
        ::setenv("VESK_PORT", std::to_string(port).c_str(), 1);
        platform::NSUserDefaults::resetStandardUserDefaults();
        wifiPresent() = true;
        ::setenv("VESK_WIFI_INTERFACE", "lo", 1);
        platform::setInterfaceSource([]() -> std::optional<std::vector<platform::InterfaceAddress>> {
            std::vector<platform::InterfaceAddress> list;
            if (wifiPresent())
                list.push_back({ "lo", platform::AddressFamily::IPv4, "127.0.0.1", true, true, false });
            return list;
        });
        platform::UIDevice::currentDevice().reset();
        platform::UIScreen::mainScreen().setBounds(platform::CGRectMake(0, 0, 375, 667));
        platform::HapticsRecorder::shared().clear();
        // No mail, page or notification of a test reaches the desktop.
        platform::DesktopServices::setShared(desktop);
        platform::UIApplication::sharedApplication().reset();
        VeskNotificationManager::reset();
        VeskHTTPServer::reset();
        CrashReporter::sharedInstance()->reset();
        registerMainStoryboard();
    }

    void TearDown() override
    {
        VeskHTTPServer::reset();
        driver.drain();
        VeskNotificationManager::reset();
        platform::UIApplication::sharedApplication().reset();
        platform::UIDevice::currentDevice().reset();
        platform::RunLoop::main().useSystemClock();
        platform::DesktopServices::setShared(nullptr);
        platform::setInterfaceSource({});
        platform::NSFileManager::defaultManager().removeItemAtPath(m_root);
        ::unsetenv("VESK_HOME");
        ::unsetenv("VESK_PORT");
        platform::NSUserDefaults::resetStandardUserDefaults();
    }

    // A file of the test's own.
    std::string makeFile(const std::string& name, const std::string& contents = "x") const
    {
        std::string path = m_root + "/" + name;
        EXPECT_TRUE(std::ofstream(path) << contents) << path;
        return path;
    }
    std::string makeFolder(const std::string& name) const
    {
        std::string path = m_root + "/" + name;
        EXPECT_TRUE(platform::NSFileManager::defaultManager().createDirectoryAtPath(path, true));
        return path;
    }

    const std::string& root() const { return m_root; }

    platform::UIDriver driver;
    std::uint16_t port = 0;
    std::shared_ptr<platform::DesktopRecorder> desktop = std::make_shared<platform::DesktopRecorder>();

private:
    std::string m_root;
};

}
