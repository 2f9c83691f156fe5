#include "platform/foundation/AppHome.h"
#include "platform/foundation/NSBundle.h"

#include "platform/foundation/FoundationTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace vesk::platform;
namespace fs = std::filesystem;

using vesk::testing::ScopedEnv;

TEST(AppHomeTest, HomeComesFromVeskHomeWithItsFoldersMade)
{
    vesk::testing::TemporaryFolder scratch;
    auto const& home = scratch.path();
    ScopedEnv env("VESK_HOME", (home.string() + "/").c_str());
    EXPECT_EQ(NSHomeDirectory(), home.string());
    EXPECT_EQ(documentsDirectory(), (home / "Documents").string());
    EXPECT_EQ(libraryDirectory(), (home / "Library").string());
    EXPECT_EQ(cachesDirectory(), (home / "Library/Caches").string());
    EXPECT_EQ(preferencesDirectory(), (home / "Library/Preferences").string());
    EXPECT_EQ(NSTemporaryDirectory(), (home / "tmp").string() + "/");
    for (auto const* folder : { "Documents", "Library/Preferences", "Library/Caches", "tmp" })
        EXPECT_TRUE(fs::is_directory(home / folder)) << folder;
}

TEST(AppHomeTest, DefaultsToTheDataHome)
{
    vesk::testing::TemporaryFolder scratch;
    auto const& data = scratch.path();
    ScopedEnv noHome("VESK_HOME", nullptr);
    {
        ScopedEnv xdg("XDG_DATA_HOME", data.c_str());
        EXPECT_EQ(NSHomeDirectory(), (data / "vesk").string());
        EXPECT_TRUE(fs::is_directory(data / "vesk/Documents"));
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", nullptr);
        ScopedEnv user("HOME", data.c_str());
        EXPECT_EQ(NSHomeDirectory(), (data / ".local/share/vesk").string());
        EXPECT_TRUE(fs::is_directory(data / ".local/share/vesk/tmp"));
    }
}

TEST(NSBundleTest, ReadsInfoWhenValidAndFindsResourcesInsideOnly)
{
    vesk::testing::TemporaryFolder scratch;
    auto const& folder = scratch.path();
    EXPECT_TRUE(NSBundle(folder.string()).infoDictionary().empty());
    std::ofstream(folder / "Info.plist") << "<plist><dict><key>";
    EXPECT_TRUE(NSBundle(folder.string()).infoDictionary().empty());

    fs::create_directories(folder / "web");
    std::ofstream(folder / "web/index.html") << "<html></html>";
    std::ofstream(folder / "lang.plist") << "";
    std::ofstream(folder / "Info.plist") << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleShortVersionString</key><string>2.1</string>
<key>CFBundleVersion</key><string>37</string>
<key>CFBundleIdentifier</key><string>org.example.test</string>
</dict></plist>)";

    NSBundle bundle(folder.string());
    EXPECT_EQ(bundle.bundlePath(), folder.string());
    EXPECT_EQ(*bundle.objectForInfoDictionaryKey("CFBundleShortVersionString").string(), "2.1");
    EXPECT_EQ(*bundle.infoDictionary().find("CFBundleVersion")->string(), "37");
    EXPECT_TRUE(bundle.objectForInfoDictionaryKey("Missing").isNull());
    EXPECT_EQ(bundle.bundleIdentifier(), "org.example.test");

    EXPECT_EQ(bundle.pathForResource("index", "html", "web"), (folder / "web/index.html").string());
    EXPECT_EQ(bundle.pathForResource("lang", "plist"), (folder / "lang.plist").string());
    EXPECT_EQ(bundle.pathForResource("web", ""), (folder / "web").string());
    EXPECT_EQ(bundle.pathForResource("missing", "png"), std::nullopt);
    EXPECT_EQ(bundle.pathForResource("", "plist"), std::nullopt);
    // Names never lead out of the bundle.
    EXPECT_EQ(bundle.pathForResource("../outside", "txt"), std::nullopt);
    EXPECT_EQ(bundle.pathForResource("index", "html", "../" + folder.filename().string() + "/web"), std::nullopt);
}

TEST(NSBundleTest, MainBundleIsTheShippedResources)
{
    // ctest points VESK_BUNDLE at the build's copy of resources/.
    auto const& bundle = NSBundle::mainBundle();
    EXPECT_TRUE(fs::is_directory(bundle.bundlePath())) << bundle.bundlePath();
    EXPECT_EQ(*bundle.objectForInfoDictionaryKey("CFBundleDisplayName").string(), "Vesk");
}
