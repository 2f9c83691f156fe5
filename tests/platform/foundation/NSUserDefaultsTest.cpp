#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/AppHome.h"
#include "platform/foundation/PropertyList.h"

#include "platform/foundation/FoundationTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

using namespace vesk::platform;
namespace fs = std::filesystem;

class NSUserDefaultsTest : public testing::Test {
protected:
    void SetUp() override { NSUserDefaults::resetStandardUserDefaults(); }
    void TearDown() override { NSUserDefaults::resetStandardUserDefaults(); }

    fs::path storePath() const { return m_home / "Library/Preferences/vesk.plist"; }
    std::vector<std::string> preferenceFiles() const
    {
        std::vector<std::string> names;
        for (auto const& entry : fs::directory_iterator(m_home / "Library/Preferences"))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    vesk::testing::TemporaryFolder m_scratch;
    const fs::path& m_home = m_scratch.path();
    vesk::testing::ScopedEnv m_env { "VESK_HOME", m_home.c_str() };
};

TEST_F(NSUserDefaultsTest, ValuesAreKeptAcrossAReopenAndKindsDoNotCrossOver)
{
    auto defaults = NSUserDefaults::standardUserDefaults();
    EXPECT_EQ(defaults->path(), storePath().string());
    defaults->setObject(Dictionary { { "methode", "copy" }, { "paths", Array { "/a", "/b c" } } }, "clipboard");
    defaults->setObject("YES", "flag");
    defaults->setObject("x", "gone");
    defaults->removeObjectForKey("gone");

    NSUserDefaults::resetStandardUserDefaults();
    auto reopened = NSUserDefaults::standardUserDefaults();
    EXPECT_EQ(*reopened->dictionaryForKey("clipboard")->find("paths"), Value(Array { "/a", "/b c" }));
    EXPECT_TRUE(reopened->boolForKey("flag"));
    EXPECT_FALSE(reopened->dataForKey("flag"));
    EXPECT_FALSE(reopened->objectForKey("gone"));
}

TEST_F(NSUserDefaultsTest, RefusesValuesAPropertyListCannotHold)
{
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject("kept", "k");
    defaults->setObject(Array { Value() }, "k");
    EXPECT_EQ(defaults->stringForKey("k"), "kept");
    // A path that is not UTF-8 would come back altered: refused, the old entry stays.
    defaults->setObject(Dictionary { { "methode", "copy" }, { "paths", Array { std::string("/tmp/\xff") } } }, "k");
    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->stringForKey("k"), "kept");
}

TEST_F(NSUserDefaultsTest, AStoreWhoseFolderVanishedIsWrittenAgainAndAnUnchangedValueIsNotRewritten)
{
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setBool(true, "first");
    fs::remove_all(m_home / "Library");
    defaults->setBool(true, "second");
    NSUserDefaults::resetStandardUserDefaults();
    auto reopened = NSUserDefaults::standardUserDefaults();
    EXPECT_TRUE(reopened->boolForKey("first"));
    EXPECT_TRUE(reopened->boolForKey("second"));
    // Every write puts a new file in place of the old one.
    auto file = [&] {
        struct stat status { };
        return ::stat(storePath().c_str(), &status) == 0 ? status.st_ino : 0;
    };
    auto before = file();
    reopened->setBool(true, "second");
    EXPECT_EQ(file(), before);
    reopened->setBool(false, "second");
    EXPECT_NE(file(), before);
    fs::remove_all(m_home / "Library");
    reopened->setBool(false, "second");
    EXPECT_NE(file(), 0u);
}

TEST_F(NSUserDefaultsTest, ACorruptStoreOrOneThatIsNoDictionaryIsMovedAsideAndReadsEmpty)
{
    auto list = *dataFromPropertyList(Value(Array { 1, 2 }), PropertyListFormat::Binary);
    for (auto const& stored : { std::string("<plist><dict><key>broken"), std::string(list.begin(), list.end()) }) {
        fs::remove_all(m_home / "Library");
        fs::create_directories(storePath().parent_path());
        std::ofstream(storePath(), std::ios::binary) << stored;
        NSUserDefaults::resetStandardUserDefaults();
        auto defaults = NSUserDefaults::standardUserDefaults();
        EXPECT_TRUE(defaults->dictionaryRepresentation().empty());

        auto files = preferenceFiles();
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(files[0].starts_with("vesk.plist.corrupt-")) << files[0];
        std::ifstream kept(m_home / "Library/Preferences" / files[0], std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), stored);

        defaults->setBool(true, "fresh");
        NSUserDefaults::resetStandardUserDefaults();
        EXPECT_TRUE(NSUserDefaults::standardUserDefaults()->boolForKey("fresh"));
    }
}

TEST_F(NSUserDefaultsTest, ConcurrentWritersLoseNothing)
{
    auto defaults = NSUserDefaults::standardUserDefaults();
    constexpr int threads = 4;
    constexpr int perThread = 25;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i) {
                auto store = NSUserDefaults::standardUserDefaults();
                auto key = "t" + std::to_string(t) + "-" + std::to_string(i);
                store->setInteger(i, key);
                EXPECT_EQ(store->integerForKey(key), i);
                store->boolForKey("shared");
                store->setBool(i % 2 == 0, "shared");
            }
        });
    }
    for (auto& writer : writers)
        writer.join();

    NSUserDefaults::resetStandardUserDefaults();
    auto reopened = NSUserDefaults::standardUserDefaults();
    EXPECT_EQ(reopened->dictionaryRepresentation().size(), static_cast<std::size_t>(threads * perThread + 1));
    for (int t = 0; t < threads; ++t)
        EXPECT_EQ(reopened->integerForKey("t" + std::to_string(t) + "-" + std::to_string(perThread - 1)), perThread - 1);
    EXPECT_EQ(preferenceFiles(), (std::vector<std::string> { "vesk.plist" }));
}
