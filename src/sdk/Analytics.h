#pragma once

#include "platform/foundation/Value.h"
#include "sdk/Telemetry.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk {

// The analytics kit. Custom events are appended, one JSON object a line, to an event log in the
// app's Library/Caches folder, where a later upload would pick them up. When the log reaches
// its size cap it becomes the one older log and a new one begins, so the folder never holds
// more than two logs.
class Analytics : public TLMKit {
public:
    struct Event {
        std::string name;
        platform::Dictionary attributes;
        double timestamp = 0; // seconds since 1970
    };

    std::string identifier() const override { return "Analytics"; }

    // Records one event; attributes hold texts, numbers and Bools. Any thread.
    static void logCustomEventWithName(const std::string& name, const platform::Dictionary& attributes = {});

    // The current event log and the older one, under the current app home.
    static std::string eventLogPath();
    static std::string previousEventLogPath();
    // The events of the older log, then of the current one, in recorded order; lines that
    // can't be read are skipped.
    static std::vector<Event> recordedEvents();

    static std::uint64_t maximumLogSize();
    // For tests; 0 goes back to the default.
    static void setMaximumLogSize(std::uint64_t bytes);
};

}
