#include "model/SettingsKeys.h"
#include "model/ObjCHelper.h"
#include "platform/system/MobileGestalt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <thread>

namespace vesk {
namespace {

    // The keys are built once per process, so the answers go in before any test reads one.
    const std::map<std::string, std::string> injectedAnswers = {
        { "DieId", "die-7" },
        { "HWModelStr", "model-X1" },
        { "BoardId", "board-42" },
        { "ChipID", "chip-8960" },
        // "HardwarePlatform" has no answer.
    };

    class InjectedDeviceAnswers : public ::testing::Environment {
    public:
        void SetUp() override
        {
            platform::setDeviceAnswerSource([](const std::string& question) -> std::optional<std::string> {
                auto found = injectedAnswers.find(question);
                return found == injectedAnswers.end() ? std::nullopt : std::optional(found->second);
            });
        }
        void TearDown() override { platform::setDeviceAnswerSource({}); }
    };

    const auto* const environment = ::testing::AddGlobalTestEnvironment(new InjectedDeviceAnswers);

    TEST(SettingsKeysTest, FirstReadsFromSeveralThreadsAgree)
    {
        // Runs first, so the threads race on the key's first read.
        std::vector<std::string> seen(8);
        std::vector<std::thread> readers;
        for (std::size_t i = 0; i < seen.size(); ++i)
            readers.emplace_back([&, i] { seen[i] = hashedDefaultsKey6(); });
        for (auto& reader : readers)
            reader.join();
        for (auto const& key : seen)
            EXPECT_EQ(key, "0b82c58c659c6f77a2fa24c1ecb0d208a29c7497");
    }

    TEST(SettingsKeysTest, IdentityComesFromTheFiveAnswersInOrder)
    {
        ObjCHelper helper;
        EXPECT_EQ(helper.getFire(), "die-7");
        EXPECT_EQ(helper.getChicken(), "model-X1");
        EXPECT_EQ(helper.getAngryGuy(), "board-42");
        EXPECT_EQ(helper.getBikini(), "chip-8960");
        EXPECT_EQ(helper.getACar(), std::nullopt);

        // An absent answer enters the join as a fixed word.
        EXPECT_EQ(deviceIdentity(), sha1Hex("die-7-model-X1-board-42-chip-8960-(null)"));
        EXPECT_EQ(deviceIdentity(), "210125064edcf920efda3619bb1129d456b01940");
    }

    TEST(SettingsKeysTest, KeysAreDigestsOfIdentityAndSuffix)
    {
        EXPECT_EQ(hashedDefaultsKey1V2(), "56eef327d4db1daca1500fc1fe8497e22ea913ac");
        EXPECT_EQ(hashedDefaultsKey2(), "f2a1f9eb1dac83ffb64e2c97bb05db27f4ca5a33");
        EXPECT_EQ(hashedDefaultsKey4(), "915d55269f65ccbbb80f7e1234f4fbaa56c9fff1");
        EXPECT_EQ(hashedDefaultsKey6(), "0b82c58c659c6f77a2fa24c1ecb0d208a29c7497");
        EXPECT_EQ(hashedDefaultsKey7(), "5075239c72d66bf37fdf2c259ad507953f4a48cd");
        EXPECT_EQ(hashedDefaultsKey8(), "7986e1d8907c3b1f3b5dfcca0d6238659c7fb06a");
        EXPECT_EQ(hashedDefaultsKey2(), sha1Hex(deviceIdentity() + "2"));
    }

    TEST(SettingsKeysTest, KeysAreBuiltOnceAndKept)
    {
        // Built once: later answers no longer change a key, while the identity follows them.
        using Key = const std::string& (*)();
        const Key keys[] = { hashedDefaultsKey1V2, hashedDefaultsKey2, hashedDefaultsKey4, hashedDefaultsKey6, hashedDefaultsKey7, hashedDefaultsKey8 };
        std::vector<std::string> before;
        for (Key key : keys)
            before.push_back(key());
        platform::setDeviceAnswerSource([](const std::string&) -> std::optional<std::string> { return "other"; });
        EXPECT_EQ(deviceIdentity(), sha1Hex("other-other-other-other-other"));
        for (std::size_t i = 0; i < before.size(); ++i)
            EXPECT_EQ(keys[i](), before[i]);
        InjectedDeviceAnswers().SetUp();
    }

}
}
