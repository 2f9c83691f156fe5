#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace vesk::platform {

enum class UIUserInterfaceIdiom {
    Phone,
    Pad,
};

// The device facts Linux lacks, with setters for tests. Thread-safe.
class UIDevice {
public:
    static UIDevice& currentDevice();

    // Unless set, the phone's version the platform layer stands in for, which the app's checks
    // compare, followed by the running system's name and version from os-release (NAME,
    // VERSION_ID), else uname's: "9.0 (Alpine Linux 3.19)", "9.0 (Arch Linux, kernel 6.7.1)".
    std::string systemVersion() const;
    // The running system's (os-release NAME), else uname's.
    std::string systemName() const;
    UIUserInterfaceIdiom userInterfaceIdiom() const; // Phone unless set
    std::string model() const; // "iPhone" or "iPad" after the idiom
    std::string name() const; // the host name
    bool supportsHapticFeedback() const; // false unless set

    void setSystemVersion(std::string version);
    // The os-release file read instead of the system's (/etc/os-release, /usr/lib/os-release);
    // empty for the system's.
    void setOsRelease(std::string path);
    void setUserInterfaceIdiom(UIUserInterfaceIdiom idiom);
    void setSupportsHapticFeedback(bool supported);
    // Back to the defaults above.
    void reset();

private:
    struct SystemFacts {
        std::string name;
        std::string nameAndVersion;
    };
    UIDevice() = default;
    static SystemFacts readSystemFacts(const std::string& osRelease);
    // Read once per os-release file; m_mutex held.
    const SystemFacts& runningSystem() const;

    mutable std::mutex m_mutex;
    std::string m_systemVersion;
    std::string m_osRelease;
    mutable std::optional<SystemFacts> m_facts;
    UIUserInterfaceIdiom m_idiom = UIUserInterfaceIdiom::Phone;
    bool m_supportsHaptics = false;
};

}
