#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vesk {

// One kit of the SDK (crash reporting, analytics), started once by Telemetry.
class TLMKit {
public:
    virtual ~TLMKit() = default;
    virtual std::string identifier() const = 0;
    // Called once, when Telemetry starts the kit.
    virtual void start() { }
};

// The SDK's entry. Its set-up runs once per process: it starts the kits it is given (each
// kit once, duplicates and null entries dropped) and then the analytics kit. Nothing is sent
// anywhere: settings and reports stay on the device.
class Telemetry {
public:
    // Answers the shared object; only the first call in the process starts anything.
    static std::shared_ptr<Telemetry> with(const std::vector<std::shared_ptr<TLMKit>>& kits);
    // Null until with() has run.
    static std::shared_ptr<Telemetry> sharedInstance();

    // The kits started, in starting order (the analytics kit last).
    std::vector<std::string> kitIdentifiers() const;

private:
    std::vector<std::shared_ptr<TLMKit>> m_kits;
};

}
