#include "platform/foundation/AppHome.h"
#include "platform/foundation/NSBundle.h"

#include "platform/foundation/FoundationTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace vesk::platform;
namespace fs = std::filesystem;

using vesk::testing::ScopedEnv;

TEST(AppHomeTest, HomeComesFromVeskHomeThenTheDataHomeWithItsFoldersMade)
{
    vesk::testing::TemporaryFolder scratch;
    auto const& home = scratch.path();
    {
        ScopedEnv env("VESK_HOME", (home.string() + "/").c_str());
        EXPECT_EQ(NSHomeDirectory(), home.string());
        EXPECT_EQ(cachesDirectory(), (home / "Library/Caches").string());
        EXPECT_EQ(preferencesDirectory(), (home / "Library/Preferences").string());
        EXPECT_EQ(NSTemporaryDirectory(), (home / "tmp").string() + "/");
        for (auto const* folder : { "Documents", "Library/Preferences", "Library/Caches", "tmp" })
            EXPECT_TRUE(fs::is_directory(home / folder)) << folder;
    }
    ScopedEnv noHome("VESK_HOME", nullptr);
    {
        ScopedEnv xdg("XDG_DATA_HOME", home.c_str());
        EXPECT_EQ(NSHomeDirectory(), (home / "vesk").string());
        EXPECT_TRUE(fs::is_directory(home / "vesk/Documents"));
    }
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv user("HOME", home.c_str());
    EXPECT_EQ(NSHomeDirectory(), (home / ".local/share/vesk").string());
}

TEST(NSBundleTest, ReadsInfoWhenValidAndFindsResourcesInsideOnly)
{
    vesk::testing::TemporaryFolder scratch;
    auto const& folder = scratch.path();
    std::ofstream(folder / "Info.plist") << "<plist><dict><key>";
    EXPECT_TRUE(NSBundle(folder.string()).infoDictionary().empty());

    fs::create_directories(folder / "web");
    std::ofstream(folder / "web/index.html") << "<html></html>";
    std::ofstream(folder / "Info.plist") << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleShortVersionString</key><string>2.1</string>
<key>CFBundleIdentifier</key><string>org.example.test</string>
</dict></plist>)";

    NSBundle bundle(folder.string());
    EXPECT_EQ(*bundle.objectForInfoDictionaryKey("CFBundleShortVersionString").string(), "2.1");
    EXPECT_EQ(bundle.bundleIdentifier(), "org.example.test");
    EXPECT_EQ(bundle.pathForResource("index", "html", "web"), (folder / "web/index.html").string());
    EXPECT_EQ(bundle.pathForResource("web", ""), (folder / "web").string());
    EXPECT_EQ(bundle.pathForResource("missing", "png"), std::nullopt);
    // Names never lead out of the bundle.
    EXPECT_EQ(bundle.pathForResource("../outside", "txt"), std::nullopt);
    EXPECT_EQ(bundle.pathForResource("index", "html", "../" + folder.filename().string() + "/web"), std::nullopt);
}
