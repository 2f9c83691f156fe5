#include "platform/system/Haptics.h"

#include <gtest/gtest.h>

#include <thread>

using namespace vesk::platform;

namespace {

TEST(HapticsTest, RecordsFeedbackAndVibrationInOrder)
{
    auto& recorder = HapticsRecorder::shared();
    recorder.clear();
    TapticEngine::shared().actuateFeedback(2);
    AudioServicesPlayAlertSound(kSystemSoundID_Vibrate);
    TapticEngine::shared().actuateFeedback(1001);
    auto events = recorder.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, HapticEvent::Kind::TapticFeedback);
    EXPECT_EQ(events[0].value, 2);
    EXPECT_EQ(events[1].kind, HapticEvent::Kind::AlertSound);
    EXPECT_EQ(events[1].value, 4095);
    EXPECT_EQ(events[2].value, 1001);
    recorder.clear();
    EXPECT_TRUE(recorder.events().empty());
}

TEST(HapticsTest, RecordsFromManyThreads)
{
    auto& recorder = HapticsRecorder::shared();
    recorder.clear();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 100; ++i)
                TapticEngine::shared().actuateFeedback(2);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(recorder.events().size(), 400u);
    recorder.clear();
}

}
