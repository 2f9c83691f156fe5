#include "platform/system/MobileGestalt.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/utsname.h>

using namespace vesk::platform;

namespace {

const std::vector<std::string> questions { "DieId", "HWModelStr", "BoardId", "ChipID", "HardwarePlatform" };

TEST(MobileGestaltTest, AnswersComeFromTheMachineStableAndNeverEmpty)
{
    for (const auto& question : questions) {
        auto first = MGCopyAnswer(question);
        EXPECT_EQ(first, MGCopyAnswer(question)) << question;
        if (first) {
            EXPECT_FALSE(first->empty()) << question;
            EXPECT_EQ(first->find('\n'), std::string::npos) << question;
        }
    }
    EXPECT_FALSE(MGCopyAnswer("SerialNumber"));
    EXPECT_FALSE(MGCopyAnswer(""));

    std::ifstream machineId("/etc/machine-id");
    std::string id;
    if (machineId >> id) {
        EXPECT_EQ(MGCopyAnswer("DieId"), id);
    }
    utsname name {};
    ASSERT_EQ(::uname(&name), 0);
    EXPECT_EQ(MGCopyAnswer("HardwarePlatform"), std::string(name.machine));
}

TEST(MobileGestaltTest, TestsInjectTheirOwnAnswers)
{
    setDeviceAnswerSource([](const std::string& question) -> std::optional<std::string> {
        if (question == "HWModelStr")
            return std::nullopt;
        return "fake-" + question;
    });
    EXPECT_EQ(MGCopyAnswer("DieId"), "fake-DieId");
    EXPECT_EQ(MGCopyAnswer("HWModelStr"), std::nullopt);
    setDeviceAnswerSource(nullptr);
    EXPECT_NE(MGCopyAnswer("DieId").value_or(""), "fake-DieId");
}

}
