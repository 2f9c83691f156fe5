#pragma once

#include <mutex>
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

    // The running system's, from os-release (VERSION_ID, NAME), else uname's release and name.
    std::string systemVersion() const; // unless set
    std::string systemName() const;
    UIUserInterfaceIdiom userInterfaceIdiom() const; // Phone unless set
    std::string model() const; // "iPhone" or "iPad" after the idiom, unless set
    std::string name() const; // the host name, unless set
    bool supportsHapticFeedback() const; // false unless set

    void setSystemVersion(std::string version);
    void setUserInterfaceIdiom(UIUserInterfaceIdiom idiom);
    void setModel(std::string model);
    void setName(std::string name);
    void setSupportsHapticFeedback(bool supported);
    // Back to the defaults above.
    void reset();

private:
    UIDevice() = default;
    mutable std::mutex m_mutex;
    std::string m_systemVersion;
    UIUserInterfaceIdiom m_idiom = UIUserInterfaceIdiom::Phone;
    std::string m_model;
    std::string m_name;
    bool m_supportsHaptics = false;
};

}
