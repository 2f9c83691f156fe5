#include "platform/system/Haptics.h"

#include <gtest/gtest.h>

#include <thread>

using namespace vesk::platform;

namespace {

TEST(HapticsTest, RecordsFeedbackAndVibrationInOrderFromAnyThread)
{
    auto& recorder = HapticsRecorder::shared();
    recorder.clear();
    TapticEngine::shared().actuateFeedback(2);
    AudioServicesPlayAlertSound(kSystemSoundID_Vibrate);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 100; ++i)
                TapticEngine::shared().actuateFeedback(1001);
        });
    for (auto& thread : threads)
        thread.join();
    auto events = recorder.events();
    ASSERT_EQ(events.size(), 402u);
    EXPECT_EQ(events[0].kind, HapticEvent::Kind::TapticFeedback);
    EXPECT_EQ(events[0].value, 2);
    EXPECT_EQ(events[1].kind, HapticEvent::Kind::AlertSound);
    EXPECT_EQ(events[1].value, 4095);
    EXPECT_EQ(events[401].value, 1001);
    recorder.clear();
    EXPECT_TRUE(recorder.events().empty());
}

}
