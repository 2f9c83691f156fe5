#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace vesk::platform {

using SystemSoundID = std::uint32_t;
inline constexpr SystemSoundID kSystemSoundID_Vibrate = 4095;

struct HapticEvent {
    enum class Kind {
        TapticFeedback, // the taptic engine's actuateFeedback
        AlertSound, // AudioServicesPlayAlertSound
    };
    Kind kind;
    std::int64_t value; // the feedback kind or the sound id
};

// Records what would have moved the device, for tests to read. Thread-safe.
class HapticsRecorder {
public:
    static HapticsRecorder& shared();

    void record(HapticEvent event);
    std::vector<HapticEvent> events() const;
    void clear();

private:
    HapticsRecorder() = default;
    mutable std::mutex m_mutex;
    std::vector<HapticEvent> m_events;
};

// The device's taptic engine.
class TapticEngine {
public:
    static TapticEngine& shared();
    void actuateFeedback(std::int64_t kind);
};

void AudioServicesPlayAlertSound(SystemSoundID sound);

}
