#pragma once

#include "platform/foundation/Value.h"
#include "sdk/Telemetry.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vesk {

// The crash-reporting kit: keeps the user identifier and custom keys that go with later crash
// reports. Any thread may use it.
class CrashReporter : public TLMKit, public std::enable_shared_from_this<CrashReporter> {
public:
    // Both answer the one shared object.
    static std::shared_ptr<CrashReporter> init();
    static std::shared_ptr<CrashReporter> sharedInstance();

    std::string identifier() const override { return "CrashReporter"; }
    void start() override;
    bool isStarted() const;

    void setUserIdentifier(std::string identifier);
    std::optional<std::string> userIdentifier() const;
    // Keeps the value's description (a Bool as "1" or "0").
    void setObjectValue(const platform::Value& value, const std::string& key);
    std::map<std::string, std::string> customKeys() const;

    // Back to a new process's state, for tests.
    void reset();

    CrashReporter() = default;

private:
    mutable std::mutex m_mutex;
    bool m_started = false;
    std::optional<std::string> m_userIdentifier;
    std::map<std::string, std::string> m_customKeys;
};

}
