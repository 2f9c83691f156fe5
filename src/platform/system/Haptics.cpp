#include "platform/system/Haptics.h"

namespace vesk::platform {

HapticsRecorder& HapticsRecorder::shared()
{
    static HapticsRecorder recorder;
    return recorder;
}

void HapticsRecorder::record(HapticEvent event)
{
    std::lock_guard lock(m_mutex);
    m_events.push_back(event);
}

std::vector<HapticEvent> HapticsRecorder::events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

void HapticsRecorder::clear()
{
    std::lock_guard lock(m_mutex);
    m_events.clear();
}

TapticEngine& TapticEngine::shared()
{
    static TapticEngine engine;
    return engine;
}

void TapticEngine::actuateFeedback(std::int64_t kind)
{
    HapticsRecorder::shared().record({ HapticEvent::Kind::TapticFeedback, kind });
}

void AudioServicesPlayAlertSound(SystemSoundID sound)
{
    HapticsRecorder::shared().record({ HapticEvent::Kind::AlertSound, static_cast<std::int64_t>(sound) });
}

}
